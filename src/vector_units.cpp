#include "vector_units.hpp"

#include "record_reader.hpp"
#include "steps_neon.hpp"
#include "steps_words.hpp"
#include "steps_x86.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
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

// A plain piece's line feed stands at most this far behind its colon.
constexpr std::size_t kLastStop = kMaxPieceSize - 1;

// Marks the steps after word's, none past last_word, until one holds a stop
// or none that the piece at start could reach; true when its stop is found.
// Only such a piece can pass its 255 characters, the marks at hand beginning
// at or before its start (Units/VectorUnitTest.GuessedPiecesAgreeWithLineReads, 254 digits).
template <typename Kit, std::uint64_t (*kMarkStops)(const Kit &, const char *)>
[[gnu::always_inline]] inline bool MarkOnward(const Kit &kit, const char *start, const char *last_word,
                                              const char *&word, std::uint64_t &stops)
{
    do {
        word += kMarkChars;
        if (word > last_word) {
            return false;
        }
        stops = kMarkStops(kit, word);
    } while (stops == 0 && static_cast<std::size_t>(word + kMarkChars - start) <= kLastStop);
    // countr_zero(0) is 64: no stop within reach is a stop out of it.
    return static_cast<std::size_t>(word + std::countr_zero(stops) - start) <= kLastStop;
}

// Wide steps from the piece's first pair while more than a narrow one is
// left, then a narrow one (a unit with one step size names it twice): the
// last starts before the line feed, so it reads less than a step past the
// text, and the steps before it write only the piece's own bytes, so it
// writes at most kWideChars / 2 past them.
template <typename Kit, void (*kDecodeWide)(const Kit &, const char *, std::uint8_t *),
          std::size_t kWideChars, void (*kDecodePairs)(const Kit &, const char *, std::uint8_t *),
          std::size_t kChars>
[[gnu::always_inline]] inline void DecodePiece(const Kit &kit, const char *start, const char *stop,
                                               std::uint8_t *out)
{
    static_assert(kWideChars <= kBlockPadding && kWideChars / 2 <= kPlainRunSpill && kChars <= kWideChars);
    const char *pairs = start + 1;
    do {
        if constexpr (kChars < kWideChars) {
            if (stop - pairs <= static_cast<std::ptrdiff_t>(kChars)) {
                kDecodePairs(kit, pairs, out);
                return;
            }
        }
        kDecodeWide(kit, pairs, out);
        pairs += kWideChars;
        out += kWideChars / 2;
    } while (pairs < stop);
}

// The same walk for every unit, with its kit held in registers and its
// steps: marking stops, checking that a stretch of kCheckChars or more holds
// none, and decoding pieces (DecodePiece). Stops come from the marks rather
// than from decoded characters, and, after two pieces alike, from the guess
// that the next is as long again, checked, so that the next piece never
// waits for a load of this one and pieces overlap in the processor; the steps
// come one by one, as gcc 12 takes no function pointer in a class-type
// template argument.
template <typename Kit, Kit (*kMakeKit)(), std::uint64_t (*kMarkStops)(const Kit &, const char *),
          bool (*kNoStopsIn)(const Kit &, const char *, const char *), std::size_t kCheckChars,
          void (*kDecodeWide)(const Kit &, const char *, std::uint8_t *), std::size_t kWideChars,
          void (*kDecodePairs)(const Kit &, const char *, std::uint8_t *), std::size_t kChars>
[[gnu::always_inline]] inline PlainRun WalkPlainPieces(const char *text, std::size_t available,
                                                       std::uint8_t *bytes, std::size_t room)
{
    if (available <= kMaxPieceSize) {
        return {};
    }
    Kit kit = kMakeKit();
    // The marks of the 64 characters from word on less the stops taken, so
    // that the lowest bit left is the stop of the piece at start.
    const char *word = text;
    std::uint64_t stops = kMarkStops(kit, word);
    // A first piece that stops at a NUL goes to the general path before the kit is held.
    if (stops != 0 && text[std::countr_zero(stops)] != '\n') {
        return {};
    }
    HoldKit(kit);
    const char *const end = text + available;
    // Marks are of whole steps before this, so every stop they show is the text's.
    const char *const last_word = end - kMarkChars;
    const std::uint8_t *const last_out = bytes + room;
    const char *start = text;
    std::uint8_t *out = bytes;
    std::size_t last_length = 0;
    while (out <= last_out && *start == ':') {
        if (stops == 0 && !MarkOnward<Kit, kMarkStops>(kit, start, last_word, word, stops)) {
            break;
        }
        const char *const stop = word + std::countr_zero(stops);
        stops &= stops - 1;
        if (*stop != '\n') {
            break;
        }
        DecodePiece<Kit, kDecodeWide, kWideChars, kDecodePairs, kChars>(kit, start, stop, out);
        // The piece is length + 1 characters long, its line feed included.
        const auto length = static_cast<std::size_t>(stop - start);
        out += length / 2;
        start = stop + 1;
        if (length != last_length || length <= kCheckChars) {
            last_length = length;
            continue;
        }
        // Guessed pieces while their line feeds lie in the text and no more
        // than room bytes are written, each giving fewer bytes than half its
        // characters (Units/VectorUnitTest.WalkStopsAtTheTextsEndAndTheRoom).
        const std::ptrdiff_t reach =
            std::min(end - 1 - start - static_cast<std::ptrdiff_t>(length), 2 * (last_out - out));
        if (reach < 0) {
            continue;
        }
        const char *const run_start = start;
        for (const char *const last_guess = start + reach; start <= last_guess && *start == ':' &&
                                                           start[length] == '\n' &&
                                                           kNoStopsIn(kit, start + 1, start + length);) {
            DecodePiece<Kit, kDecodeWide, kWideChars, kDecodePairs, kChars>(kit, start, start + length, out);
            out += length / 2;
            start += length + 1;
        }
        if (start != run_start) {
            // Marks afresh for the piece that the guess missed.
            if (start > last_word) {
                break;
            }
            word = start;
            stops = kMarkStops(kit, word);
        }
    }
    return {static_cast<std::size_t>(start - text), static_cast<std::size_t>(out - bytes)};
}

constexpr UnitSteps kWordsSteps{MarkStopsWords, DecodePairsWords, kWordsStepChars, MarkNonDigitsWords};

PlainRun WalkWords(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<WordsKit, MakeWordsKit, MarkStopsWords, NoStopsInWords, kWordsCheckChars,
                           DecodePairsWords, kWordsStepChars, DecodePairsWords, kWordsStepChars>(
        text, available, bytes, room);
}

#if defined(__SSE2__)
constexpr std::size_t kSse2StepChars = 16;
constexpr UnitSteps kSse2Steps{MarkStopsSse2, DecodePairsSse2, kSse2StepChars, MarkNonDigitsSse2};

PlainRun WalkSse2(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<Sse2Kit, MakeSse2Kit, MarkStopsSse2, NoStopsInSse2, kSse2CheckChars,
                           DecodeWidePairsSse2, 32, DecodePairsSse2, kSse2StepChars>(text, available, bytes,
                                                                                     room);
}
#endif

#if defined(HEXFOLD_HAVE_AVX2)
// AVX2 and NEON decode 32 characters a step for the general path, and 64 in
// the walk, so that a 42-digit line takes one step.
constexpr UnitSteps kAvx2Steps{MarkStopsAvx2, DecodePairsAvx2, 32, MarkNonDigitsAvx2};
constexpr std::size_t kAvx512StepChars = 64;
constexpr UnitSteps kAvx512Steps{MarkStopsAvx512, DecodePairsAvx512, kAvx512StepChars, MarkNonDigitsAvx512};

// Run only where the processor has the unit, so that
// tests/coverage/coverage-report leaves each out of the count on one without it.
// HEXFOLD_AVX2_EXCL_START
HEXFOLD_AVX2 PlainRun WalkAvx2(const char *text, std::size_t available, std::uint8_t *bytes, std::size_t room)
{
    return WalkPlainPieces<Avx2Kit, MakeAvx2Kit, MarkStopsAvx2, NoStopsInAvx2, kAvx2CheckChars,
                           DecodeWidePairsAvx2, 64, DecodeWidePairsAvx2, 64>(text, available, bytes, room);
}
// HEXFOLD_AVX2_EXCL_STOP

// HEXFOLD_AVX512_EXCL_START
HEXFOLD_AVX512 PlainRun WalkAvx512(const char *text, std::size_t available, std::uint8_t *bytes,
                                   std::size_t room)
{
    return WalkPlainPieces<Avx512Kit, MakeAvx512Kit, MarkStopsAvx512, NoStopsInAvx512, kAvx512CheckChars,
                           DecodePairsAvx512, kAvx512StepChars, DecodePairsAvx512, kAvx512StepChars>(
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
    return WalkPlainPieces<NeonKit, MakeNeonKit, MarkStopsNeon, NoStopsInNeon, kNeonCheckChars,
                           DecodeWidePairsNeon, 64, DecodeWidePairsNeon, 64>(text, available, bytes, room);
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
