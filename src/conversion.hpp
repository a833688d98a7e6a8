// The whole conversion between the opened files: every piece of the source
// checked, counted and decoded, and its bytes written behind the header.
#ifndef HEXFOLD_CONVERSION_HPP
#define HEXFOLD_CONVERSION_HPP

#include "record_reader.hpp"
#include "vector_units.hpp"

#include <algorithm>
#include <array>
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

// The reader carries an incomplete piece to the source block's start and
// reads behind it, so the block must hold more than a whole piece before its
// padding; a target block must hold a whole piece's bytes and a run's spill.
inline constexpr std::size_t kSourceBlockMinimum = kMaxPieceSize + kBlockPadding + 1;
inline constexpr std::size_t kTargetBlockMinimum = 256;

// The caller's blocks, so that memory stays fixed whatever the source's size.
// Their sizes are part of the type: a block below its minimum does not compile.
template <std::size_t kSourceSize, std::size_t kTargetSize> struct ConversionBuffers {
    static_assert(kSourceSize != std::dynamic_extent && kSourceSize >= kSourceBlockMinimum,
                  "source block below kSourceBlockMinimum: a whole piece and the padding must fit");
    static_assert(kTargetSize != std::dynamic_extent && kTargetSize >= kTargetBlockMinimum,
                  "target block below kTargetBlockMinimum: a whole piece's bytes and a run's spill must fit");
    std::span<char, kSourceSize> source_block;
    std::span<std::uint8_t, kTargetSize> target_block;
    // How much of each block the conversion uses, so that the tests can put a
    // block's end anywhere: it can leave part of a block unused, never make it
    // smaller than its minimum.
    std::size_t source_usable = kSourceSize;
    std::size_t target_usable = kTargetSize;
};

template <std::size_t kSourceSize, std::size_t kTargetSize>
ConversionBuffers(std::array<char, kSourceSize> &, std::array<std::uint8_t, kTargetSize> &)
    -> ConversionBuffers<kSourceSize, kTargetSize>;

// Blocks whose sizes ConversionBuffers has checked. Callers go through
// ConvertRecords, which makes them.
struct CheckedBlocks {
    std::span<char> source_block;
    std::span<std::uint8_t> target_block;
};

Conversion ConvertCheckedBlocks(int source, int target, CheckedBlocks buffers, std::uint32_t limit,
                                VectorUnit unit);

// Reads source from its current position to its end and writes the payload
// at target's position in whole blocks. The bytes of the pieces accepted so
// far are written before it returns whatever the outcome; a failure to write
// them is the outcome then, since it says what the target holds, and
// otherwise the first failure is. unit picks the vector code, which
// gives the same result on any unit the machine has.
template <std::size_t kSourceSize, std::size_t kTargetSize>
Conversion ConvertRecords(int source, int target, ConversionBuffers<kSourceSize, kTargetSize> buffers,
                          std::uint32_t limit, VectorUnit unit)
{
    const CheckedBlocks blocks = {
        buffers.source_block.first(std::clamp(buffers.source_usable, kSourceBlockMinimum, kSourceSize)),
        buffers.target_block.first(std::clamp(buffers.target_usable, kTargetBlockMinimum, kTargetSize)),
    };
    return ConvertCheckedBlocks(source, target, blocks, limit, unit);
}

#endif
