#include "record_reader.hpp"

#include <unistd.h>

#include <cerrno>
#include <cstring>

std::uint64_t MarkLineFeedsAndNulsScalar(const char *text)
{
    std::uint64_t marks = 0;
    for (unsigned at = 0; at < 64; ++at) {
        if (text[at] == '\n' || text[at] == '\0') {
            marks |= std::uint64_t{1} << at;
        }
    }
    return marks;
}

RefillResult RefillRecordReader(RecordReader &reader)
{
    const std::size_t carried = reader.end - reader.begin;
    if (reader.begin != 0) {
        std::memmove(reader.block, reader.block + reader.begin, carried);
        reader.begin = 0;
        reader.end = carried;
    }
    // The characters past the old end are about to change.
    reader.marks_at = kNoMarks;
    const std::size_t room = reader.block_size - kBlockPadding - carried;
    for (;;) {
        const ssize_t got = read(reader.fd, reader.block + carried, room);
        if (got > 0) {
            reader.end += static_cast<std::size_t>(got);
            return RefillResult::kRead;
        }
        if (got == 0) {
            reader.ended = true;
            return RefillResult::kEnded;
        }
        if (errno != EINTR) {
            return RefillResult::kFailed;
        }
    }
}
