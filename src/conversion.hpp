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

// The source block holds an incomplete piece carried over and a read behind
// it, and its padding; the target block a whole piece's bytes and a run's spill.
inline constexpr std::size_t kSourceBlockMinimum = kMaxPieceSize + kBlockPadding + 1;
inline constexpr std::size_t kTargetBlockMinimum = 256;

// Reads source from its current position to its end into source_block and
// writes the payload at target's position from target_block, so that memory
// stays fixed whatever the source's size; the blocks must hold at least
// kSourceBlockMinimum and kTargetBlockMinimum. The first failure is the
// outcome, unless the bytes of the pieces accepted before it cannot be
// written: that says what the target holds. unit is one that
// VectorUnitUsable accepts, and gives the same result as any other.
Conversion ConvertRecords(int source, int target, std::span<char> source_block,
                          std::span<std::uint8_t> target_block, std::uint32_t limit, VectorUnit unit);

#endif
