#include "fast_lane.hpp"

#include "pair_vectors.hpp"
#include "pair_words.hpp"
#include "record_reader.hpp"

#include <bit>

// The C library has already asked the processor what it can do, at start-up;
// asking it again costs a small run a noticeable share of its time under
// virtualisation, where each question traps. (glibc 2.36's header spells
// bool as C's _Bool, which clang++ rejects.)
#if defined(HEXFOLD_HAVE_AVX2) && !defined(__clang__) && __has_include(<sys/platform/x86.h>)
#include <sys/platform/x86.h>
#define HEXFOLD_SUPPORTS(unit, feature) CPU_FEATURE_ACTIVE(feature)
#else
#define HEXFOLD_SUPPORTS(unit, feature) __builtin_cpu_supports(unit)
#endif

namespace {

// The same walk for every unit, which brings its own two steps: marking the
// line feeds and NULs of 64 characters, and decoding kChars characters.
// The stops are found from the marks, not from the decoded characters, so
// that finding the next piece never waits for a load of this one: pieces
// overlap in the processor.
template <std::uint64_t (*kMarkStops)(const char *), void (*kDecodePairs)(const char *, std::uint8_t *),
          std::size_t kChars>
[[gnu::always_inline]] inline SimpleRun WalkSimplePieces(const char *text, std::size_t available,
                                                         std::uint8_t *bytes, std::size_t room)
{
    // A simple piece's line feed stands at most this far behind its colon.
    constexpr std::size_t kLastStop = kMaxPieceSize - 1;
    SimpleRun run;
    if (available <= kMaxPieceSize) {
        return run;
    }
    // A piece starting before this has all its 255 characters at hand.
    const std::size_t last_start = available - kMaxPieceSize - 1;
    std::size_t word = 0;
    std::uint64_t stops = kMarkStops(text);
    std::size_t start = 0;
    while (start <= last_start && run.bytes <= room && text[start] == ':') {
        // The first stop behind the colon.
        const std::size_t from = start + 1;
        while (from - word >= 64) {
            word += 64;
            stops = kMarkStops(text + word);
        }
        std::uint64_t ahead = stops >> (from - word);
        std::size_t base = from;
        while (ahead == 0 && word + 64 - start <= kLastStop) {
            word += 64;
            stops = kMarkStops(text + word);
            ahead = stops;
            base = word;
        }
        if (ahead == 0) {
            break;
        }
        const std::size_t stop = base + static_cast<std::size_t>(std::countr_zero(ahead));
        if (stop - start > kLastStop || text[stop] != '\n') {
            break;
        }
        // The piece is stop - start + 1 characters long, its line feed included.
        for (std::size_t at = from; at < stop; at += kChars) {
            kDecodePairs(text + at, bytes + run.bytes + (at - from) / 2);
        }
        run.bytes += (stop - start) / 2;
        start = stop + 1;
    }
    run.chars = start;
    return run;
}

SimpleRun DecodeSimplePiecesWords(const char *text, std::size_t available, std::uint8_t *bytes,
                                  std::size_t room)
{
    return WalkSimplePieces<MarkStopsWords, DecodePairsWords, kWordsStepChars>(text, available, bytes, room);
}

#if defined(__SSE2__)
SimpleRun DecodeSimplePiecesSse2(const char *text, std::size_t available, std::uint8_t *bytes,
                                 std::size_t room)
{
    return WalkSimplePieces<MarkStopsSse2, DecodePairsSse2, 16>(text, available, bytes, room);
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
HEXFOLD_AVX2 SimpleRun DecodeSimplePiecesAvx2(const char *text, std::size_t available, std::uint8_t *bytes,
                                              std::size_t room)
{
    return WalkSimplePieces<MarkStopsAvx2, DecodePairsAvx2, 32>(text, available, bytes, room);
}

HEXFOLD_AVX512 SimpleRun DecodeSimplePiecesAvx512(const char *text, std::size_t available,
                                                  std::uint8_t *bytes, std::size_t room)
{
    return WalkSimplePieces<MarkStopsAvx512, DecodePairsAvx512, 64>(text, available, bytes, room);
}
#endif

} // namespace

VectorUnit BestVectorUnit()
{
#if defined(HEXFOLD_HAVE_AVX2)
    if (HEXFOLD_SUPPORTS("avx512bw", AVX512BW)) {
        return VectorUnit::kAvx512;
    }
    if (HEXFOLD_SUPPORTS("avx2", AVX2)) {
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
    case VectorUnit::kAvx512:
        return DecodeSimplePiecesAvx512(text, available, bytes, room);
    case VectorUnit::kAvx2:
        return DecodeSimplePiecesAvx2(text, available, bytes, room);
#endif
#if defined(__SSE2__)
    case VectorUnit::kSse2:
        return DecodeSimplePiecesSse2(text, available, bytes, room);
#endif
    default:
        return DecodeSimplePiecesWords(text, available, bytes, room);
    }
}
