// Reads the source in blocks and cuts it into the pieces that reading it one
// bounded line at a time would give.
#ifndef HEXFOLD_RECORD_READER_HPP
#define HEXFOLD_RECORD_READER_HPP

#include <cstddef>

// A piece ends after a line feed or at this many characters, whichever
// comes first, as one bounded line read of 255 characters would end it.
inline constexpr std::size_t kMaxPieceSize = 255;
// The block's last kBlockPadding bytes are never filled with data, since the
// units' vector loads may reach that far past it.
inline constexpr std::size_t kBlockPadding = 64;

// The source's descriptor and a caller's block of more than kMaxPieceSize +
// kBlockPadding characters, holding [begin, end): an incomplete piece carried
// over, then what the last read brought.
struct RecordReader {
    int fd = -1;
    char *block = nullptr;
    std::size_t block_size = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool ended = false; // a read returned 0: what is left is the last piece
};

struct RecordPiece {
    const char *data = nullptr;
    std::size_t size = 0; // its line feed included; at most kMaxPieceSize
};

// Carries the unread characters to the block's start and reads once behind
// them, taking what a single read gives so that a slow pipe's pieces are
// handled as soon as they are complete; false when the read fails.
bool RefillRecordReader(RecordReader &reader);

// The next complete piece, or false when the block holds none: it must be
// refilled, or the source has ended.
bool TakeRecordPiece(RecordReader &reader, RecordPiece &piece);

// The characters not yet taken, which begin the next piece.
inline const char *UnreadRecordChars(const RecordReader &reader)
{
    return reader.block + reader.begin;
}
inline std::size_t UnreadRecordCount(const RecordReader &reader)
{
    return reader.end - reader.begin;
}

// Takes count characters, at most UnreadRecordCount, of whole pieces handled in place.
void ConsumeRecordChars(RecordReader &reader, std::size_t count);

#endif
