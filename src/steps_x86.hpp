// The x86 units' steps, SSE2's for every x86-64 and AVX2's and AVX-512's
// through target attributes, each restating only the ranges that
// ConvertHexDigitToNum accepts (Units/VectorUnitTest.DecodePairsEveryPairAtEveryPlace).
#ifndef HEXFOLD_STEPS_X86_HPP
#define HEXFOLD_STEPS_X86_HPP

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>

// Each digit's value, anything else 0: the two ranges of digits are tested
// with one unsigned compare each.
inline __m128i DigitValuesSse2(__m128i chars)
{
    const __m128i digit = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
    const __m128i is_digit = _mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit);
    // Setting bit 5 folds 'A'-'F' onto 'a'-'f' and nothing else onto them.
    const __m128i letter = _mm_sub_epi8(_mm_or_si128(chars, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
    const __m128i is_letter = _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter);
    return _mm_or_si128(_mm_and_si128(is_digit, digit),
                        _mm_and_si128(is_letter, _mm_add_epi8(letter, _mm_set1_epi8(10))));
}

// Pairs into 16-bit lanes, each holding its byte in the low half.
inline __m128i PairLanesSse2(__m128i chars)
{
    const __m128i values = DigitValuesSse2(chars);
    // In each lane the first character's value is the low byte, the second's the high byte.
    const __m128i joined = _mm_or_si128(_mm_slli_epi16(values, 4), _mm_srli_epi16(values, 8));
    return _mm_and_si128(joined, _mm_set1_epi16(0x00FF));
}

// 8 pairs, 16 characters, into 8 bytes.
inline void StorePairsSse2(__m128i chars, std::uint8_t *bytes)
{
    const __m128i lanes = PairLanesSse2(chars);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(bytes), _mm_packus_epi16(lanes, lanes));
}

inline void DecodePairsSse2(const char *pairs, std::uint8_t *bytes)
{
    StorePairsSse2(_mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs)), bytes);
}

// One bit for each of the 64 characters from text: set for a line feed or a NUL.
inline std::uint64_t MarkStopsSse2(const char *text)
{
    std::uint64_t stops = 0;
    for (unsigned at = 0; at < 64; at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at));
        const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(chunk, _mm_set1_epi8('\n')),
                                          _mm_cmpeq_epi8(chunk, _mm_setzero_si128()));
        stops |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << at;
    }
    return stops;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define HEXFOLD_HAVE_AVX2 1
#define HEXFOLD_AVX2 __attribute__((target("avx2")))

// Run only where the processor has them, so that tests/coverage/coverage-report
// leaves each out of the count on one without it.
// HEXFOLD_AVX2_EXCL_START
// As the SSE2 forms, 32 characters at a time.
HEXFOLD_AVX2 inline __m256i DigitValuesAvx2(__m256i chars)
{
    const __m256i digit = _mm256_sub_epi8(chars, _mm256_set1_epi8('0'));
    const __m256i is_digit = _mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit);
    const __m256i letter =
        _mm256_sub_epi8(_mm256_or_si256(chars, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
    const __m256i is_letter = _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter);
    return _mm256_or_si256(_mm256_and_si256(is_digit, digit),
                           _mm256_and_si256(is_letter, _mm256_add_epi8(letter, _mm256_set1_epi8(10))));
}

// 16 pairs, 32 characters, into 16 bytes.
HEXFOLD_AVX2 inline void StorePairsAvx2(__m256i chars, std::uint8_t *bytes)
{
    const __m256i values = DigitValuesAvx2(chars);
    const __m256i joined = _mm256_or_si256(_mm256_slli_epi16(values, 4), _mm256_srli_epi16(values, 8));
    const __m256i lanes = _mm256_and_si256(joined, _mm256_set1_epi16(0x00FF));
    // The pack works within each 128-bit half; the permute joins the halves' bytes.
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lanes, lanes), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes), _mm256_castsi256_si128(packed));
}

HEXFOLD_AVX2 inline void DecodePairsAvx2(const char *pairs, std::uint8_t *bytes)
{
    StorePairsAvx2(_mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs)), bytes);
}

HEXFOLD_AVX2 inline std::uint64_t MarkStopsAvx2(const char *text)
{
    std::uint64_t stops = 0;
    for (unsigned at = 0; at < 64; at += 32) {
        const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + at));
        const __m256i hits = _mm256_or_si256(_mm256_cmpeq_epi8(chunk, _mm256_set1_epi8('\n')),
                                             _mm256_cmpeq_epi8(chunk, _mm256_setzero_si256()));
        stops |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(hits))} << at;
    }
    return stops;
}
// HEXFOLD_AVX2_EXCL_STOP

#define HEXFOLD_AVX512 __attribute__((target("avx512f,avx512bw")))

// HEXFOLD_AVX512_EXCL_START
// As the AVX2 forms, 64 characters at a time, the compares' masks in mask registers.
HEXFOLD_AVX512 inline __m512i DigitValuesAvx512(__m512i chars)
{
    const __m512i digit = _mm512_sub_epi8(chars, _mm512_set1_epi8('0'));
    const __m512i letter =
        _mm512_sub_epi8(_mm512_or_si512(chars, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a'));
    const __m512i digits = _mm512_maskz_mov_epi8(_mm512_cmple_epu8_mask(digit, _mm512_set1_epi8(9)), digit);
    return _mm512_mask_add_epi8(digits, _mm512_cmple_epu8_mask(letter, _mm512_set1_epi8(5)), letter,
                                _mm512_set1_epi8(10));
}

// 32 pairs, 64 characters, into 32 bytes.
HEXFOLD_AVX512 inline void StorePairsAvx512(__m512i chars, std::uint8_t *bytes)
{
    const __m512i values = DigitValuesAvx512(chars);
    // Narrowing each 16-bit lane keeps its low byte, the pair's value.
    const __m512i joined = _mm512_or_si512(_mm512_slli_epi16(values, 4), _mm512_srli_epi16(values, 8));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes),
                        _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, joined));
}

HEXFOLD_AVX512 inline void DecodePairsAvx512(const char *pairs, std::uint8_t *bytes)
{
    StorePairsAvx512(_mm512_loadu_si512(pairs), bytes);
}

HEXFOLD_AVX512 inline std::uint64_t MarkStopsAvx512(const char *text)
{
    const __m512i chunk = _mm512_loadu_si512(text);
    return _mm512_cmpeq_epi8_mask(chunk, _mm512_set1_epi8('\n')) |
           _mm512_cmpeq_epi8_mask(chunk, _mm512_setzero_si512());
}
// HEXFOLD_AVX512_EXCL_STOP
#endif

// The non-digit marks that the checker's walk reads: every character that
// is not a hexadecimal digit, with the ranges of DigitValuesSse2 and its
// wider forms.
#if defined(__SSE2__)
inline std::uint64_t MarkNonDigitsSse2(const char *text)
{
    std::uint64_t digits = 0;
    for (unsigned at = 0; at < 64; at += 16) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at));
        const __m128i digit = _mm_sub_epi8(chars, _mm_set1_epi8('0'));
        const __m128i letter = _mm_sub_epi8(_mm_or_si128(chars, _mm_set1_epi8(0x20)), _mm_set1_epi8('a'));
        const __m128i is_digit = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(digit, _mm_set1_epi8(9)), digit),
                                              _mm_cmpeq_epi8(_mm_min_epu8(letter, _mm_set1_epi8(5)), letter));
        digits |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(is_digit))} << at;
    }
    return ~digits;
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
// HEXFOLD_AVX2_EXCL_START
HEXFOLD_AVX2 inline std::uint64_t MarkNonDigitsAvx2(const char *text)
{
    std::uint64_t digits = 0;
    for (unsigned at = 0; at < 64; at += 32) {
        const __m256i chars = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(text + at));
        const __m256i digit = _mm256_sub_epi8(chars, _mm256_set1_epi8('0'));
        const __m256i letter =
            _mm256_sub_epi8(_mm256_or_si256(chars, _mm256_set1_epi8(0x20)), _mm256_set1_epi8('a'));
        const __m256i is_digit =
            _mm256_or_si256(_mm256_cmpeq_epi8(_mm256_min_epu8(digit, _mm256_set1_epi8(9)), digit),
                            _mm256_cmpeq_epi8(_mm256_min_epu8(letter, _mm256_set1_epi8(5)), letter));
        digits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(is_digit))} << at;
    }
    return ~digits;
}
// HEXFOLD_AVX2_EXCL_STOP

// HEXFOLD_AVX512_EXCL_START
HEXFOLD_AVX512 inline std::uint64_t MarkNonDigitsAvx512(const char *text)
{
    const __m512i chars = _mm512_loadu_si512(text);
    const __m512i digit = _mm512_sub_epi8(chars, _mm512_set1_epi8('0'));
    const __m512i letter =
        _mm512_sub_epi8(_mm512_or_si512(chars, _mm512_set1_epi8(0x20)), _mm512_set1_epi8('a'));
    return ~(_mm512_cmple_epu8_mask(digit, _mm512_set1_epi8(9)) |
             _mm512_cmple_epu8_mask(letter, _mm512_set1_epi8(5)));
}
// HEXFOLD_AVX512_EXCL_STOP
#endif

#endif
