#include "fast_lane.hpp"

#include "pair_vectors.hpp"
#include "record_reader.hpp"

#include <bit>

namespace {

// A simple piece's line feed stands at most this far behind its colon.
constexpr std::size_t kLastStop = kMaxPieceSize - 2;

#if defined(__SSE2__)
SimpleRun DecodeSimplePiecesSse2(const char *text, std::size_t available, std::uint8_t *bytes,
                                 std::size_t room)
{
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    SimpleRun run;
    while (available - run.chars > kMaxPieceSize && run.bytes <= room && text[run.chars] == ':') {
        const char *pairs = text + run.chars + 1;
        std::uint8_t *out = bytes + run.bytes;
        std::size_t stop = kMaxPieceSize;
        for (std::size_t at = 0; at <= kLastStop; at += 16) {
            const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(pairs + at));
            StorePairsSse2(chunk, out + at / 2);
            const auto stops = static_cast<unsigned>(_mm_movemask_epi8(
                _mm_or_si128(_mm_cmpeq_epi8(chunk, line_feed), _mm_cmpeq_epi8(chunk, nul))));
            if (stops != 0) {
                stop = at + static_cast<std::size_t>(std::countr_zero(stops));
                break;
            }
        }
        if (stop > kLastStop || pairs[stop] != '\n') {
            break;
        }
        run.chars += stop + 2;
        run.bytes += (stop + 1) / 2;
    }
    return run;
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
HEXFOLD_AVX2 SimpleRun DecodeSimplePiecesAvx2(const char *text, std::size_t available, std::uint8_t *bytes,
                                              std::size_t room)
{
    const __m256i line_feed = _mm256_set1_epi8('\n');
    const __m256i nul = _mm256_setzero_si256();
    SimpleRun run;
    while (available - run.chars > kMaxPieceSize && run.bytes <= room && text[run.chars] == ':') {
        const char *pairs = text + run.chars + 1;
        std::uint8_t *out = bytes + run.bytes;
        std::size_t stop = kMaxPieceSize;
        for (std::size_t at = 0; at <= kLastStop; at += 32) {
            const __m256i chunk = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(pairs + at));
            StorePairsAvx2(chunk, out + at / 2);
            const auto stops = static_cast<std::uint32_t>(_mm256_movemask_epi8(
                _mm256_or_si256(_mm256_cmpeq_epi8(chunk, line_feed), _mm256_cmpeq_epi8(chunk, nul))));
            if (stops != 0) {
                stop = at + static_cast<std::size_t>(std::countr_zero(stops));
                break;
            }
        }
        if (stop > kLastStop || pairs[stop] != '\n') {
            break;
        }
        run.chars += stop + 2;
        run.bytes += (stop + 1) / 2;
    }
    return run;
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
HEXFOLD_AVX512 SimpleRun DecodeSimplePiecesAvx512(const char *text, std::size_t available,
                                                  std::uint8_t *bytes, std::size_t room)
{
    const __m512i line_feed = _mm512_set1_epi8('\n');
    const __m512i nul = _mm512_setzero_si512();
    SimpleRun run;
    while (available - run.chars > kMaxPieceSize && run.bytes <= room && text[run.chars] == ':') {
        const char *pairs = text + run.chars + 1;
        std::uint8_t *out = bytes + run.bytes;
        std::size_t stop = kMaxPieceSize;
        for (std::size_t at = 0; at <= kLastStop; at += 64) {
            const __m512i chunk = _mm512_loadu_si512(pairs + at);
            StorePairsAvx512(chunk, out + at / 2);
            const std::uint64_t stops =
                _mm512_cmpeq_epi8_mask(chunk, line_feed) | _mm512_cmpeq_epi8_mask(chunk, nul);
            if (stops != 0) {
                stop = at + static_cast<std::size_t>(std::countr_zero(stops));
                break;
            }
        }
        if (stop > kLastStop || pairs[stop] != '\n') {
            break;
        }
        run.chars += stop + 2;
        run.bytes += (stop + 1) / 2;
    }
    return run;
}
#endif

} // namespace

VectorUnit BestVectorUnit()
{
#if defined(HEXFOLD_HAVE_AVX2)
    if (__builtin_cpu_supports("avx512bw")) {
        return VectorUnit::kAvx512;
    }
    if (__builtin_cpu_supports("avx2")) {
        return VectorUnit::kAvx2;
    }
#endif
#if defined(__SSE2__)
    return VectorUnit::kSse2;
#else
    return VectorUnit::kNone;
#endif
}

SimpleRun DecodeSimplePieces(VectorUnit unit, const char *text, std::size_t available, std::uint8_t *bytes,
                             std::size_t room)
{
    switch (unit) {
#if defined(HEXFOLD_HAVE_AVX2)
    case VectorUnit::kAvx2:
        return DecodeSimplePiecesAvx2(text, available, bytes, room);
    case VectorUnit::kAvx512:
        return DecodeSimplePiecesAvx512(text, available, bytes, room);
#endif
#if defined(__SSE2__)
    case VectorUnit::kSse2:
        return DecodeSimplePiecesSse2(text, available, bytes, room);
#endif
    default:
        return {};
    }
}
