#include "record_line.hpp"

#include "steps_words.hpp"
#include "steps_x86.hpp"

#include <bit>
#include <cstring>

namespace {

// The digit test as written branches on every character, and on random
// firmware data those branches are unpredictable. A table of every pair of
// characters, built from that same function, keeps one definition of a
// digit's value and decodes a byte with one load, indexed by the pair's two
// characters exactly as they lie in memory.
constexpr std::size_t kCharValues = 256;
static_assert(kPairValuesSize == kCharValues * kCharValues);

constexpr std::array<std::uint8_t, kCharValues> kDigitValues = [] {
    std::array<std::uint8_t, kCharValues> values{};
    for (std::size_t ch = 0; ch < kCharValues; ++ch) {
        values[ch] = ConvertHexDigitToNum(static_cast<char>(ch));
    }
    return values;
}();

} // namespace

// Built from the digit values rather than from fresh calls, which keeps the
// compile-time work inside clang's default constexpr step limit.
constexpr std::array<std::uint8_t, kPairValuesSize> kPairValues = [] {
    std::array<std::uint8_t, kPairValuesSize> values{};
    for (std::size_t first = 0; first < kCharValues; ++first) {
        const auto high = static_cast<std::uint8_t>(kDigitValues[first] << 4U);
        for (std::size_t second = 0; second < kCharValues; ++second) {
            // The index that std::memcpy makes of the two characters in this order.
            const std::size_t index = std::endian::native == std::endian::little
                                          ? second * kCharValues + first
                                          : first * kCharValues + second;
            values[index] = static_cast<std::uint8_t>(high | kDigitValues[second]);
        }
    }
    return values;
}();

void ConvertHexPairsToBytesScalar(const char *pairs, std::size_t count, std::uint8_t *bytes)
{
    // With one load per byte the loop's own counting is a third of the work.
#pragma GCC unroll 4
    for (std::size_t k = 0; k < count; ++k) {
        bytes[k] = PairValue(pairs + 2 * k);
    }
}

void ConvertHexPairsToBytes(const char *pairs, std::size_t count, std::uint8_t *bytes)
{
    std::size_t done = 0;
#if defined(__SSE2__)
    for (; count - done >= 8; done += 8) {
        DecodePairsSse2(pairs + 2 * done, bytes + done);
    }
#endif
    ConvertHexPairsToBytesScalar(pairs + 2 * done, count - done, bytes + done);
}

std::uint8_t ConvertHexPieceToBytes(const char *piece, std::size_t size, std::uint8_t *bytes)
{
    // Bounded by the size, so a piece without a NUL still cannot be overrun.
    const void *nul = std::memchr(piece, '\0', size);
    const std::size_t length =
        nul == nullptr ? size : static_cast<std::size_t>(static_cast<const char *>(nul) - piece);
    const std::size_t count = length == 0 ? 0 : (length - 1) / 2;
    ConvertHexPairsToBytes(piece + 1, count, bytes);
    return static_cast<std::uint8_t>(count);
}

std::uint8_t ConvertHexLineToBytes(const LineBuffer &line, ByteBuffer &bytes)
{
    return ConvertHexPieceToBytes(line.data(), line.size(), bytes.data());
}
