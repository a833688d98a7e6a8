// hexfold-check's reading of a source: the same pieces as hexfold's, from
// the same reader, each held against what hexfold does with it; a finding
// wherever that goes wrong, and the status and target size of hexfold's own
// run on it.
#ifndef HEXFOLD_SOURCE_CHECK_HPP
#define HEXFOLD_SOURCE_CHECK_HPP

#include "check_rules.hpp"
#include "conversion.hpp"
#include "vector_units.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

// Which of a rule's messages a finding takes.
enum class Detail : std::uint8_t {
    kEmptyLine,
    kNoColon,
    kLongLineStops,          // the rest does not begin with ':'
    kLongLineRecord,         // it does, and is taken as a record
    kExtraByte,              // CR LF after an even number of digits
    kCarriageReturnLowDigit, // CR LF after an odd number: the CR is the last byte's low digit
    kCarriageReturn,         // anywhere else
    kNotHex,
    kPairedWithLineFeed,
    kPairedWithCarriageReturn,
    kDroppedAtEnd, // the last line, without a line feed
    kDroppedBeforeNul,
    kNul,
    kTooLarge,
};

struct Finding {
    Rule rule = Rule::kNoColon;
    Severity severity = Severity::kError;
    Detail detail = Detail::kNoColon;
    std::uint8_t byte = 0;    // the byte that hexfold writes there, where it writes one
    std::uint64_t line = 0;   // 1-based, counted by line feeds
    std::uint64_t column = 0; // 1-based byte of the line
    // The piece that holds the finding's character, piece[at], valid only
    // while the finding is taken; the code points of the line before it.
    const char *piece = nullptr;
    std::size_t piece_size = 0;
    std::size_t at = 0;
    std::uint64_t code_points_before = 0;
};

// The finding's column in code points, as a UTF-8 decoder counts them in
// valid text; a stray continuation byte joins the character before it.
std::uint64_t CodePointColumn(const Finding &finding);

// Takes at most max findings of each rule (0: all); the rest are counted.
struct FindingSink {
    void (*take)(void *context, const Finding &finding) = nullptr;
    void *context = nullptr;
    std::uint64_t max = 0;
};

enum class SourceRead {
    kRead,     // to its end
    kFailed,   // a read failed, with error
    kNoWriter, // a FIFO that nobody had open for writing: hexfold would wait for one
};

struct SourceVerdict {
    SourceRead read = SourceRead::kRead;
    int error = 0;
    int status = 0;                                // hexfold's exit status: 0, 4 or 7
    std::uint64_t target_size = 0;                 // the size of the target that hexfold leaves
    std::array<std::uint64_t, kRuleCount> found{}; // findings of each rule, taken or not
};

// The header of hexfold's image, whose 32 bits also bound its payload.
inline constexpr std::uint64_t kHeaderBytes = 4;

// Reads source from its current position to its end through block, at
// least kSourceBlockMinimum long, as hexfold reads it with a payload limit of
// limit bytes, and hands each finding to sink in the order of the source. A
// source opened with O_NONBLOCK is read blocking once it has a writer; fifo
// says that it is a FIFO, whose first read of nothing means that nobody
// writes to it (Cases/Cli.StatusReportAndMessage/FifoWithoutWriter).
SourceVerdict CheckSource(int source, std::span<char> block, std::uint64_t limit, VectorUnit unit, bool fifo,
                          FindingSink sink);

#endif
