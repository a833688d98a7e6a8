// Differential fuzzing of the whole conversion: hexfold's block core, on
// every vector unit the machine has, against bounded line reads from the C
// library. The first four bytes choose the source block's size (from the
// smallest that works, so that short inputs reach every block boundary), the
// target block's size and a low header limit; the rest is the source.
#include "record_reader.hpp"
#include "reference_conversion.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    const std::size_t source_block =
        kSourceBlockMinimum + (std::size_t{data[0]} | std::size_t{data[1]} << 8U) % 1024;
    const std::size_t target_block = kTargetBlockMinimum + data[2];
    // Mostly out of reach, sometimes a few hundred bytes away.
    const std::uint32_t limit = data[3] < 128 ? 0xFFFFFFFF : (data[3] - 128U) * 8U;
    const std::string_view source(reinterpret_cast<const char *>(data + 4), size - 4);

    const ConversionResult expected = ConvertWithLineReads(source, limit);
    for (const VectorUnitInfo &info : kVectorUnits) {
        if (VectorUnitUsable(info.unit) &&
            ConvertWithCore(source, source_block, target_block, limit, info.unit) != expected) {
            std::abort();
        }
    }
    return 0;
}
