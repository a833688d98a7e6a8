// The common piece, a colon and digits up to a line feed: found from a bit
// mask of the block's line feeds and decoded a vector at a time, many pieces
// to a call. Which vector unit does it is chosen from one table, kVectorUnits.
#ifndef HEXFOLD_VECTOR_UNITS_HPP
#define HEXFOLD_VECTOR_UNITS_HPP

#include "record_reader.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

// Names a row of kVectorUnits, whose order these follow; the table's order,
// not this one, says which unit is preferred.
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
// bit each, and decoding chars characters (chars / 2 pairs) into bytes; for
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

// Every unit this program knows, built or not, from the least preferred to
// the most: detection, dispatch, HEXFOLD_VECTOR_UNIT and the tests all read it.
extern const std::array<VectorUnitInfo, kVectorUnitCount> kVectorUnits;

// Built into this program, and what it needs present and enabled on this
// machine (as the C library sees it, so that GLIBC_TUNABLES masks apply).
bool VectorUnitUsable(VectorUnit unit);

// The most preferred usable unit.
VectorUnit BestVectorUnit();

// The unit named by requested when it is usable; the best usable unit when
// it is not, or when requested is null or names no unit.
VectorUnit ChooseVectorUnit(const char *requested);

// Up to this many bytes past a run's own may be written.
inline constexpr std::size_t kPlainRunSpill = 32;

// Takes the plain pieces at the start of text, one after another, as long
// as more than a whole piece's worth of characters (kMaxPieceSize) is left,
// and as long as no more than room bytes have been written when the next
// piece starts. A plain piece begins with ':', holds no NUL and ends with a
// line feed within its 255 characters; the first piece that is not simple
// is left for the general path. The text must be readable kBlockPadding
// characters past available. unit must be one that VectorUnitUsable accepts,
// as ChooseVectorUnit's always is.
PlainRun DecodePlainPieces(VectorUnit unit, const char *text, std::size_t available, std::uint8_t *bytes,
                           std::size_t room);

#endif
