#include "vector_units.hpp"

#include "record_reader.hpp"
#include "steps_neon.hpp"
#include "steps_words.hpp"
#include "steps_x86.hpp"

#include <bit>
#include <cstring>

// The C library's answer from start-up, GLIBC_TUNABLES's masks applied, for
// gcc and clang builds alike, since asking the processor again traps under
// virtualisation at a cost that a small run notices.
#if defined(HEXFOLD_HAVE_AVX2) && __has_include(<sys/platform/x86.h>)
// glibc 2.36's header spells bool as C's _Bool, which clang++ does not know.
#if defined(__clang__)
#define _Bool bool // NOLINT(bugprone-reserved-identifier,cert-dcl37-c,cert-dcl51-cpp)
#include <sys/platform/x86.h>
#undef _Bool
#else
#include <sys/platform/x86.h>
#endif
#define HEXFOLD_ACTIVE(feature, name) CPU_FEATURE_ACTIVE(feature)
#elif defined(HEXFOLD_HAVE_AVX2)
#define HEXFOLD_ACTIVE(feature, name) __builtin_cpu_supports(name)
#endif

namespace {

// A mark step's characters, one bit each.
constexpr std::size_t kMarkChars = 64;
// A mark step that starts before the text's end reaches past it by less than the padding.
static_assert(kBlockPadding >= kMarkChars);

// The same walk for every unit, stops found from the marks rather than from
// decoded characters so that pieces overlap in the processor; the steps come
// one by one, as gcc 12 takes no function pointer in a class-type template argument.
template <std::uint64_t (*kMarkStops)(const char *), void (*kDecodePairs)(const char *, std::uint8_t *),
          std::size_t kChars>
[[gnu::always_inline]] inline PlainRun WalkPlainPieces(const char *text, std::size_t available,
                                                       std::uint8_t *bytes, std::size_t room)
{
    // A plain piece's line feed stands at most this far behind its colon.
    constexpr std::size_t kLastStop = kMaxPieceSize - 1;
    PlainRun run;
    if (available <= kMaxPieceSize) {
        return run;
    }
    // A piece starting before this has all its 255 characters at hand.
    const std::size_t last_start = available - kMaxPieceSize - 1;
    // The marks of the 64 characters from word on less the stops taken, so
    // that the lowest bit left is the stop of the piece at start.
    std::size_t word = 0;
    std::uint64_t stops = kMarkStops(text);
    std::size_t start = 0;
    while (start <= last_start && run.bytes <= room && text[start] == ':') {
        while (stops == 0 && word + kMarkChars - start <= kLastStop) {
            word += kMarkChars;
            stops = kMarkStops(text + word);
        }
        if (stops == 0) {
            break;
        }
        const std::size_t stop = word + static_cast<std::size_t>(std::countr_zero(stops));
        stops &= stops - 1;
        if (stop - start > kLastStop || text[stop] != '\n') {
            break;
        }
        // The piece is stop - start + 1 characters long, its line feed included.
        std::uint8_t *out = bytes + run.bytes;
        for (const char *pairs = text + start + 1; pairs < text + stop; pairs += kChars, out += kChars / 2) {
            kDecodePairs(pairs, out);
        }
        run.bytes += (stop - start) / 2;
        start = stop + 1;
    }
    run.chars = start;
    return run;
}

constexpr UnitSteps kWordsSteps{MarkStopsWords, DecodePairsWords, kWordsStepChars, MarkNonDigitsWords};

PlainRun WalkWords(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<kWordsSteps.mark_stops, kWordsSteps.decode_pairs, kWordsSteps.chars>(
        text, available, bytes, room);
}

#if defined(__SSE2__)
constexpr UnitSteps kSse2Steps{MarkStopsSse2, DecodePairsSse2, 16, MarkNonDigitsSse2};

PlainRun WalkSse2(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<kSse2Steps.mark_stops, kSse2Steps.decode_pairs, kSse2Steps.chars>(text, available,
                                                                                             bytes, room);
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
constexpr UnitSteps kAvx2Steps{MarkStopsAvx2, DecodePairsAvx2, 32, MarkNonDigitsAvx2};
constexpr UnitSteps kAvx512Steps{MarkStopsAvx512, DecodePairsAvx512, 64, MarkNonDigitsAvx512};

// Run only where the processor has the unit, so that
// tests/coverage/coverage-report leaves each out of the count on one without it.
// HEXFOLD_AVX2_EXCL_START
HEXFOLD_AVX2 PlainRun WalkAvx2(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<kAvx2Steps.mark_stops, kAvx2Steps.decode_pairs, kAvx2Steps.chars>(text, available,
                                                                                             bytes, room);
}
// HEXFOLD_AVX2_EXCL_STOP

// HEXFOLD_AVX512_EXCL_START
HEXFOLD_AVX512 PlainRun WalkAvx512(const char *text, std::size_t available, std::uint8_t *bytes,
                                   std::size_t room)
{
    return WalkPlainPieces<kAvx512Steps.mark_stops, kAvx512Steps.decode_pairs, kAvx512Steps.chars>(
        text, available, bytes, room);
}

// AVX-512BW extends AVX-512F, and GLIBC_TUNABLES may mask either.
bool HasAvx512Bw()
{
    return HEXFOLD_ACTIVE(AVX512F, "avx512f") && HEXFOLD_ACTIVE(AVX512BW, "avx512bw");
}
// HEXFOLD_AVX512_EXCL_STOP
#endif

#if defined(HEXFOLD_HAVE_NEON)
constexpr UnitSteps kNeonSteps{MarkStopsNeon, DecodePairsNeon, 32, MarkNonDigitsNeon};

PlainRun WalkNeon(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<kNeonSteps.mark_stops, kNeonSteps.decode_pairs, kNeonSteps.chars>(text, available,
                                                                                             bytes, room);
}
#endif

bool ProcessorHas(ProcessorNeed need)
{
#if defined(HEXFOLD_HAVE_AVX2)
    if (need == ProcessorNeed::kAvx2) {
        return HEXFOLD_ACTIVE(AVX2, "avx2");
    }
    if (need == ProcessorNeed::kAvx512Bw) {
        return HasAvx512Bw();
    }
#endif
    // A build without those units has no way of asking for them.
    return need == ProcessorNeed::kNothing;
}

// A row for a unit that this build leaves out, named all the same so that
// asking for it falls back and the tests show it as skipped.
constexpr VectorUnitInfo NotBuilt(VectorUnit unit, const char *name, ProcessorNeed needs)
{
    return {unit, name, false, needs, {}, nullptr};
}

} // namespace

constexpr std::array<VectorUnitInfo, kVectorUnitCount> kVectorUnits = {{
    // Eight characters to a 64-bit word, on any processor.
    {VectorUnit::kWords, "none", true, ProcessorNeed::kNothing, kWordsSteps, WalkWords},
#if defined(__SSE2__)
    {VectorUnit::kSse2, "sse2", true, ProcessorNeed::kNothing, kSse2Steps, WalkSse2},
#else
    NotBuilt(VectorUnit::kSse2, "sse2", ProcessorNeed::kNothing),
#endif
#if defined(HEXFOLD_HAVE_AVX2)
    {VectorUnit::kAvx2, "avx2", true, ProcessorNeed::kAvx2, kAvx2Steps, WalkAvx2},
    {VectorUnit::kAvx512, "avx512", true, ProcessorNeed::kAvx512Bw, kAvx512Steps, WalkAvx512},
#else
    NotBuilt(VectorUnit::kAvx2, "avx2", ProcessorNeed::kAvx2),
    NotBuilt(VectorUnit::kAvx512, "avx512", ProcessorNeed::kAvx512Bw),
#endif
#if defined(HEXFOLD_HAVE_NEON)
    {VectorUnit::kNeon, "neon", true, ProcessorNeed::kNothing, kNeonSteps, WalkNeon},
#else
    NotBuilt(VectorUnit::kNeon, "neon", ProcessorNeed::kNothing),
#endif
}};

// VectorUnit indexes the table, and a decode step that starts before the
// text's end reaches past it by less than the padding.
static_assert([] {
    for (std::size_t index = 0; index < kVectorUnits.size(); ++index) {
        if (kVectorUnits[index].unit != static_cast<VectorUnit>(index) ||
            kVectorUnits[index].steps.chars > kBlockPadding) {
            return false;
        }
    }
    return true;
}());

namespace {

const VectorUnitInfo &InfoOf(VectorUnit unit)
{
    return kVectorUnits[static_cast<std::size_t>(unit)];
}

} // namespace

bool VectorUnitUsable(VectorUnit unit)
{
    const VectorUnitInfo &info = InfoOf(unit);
    return info.built && ProcessorHas(info.needs);
}

VectorUnit BestVectorUnit()
{
    VectorUnit best = VectorUnit::kWords;
    for (const VectorUnitInfo &info : kVectorUnits) {
        if (VectorUnitUsable(info.unit)) {
            best = info.unit;
        }
    }
    return best;
}

VectorUnit ChooseVectorUnit(const char *requested)
{
    if (requested != nullptr) {
        for (const VectorUnitInfo &info : kVectorUnits) {
            if (std::strcmp(requested, info.name) == 0 && VectorUnitUsable(info.unit)) {
                return info.unit;
            }
        }
    }
    return BestVectorUnit();
}

PlainRun DecodePlainPieces(VectorUnit unit, const char *text, std::size_t available, std::uint8_t *bytes,
                           std::size_t room)
{
    return InfoOf(unit).walk(text, available, bytes, room);
}
