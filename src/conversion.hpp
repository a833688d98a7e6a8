// The whole conversion between the opened files: every piece of the source
// checked, counted and decoded, and its bytes written behind the header.
#ifndef HEXFOLD_CONVERSION_HPP
#define HEXFOLD_CONVERSION_HPP

#include "fast_lane.hpp"

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

// The caller's buffers, so that memory stays fixed whatever the source's
// size. The source block must exceed kMaxPieceSize + kBlockPadding bytes,
// the target block kTargetBlockMinimum.
struct ConversionBuffers {
    std::span<char> source_block;
    std::span<std::uint8_t> target_block;
};

inline constexpr std::size_t kTargetBlockMinimum = 256;

// Reads source from its current position to its end and writes the payload
// at target's position in whole blocks. The bytes of the pieces accepted so
// far are written before it returns whatever the outcome; a failure to write
// them is the outcome then, since it says what the target holds, and
// otherwise the first failure is. unit picks the vector code, which
// gives the same result on any unit the machine has.
Conversion ConvertRecords(int source, int target, ConversionBuffers buffers, std::uint32_t limit,
                          VectorUnit unit);

#endif
