// The general path's decoder: one piece at a time, in place.
#ifndef HEXFOLD_RECORD_LINE_HPP
#define HEXFOLD_RECORD_LINE_HPP

#include "vector_units.hpp"

#include <cstddef>
#include <cstdint>

// Decodes the pairs that follow the piece's first character, up to its first
// NUL or its size (at most kMaxPieceSize), into bytes, and returns their
// number, (length - 1) / 2; whole steps go through the unit's decode step,
// the rest through the word unit's pair table. Reads no character past size
// and writes no byte past the count.
std::uint8_t ConvertHexPieceToBytes(const UnitSteps &steps, const char *piece, std::size_t size,
                                    std::uint8_t *bytes);

#endif
