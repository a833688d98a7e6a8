// Reads the source in blocks and cuts it into the pieces that reading it one
// bounded line at a time would give.
#ifndef HEXFOLD_RECORD_READER_HPP
#define HEXFOLD_RECORD_READER_HPP

#include "record_line.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

// A piece ends after a line feed or at this many characters, whichever
// comes first, as with a line buffer of kLineBufferSize.
inline constexpr std::size_t kMaxPieceSize = kLineBufferSize - 1;
// The block's last kBlockPadding bytes are never filled: scans and the
// padded decoder may look that far past the data.
inline constexpr std::size_t kBlockPadding = 64;
static_assert(kBlockPadding >= kPairsOverread + 1);

inline constexpr std::size_t kNoMarks = ~std::size_t{0};

// The source's descriptor and a caller's block, which holds the characters
// of [begin, end): an incomplete piece carried over, then what the last
// read brought. Its size must exceed kMaxPieceSize + kBlockPadding.
struct RecordReader {
    int fd = -1;
    char *block = nullptr;
    std::size_t block_size = 0;
    std::size_t begin = 0;
    std::size_t end = 0;
    bool ended = false; // a read returned 0: what is left is the last piece
    // The line feeds and NULs of the 64 characters from marks_at, one bit
    // each, kept because a word serves more than one piece.
    std::size_t marks_at = kNoMarks;
    std::uint64_t marks = 0;
};

struct RecordPiece {
    const char *data = nullptr;
    std::size_t size = 0;   // its line feed included
    std::size_t length = 0; // up to its first NUL, or its size
};

enum class RefillResult { kRead, kEnded, kFailed };

// Carries the unread characters to the block's start and reads once behind
// them. Takes what a single read gives, so that pieces from a slow pipe are
// handled as soon as they are complete.
RefillResult RefillRecordReader(RecordReader &reader);

// One bit for each of the 64 characters from text, set for a line feed or a NUL.
std::uint64_t MarkLineFeedsAndNulsScalar(const char *text);
inline std::uint64_t MarkLineFeedsAndNuls(const char *text)
{
#if defined(__SSE2__)
    const __m128i line_feed = _mm_set1_epi8('\n');
    const __m128i nul = _mm_setzero_si128();
    std::uint64_t marks = 0;
    for (unsigned at = 0; at < 64; at += 16) {
        const __m128i chunk = _mm_loadu_si128(reinterpret_cast<const __m128i *>(text + at));
        const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(chunk, line_feed), _mm_cmpeq_epi8(chunk, nul));
        marks |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(hits))} << at;
    }
    return marks;
#else
    return MarkLineFeedsAndNulsScalar(text);
#endif
}

// The offset from reader.begin of the first line feed or NUL within window
// characters, or window.
inline std::size_t FindPieceStop(RecordReader &reader, std::size_t window)
{
    const std::size_t limit = reader.begin + window;
    for (std::size_t at = reader.begin; at < limit;) {
        const std::size_t word = at & ~std::size_t{63};
        if (word != reader.marks_at) {
            reader.marks = MarkLineFeedsAndNuls(reader.block + word);
            reader.marks_at = word;
        }
        const std::uint64_t ahead = reader.marks >> (at - word);
        if (ahead != 0) {
            // A mark in the padding past the data is no mark.
            return std::min(at + static_cast<std::size_t>(std::countr_zero(ahead)), limit) - reader.begin;
        }
        at = word + 64;
    }
    return window;
}

// The next complete piece, or false when the block holds none: it must be
// refilled, or the source has ended. Inline: it runs once a line.
inline bool TakeRecordPiece(RecordReader &reader, RecordPiece &piece)
{
    const char *start = reader.block + reader.begin;
    const std::size_t window = std::min(reader.end - reader.begin, kMaxPieceSize);
    std::size_t stop = FindPieceStop(reader, window);
    std::size_t length = window;
    if (stop < window && start[stop] == '\0') {
        // A NUL ends the line's length but not the piece: find its line feed.
        length = stop;
        const void *line_feed = std::memchr(start + stop, '\n', window - stop);
        stop = line_feed == nullptr ? window
                                    : static_cast<std::size_t>(static_cast<const char *>(line_feed) - start);
    }
    std::size_t size = 0;
    if (stop < window) {
        size = stop + 1;
    } else if (window == kMaxPieceSize || (reader.ended && window != 0)) {
        size = window;
    } else {
        return false;
    }
    piece = {start, size, std::min(length, size)};
    reader.begin += size;
    return true;
}

#endif
