// The word unit's steps, for every processor: stops marked eight characters
// to a 64-bit word whose bytes' sums never carry into a neighbour, and pairs
// decoded through a table built from ConvertHexDigitToNum. Its constants are
// immediates, and its kit holds nothing: held in registers, they would
// crowd out the walk's own values.
#ifndef HEXFOLD_STEPS_WORDS_HPP
#define HEXFOLD_STEPS_WORDS_HPP

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

static_assert(std::endian::native == std::endian::little || std::endian::native == std::endian::big,
              "words are read either way round, nothing else");

inline constexpr std::uint64_t kEachByte = 0x0101010101010101;
inline constexpr std::uint64_t kLow7 = 0x7F * kEachByte;
inline constexpr std::uint64_t kHigh = 0x80 * kEachByte;

struct WordsKit {};

inline WordsKit MakeWordsKit()
{
    return {};
}

inline void HoldKit(WordsKit & /*kit*/) {}

// Eight characters with character i in bits 8i to 8i + 7, on any byte order.
inline std::uint64_t LoadCharWord(const char *text)
{
    std::uint64_t word = 0;
    std::memcpy(&word, text, sizeof word);
    if constexpr (std::endian::native == std::endian::big) {
        word = __builtin_bswap64(word);
    }
    return word;
}

// The word's eight characters as a byte of eight bits, bit i for character
// i, set where it is neither a line feed nor a NUL.
inline std::uint64_t GoOnBitsOfWord(std::uint64_t word)
{
    const std::uint64_t low = word & kLow7;
    // Bit 7 of a byte of either sum is clear only for a low part of 0 or '\n'.
    const std::uint64_t not_nul = low + kLow7;
    const std::uint64_t not_line_feed = (low ^ ('\n' * kEachByte)) + kLow7;
    const std::uint64_t go_on = ((not_nul & not_line_feed) | word) & kHigh;
    // Bit 8i + 7 moves to bit 56 + i: the multiplier's shifts send the other
    // bytes' bits to distinct places below bit 56 or past bit 63.
    return (go_on * 0x0002040810204081) >> 56U;
}

// One bit for each of the 64 characters from text: set for a line feed or a NUL.
inline std::uint64_t MarkStopsWords(const WordsKit & /*kit*/, const char *text)
{
    std::uint64_t go_on = 0;
    for (unsigned at = 0; at < 64; at += 8) {
        go_on |= GoOnBitsOfWord(LoadCharWord(text + at)) << at;
    }
    return ~go_on;
}

inline std::uint64_t MarkStopsWords(const char *text)
{
    return MarkStopsWords(MakeWordsKit(), text);
}

// Whether [from, to), 16 characters or more, holds no line feed and no
// NUL, both below 0x0B: a word has a byte below 0x0B exactly when word -
// 0x0B0B... sets bit 7 of a byte whose own bit 7 is clear (the lowest such
// byte borrows nothing), on either byte order. Other characters below 0x0B
// say no too, and the walk then finds the stop from the marks.
inline constexpr std::size_t kWordsCheckChars = 16;

inline bool NoStopsInWords(const WordsKit & /*kit*/, const char *from, const char *to)
{
    // Bit 7 of each byte clear where one of two words sets it as above:
    // ~(w - e) is (e - 1) - w.
    const auto at_bound = [](const char *at) noexcept {
        std::array<std::uint64_t, 2> words{};
        std::memcpy(words.data(), at, sizeof words);
        return ((0x0B * kEachByte - 1 - words[0]) | words[0]) &
               ((0x0B * kEachByte - 1 - words[1]) | words[1]);
    };
    // The first and last 16 characters, and any between.
    std::uint64_t clear = at_bound(from) & at_bound(to - kWordsCheckChars);
    for (from += kWordsCheckChars; from < to - kWordsCheckChars; from += kWordsCheckChars) {
        clear &= at_bound(from);
        // A word in a general register at every step rules out the vector
        // form, which costs more to set up than a few words take.
        asm("" : "+r"(clear));
    }
    return (~clear & kHigh) == 0;
}

// Every pair of characters' byte, indexed by the two characters exactly as
// they lie in memory (defined in steps_words.cpp).
inline constexpr std::size_t kPairValuesSize = std::size_t{256} * 256;
extern const std::array<std::uint8_t, kPairValuesSize> kPairValues;

inline std::uint8_t PairValue(const char *pair)
{
    std::uint16_t index = 0;
    std::memcpy(&index, pair, sizeof index);
    return kPairValues[index];
}

// 8 pairs, 16 characters, into 8 bytes, one table load a pair: fewer
// instructions than decoding digits in words, and the lines that digits
// touch stay in the cache.
inline void DecodePairsWords(const WordsKit & /*kit*/, const char *pairs, std::uint8_t *bytes)
{
    for (std::size_t k = 0; k < 8; ++k) {
        bytes[k] = PairValue(pairs + 2 * k);
    }
}

inline void DecodePairsWords(const char *pairs, std::uint8_t *bytes)
{
    DecodePairsWords(MakeWordsKit(), pairs, bytes);
}

inline constexpr std::size_t kWordsStepChars = 16;

// Bit 8i + 7 of each byte of a word gathered into bit i of a byte.
inline std::uint64_t GatherHighBits(std::uint64_t high)
{
    return (high * 0x0002040810204081) >> 56U;
}

// Bit 7 of each byte whose low seven bits lie in [first, last]; each sum
// stays within its byte.
constexpr std::uint64_t InRangeBits(std::uint64_t low, char first, char last)
{
    const std::uint64_t from_first = low + (0x80U - static_cast<std::uint8_t>(first)) * kEachByte;
    const std::uint64_t past_last = low + (0x7FU - static_cast<std::uint8_t>(last)) * kEachByte;
    return from_first & ~past_last & kHigh;
}

// One bit for each of the 64 characters from text: set for every character
// that IsHexDigit refuses (the colon, the line feed, a carriage return, a
// NUL, anything from 128 up). Setting bit 5 takes 'A'-'F' onto 'a'-'f' and
// nothing else onto them.
inline std::uint64_t MarkNonDigitsWords(const char *text)
{
    std::uint64_t digits = 0;
    for (unsigned at = 0; at < 64; at += 8) {
        const std::uint64_t word = LoadCharWord(text + at);
        const std::uint64_t low = word & kLow7;
        const std::uint64_t digit =
            InRangeBits(low, '0', '9') | InRangeBits(low | (0x20 * kEachByte), 'a', 'f');
        digits |= GatherHighBits(digit & ~word) << at;
    }
    return ~digits;
}

#endif
