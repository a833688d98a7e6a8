#include "steps_words.hpp"

#include "hex_digit.hpp"

namespace {

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

// From the digit values rather than from fresh calls, which keeps the work
// within clang's default limit of constexpr steps.
constexpr std::array<std::uint8_t, kPairValuesSize> kPairValues = [] {
    std::array<std::uint8_t, kPairValuesSize> values{};
    for (std::size_t first = 0; first < kCharValues; ++first) {
        const auto high = static_cast<std::uint8_t>(kDigitValues[first] << 4U);
        for (std::size_t second = 0; second < kCharValues; ++second) {
            // The index that PairValue's std::memcpy makes of the two characters in this order.
            const std::size_t index = std::endian::native == std::endian::little
                                          ? second * kCharValues + first
                                          : first * kCharValues + second;
            values[index] = static_cast<std::uint8_t>(high | kDigitValues[second]);
        }
    }
    return values;
}();
