// Compiled, never run: the blocks' sizes come from HEXFOLD_SOURCE_BLOCK and
// HEXFOLD_TARGET_BLOCK, and CTest expects the compiler to refuse the ones
// below their minimums with the reason in its own words.
#include "conversion.hpp"

#include <array>
#include <cstdint>

int main()
{
    static std::array<char, HEXFOLD_SOURCE_BLOCK> source_block;
    static std::array<std::uint8_t, HEXFOLD_TARGET_BLOCK> target_block;
    const Conversion conversion =
        ConvertRecords(0, {}, ConversionBuffers{source_block, target_block}, 0, VectorUnit::kWords);
    return static_cast<int>(conversion.outcome);
}
