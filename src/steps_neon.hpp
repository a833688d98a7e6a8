// The steps for AArch64's AdvSIMD, which every such processor has, with
// digit values from a table built from ConvertHexDigitToNum.
#ifndef HEXFOLD_STEPS_NEON_HPP
#define HEXFOLD_STEPS_NEON_HPP

#include "hex_digit.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

// The lane order of the bit masks below is that of a little-endian machine.
#if defined(__aarch64__) && defined(__ARM_NEON) && defined(__BYTE_ORDER__) &&                                \
    __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#include <arm_neon.h>
#define HEXFOLD_HAVE_NEON 1

// Digit values of the 64 characters from '0', every digit and letter among
// them, in four registers: a lookup gives 0 past the table, where a
// character below '0' wraps too.
inline constexpr std::array<std::uint8_t, 64> kNeonDigitValues = [] {
    std::array<std::uint8_t, 64> values{};
    for (std::size_t at = 0; at < values.size(); ++at) {
        values[at] = ConvertHexDigitToNum(static_cast<char>('0' + at));
    }
    return values;
}();

// 0xFF at a line feed or a NUL, 0 elsewhere: lookups past the table give 0.
inline constexpr std::array<std::uint8_t, 16> kNeonStopChars = {0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF};

struct NeonKit {
    uint8x16x4_t digit_values;
    uint8x16_t zero_char;
    uint8x16_t stop_chars;
};

inline NeonKit MakeNeonKit()
{
    return {vld1q_u8_x4(kNeonDigitValues.data()), vdupq_n_u8('0'), vld1q_u8(kNeonStopChars.data())};
}

// Nothing is held: a lookup takes its table in four registers in a row,
// into which gcc would copy held ones for every lookup.
inline void HoldKit(NeonKit & /*kit*/) {}

inline uint8x16_t DigitValuesNeon(const NeonKit &kit, uint8x16_t chars)
{
    return vqtbl4q_u8(kit.digit_values, vsubq_u8(chars, kit.zero_char));
}

// 16 pairs, 32 characters, into 16 bytes: the load parts first characters
// from second ones, and each byte is the first's value shifted over the second's.
inline uint8x16_t PairBytesNeon(const NeonKit &kit, const char *pairs)
{
    const uint8x16x2_t chars = vld2q_u8(reinterpret_cast<const std::uint8_t *>(pairs));
    return vsliq_n_u8(DigitValuesNeon(kit, chars.val[1]), DigitValuesNeon(kit, chars.val[0]), 4);
}

inline void DecodePairsNeon(const NeonKit &kit, const char *pairs, std::uint8_t *bytes)
{
    vst1q_u8(bytes, PairBytesNeon(kit, pairs));
}

// 32 pairs, 64 characters, into 32 bytes, the walk's step.
inline void DecodeWidePairsNeon(const NeonKit &kit, const char *pairs, std::uint8_t *bytes)
{
    vst1q_u8_x2(bytes, uint8x16x2_t{{PairBytesNeon(kit, pairs), PairBytesNeon(kit, pairs + 32)}});
}

inline void DecodePairsNeon(const char *pairs, std::uint8_t *bytes)
{
    DecodePairsNeon(MakeNeonKit(), pairs, bytes);
}

// One bit for each of the 64 characters from text, set for a line feed or a
// NUL, without a byte mask instruction: the load deals characters 4j to
// 4j + 3 to byte j of four registers, whose marks shifts then pack.
inline std::uint64_t MarkStopsNeon(const NeonKit &kit, const char *text)
{
    const uint8x16x4_t chars = vld4q_u8(reinterpret_cast<const std::uint8_t *>(text));
    const uint8x16_t first = vqtbl1q_u8(kit.stop_chars, chars.val[0]);
    const uint8x16_t second = vqtbl1q_u8(kit.stop_chars, chars.val[1]);
    const uint8x16_t third = vqtbl1q_u8(kit.stop_chars, chars.val[2]);
    const uint8x16_t fourth = vqtbl1q_u8(kit.stop_chars, chars.val[3]);
    // Bit 7 from the later character, the bits below from the earlier one.
    const uint8x16_t first_two = vsriq_n_u8(second, first, 1);
    const uint8x16_t last_two = vsriq_n_u8(fourth, third, 1);
    // Bits 4 to 7 hold the four characters' marks in order.
    const uint8x16_t four = vsriq_n_u8(last_two, first_two, 2);
    // And bits 0 to 3 as well.
    const uint8x16_t twice = vsriq_n_u8(four, four, 4);
    const uint8x8_t packed = vshrn_n_u16(vreinterpretq_u16_u8(twice), 4);
    return vget_lane_u64(vreinterpret_u64_u8(packed), 0);
}

inline std::uint64_t MarkStopsNeon(const char *text)
{
    return MarkStopsNeon(MakeNeonKit(), text);
}

// Whether [from, to), 32 characters or more, holds no line feed and no NUL,
// from its least character, since both are below 0x0B (as NoStopsInWords).
inline constexpr std::size_t kNeonCheckChars = 32;

inline bool NoStopsInNeon(const NeonKit & /*kit*/, const char *from, const char *to)
{
    const auto least_of = [](const char *at) noexcept {
        const uint8x16x2_t chunk = vld1q_u8_x2(reinterpret_cast<const std::uint8_t *>(at));
        return vminq_u8(chunk.val[0], chunk.val[1]);
    };
    // The first and last 32 characters, and any between.
    uint8x16_t least = vminq_u8(least_of(from), least_of(to - kNeonCheckChars));
    for (from += kNeonCheckChars; from < to - kNeonCheckChars; from += kNeonCheckChars) {
        least = vminq_u8(least, least_of(from));
    }
    return vminvq_u8(least) >= 0x0B;
}

// 0xFF for each character that is not a digit: a digit's value is not 0,
// or the digit is '0'.
inline uint8x16_t NonDigitsNeon(uint8x16_t chars)
{
    const uint8x16_t values = DigitValuesNeon(MakeNeonKit(), chars);
    return vmvnq_u8(vorrq_u8(vtstq_u8(values, values), vceqq_u8(chars, vdupq_n_u8('0'))));
}

// One bit for each of the 64 characters from text: set for every character
// that is not a hexadecimal digit; packed as MarkStopsNeon packs its marks.
inline std::uint64_t MarkNonDigitsNeon(const char *text)
{
    const uint8x16x4_t chars = vld4q_u8(reinterpret_cast<const std::uint8_t *>(text));
    const uint8x16_t first_two = vsriq_n_u8(NonDigitsNeon(chars.val[1]), NonDigitsNeon(chars.val[0]), 1);
    const uint8x16_t last_two = vsriq_n_u8(NonDigitsNeon(chars.val[3]), NonDigitsNeon(chars.val[2]), 1);
    const uint8x16_t four = vsriq_n_u8(last_two, first_two, 2);
    const uint8x16_t twice = vsriq_n_u8(four, four, 4);
    const uint8x8_t packed = vshrn_n_u16(vreinterpretq_u16_u8(twice), 4);
    return vget_lane_u64(vreinterpret_u64_u8(packed), 0);
}
#endif

#endif
