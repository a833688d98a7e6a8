#include "source_check.hpp"

#include "hex_digit.hpp"
#include "record_reader.hpp"

#include <fcntl.h>

#include <bit>
#include <cerrno>
#include <cstring>

namespace {

constexpr std::size_t kMarkChars = 64;
static_assert(kBlockPadding >= kMarkChars, "a piece's last mark step reads into the padding");
// The most that one piece adds to the payload.
constexpr std::uint64_t kPieceBytesMax = (kMaxPieceSize - 1) / 2;

struct CheckState {
    RecordReader reader;
    std::uint64_t (*mark_non_digits)(const char *text) = nullptr;
    FindingSink sink;
    std::array<std::uint64_t, kRuleCount> found{};
    std::uint64_t limit = 0;
    std::uint64_t total = 0; // hexfold's payload so far
    int status = 0;          // hexfold's status: 0 until its run stops
    std::uint64_t line = 1;
    std::uint64_t column = 0; // bytes of the line before the next piece
    std::uint64_t code_points = 0;
    bool skip_line = false; // the rest of a line at which hexfold stops tells nothing more
};

std::uint64_t CountCodePoints(const char *text, std::size_t size)
{
    std::uint64_t points = 0;
    for (std::size_t at = 0; at < size; ++at) {
        points += static_cast<std::uint64_t>((static_cast<std::uint8_t>(text[at]) & 0xC0U) != 0x80U);
    }
    return points;
}

void Report(CheckState &state, Rule rule, Severity severity, Detail detail, const RecordPiece &piece,
            std::size_t at, std::uint8_t byte = 0)
{
    const std::uint64_t found = ++state.found[static_cast<std::size_t>(rule)];
    if (state.sink.max != 0 && found > state.sink.max) {
        return;
    }
    Finding finding;
    finding.rule = rule;
    finding.severity = severity;
    finding.detail = detail;
    finding.byte = byte;
    finding.line = state.line;
    finding.column = state.column + at + 1;
    finding.piece = piece.data;
    finding.piece_size = piece.size;
    finding.at = at;
    finding.code_points_before = state.code_points;
    state.sink.take(state.sink.context, finding);
}

std::uint8_t PairByte(const char *piece, std::size_t at)
{
    const std::size_t first = 1 + (at - 1) / 2 * 2;
    return static_cast<std::uint8_t>(ConvertHexDigitToNum(piece[first]) << 4U |
                                     ConvertHexDigitToNum(piece[first + 1]));
}

// Takes the simple lines at a line's start, one after another: a colon, an
// even number of hexadecimal digits and a line feed within a piece, where
// hexfold's reading and the line's meaning agree, or the same with a
// carriage return before the line feed, the commonest finding. Their only
// non-digits are their colon, a CR and their line feed, so each line is its
// two or three lowest marks. As hexfold's walk, it stops a whole piece before
// the block's end, and once more than room bytes are taken.
void TakeSimpleLines(CheckState &state, std::uint64_t room)
{
    constexpr std::size_t kLastStop = kMaxPieceSize - 1;
    const char *text = UnreadRecordChars(state.reader);
    const std::size_t available = UnreadRecordCount(state.reader);
    if (available <= kMaxPieceSize) {
        return;
    }
    const std::size_t last_start = available - kMaxPieceSize - 1;
    const auto mark = state.mark_non_digits;
    std::size_t word = 0;
    std::uint64_t marks = mark(text);
    const auto next_mark = [&](std::size_t bound) {
        while (marks == 0 && word + kMarkChars <= bound) {
            word += kMarkChars;
            marks = mark(text + word);
        }
        // Past the bound when no mark is left.
        const std::size_t at = word + static_cast<std::size_t>(std::countr_zero(marks));
        marks &= marks - 1;
        return at;
    };
    std::uint64_t bytes = 0;
    std::size_t start = 0;
    while (start <= last_start && bytes <= room && text[start] == ':') {
        (void)next_mark(start); // the colon, the lowest mark left
        std::size_t stop = next_mark(start + kLastStop);
        // An odd number of digits, or a character other than CR LF or LF:
        // not simple.
        const bool carriage_return = text[stop] == '\r' && text[stop + 1] == '\n';
        if ((stop - start) % 2 == 0 || (text[stop] != '\n' && !carriage_return)) {
            break;
        }
        stop = carriage_return ? next_mark(start + kLastStop) : stop;
        if (stop - start > kLastStop) {
            break;
        }
        const RecordPiece piece{text + start, stop - start + 1};
        if (carriage_return) {
            Report(state, Rule::kCarriageReturn, Severity::kWarning, Detail::kExtraByte, piece,
                   stop - start - 1);
        }
        bytes += (stop - start) / 2;
        ++state.line;
        start = stop + 1;
    }
    ConsumeRecordChars(state.reader, start);
    state.total += state.status == 0 ? bytes : 0;
}

// The line goes on past the piece, or a new one begins.
void PassPiece(CheckState &state, const RecordPiece &piece, bool ends_line)
{
    if (ends_line) {
        ++state.line;
        state.column = 0;
        state.code_points = 0;
    } else {
        state.column += piece.size;
        state.code_points += CountCodePoints(piece.data, piece.size);
    }
}

// One piece as hexfold reads it, with every finding in it in column order.
void CheckPiece(CheckState &state, const RecordPiece &piece)
{
    const char *text = piece.data;
    const bool ends_line = text[piece.size - 1] == '\n';
    const bool continues_line = state.column != 0;
    if (text[0] != ':') {
        if (continues_line) {
            Report(state, Rule::kLongLine, Severity::kError, Detail::kLongLineStops, piece, 0);
        } else {
            Report(state, Rule::kNoColon, Severity::kError,
                   text[0] == '\n' ? Detail::kEmptyLine : Detail::kNoColon, piece, 0);
        }
        state.status = state.status == 0 ? 4 : state.status;
        state.skip_line = !ends_line;
        PassPiece(state, piece, ends_line);
        return;
    }
    if (continues_line) {
        Report(state, Rule::kLongLine, Severity::kWarning, Detail::kLongLineRecord, piece, 0);
    }
    const void *nul = std::memchr(text, '\0', piece.size);
    const std::size_t length =
        nul == nullptr ? piece.size : static_cast<std::size_t>(static_cast<const char *>(nul) - text);
    const std::size_t count = (length - 1) / 2;
    if (state.status == 0 && count > state.limit - state.total) {
        state.status = 7;
        Report(state, Rule::kTooLarge, Severity::kError, Detail::kTooLarge, piece, 0);
    } else if (state.status == 0) {
        state.total += count;
    }

    // The digits end before a NUL, or with the line: before its line feed
    // and a carriage return just before that.
    const bool last_piece = nul == nullptr && (ends_line || piece.size < kMaxPieceSize);
    std::size_t end = nul == nullptr && ends_line ? piece.size - 1 : length;
    const bool before_cr = last_piece && end >= 2 && text[end - 1] == '\r';
    end -= before_cr ? 1 : 0;
    bool odd = (nul != nullptr || last_piece) && (end - 1) % 2 == 1;
    const auto report_odd = [&] {
        const Detail detail = nul != nullptr ? Detail::kDroppedBeforeNul
                              : before_cr    ? Detail::kPairedWithCarriageReturn
                              : ends_line    ? Detail::kPairedWithLineFeed
                                             : Detail::kDroppedAtEnd;
        Report(state, Rule::kOddDigits, Severity::kWarning, detail, piece, end - 1,
               end - 1 < 2 * count + 1 ? PairByte(text, end - 1) : 0);
        odd = false;
    };

    // Every character that hexfold decodes and that is not a digit; the
    // line feed is the partner of the digit or CR before it.
    const std::size_t decoded = 2 * count + 1;
    for (std::size_t window = 0; window < decoded; window += kMarkChars) {
        std::uint64_t marks = state.mark_non_digits(text + window) & ~std::uint64_t{window == 0 ? 1U : 0U};
        for (; marks != 0; marks &= marks - 1) {
            const std::size_t at = window + static_cast<std::size_t>(std::countr_zero(marks));
            if (at >= decoded) {
                break;
            }
            if (odd && at > end - 1) {
                report_odd();
            }
            if (text[at] == '\r') {
                const Detail detail = at % 2 == 1 && text[at + 1] == '\n' ? Detail::kExtraByte
                                      : before_cr && at == end            ? Detail::kCarriageReturnLowDigit
                                                                          : Detail::kCarriageReturn;
                Report(state, Rule::kCarriageReturn, Severity::kWarning, detail, piece, at,
                       PairByte(text, at));
            } else if (text[at] != '\n') {
                Report(state, Rule::kNotHex, Severity::kWarning, Detail::kNotHex, piece, at,
                       PairByte(text, at));
            }
        }
    }
    if (odd) {
        report_odd();
    }
    if (nul != nullptr) {
        Report(state, Rule::kNul, Severity::kWarning, Detail::kNul, piece, length);
    }
    PassPiece(state, piece, ends_line);
}

// Past the rest of a line at which hexfold stops; false when the block
// holds no line feed and must be refilled.
bool SkipRestOfLine(CheckState &state)
{
    const char *text = UnreadRecordChars(state.reader);
    const std::size_t count = UnreadRecordCount(state.reader);
    const void *line_feed = std::memchr(text, '\n', count);
    if (line_feed == nullptr) {
        ConsumeRecordChars(state.reader, count);
        return false;
    }
    ConsumeRecordChars(state.reader,
                       static_cast<std::size_t>(static_cast<const char *>(line_feed) - text) + 1);
    state.skip_line = false;
    ++state.line;
    state.column = 0;
    state.code_points = 0;
    return true;
}

// Simple lines in bulk at a line's start while hexfold's run is a whole
// piece short of the limit, or over; then one piece.
bool CheckSomePieces(CheckState &state)
{
    if (state.skip_line) {
        return SkipRestOfLine(state);
    }
    const std::uint64_t to_limit = state.limit - state.total;
    if (state.column == 0 && (state.status != 0 || to_limit > kPieceBytesMax)) {
        TakeSimpleLines(state, state.status != 0 ? UINT64_MAX : to_limit - kPieceBytesMax);
    }
    RecordPiece piece;
    if (!TakeRecordPiece(state.reader, piece)) {
        return false;
    }
    CheckPiece(state, piece);
    return true;
}

} // namespace

std::uint64_t CodePointColumn(const Finding &finding)
{
    return std::max<std::uint64_t>(1, finding.code_points_before +
                                          CountCodePoints(finding.piece, finding.at + 1));
}

SourceVerdict CheckSource(int source, std::span<char> block, std::uint64_t limit, VectorUnit unit, bool fifo,
                          FindingSink sink)
{
    CheckState state;
    state.reader = {source, block.data(), block.size()};
    state.mark_non_digits = kVectorUnits[static_cast<std::size_t>(unit)].steps.mark_non_digits;
    state.sink = sink;
    state.limit = limit;
    SourceVerdict verdict;
    bool first_read = true;
    for (;;) {
        while (CheckSomePieces(state)) {
        }
        if (state.reader.ended) {
            break;
        }
        const bool read = RefillRecordReader(state.reader);
        if (!read && errno == EAGAIN) {
            // Opened without waiting for a writer, which is there: wait for its lines.
            (void)fcntl(source, F_SETFL, fcntl(source, F_GETFL) & ~O_NONBLOCK);
            first_read = false;
            continue;
        }
        if (!read) {
            verdict.read = SourceRead::kFailed;
            verdict.error = errno;
            return verdict;
        }
        if (state.reader.ended && first_read && fifo) {
            verdict.read = SourceRead::kNoWriter;
            return verdict;
        }
        first_read = false;
    }
    verdict.status = state.status;
    verdict.found = state.found;
    verdict.target_size = state.total == 0 && state.status != 0 ? 0 : kHeaderBytes + state.total;
    return verdict;
}
