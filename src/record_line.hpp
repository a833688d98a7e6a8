// The general path's decoder: one piece at a time, in place.
#ifndef HEXFOLD_RECORD_LINE_HPP
#define HEXFOLD_RECORD_LINE_HPP

#include "vector_units.hpp"

#include <cstddef>
#include <cstdint>

// Decodes the pairs after the piece's first character, up to its first NUL
// or its size of at most kMaxPieceSize, into bytes, in whole steps of the unit
// and then through the pair table, and returns their number without reading
// past size or writing past the count.
std::uint8_t ConvertHexPieceToBytes(const UnitSteps &steps, const char *piece, std::size_t size,
                                    std::uint8_t *bytes);

#endif
