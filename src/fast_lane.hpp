// The common piece, a colon and digits up to a line feed: found from a bit
// mask of the block's line feeds and decoded a vector at a time, many pieces
// to a call.
#ifndef HEXFOLD_FAST_LANE_HPP
#define HEXFOLD_FAST_LANE_HPP

#include <cstddef>
#include <cstdint>

enum class VectorUnit {
    kNone, // eight characters to a 64-bit word, on any processor
    kSse2,
    kAvx2,
    kAvx512,
};

// The widest unit that this build and this machine have.
VectorUnit BestVectorUnit();

struct SimpleRun {
    std::size_t chars = 0; // characters taken from the text
    std::size_t bytes = 0; // bytes that they decoded to
};

// Up to this many bytes past a run's own may be written.
inline constexpr std::size_t kSimpleRunSpill = 32;

// Takes the simple pieces at the start of text, one after another, as long
// as more than a whole piece's worth of characters (kMaxPieceSize) is left,
// and as long as no more than room bytes have been written when the next
// piece starts. A simple piece begins with ':', holds no NUL and ends with a
// line feed within its 255 characters; the first piece that is not simple
// is left for the general way. The text must be readable 64 characters past
// available.
SimpleRun DecodeSimplePieces(VectorUnit unit, const char *text, std::size_t available, std::uint8_t *bytes,
                             std::size_t room);

#endif
