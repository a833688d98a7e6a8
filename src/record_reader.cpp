#include "record_reader.hpp"

#include "descriptor_io.hpp"

#include <algorithm>
#include <cstring>

bool RefillRecordReader(RecordReader &reader)
{
    const std::size_t carried = reader.end - reader.begin;
    if (reader.begin != 0) {
        std::memmove(reader.block, reader.block + reader.begin, carried);
        reader.begin = 0;
        reader.end = carried;
    }
    const std::size_t room = reader.block_size - kBlockPadding - carried;
    const ssize_t got = ReadSome(reader.fd, reader.block + carried, room);
    if (got < 0) {
        return false;
    }
    reader.end += static_cast<std::size_t>(got);
    reader.ended = got == 0;
    // Vector loads may look into the padding, so it holds defined bytes.
    std::memset(reader.block + reader.end, 0, kBlockPadding);
    return true;
}

bool TakeRecordPiece(RecordReader &reader, RecordPiece &piece)
{
    const char *start = reader.block + reader.begin;
    const std::size_t window = std::min(reader.end - reader.begin, kMaxPieceSize);
    const auto *line_feed = static_cast<const char *>(std::memchr(start, '\n', window));
    std::size_t size = 0;
    if (line_feed != nullptr) {
        size = static_cast<std::size_t>(line_feed - start) + 1;
    } else if (window == kMaxPieceSize || (reader.ended && window != 0)) {
        size = window;
    } else {
        return false;
    }
    piece = {start, size};
    reader.begin += size;
    return true;
}

void ConsumeRecordChars(RecordReader &reader, std::size_t count)
{
    reader.begin += count;
}
