// Decoding of one record line: a ':' followed by hexadecimal digit pairs.
#ifndef HEXFOLD_RECORD_LINE_HPP
#define HEXFOLD_RECORD_LINE_HPP

#include <array>
#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// One read delivers at most 255 characters and a terminating NUL.
inline constexpr std::size_t kLineBufferSize = 256;
// A line yields at most 127 bytes; the buffer is sized like the line buffer.
inline constexpr std::size_t kByteBufferSize = 256;

using LineBuffer = std::array<char, kLineBufferSize>;
using ByteBuffer = std::array<std::uint8_t, kByteBufferSize>;

// The one definition of a digit's value. Anything that is not a hexadecimal
// digit is worth 0 rather than an error, so a stray character never stops a
// line. Characters from 128 up are negative where char is signed and fall
// through to 0 as well.
constexpr std::uint8_t ConvertHexDigitToNum(char ch)
{
    if (ch >= '0' && ch <= '9') {
        return static_cast<std::uint8_t>(ch - '0');
    }
    if (ch >= 'a' && ch <= 'f') {
        return static_cast<std::uint8_t>(ch - 'a' + 10);
    }
    if (ch >= 'A' && ch <= 'F') {
        return static_cast<std::uint8_t>(ch - 'A' + 10);
    }
    return 0;
}

// Decodes the line's pairs into the start of bytes and returns their number,
// (length - 1) / 2 where length runs up to the first NUL. Bytes past the
// returned count are left as they were.
std::uint8_t ConvertHexLineToBytes(const LineBuffer &line, ByteBuffer &bytes);

// Decodes count pairs, the characters 2k and 2k + 1 into bytes[k]. Reads
// exactly 2 * count characters and writes exactly count bytes.
void ConvertHexPairsToBytes(const char *pairs, std::size_t count, std::uint8_t *bytes);

// The same without vector units, for the tails of the above and for
// machines that have none.
void ConvertHexPairsToBytesScalar(const char *pairs, std::size_t count, std::uint8_t *bytes);

// What the vector decoder keeps at hand: its constants, made once by a
// caller's loop rather than once per line. Empty where there are no vectors.
struct PairDecoder {
#if defined(__SSE2__)
    __m128i zero = _mm_set1_epi8('0');
    __m128i nine = _mm_set1_epi8(9);
    __m128i case_bit = _mm_set1_epi8(0x20);
    __m128i letter_a = _mm_set1_epi8('a');
    __m128i five = _mm_set1_epi8(5);
    __m128i ten = _mm_set1_epi8(10);
    __m128i low_bytes = _mm_set1_epi16(0x00FF);
#endif
};

#if defined(__SSE2__)
namespace hex_pairs {

// The vector form of ConvertHexDigitToNum: the two ranges of digits that it
// accepts, each tested with one unsigned compare, anything else 0. Only the
// ranges are restated here; the tests hold every pair of characters against
// the scalar definition.
inline __m128i DigitValues(const PairDecoder &k, __m128i chars)
{
    const __m128i digit = _mm_sub_epi8(chars, k.zero);
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, k.nine), digit);
    // Setting bit 5 folds 'A'-'F' onto 'a'-'f' and nothing else onto them.
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(chars, k.case_bit), k.letter_a);
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, k.five), letter);
    return _mm_or_si128(_mm_and_si128(is_digit, digit),
                        _mm_and_si128(is_letter, _mm_add_epi8(letter, k.ten)));
}

// Eight pairs into eight 16-bit lanes, each holding its byte in the low half.
inline __m128i PairLanes(const PairDecoder &k, const char *pairs)
{
    const __m128i values = DigitValues(k, _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs)));
    // In each lane the first character's value is the low byte, the second's the high byte.
    const __m128i joined = _mm_or_si128(_mm_slli_epi16(values, 4), _mm_srli_epi16(values, 8));
    return _mm_and_si128(joined, k.low_bytes);
}

inline void StoreSixteen(const PairDecoder &k, const char *pairs, std::uint8_t *bytes)
{
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes),
                     _mm_packus_epi16(PairLanes(k, pairs), PairLanes(k, pairs + 16)));
}

inline void StoreEight(const PairDecoder &k, const char *pairs, std::uint8_t *bytes)
{
    const __m128i lanes = PairLanes(k, pairs);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(bytes), _mm_packus_epi16(lanes, lanes));
}

} // namespace hex_pairs
#endif

// The fastest form, for callers that own padding behind both buffers: it may
// read up to kPairsOverread characters past the last pair and write up to
// kBytesOverwrite bytes past the last byte. Inline, so that a caller's loop
// keeps the decoder in registers.
inline constexpr std::size_t kPairsOverread = 15;
inline constexpr std::size_t kBytesOverwrite = 7;
inline void ConvertHexPairsToBytesPadded(const PairDecoder &decoder, const char *pairs, std::size_t count,
                                         std::uint8_t *bytes)
{
#if defined(__SSE2__)
    // The last step reads and writes past the end.
    for (std::size_t done = 0; done < count; done += 8) {
        hex_pairs::StoreEight(decoder, pairs + 2 * done, bytes + done);
    }
#else
    (void)decoder;
    ConvertHexPairsToBytesScalar(pairs, count, bytes);
#endif
}

#endif
