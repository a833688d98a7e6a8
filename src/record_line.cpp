#include "record_line.hpp"

#include <cstring>

namespace {

// The digit test as written branches on every character, and on random
// firmware data those branches are unpredictable; a table built from the same
// function keeps one definition and costs one load.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (std::size_t ch = 0; ch < values.size(); ++ch) {
        values[ch] = ConvertHexDigitToNum(static_cast<char>(ch));
    }
    return values;
}();

std::uint8_t DigitValue(char ch)
{
    return kDigitValues[static_cast<unsigned char>(ch)];
}

} // namespace

std::uint8_t ConvertHexLineToBytes(const LineBuffer &line, ByteBuffer &bytes)
{
    // Bounded by the buffer, so a line without a NUL still cannot be overrun.
    const void *nul = std::memchr(line.data(), '\0', line.size());
    const std::size_t length =
        nul == nullptr ? line.size() : static_cast<std::size_t>(static_cast<const char *>(nul) - line.data());
    const std::size_t count = length == 0 ? 0 : (length - 1) / 2;

    for (std::size_t k = 0; k < count; ++k) {
        const std::uint8_t high = DigitValue(line[1 + 2 * k]);
        const std::uint8_t low = DigitValue(line[2 + 2 * k]);
        bytes[k] = static_cast<std::uint8_t>(high << 4U | low);
    }
    return static_cast<std::uint8_t>(count);
}
