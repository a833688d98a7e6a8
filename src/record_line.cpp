#include "record_line.hpp"

#include "steps_words.hpp"

#include <cstring>

std::uint8_t ConvertHexPieceToBytes(const UnitSteps &steps, const char *piece, std::size_t size,
                                    std::uint8_t *bytes)
{
    const void *nul = std::memchr(piece, '\0', size);
    const std::size_t length =
        nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char *>(nul) - piece);
    const std::size_t count = length == 0 ? 0 : (length - 1) / 2;
    const char *pairs = piece + 1;
    const std::size_t step_bytes = steps.chars / 2;
    std::size_t done = 0;
    for (; count - done >= step_bytes; done += step_bytes) {
        steps.decode_pairs(pairs + 2 * done, bytes + done);
    }
    for (; done < count; ++done) {
        bytes[done] = PairValue(pairs + 2 * done);
    }
    return static_cast<std::uint8_t>(count);
}
