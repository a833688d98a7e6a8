// Drives ConvertHexLineToBytes with lines shaped as the driver's bounded read
// leaves them, and checks what must hold for any line: the count, every
// nibble against the C++ library's own reading of a digit, and a buffer
// untouched past the count.
#include "record_line.hpp"

#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <cstring>

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
    // As a bounded read of at most 255 characters leaves it: the colon the
    // driver insists on, then the input up to and including its first line
    // feed, then a NUL. Whatever follows stands in for a longer earlier
    // line's leftovers, which the decoder must ignore.
    LineBuffer line{};
    line[0] = ':';
    std::size_t length = 1;
    std::size_t used = 0;
    while (used < size && length < kLineBufferSize - 1) {
        line[length++] = static_cast<char>(data[used++]);
        if (line[length - 1] == '\n') {
            break;
        }
    }
    line[length] = '\0';
    for (std::size_t i = length + 1; i < line.size() && used < size; ++i) {
        line[i] = static_cast<char>(data[used++]);
    }

    const std::size_t expected_count = (std::strlen(line.data()) - 1) / 2;

    ByteBuffer first{};
    ByteBuffer second{};
    first.fill(0x00);
    second.fill(0xFF);
    const std::uint8_t count = ConvertHexLineToBytes(line, first);
    Check(ConvertHexLineToBytes(line, second) == count);
    Check(count == expected_count && count <= 127);

    for (std::size_t k = 0; k < count; ++k) {
        Check(first[k] == second[k]);
        Check(first[k] >> 4U == ExpectedNibble(line[1 + 2 * k]));
        Check((first[k] & 0xFU) == ExpectedNibble(line[2 + 2 * k]));
    }
    // Either filler would have been overwritten by a stray write.
    for (std::size_t k = count; k < kByteBufferSize; ++k) {
        Check(first[k] == 0x00 && second[k] == 0xFF);
    }
    return 0;
}
