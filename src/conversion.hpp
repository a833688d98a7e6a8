// The whole conversion between the opened files: every piece of the source
// checked, counted and decoded, and its bytes written behind the header.
#ifndef HEXFOLD_CONVERSION_HPP
#define HEXFOLD_CONVERSION_HPP

#include "record_reader.hpp"
#include "vector_units.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

enum class ConversionOutcome {
    kConverted,
    kBadLine,          // a piece does not begin with ':'
    kSourceNotRead,    // a read of the source failed
    kTargetNotWritten, // a write of the target failed
    kTooLarge,         // the payload would pass the limit
};

struct Conversion {
    ConversionOutcome outcome = ConversionOutcome::kConverted;
    std::uint32_t total = 0; // payload bytes accepted
};

// The source block holds a piece carried over, a read behind it and the
// padding; the target block a whole piece's bytes and a run's spill.
inline constexpr std::size_t kSourceBlockMinimum = kMaxPieceSize + kBlockPadding + 1;
inline constexpr std::size_t kTargetBlockMinimum = 256;

// Reads source to its end through source_block and writes the payload at
// target's position through target_block, at least kSourceBlockMinimum and
// kTargetBlockMinimum long, with the first failure as the outcome unless the
// bytes accepted before it cannot be written
// (Matrix/Inject.StatusMessageAndTarget/write1_ENOSPC1).
Conversion ConvertRecords(int source, int target, std::span<char> source_block,
                          std::span<std::uint8_t> target_block, std::uint32_t limit, VectorUnit unit);

#endif
