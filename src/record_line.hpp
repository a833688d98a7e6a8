// Decoding of one record line: a ':' followed by hexadecimal digit pairs.
#ifndef HEXFOLD_RECORD_LINE_HPP
#define HEXFOLD_RECORD_LINE_HPP

#include "hex_digit.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

// One read delivers at most 255 characters and a terminating NUL.
inline constexpr std::size_t kLineBufferSize = 256;
// A line yields at most 127 bytes; the buffer is sized like the line buffer.
inline constexpr std::size_t kByteBufferSize = 256;

using LineBuffer = std::array<char, kLineBufferSize>;
using ByteBuffer = std::array<std::uint8_t, kByteBufferSize>;

// Decodes the line's pairs into the start of bytes and returns their number,
// (length - 1) / 2 where length runs up to the first NUL. Bytes past the
// returned count are left as they were.
std::uint8_t ConvertHexLineToBytes(const LineBuffer &line, ByteBuffer &bytes);

// The same for size characters in place, as a line holding exactly them
// would be decoded; size is at most kLineBufferSize, and the returned count
// is at most (size - 1) / 2.
std::uint8_t ConvertHexPieceToBytes(const char *piece, std::size_t size, std::uint8_t *bytes);

// Decodes count pairs, the characters 2k and 2k + 1 into bytes[k]. Reads
// exactly 2 * count characters and writes exactly count bytes.
void ConvertHexPairsToBytes(const char *pairs, std::size_t count, std::uint8_t *bytes);

// The same without vector units, for the tails of the above and for
// machines that have none.
void ConvertHexPairsToBytesScalar(const char *pairs, std::size_t count, std::uint8_t *bytes);

#endif
