// Drives the general path's decoder, on every unit that runs here, with
// pieces as the block reader takes them: ':' and the input up to its first
// line feed, 255 characters at most. Checks what must hold for any piece: the
// count, every nibble against the C++ library's own reading of a digit, and
// no byte written past the count.
#include "record_line.hpp"
#include "record_reader.hpp"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {

// What one character of a pair must decode to, from std::from_chars, which
// knows nothing of hexfold.
unsigned ExpectedNibble(char ch)
{
    unsigned value = 0;
    const auto [end, error] = std::from_chars(&ch, &ch + 1, value, 16);
    return error == std::errc{} && end == &ch + 1 ? value : 0;
}

void Check(bool holds)
{
    if (!holds) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const auto *text = reinterpret_cast<const char *>(data);
    const std::size_t most = std::min(size, kMaxPieceSize - 1);
    const char *line_feed = std::find(text, text + most, '\n');
    const std::size_t taken =
        line_feed == text + most ? most : static_cast<std::size_t>(line_feed - text) + 1;
    const std::size_t piece_size = 1 + taken;
    // Exactly its size on the heap, so that a read past it is caught.
    const auto piece = std::make_unique<char[]>(piece_size);
    piece[0] = ':';
    std::copy(text, text + taken, piece.get() + 1);
    const auto length =
        static_cast<std::size_t>(std::find(piece.get(), piece.get() + piece_size, '\0') - piece.get());
    const std::size_t expected_count = (length - 1) / 2;

    for (const VectorUnitInfo &info : kVectorUnits) {
        if (!VectorUnitUsable(info.unit)) {
            continue;
        }
        std::array<std::uint8_t, kMaxPieceSize> first{};
        std::array<std::uint8_t, kMaxPieceSize> second{};
        first.fill(0x00);
        second.fill(0xFF);
        const std::uint8_t count = ConvertHexPieceToBytes(info.steps, piece.get(), piece_size, first.data());
        Check(ConvertHexPieceToBytes(info.steps, piece.get(), piece_size, second.data()) == count);
        Check(count == expected_count && count <= 127);
        for (std::size_t k = 0; k < count; ++k) {
            Check(first[k] == second[k]);
            Check(first[k] >> 4U == ExpectedNibble(piece[1 + 2 * k]));
            Check((first[k] & 0xFU) == ExpectedNibble(piece[2 + 2 * k]));
        }
        // Either filler would have been overwritten by a stray write.
        for (std::size_t k = count; k < first.size(); ++k) {
            Check(first[k] == 0x00 && second[k] == 0xFF);
        }
    }
    return 0;
}
