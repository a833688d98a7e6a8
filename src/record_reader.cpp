#include "record_reader.hpp"

#include "descriptor_io.hpp"

#include <algorithm>
#include <cstring>

RefillResult RefillRecordReader(RecordReader &reader)
{
    const std::size_t carried = reader.end - reader.begin;
    if (reader.begin != 0) {
        std::memmove(reader.block, reader.block + reader.begin, carried);
        reader.begin = 0;
        reader.end = carried;
    }
    const std::size_t room = reader.block_size - kBlockPadding - carried;
    const ssize_t got = ReadSome(reader.fd, reader.block + carried, room);
    if (got > 0) {
        reader.end += static_cast<std::size_t>(got);
        // Vector loads may look into the padding; give them defined bytes.
        std::memset(reader.block + reader.end, 0, kBlockPadding);
        return RefillResult::kRead;
    }
    if (got == 0) {
        reader.ended = true;
        return RefillResult::kEnded;
    }
    return RefillResult::kFailed;
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
    reader.begin += std::min(count, reader.end - reader.begin);
}
