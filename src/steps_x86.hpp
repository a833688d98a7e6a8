// The x86 units' steps, SSE2's for every x86-64 and AVX2's and AVX-512's
// through target attributes, each restating only the ranges that
// ConvertHexDigitToNum accepts (Units/VectorUnitTest.DecodePairsEveryPairAtEveryPlace).
// A unit's constants come in a kit, which the walk builds once and holds in
// registers (HoldKit) and a step standing alone builds, folded, every call.
#ifndef HEXFOLD_STEPS_X86_HPP
#define HEXFOLD_STEPS_X86_HPP

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>

struct Sse2Kit {
    __m128i digit_bias;  // takes '0'-'9', and nothing else, to 0x80-0x89
    __m128i digit_top;   // 0x89
    __m128i case_bit;    // 0x20, which takes 'A'-'F' onto 'a'-'f'
    __m128i letter_bias; // takes 'a'-'f', and nothing else, to 0x80-0x85
    __m128i letter_top;  // 0x85
    __m128i low_nibble;  // 0x0F
    __m128i nine;        // what a letter's value is more than its low nibble
    __m128i pair_join;   // 0x1001 in each 16-bit lane
    __m128i line_feed;
    __m128i zero;
};

inline Sse2Kit MakeSse2Kit()
{
    return {_mm_set1_epi8(0x50),  _mm_set1_epi8(-0x77), _mm_set1_epi8(0x20), _mm_set1_epi8(0x1F),
            _mm_set1_epi8(-0x7B), _mm_set1_epi8(0x0F),  _mm_set1_epi8(9),    _mm_set1_epi16(0x1001),
            _mm_set1_epi8('\n'),  _mm_setzero_si128()};
}

// An empty asm that might have changed the constants, so that the compiler
// keeps them in registers instead of making them afresh for every piece.
inline void HoldKit(Sse2Kit &kit)
{
    asm(""
        : "+x"(kit.digit_bias), "+x"(kit.digit_top), "+x"(kit.case_bit), "+x"(kit.letter_bias),
          "+x"(kit.letter_top), "+x"(kit.low_nibble), "+x"(kit.nine), "+x"(kit.pair_join),
          "+x"(kit.line_feed), "+x"(kit.zero));
}

// Each digit's value, anything else 0: a range biased onto the least signed
// bytes is one compare, and a digit's low nibble is its value, a letter's
// its value less 9.
inline __m128i DigitValuesSse2(const Sse2Kit &kit, __m128i chars)
{
    const __m128i not_digit = _mm_cmpgt_epi8(_mm_add_epi8(chars, kit.digit_bias), kit.digit_top);
    const __m128i not_letter =
        _mm_cmpgt_epi8(_mm_add_epi8(_mm_or_si128(chars, kit.case_bit), kit.letter_bias), kit.letter_top);
    const __m128i values =
        _mm_add_epi8(_mm_and_si128(chars, kit.low_nibble), _mm_andnot_si128(not_letter, kit.nine));
    return _mm_andnot_si128(_mm_and_si128(not_digit, not_letter), values);
}

// 8 pairs, 16 characters, into 8 bytes: a lane v + 256w times 0x1001 has
// the pair's byte 16v + w as its high byte, v and w being below 16.
inline __m128i PairLanesSse2(const Sse2Kit &kit, __m128i chars)
{
    return _mm_srli_epi16(_mm_mullo_epi16(DigitValuesSse2(kit, chars), kit.pair_join), 8);
}

inline void StorePairsSse2(const Sse2Kit &kit, __m128i chars, std::uint8_t *bytes)
{
    const __m128i lanes = PairLanesSse2(kit, chars);
    _mm_storel_epi64(reinterpret_cast<__m128i *>(bytes), _mm_packus_epi16(lanes, lanes));
}

inline void DecodePairsSse2(const Sse2Kit &kit, const char *pairs, std::uint8_t *bytes)
{
    StorePairsSse2(kit, _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs)), bytes);
}

inline void DecodePairsSse2(const char *pairs, std::uint8_t *bytes)
{
    DecodePairsSse2(MakeSse2Kit(), pairs, bytes);
}

// 16 pairs, 32 characters, into 16 bytes, the walk's wide step: one pack for both halves.
inline void DecodeWidePairsSse2(const Sse2Kit &kit, const char *pairs, std::uint8_t *bytes)
{
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes),
                     _mm_packus_epi16(PairLanesSse2(kit, first), PairLanesSse2(kit, second)));
}

// One bit for each of the 64 characters from text, set for a line feed or a
// NUL: the two characters for which the lesser of c and c ^ '\n' is 0.
inline std::uint64_t MarkStopsSse2(const Sse2Kit &kit, const char *text)
{
    std::uint64_t stops = 0;
    for (unsigned at = 0; at < 64; at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at));
        const __m128i stop = _mm_min_epu8(chunk, _mm_xor_si128(chunk, kit.line_feed));
        stops |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(stop, kit.zero)))}
                 << at;
    }
    return stops;
}

inline std::uint64_t MarkStopsSse2(const char *text)
{
    return MarkStopsSse2(MakeSse2Kit(), text);
}

// Whether [from, to), 32 characters or more, holds no line feed and no NUL,
// from its least character, since both are below 0x0B; other characters
// below 0x0B say no too, and the walk then finds the stop from the marks.
inline constexpr std::size_t kSse2CheckChars = 32;

// The least of each byte of the 16 characters from at and of the 16 after them.
inline __m128i LeastOf32Sse2(const char *at)
{
    return _mm_min_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i *>(at)),
                        _mm_loadu_si128(reinterpret_cast<const __m128i *>(at + 16)));
}

inline bool NoStopsInSse2(const Sse2Kit &kit, const char *from, const char *to)
{
    // The first and last 32 characters, and any between.
    __m128i least = _mm_min_epu8(LeastOf32Sse2(from), LeastOf32Sse2(to - kSse2CheckChars));
    for (from += kSse2CheckChars; from < to - kSse2CheckChars; from += kSse2CheckChars) {
        least = _mm_min_epu8(least, LeastOf32Sse2(from));
    }
    // Less '\n', saturating, is 0 only where a character is no more than '\n'.
    return _mm_movemask_epi8(_mm_cmpeq_epi8(_mm_subs_epu8(least, kit.line_feed), kit.zero)) == 0;
}
#endif

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define HEXFOLD_HAVE_AVX2 1
#define HEXFOLD_AVX2 __attribute__((target("avx2")))
#define HEXFOLD_AVX512 __attribute__((target("avx512f,avx512bw")))

// The AVX2 and AVX-512 steps' lookups; a byte lookup (pshufb) gives entry
// i & 15 for an index i below 0x80, and 0 from 0x80 up. A character c is worth
// kDigitValueOf[kHighClass[c >> 4] + kLowClass[c]], the add saturating: a
// digit's sum is below 0x80 with its value as low nibble, and any other's is
// 0x80 or more, for its row (a high nibble but 3, 4 and 6, or c from 0x80 up)
// or column (10 up) gives 0x80, or in the letter rows, 0x49, its column is a
// digits' one (0 or 7-9), 0x40 more.
struct alignas(16) ByteLookup {
    std::uint8_t entries[16];
};
inline constexpr ByteLookup kHighClass = {
    {0x80, 0x80, 0x80, 0x00, 0x49, 0x80, 0x49, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}};
inline constexpr ByteLookup kLowClass = {
    {0x40, 1, 2, 3, 4, 5, 6, 0x47, 0x48, 0x49, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80}};
inline constexpr ByteLookup kDigitValueOf = {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}};
// Entry c & 15 equals c only for a NUL and a line feed: the others hold 0x80,
// whose low nibble is not theirs, and characters from 0x80 up look up 0.
inline constexpr ByteLookup kStopOf = {
    {0x00, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, '\n', 0x80, 0x80, 0x80, 0x80, 0x80}};

// Run only where the processor has them, so that tests/coverage/coverage-report
// leaves each out of the count on one without it.
// HEXFOLD_AVX2_EXCL_START
struct Avx2Kit {
    __m256i high_class;
    __m256i low_class;
    __m256i digit_value_of;
    __m256i stop_of;
    __m256i low_nibble;   // 0x0F
    __m256i pair_weights; // 16 for a pair's first digit, 1 for its second
    __m256i stop_bound;   // 0x0B, more than a line feed or a NUL
};

HEXFOLD_AVX2 inline __m256i Avx2Lookup(const ByteLookup &lookup)
{
    return _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i *>(lookup.entries)));
}

HEXFOLD_AVX2 inline __m256i LoadAvx2(const char *at)
{
    return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(at));
}

HEXFOLD_AVX2 inline Avx2Kit MakeAvx2Kit()
{
    return {Avx2Lookup(kHighClass), Avx2Lookup(kLowClass),     Avx2Lookup(kDigitValueOf), Avx2Lookup(kStopOf),
            _mm256_set1_epi8(0x0F), _mm256_set1_epi16(0x0110), _mm256_set1_epi8(0x0B)};
}

HEXFOLD_AVX2 inline void HoldKit(Avx2Kit &kit)
{
    asm(""
        : "+x"(kit.high_class), "+x"(kit.low_class), "+x"(kit.digit_value_of), "+x"(kit.stop_of),
          "+x"(kit.low_nibble), "+x"(kit.pair_weights), "+x"(kit.stop_bound));
}

// Each digit's value, anything else 0 (kHighClass says why).
HEXFOLD_AVX2 inline __m256i DigitValuesAvx2(const Avx2Kit &kit, __m256i chars)
{
    const __m256i high = _mm256_and_si256(_mm256_srli_epi16(chars, 4), kit.low_nibble);
    return _mm256_shuffle_epi8(kit.digit_value_of,
                               _mm256_adds_epu8(_mm256_shuffle_epi8(kit.high_class, high),
                                                _mm256_shuffle_epi8(kit.low_class, chars)));
}

// Pairs into 16-bit lanes, each 16 first + second, at most 255.
HEXFOLD_AVX2 inline __m256i PairLanesAvx2(const Avx2Kit &kit, const char *pairs)
{
    return _mm256_maddubs_epi16(DigitValuesAvx2(kit, LoadAvx2(pairs)), kit.pair_weights);
}

// 16 pairs, 32 characters, into 16 bytes: the pack works within 128-bit
// halves, whose first quarters the permute joins.
HEXFOLD_AVX2 inline void DecodePairsAvx2(const Avx2Kit &kit, const char *pairs, std::uint8_t *bytes)
{
    const __m256i lanes = PairLanesAvx2(kit, pairs);
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(lanes, lanes), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(bytes), _mm256_castsi256_si128(packed));
}

// 32 pairs, 64 characters, into 32 bytes, the walk's step: the pack's
// quarters are first, second, first, second.
HEXFOLD_AVX2 inline void DecodeWidePairsAvx2(const Avx2Kit &kit, const char *pairs, std::uint8_t *bytes)
{
    const __m256i packed = _mm256_permute4x64_epi64(
        _mm256_packus_epi16(PairLanesAvx2(kit, pairs), PairLanesAvx2(kit, pairs + 32)), 0xD8);
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(bytes), packed);
}

HEXFOLD_AVX2 inline void DecodePairsAvx2(const char *pairs, std::uint8_t *bytes)
{
    DecodePairsAvx2(MakeAvx2Kit(), pairs, bytes);
}

// A stop is a character that kStopOf looks up as itself.
HEXFOLD_AVX2 inline std::uint64_t MarkStopsAvx2(const Avx2Kit &kit, const char *text)
{
    const __m256i low = LoadAvx2(text);
    const __m256i high = LoadAvx2(text + 32);
    const auto low_stops = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(kit.stop_of, low), low)));
    const auto high_stops = static_cast<std::uint32_t>(
        _mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_shuffle_epi8(kit.stop_of, high), high)));
    return std::uint64_t{high_stops} << 32U | low_stops;
}

HEXFOLD_AVX2 inline std::uint64_t MarkStopsAvx2(const char *text)
{
    return MarkStopsAvx2(MakeAvx2Kit(), text);
}

// As NoStopsInSse2, 32 characters at a time: 0x0B less the least
// character, saturating, is 0 only where that is 0x0B or more.
inline constexpr std::size_t kAvx2CheckChars = 32;

HEXFOLD_AVX2 inline bool NoStopsInAvx2(const Avx2Kit &kit, const char *from, const char *to)
{
    __m256i least = _mm256_min_epu8(LoadAvx2(from), LoadAvx2(to - kAvx2CheckChars));
    for (from += kAvx2CheckChars; from < to - kAvx2CheckChars; from += kAvx2CheckChars) {
        least = _mm256_min_epu8(least, LoadAvx2(from));
    }
    const __m256i short_of_bound = _mm256_subs_epu8(kit.stop_bound, least);
    return _mm256_testz_si256(short_of_bound, short_of_bound) != 0;
}
// HEXFOLD_AVX2_EXCL_STOP

// HEXFOLD_AVX512_EXCL_START
// As the AVX2 kit and steps, 64 characters to a register.
struct Avx512Kit {
    __m512i high_class;
    __m512i low_class;
    __m512i digit_value_of;
    __m512i stop_of;
    __m512i low_nibble;
    __m512i pair_weights;
    __m512i stop_bound;
};

// The masked forms here and below, every lane chosen: gcc 12 warns about the
// plain ones' undefined fill.
HEXFOLD_AVX512 inline __m512i Avx512Lookup(const ByteLookup &lookup)
{
    return _mm512_maskz_broadcast_i32x4(__mmask16{0xFFFF},
                                        _mm_load_si128(reinterpret_cast<const __m128i *>(lookup.entries)));
}

HEXFOLD_AVX512 inline Avx512Kit MakeAvx512Kit()
{
    return {Avx512Lookup(kHighClass), Avx512Lookup(kLowClass), Avx512Lookup(kDigitValueOf),
            Avx512Lookup(kStopOf),    _mm512_set1_epi8(0x0F),  _mm512_set1_epi16(0x0110),
            _mm512_set1_epi8(0x0B)};
}

HEXFOLD_AVX512 inline void HoldKit(Avx512Kit &kit)
{
    asm(""
        : "+v"(kit.high_class), "+v"(kit.low_class), "+v"(kit.digit_value_of), "+v"(kit.stop_of),
          "+v"(kit.low_nibble), "+v"(kit.pair_weights), "+v"(kit.stop_bound));
}

HEXFOLD_AVX512 inline void DecodePairsAvx512(const Avx512Kit &kit, const char *pairs, std::uint8_t *bytes)
{
    const __m512i chars = _mm512_loadu_si512(pairs);
    const __m512i high = _mm512_and_si512(_mm512_srli_epi16(chars, 4), kit.low_nibble);
    const __m512i values =
        _mm512_shuffle_epi8(kit.digit_value_of, _mm512_adds_epu8(_mm512_shuffle_epi8(kit.high_class, high),
                                                                 _mm512_shuffle_epi8(kit.low_class, chars)));
    // Narrowing each 16-bit lane keeps its low byte, the pair's value.
    _mm256_storeu_si256(
        reinterpret_cast<__m256i *>(bytes),
        _mm512_maskz_cvtepi16_epi8(~__mmask32{0}, _mm512_maddubs_epi16(values, kit.pair_weights)));
}

HEXFOLD_AVX512 inline void DecodePairsAvx512(const char *pairs, std::uint8_t *bytes)
{
    DecodePairsAvx512(MakeAvx512Kit(), pairs, bytes);
}

HEXFOLD_AVX512 inline std::uint64_t MarkStopsAvx512(const Avx512Kit &kit, const char *text)
{
    const __m512i chars = _mm512_loadu_si512(text);
    return _mm512_cmpeq_epi8_mask(_mm512_shuffle_epi8(kit.stop_of, chars), chars);
}

HEXFOLD_AVX512 inline std::uint64_t MarkStopsAvx512(const char *text)
{
    return MarkStopsAvx512(MakeAvx512Kit(), text);
}

// As NoStopsInSse2, 64 characters a step back from to, and a first step
// loading only the 1 to 64 characters before those (the rest neither fault
// nor count), so from 1 character, with a mask that only the length sets.
inline constexpr std::size_t kAvx512CheckChars = 1;

HEXFOLD_AVX512 inline bool NoStopsInAvx512(const Avx512Kit &kit, const char *from, const char *to)
{
    const __mmask64 lanes = ~std::uint64_t{0} >> (static_cast<std::uint64_t>(from - to) & 63U);
    __mmask64 below =
        _mm512_mask_cmplt_epu8_mask(lanes, _mm512_maskz_loadu_epi8(lanes, from), kit.stop_bound);
    for (std::ptrdiff_t back = 64; back < to - from; back += 64) {
        below |= _mm512_cmplt_epu8_mask(_mm512_loadu_si512(to - back), kit.stop_bound);
    }
    return below == 0;
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
