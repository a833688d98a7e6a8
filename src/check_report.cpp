#include "check_report.hpp"

#include "descriptor_io.hpp"
#include "hex_digit.hpp"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string_view>

#ifndef HEXFOLD_VERSION
#define HEXFOLD_VERSION "0"
#endif

namespace {

constexpr std::string_view kHexDigits = "0123456789abcdef";
constexpr std::string_view kSarifSchema =
    "https://docs.oasis-open.org/sarif/sarif/v2.1.0/errata01/os/schemas/sarif-schema-2.1.0.json";
constexpr std::string_view kInformationUri = "https://c-seed-3ff0bb9d.example/hexfold";

// Whatever the format, an item goes into the buffer whole; the buffer goes
// out once it holds more than an item's room. A failed write is kept, and
// nothing more is written.
void Put(Report &report, std::string_view text)
{
    std::memcpy(report.buffer.data() + report.used, text.data(), text.size());
    report.used += text.size();
}

void PutChar(Report &report, char ch)
{
    report.buffer[report.used++] = ch;
}

void PutDecimal(Report &report, std::uint64_t value)
{
    std::array<char, 24> digits{};
    const int count = std::snprintf(digits.data(), digits.size(), "%" PRIu64, value);
    Put(report, std::string_view(digits.data(), static_cast<std::size_t>(count)));
}

void PutHexByte(Report &report, std::uint8_t byte)
{
    PutChar(report, kHexDigits[byte >> 4U]);
    PutChar(report, kHexDigits[byte & 0xFU]);
}

void Flush(Report &report)
{
    if (report.error == 0 &&
        !WriteAll(report.fd, reinterpret_cast<const std::uint8_t *>(report.buffer.data()), report.used)) {
        report.error = errno;
    }
    report.used = 0;
}

void EndItem(Report &report)
{
    if (report.used > report.buffer.size() - kReportItemMax) {
        Flush(report);
    }
}

// <0d>, the escape of a byte that is not shown as it is.
void PutEscaped(Report &report, std::uint8_t byte)
{
    PutChar(report, '<');
    PutHexByte(report, byte);
    PutChar(report, '>');
}

// Shown as itself: printable ASCII but for the space and the characters
// that would let a line of the echo pass for a finding in an editor's eyes
// (`:` `|` `(` `)` `"`), `<` and `>`, which the escapes use, and `\` and
// `%`, which JSON and GitHub's commands would take as escapes of their own.
bool ShownAsItself(std::uint8_t byte)
{
    return byte > ' ' && byte < 0x7F && std::strchr(":|()\"<>\\%", byte) == nullptr;
}

// A path in text: as given, but for control characters, which could end the
// line or reach the terminal.
void PutTextPath(Report &report, std::string_view path)
{
    for (const char ch : path) {
        const auto byte = static_cast<std::uint8_t>(ch);
        if (byte < ' ' || byte == 0x7F) {
            PutEscaped(report, byte);
        } else {
            PutChar(report, ch);
        }
    }
}

// The length of the valid UTF-8 sequence of more than one byte at text, or
// 0: each lead byte's length and the range of the byte after it, as Unicode
// defines them.
struct Utf8Lead {
    std::uint8_t length = 0;
    std::uint8_t low = 0;
    std::uint8_t high = 0;
};
constexpr std::array<Utf8Lead, 256> kUtf8Leads = [] {
    std::array<Utf8Lead, 256> leads{};
    for (unsigned byte = 0xC2; byte <= 0xF4; ++byte) {
        const std::uint8_t length = byte < 0xE0 ? 2 : byte < 0xF0 ? 3 : 4;
        const std::uint8_t low = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
        const std::uint8_t high = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
        leads[byte] = {length, low, high};
    }
    return leads;
}();

std::size_t ValidUtf8Length(const std::uint8_t *text, std::size_t size)
{
    const Utf8Lead lead = kUtf8Leads[text[0]];
    if (lead.length == 0 || lead.length > size) {
        return 0;
    }
    bool valid = static_cast<std::uint8_t>(text[1] - lead.low) <= lead.high - lead.low;
    for (std::size_t at = 2; at < lead.length; ++at) {
        valid &= static_cast<std::uint8_t>(text[at] - 0x80U) <= 0x3FU;
    }
    return valid ? lead.length : 0;
}

// A JSON string's contents; a byte that is not part of valid UTF-8 becomes
// U+FFFD, so that the document stays valid whatever a path holds.
void PutJsonText(Report &report, std::string_view text)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::uint8_t byte = bytes[at];
        if (byte == '"' || byte == '\\') {
            PutChar(report, '\\');
            PutChar(report, static_cast<char>(byte));
        } else if (byte < ' ') {
            Put(report, "\\u00");
            PutHexByte(report, byte);
        } else if (byte < 0x80) {
            PutChar(report, static_cast<char>(byte));
        } else if (const std::size_t length = ValidUtf8Length(bytes + at, text.size() - at); length != 0) {
            Put(report, text.substr(at, length));
            at += length - 1;
        } else {
            Put(report, "\\ufffd");
        }
    }
}

void PutJsonString(Report &report, std::string_view text)
{
    PutChar(report, '"');
    PutJsonText(report, text);
    PutChar(report, '"');
}

// A URI reference: relative to the working directory where the path lies
// beneath it, a file URI where it is absolute elsewhere; every byte but
// the unreserved ones and '/' percent-encoded.
void PutUri(Report &report, std::string_view path)
{
    const std::string_view cwd = report.settings.working_directory;
    if (!cwd.empty() && path.starts_with(cwd) && path.substr(cwd.size()).starts_with('/')) {
        path.remove_prefix(cwd.size() + 1);
    } else if (path.starts_with('/')) {
        Put(report, "file://");
    }
    for (const char ch : path) {
        const auto byte = static_cast<std::uint8_t>(ch);
        if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
            std::strchr("-._~/", byte) != nullptr) {
            PutChar(report, ch);
        } else {
            PutChar(report, '%');
            PutChar(report, "0123456789ABCDEF"[byte >> 4U]);
            PutChar(report, "0123456789ABCDEF"[byte & 0xFU]);
        }
    }
}

// A GitHub workflow command's property: % CR LF : and , escaped (its
// messages need no escapes: PutMessage writes none of these but ':'); a byte
// that is not part of valid UTF-8 becomes U+FFFD, as the runner reads the
// log as UTF-8.
void PutGithubProperty(Report &report, std::string_view text)
{
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(text.data());
    for (std::size_t at = 0; at < text.size(); ++at) {
        const char ch = text[at];
        if (ch == '%' || ch == '\r' || ch == '\n' || ch == ':' || ch == ',') {
            PutChar(report, '%');
            PutChar(report, "0123456789ABCDEF"[static_cast<std::uint8_t>(ch) >> 4U]);
            PutChar(report, "0123456789ABCDEF"[static_cast<std::uint8_t>(ch) & 0xFU]);
        } else if (bytes[at] < 0x80) {
            PutChar(report, ch);
        } else if (const std::size_t length = ValidUtf8Length(bytes + at, text.size() - at); length != 0) {
            Put(report, text.substr(at, length));
            at += length - 1;
        } else {
            Put(report, "\xEF\xBF\xBD");
        }
    }
}

constexpr std::string_view SeverityName(Severity severity)
{
    constexpr std::array<std::string_view, 3> kNames = {"error", "warning", "note"};
    return kNames[static_cast<std::size_t>(severity)];
}

// The message says what hexfold does at the finding's character, in ASCII
// alone, so that it goes into every format as it is.
void PutMessage(Report &report, const Finding &finding)
{
    const auto ch = static_cast<std::uint8_t>(finding.piece[finding.at]);
    const auto put_byte = [&report, &finding] {
        Put(report, "0x");
        PutChar(report, "0123456789ABCDEF"[finding.byte >> 4U]);
        PutChar(report, "0123456789ABCDEF"[finding.byte & 0xFU]);
    };
    switch (finding.detail) {
    case Detail::kEmptyLine:
        Put(report, "empty line: hexfold stops here with status 4");
        return;
    case Detail::kNoColon:
        Put(report, "line begins with ");
        if (ShownAsItself(ch)) {
            PutChar(report, '\'');
            PutChar(report, static_cast<char>(ch));
            PutChar(report, '\'');
        } else {
            PutEscaped(report, ch);
        }
        Put(report, ", not a colon: hexfold stops here with status 4");
        return;
    case Detail::kLongLineStops:
        Put(report, "line longer than 254 characters: hexfold reads the rest as a new line, which does not "
                    "begin with a colon, and stops here with status 4");
        return;
    case Detail::kLongLineRecord:
        Put(report, "line longer than 254 characters: hexfold reads the rest, from this colon, as a record "
                    "line of its own");
        return;
    case Detail::kExtraByte:
        Put(report, "carriage return before the line feed: hexfold writes an extra byte 0x00");
        return;
    case Detail::kCarriageReturnLowDigit:
        Put(report, "carriage return before the line feed: hexfold decodes it as the low digit 0 of byte ");
        put_byte();
        return;
    case Detail::kCarriageReturn:
        Put(report, "carriage return: hexfold decodes it as the digit 0 and writes byte ");
        put_byte();
        return;
    case Detail::kNotHex:
        if (ShownAsItself(ch)) {
            PutChar(report, '\'');
            PutChar(report, static_cast<char>(ch));
            PutChar(report, '\'');
        } else {
            PutEscaped(report, ch);
        }
        Put(report, " is not a hexadecimal digit: hexfold decodes it as 0 and writes byte ");
        put_byte();
        return;
    case Detail::kPairedWithLineFeed:
        Put(report, "odd number of digits: hexfold pairs the last one with the line feed and writes byte ");
        put_byte();
        return;
    case Detail::kPairedWithCarriageReturn:
        Put(report, "odd number of digits: hexfold pairs the last one with the carriage return and writes "
                    "byte ");
        put_byte();
        return;
    case Detail::kDroppedAtEnd:
        Put(report, "odd number of digits on the last line, which has no line feed: hexfold drops the last "
                    "one");
        return;
    case Detail::kDroppedBeforeNul:
        Put(report, "odd number of digits before a NUL: hexfold drops the last one");
        return;
    case Detail::kNul:
        Put(report, "NUL: hexfold ignores it and the rest of the line");
        return;
    case Detail::kTooLarge:
    default:
        Put(report, "the payload passes 4294967295 bytes with this line: hexfold stops here with status 7");
        return;
    }
}

// The finding's line under it, as GCC shows it: a gutter, at most 72 of the
// piece's bytes around the column, each outside ShownAsItself escaped (the
// colon that begins a line apart), and a caret under the column.
void PutEcho(Report &report, const Finding &finding)
{
    constexpr std::size_t kBefore = 40;
    constexpr std::size_t kShown = 72;
    const std::size_t content = finding.piece_size - (finding.piece[finding.piece_size - 1] == '\n' ? 1 : 0);
    const std::size_t from = finding.at < kBefore + 8 ? 0 : finding.at - kBefore;
    const std::size_t to = std::min(content, from + kShown);
    const bool cut_before = from != 0 || finding.column != finding.at + 1;
    const bool cut_after = to < content || finding.piece_size == kMaxPieceSize;
    std::size_t gutter = 0;
    for (std::uint64_t rest = finding.line; rest != 0; rest /= 10) {
        ++gutter;
    }
    for (; gutter < 5; ++gutter) {
        PutChar(report, ' ');
    }
    PutDecimal(report, finding.line);
    Put(report, " | ");
    std::size_t caret = cut_before ? 3 : 0;
    Put(report, cut_before ? "..." : "");
    for (std::size_t at = from; at < to; ++at) {
        const auto byte = static_cast<std::uint8_t>(finding.piece[at]);
        const bool itself =
            ShownAsItself(byte) || (byte == ':' && at == 0 && finding.column == finding.at + 1);
        if (itself) {
            PutChar(report, static_cast<char>(byte));
        } else {
            PutEscaped(report, byte);
        }
        caret += at < finding.at ? (itself ? 1 : 4) : 0;
    }
    Put(report, cut_after ? "...\n" : "\n");
    for (std::size_t column = 0; column < std::max<std::size_t>(gutter, 5) + 1; ++column) {
        PutChar(report, ' ');
    }
    PutChar(report, '|');
    for (std::size_t column = 0; column <= caret; ++column) {
        PutChar(report, ' ');
    }
    Put(report, "^\n");
}

// The two notes' entries among SARIF's rules, after the rules proper.
constexpr std::array<RuleInfo, 2> kNoteRules = {{
    {Rule::kNoColon, "max-findings", Severity::kNote, "Findings beyond those shown.",
     "The number of findings of each rule in a file that are not shown, past --max-findings or the 5000 "
     "findings that a run shows.",
     "Run again with --max-findings=0, on fewer files, to see every finding."},
    {Rule::kNoColon, "summary", Severity::kNote, "What hexfold does with the file.",
     "The status with which hexfold ends on the file, and the size of the target that it leaves.",
     "Fix every error to make hexfold end with status 0, and every warning for the image that the lines "
     "mean."},
}};

// The items every format closes a file with, which name no line.
enum class FileNote : std::uint8_t { kMaxFindings, kSummary };

void PutNoteText(Report &report, FileNote note, const SourceVerdict &verdict, std::uint64_t hidden)
{
    if (note == FileNote::kSummary) {
        Put(report, "hexfold exits ");
        PutDecimal(report, static_cast<std::uint64_t>(verdict.status));
        Put(report, " and writes ");
        PutDecimal(report, verdict.target_size);
        Put(report, " bytes");
        return;
    }
    PutDecimal(report, hidden);
    Put(report, " more findings not shown (");
    const char *separator = "";
    for (const RuleInfo &info : kRules) {
        const std::uint64_t rule_hidden = report.found[static_cast<std::size_t>(info.rule)] -
                                          report.shown[static_cast<std::size_t>(info.rule)];
        if (rule_hidden != 0) {
            Put(report, separator);
            Put(report, info.name);
            PutChar(report, ' ');
            PutDecimal(report, rule_hidden);
            separator = ", ";
        }
    }
    Put(report, report.settings.format == ReportFormat::kSarif
                    ? "); at most 5000 findings a run, and --max-findings of each rule in each file"
                    : "); --max-findings=0 shows them all");
}

// One item of a report: a finding, or one of the notes that close a file.
struct Item {
    std::string_view name;
    std::size_t rule_index = 0; // among SARIF's rules
    Severity severity = Severity::kNote;
    const Finding *finding = nullptr;
    FileNote note = FileNote::kSummary;
    const SourceVerdict *verdict = nullptr;
    std::uint64_t hidden = 0;
};

void PutItemMessage(Report &report, const Item &item)
{
    if (item.finding != nullptr) {
        PutMessage(report, *item.finding);
    } else {
        PutNoteText(report, item.note, *item.verdict, item.hidden);
    }
}

void PutJsonSeparator(Report &report)
{
    Put(report, report.items ? ",\n" : "\n");
    report.items = true;
}

void PutSarifRule(Report &report, const RuleInfo &info)
{
    PutJsonSeparator(report);
    Put(report, "{\"id\":");
    PutJsonString(report, info.name);
    Put(report, ",\"shortDescription\":{\"text\":");
    PutJsonString(report, info.summary);
    Put(report, "},\"fullDescription\":{\"text\":");
    PutJsonString(report, info.description);
    Put(report, "},\"help\":{\"text\":");
    PutJsonString(report, info.help);
    Put(report, "},\"defaultConfiguration\":{\"level\":\"");
    Put(report, SeverityName(info.level));
    Put(report, "\"}}");
}

void PutTextItem(Report &report, const Item &item)
{
    PutTextPath(report, report.path);
    if (item.finding != nullptr) {
        PutChar(report, ':');
        PutDecimal(report, item.finding->line);
        PutChar(report, ':');
        PutDecimal(report, item.finding->column);
    }
    Put(report, ": ");
    Put(report, SeverityName(item.severity));
    Put(report, ": ");
    PutItemMessage(report, item);
    Put(report, " [");
    Put(report, item.name);
    Put(report, "]\n");
    if (item.finding != nullptr) {
        PutEcho(report, *item.finding);
    }
}

void PutSarifItem(Report &report, const Item &item)
{
    PutJsonSeparator(report);
    Put(report, "{\"ruleId\":\"");
    Put(report, item.name);
    Put(report, "\",\"ruleIndex\":");
    PutDecimal(report, item.rule_index);
    Put(report, ",\"level\":\"");
    Put(report, SeverityName(item.severity));
    Put(report, "\",\"message\":{\"text\":\"");
    PutItemMessage(report, item);
    Put(report, "\"},\"locations\":[{\"physicalLocation\":{\"artifactLocation\":{\"uri\":\"");
    PutUri(report, report.path);
    // A finding's character; a note of the file, the empty region at its start.
    const std::uint64_t line = item.finding != nullptr ? item.finding->line : 1;
    const std::uint64_t column = item.finding != nullptr ? CodePointColumn(*item.finding) : 1;
    Put(report, "\"},\"region\":{\"startLine\":");
    PutDecimal(report, line);
    Put(report, ",\"startColumn\":");
    PutDecimal(report, column);
    Put(report, ",\"endLine\":");
    PutDecimal(report, line);
    Put(report, ",\"endColumn\":");
    PutDecimal(report, column + (item.finding != nullptr ? 1 : 0));
    Put(report, "}}}]}");
    ++report.results;
}

void PutGithubItem(Report &report, const Item &item)
{
    constexpr std::array<std::string_view, 3> kCommands = {
        "::error file=", "::warning file=", "::notice file="};
    Put(report, kCommands[static_cast<std::size_t>(item.severity)]);
    PutGithubProperty(report, report.path);
    if (item.finding != nullptr) {
        Put(report, ",line=");
        PutDecimal(report, item.finding->line);
        Put(report, ",col=");
        PutDecimal(report, CodePointColumn(*item.finding));
    }
    Put(report, ",title=");
    Put(report, item.name);
    Put(report, "::");
    PutItemMessage(report, item);
    PutChar(report, '\n');
}

// 64 bits of FNV-1a over the path, the rule and the place: GitLab's fingerprint.
void PutFingerprint(Report &report, const Item &item)
{
    std::uint64_t hash = 0xCBF29CE484222325;
    const auto mix = [&hash](std::string_view bytes) {
        for (const char ch : bytes) {
            hash = (hash ^ static_cast<std::uint8_t>(ch)) * 0x100000001B3;
        }
        hash = (hash ^ 0xFFU) * 0x100000001B3;
    };
    mix(report.path);
    mix(item.name);
    const std::uint64_t line = item.finding != nullptr ? item.finding->line : 0;
    const std::uint64_t column = item.finding != nullptr ? item.finding->column : 0;
    for (unsigned shift = 0; shift < 64; shift += 8) {
        hash = (hash ^ ((line >> shift) & 0xFFU)) * 0x100000001B3;
        hash = (hash ^ ((column >> shift) & 0xFFU)) * 0x100000001B3;
    }
    for (unsigned shift = 64; shift != 0; shift -= 8) {
        PutHexByte(report, static_cast<std::uint8_t>(hash >> (shift - 8)));
    }
}

void PutGitlabItem(Report &report, const Item &item)
{
    constexpr std::array<std::string_view, 3> kSeverities = {"major", "minor", "info"};
    PutJsonSeparator(report);
    Put(report, "{\"description\":\"");
    PutItemMessage(report, item);
    Put(report, "\",\"check_name\":\"");
    Put(report, item.name);
    Put(report, "\",\"fingerprint\":\"");
    PutFingerprint(report, item);
    Put(report, "\",\"severity\":\"");
    Put(report, kSeverities[static_cast<std::size_t>(item.severity)]);
    Put(report, "\",\"location\":{\"path\":");
    PutJsonString(report, report.path);
    Put(report, ",\"lines\":{\"begin\":");
    PutDecimal(report, item.finding != nullptr ? item.finding->line : 1);
    Put(report, "}}}");
}

void PutItem(Report &report, const Item &item)
{
    switch (report.settings.format) {
    case ReportFormat::kSarif:
        PutSarifItem(report, item);
        break;
    case ReportFormat::kGithub:
        PutGithubItem(report, item);
        break;
    case ReportFormat::kGitlab:
        PutGitlabItem(report, item);
        break;
    case ReportFormat::kText:
    default:
        PutTextItem(report, item);
        break;
    }
    EndItem(report);
}

} // namespace

void BeginReport(Report &report)
{
    if (report.settings.format == ReportFormat::kGitlab) {
        Put(report, "[");
    } else if (report.settings.format == ReportFormat::kSarif) {
        Put(report, "{\"$schema\":\"");
        Put(report, kSarifSchema);
        Put(report, "\",\"version\":\"2.1.0\",\"runs\":[{\"tool\":{\"driver\":{\"name\":\"hexfold-check\","
                    "\"version\":\"" HEXFOLD_VERSION "\",\"informationUri\":\"");
        Put(report, kInformationUri);
        Put(report, "\",\"rules\":[");
        for (const RuleInfo &info : kRules) {
            PutSarifRule(report, info);
        }
        for (const RuleInfo &info : kNoteRules) {
            PutSarifRule(report, info);
        }
        Put(report, "]}},\"columnKind\":\"unicodeCodePoints\",\"results\":[");
        report.items = false;
    }
    EndItem(report);
}

void BeginFile(Report &report, const char *path)
{
    report.path = path;
    report.found = {};
    report.shown = {};
}

void TakeFinding(void *context, const Finding &finding)
{
    Report &report = *static_cast<Report *>(context);
    const auto rule = static_cast<std::size_t>(finding.rule);
    if (report.settings.disabled[rule]) {
        return;
    }
    // A finding is an error or a warning.
    report.errors = report.errors || finding.severity == Severity::kError || report.settings.werror;
    // The core hands over no more than --max-findings of a rule.
    if (report.settings.format == ReportFormat::kSarif && report.findings_shown >= kSarifFindingsMax) {
        return;
    }
    ++report.shown[rule];
    ++report.findings_shown;
    PutItem(report, {RuleInfoOf(finding.rule).name, rule, finding.severity, &finding});
}

void EndFile(Report &report, const SourceVerdict &verdict)
{
    std::uint64_t hidden = 0;
    for (std::size_t rule = 0; rule < kRuleCount; ++rule) {
        report.found[rule] = report.settings.disabled[rule] ? 0 : verdict.found[rule];
        hidden += report.found[rule] - report.shown[rule];
    }
    // The notes of a file stay within the run's results too.
    const bool room =
        report.settings.format != ReportFormat::kSarif || report.results + 2 <= kSarifResultsMax;
    Item note{kNoteRules[0].name,     kRuleCount, Severity::kNote, nullptr,
              FileNote::kMaxFindings, &verdict,   hidden};
    if (hidden != 0 && room) {
        PutItem(report, note);
    }
    // GitLab's report lists issues alone.
    if (report.settings.format != ReportFormat::kGitlab && room) {
        note.name = kNoteRules[1].name;
        note.rule_index = kRuleCount + 1;
        note.note = FileNote::kSummary;
        PutItem(report, note);
    }
}

bool EndReport(Report &report, int exit_status)
{
    if (report.settings.format == ReportFormat::kGitlab) {
        Put(report, report.items ? "\n]\n" : "]\n");
    } else if (report.settings.format == ReportFormat::kSarif) {
        Put(report, "\n],\"invocations\":[{\"executionSuccessful\":");
        Put(report, exit_status == 2 ? "false" : "true");
        Put(report, ",\"exitCode\":");
        PutDecimal(report, static_cast<std::uint64_t>(exit_status));
        Put(report, "}]}]}\n");
    }
    Flush(report);
    return report.error == 0;
}
