// The walk over plain pieces, many to a call, with the steps of the unit
// that one table, kVectorUnits, names.
#ifndef HEXFOLD_VECTOR_UNITS_HPP
#define HEXFOLD_VECTOR_UNITS_HPP

#include "record_reader.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

// Names a row of kVectorUnits, in the table's order.
enum class VectorUnit {
    kWords, // no vector unit: eight characters to a 64-bit word ("none")
    kSse2,
    kAvx2,
    kAvx512,
    kNeon,
};

struct PlainRun {
    std::size_t chars = 0; // characters taken from the text
    std::size_t bytes = 0; // bytes that they decoded to
};

// What a unit needs from the processor beyond what its build already assumes.
enum class ProcessorNeed {
    kNothing,
    kAvx2,
    kAvx512Bw, // with AVX-512F, which it extends
};

// A unit's steps: marking the line feeds and NULs of 64 characters, one
// bit each, and decoding exactly chars characters into chars / 2 bytes; for
// hexfold-check, marking the 64 characters that are not hexadecimal digits.
struct UnitSteps {
    std::uint64_t (*mark_stops)(const char *text) = nullptr;
    void (*decode_pairs)(const char *pairs, std::uint8_t *bytes) = nullptr;
    std::size_t chars = 0;
    std::uint64_t (*mark_non_digits)(const char *text) = nullptr;
};

using PlainPiecesWalk = PlainRun (*)(const char *text, std::size_t available, std::uint8_t *bytes,
                                     std::size_t room);

struct VectorUnitInfo {
    VectorUnit unit = VectorUnit::kWords;
    const char *name = ""; // as HEXFOLD_VECTOR_UNIT and the tests spell it
    bool built = false;    // compiled into this build
    ProcessorNeed needs = ProcessorNeed::kNothing;
    UnitSteps steps;                // empty where the unit is not built
    PlainPiecesWalk walk = nullptr; // the common walk over steps, compiled for the unit
};

inline constexpr std::size_t kVectorUnitCount = 5;

// Every unit this program knows, built or not, from the least preferred to the most.
extern const std::array<VectorUnitInfo, kVectorUnitCount> kVectorUnits;

// Built into this program, and with what it needs enabled on this machine as
// the C library sees it, GLIBC_TUNABLES's masks included
// (Cases/Run.StatusMessageAndFiles/UnitAvx512WithoutBw).
bool VectorUnitUsable(VectorUnit unit);

// The most preferred usable unit.
VectorUnit BestVectorUnit();

// The unit that requested names when it is usable, the best usable one otherwise.
VectorUnit ChooseVectorUnit(const char *requested);

// A run may write up to this many bytes past its own.
inline constexpr std::size_t kPlainRunSpill = 32;

// Takes the plain pieces at the start of text whose line feeds lie within
// available characters, while no more than room bytes are written, and leaves
// the first other piece, and at most kMaxPieceSize + 64 characters at the end,
// to the general path (Units/VectorUnitTest.WalkStopsAtTheTextsEndAndTheRoom);
// text is readable kBlockPadding characters past available, and unit one that
// VectorUnitUsable accepts.
PlainRun DecodePlainPieces(VectorUnit unit, const char *text, std::size_t available, std::uint8_t *bytes,
                           std::size_t room);

#endif
