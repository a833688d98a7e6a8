// hexfold-check's reading held against hexfold's: each rule's row, the echo,
// and on generated sources of every shape the summary against hexfold's own
// conversion, every unit alike, and no echo line that an editor would take
// for a finding.
#include "check_report.hpp"
#include "record_lines.hpp"
#include "reference_conversion.hpp"
#include "source_check.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

// hexfold as the shell starts it: in a cross build, under the build host's emulator.
#ifdef HEXFOLD_EMULATOR
const std::string kHexfoldCommand = [] {
    std::string command;
    for (const char *word : {HEXFOLD_EMULATOR, HEXFOLD_BINARY}) {
        command.append(word).append(" ");
    }
    command.pop_back();
    return command;
}();
#else
const std::string kHexfoldCommand = HEXFOLD_BINARY;
#endif

constexpr std::uint64_t kLimit = 0xFFFFFFFF;

int ExpectedStatus(const ConversionResult &result)
{
    return result.outcome == ConversionOutcome::kConverted ? 0
           : result.outcome == ConversionOutcome::kBadLine ? 4
                                                           : 7;
}

// hexfold's target: header and payload, or the payload alone behind a zero
// header after a failure, or nothing.
std::uint64_t ExpectedTargetSize(const ConversionResult &result)
{
    return result.outcome != ConversionOutcome::kConverted && result.payload.empty()
               ? 0
               : 4 + result.payload.size();
}

int SourceFd(const std::string &source)
{
    const int fd = memfd_create("source", MFD_CLOEXEC);
    EXPECT_EQ(write(fd, source.data(), source.size()), static_cast<ssize_t>(source.size()));
    lseek(fd, 0, SEEK_SET);
    return fd;
}

// The text report of one run of the core on source, and its verdict.
struct Checked {
    std::string text;
    SourceVerdict verdict;
};

Checked CheckText(const std::string &source, std::uint64_t limit = kLimit, ReportSettings settings = {},
                  VectorUnit unit = BestVectorUnit(), std::size_t block = kLargestSourceBlock)
{
    static std::array<char, kLargestSourceBlock> source_block;
    static std::array<char, 64 * 1024> report_buffer;
    const int out = memfd_create("report", MFD_CLOEXEC);
    Report report;
    report.settings = settings;
    report.fd = out;
    report.buffer = report_buffer;
    BeginReport(report);
    BeginFile(report, "a.hex");
    const int fd = SourceFd(source);
    Checked checked;
    checked.verdict =
        CheckSource(fd, std::span(source_block.data(), block), limit, unit, false, FindingSinkOf(report));
    close(fd);
    EndFile(report, checked.verdict);
    EXPECT_TRUE(EndReport(report, 0));
    checked.text.resize(static_cast<std::size_t>(lseek(out, 0, SEEK_END)));
    pread(out, checked.text.data(), checked.text.size(), 0);
    close(out);
    return checked;
}

// The report's lines that begin with the path, less the path.
std::vector<std::string> Findings(const std::string &text)
{
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("a.hex:")) {
            lines.push_back(line.substr(6));
        }
    }
    return lines;
}

std::string Digits(std::size_t count)
{
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) {
        digits += "0123456789ABCDEFabcdef"[i % 22];
    }
    return digits;
}

struct RuleCase {
    const char *name;
    std::string source;
    std::vector<std::string> findings; // the summary last
    std::uint64_t limit = kLimit;
};

std::vector<RuleCase> RuleCases()
{
    const std::string longest = std::string(":") + Digits(254);
    return {
        {"Clean", ":0a1B\n:\n:0A1B", {" note: hexfold exits 0 and writes 8 bytes [summary]"}},
        {"EmptyLastLine",
         ":0A1B\n\n",
         {"2:1: error: empty line: hexfold stops here with status 4 [no-colon]",
          " note: hexfold exits 4 and writes 6 bytes [summary]"}},
        {"Comment",
         "# boot\n\xff:0A\n",
         {"1:1: error: line begins with '#', not a colon: hexfold stops here with status 4 [no-colon]",
          "2:1: error: line begins with <ff>, not a colon: hexfold stops here with status 4 [no-colon]",
          " note: hexfold exits 4 and writes 0 bytes [summary]"}},
        {"LongLineStops",
         longest + "0\n:0A\n",
         {"1:256: error: line longer than 254 characters: hexfold reads the rest as a new line, which does "
          "not begin with a colon, and stops here with status 4 [long-line]",
          " note: hexfold exits 4 and writes 131 bytes [summary]"}},
        // 254 digits: the line feed is the next piece, which is not a record.
        {"LongLineOfEvenDigits",
         longest + "\n:0A\n",
         {"1:256: error: line longer than 254 characters: hexfold reads the rest as a new line, which does "
          "not begin with a colon, and stops here with status 4 [long-line]",
          " note: hexfold exits 4 and writes 131 bytes [summary]"}},
        {"LongLineRecord",
         longest + ":0G\n",
         {"1:256: warning: line longer than 254 characters: hexfold reads the rest, from this colon, as a "
          "record "
          "line of its own [long-line]",
          "1:258: warning: 'G' is not a hexadecimal digit: hexfold decodes it as 0 and writes byte 0x00 "
          "[not-hex]",
          " note: hexfold exits 0 and writes 132 bytes [summary]"}},
        {"CarriageReturnLineEnd",
         ":0A1B\r\n",
         {"1:6: warning: carriage return before the line feed: hexfold writes an extra byte 0x00 "
          "[carriage-return]",
          " note: hexfold exits 0 and writes 7 bytes [summary]"}},
        {"CarriageReturnAfterOddDigits",
         ":0A1\r\n",
         {"1:4: warning: odd number of digits: hexfold pairs the last one with the carriage return and "
          "writes "
          "byte 0x10 [odd-digits]",
          "1:5: warning: carriage return before the line feed: hexfold decodes it as the low digit 0 of byte "
          "0x10 [carriage-return]",
          " note: hexfold exits 0 and writes 6 bytes [summary]"}},
        {"CarriageReturnInside",
         ":0\r1B\r\n:\rA\n",
         {"1:3: warning: carriage return: hexfold decodes it as the digit 0 and writes byte 0x00 "
          "[carriage-return]",
          "1:6: warning: carriage return before the line feed: hexfold writes an extra byte 0x00 "
          "[carriage-return]",
          "2:2: warning: carriage return: hexfold decodes it as the digit 0 and writes byte 0x0A "
          "[carriage-return]",
          " note: hexfold exits 0 and writes 8 bytes [summary]"}},
        {"NotHexShiftsPairs",
         ": 0A1\x80"
         "B\n",
         {"1:2: warning: <20> is not a hexadecimal digit: hexfold decodes it as 0 and writes byte 0x00 "
          "[not-hex]",
          "1:6: warning: <80> is not a hexadecimal digit: hexfold decodes it as 0 and writes byte 0x0B "
          "[not-hex]",
          " note: hexfold exits 0 and writes 7 bytes [summary]"}},
        {"OddDigitsWithLineFeed",
         ":A0B\n",
         {"1:4: warning: odd number of digits: hexfold pairs the last one with the line feed and writes byte "
          "0xB0 "
          "[odd-digits]",
          " note: hexfold exits 0 and writes 6 bytes [summary]"}},
        {"OddDigitsAtTheEnd",
         ":A0\n:A0B",
         {"2:4: warning: odd number of digits on the last line, which has no line feed: hexfold drops the "
          "last "
          "one [odd-digits]",
          " note: hexfold exits 0 and writes 6 bytes [summary]"}},
        {"OddDigitsBeforeNul",
         std::string(":A0B\0CD\n", 8),
         {"1:4: warning: odd number of digits before a NUL: hexfold drops the last one [odd-digits]",
          "1:5: warning: NUL: hexfold ignores it and the rest of the line [nul]",
          " note: hexfold exits 0 and writes 5 bytes [summary]"}},
        // hexfold stops at the first line that fails, whatever follows.
        {"TooLarge",
         ":0A1B\n:2C3D\n\n",
         {"2:1: error: the payload passes 4294967295 bytes with this line: hexfold stops here with status 7 "
          "[too-large]",
          "3:1: error: empty line: hexfold stops here with status 4 [no-colon]",
          " note: hexfold exits 7 and writes 6 bytes [summary]"},
         3},
        {"CarriageReturnBeforeNul",
         std::string(":AB\r\0\n", 6),
         {"1:4: warning: odd number of digits before a NUL: hexfold drops the last one [odd-digits]",
          "1:5: warning: NUL: hexfold ignores it and the rest of the line [nul]",
          " note: hexfold exits 0 and writes 5 bytes [summary]"}},
        // CR LF lines in bulk, as one by one.
        {"CarriageReturnsInBulk",
         [] {
             std::string lines;
             for (int line = 0; line < 8; ++line) {
                 lines.append(":").append(Digits(40)).append("\r\n");
             }
             return lines;
         }(),
         [] {
             std::vector<std::string> findings;
             for (int line = 1; line <= 8; ++line) {
                 findings.push_back(
                     std::to_string(line) +
                     ":42: warning: carriage return before the line feed: hexfold writes an extra "
                     "byte 0x00 [carriage-return]");
             }
             findings.emplace_back(" note: hexfold exits 0 and writes 172 bytes [summary]");
             return findings;
         }()},
        // Clean lines in bulk up to the limit, then line by line.
        {"TooLargeAfterCleanLines",
         [] {
             std::string lines;
             for (int line = 0; line < 30; ++line) {
                 lines.append(":").append(Digits(40)).append("\n");
             }
             return lines;
         }(),
         {"16:1: error: the payload passes 4294967295 bytes with this line: hexfold stops here with status 7 "
          "[too-large]",
          " note: hexfold exits 7 and writes 304 bytes [summary]"},
         300},
    };
}

void PrintTo(const RuleCase &c, std::ostream *os)
{
    *os << c.name;
}

class Rules : public testing::TestWithParam<RuleCase> {};

TEST_P(Rules, LineColumnSeverityAndMessage)
{
    const RuleCase &c = GetParam();
    const Checked checked = CheckText(c.source, c.limit);
    EXPECT_EQ(Findings(checked.text), c.findings) << checked.text;
    // The summary's figures are hexfold's own.
    const ConversionResult expected = ConvertWithLineReads(c.source, static_cast<std::uint32_t>(c.limit));
    EXPECT_EQ(checked.verdict.status, ExpectedStatus(expected));
    EXPECT_EQ(checked.verdict.target_size, ExpectedTargetSize(expected));
}

INSTANTIATE_TEST_SUITE_P(Each, Rules, testing::ValuesIn(RuleCases()),
                         [](const testing::TestParamInfo<RuleCase> &param) { return param.param.name; });

// The echo under a finding: its bytes escaped, a long line cut around the
// column, the caret under the column's first character.
TEST(Echo, EscapesCutsAndPointsAtTheColumn)
{
    const struct {
        std::string source;
        std::string echo; // the two lines under the first finding
    } cases[] = {
        {":0A\r\n", "    1 | :0A<0d>\n      |    ^\n"},
        {"\x1b[31m:(x)\n", "    1 | <1b>[31m<3a><28>x<29>\n      | ^\n"},
        {std::string(":") + Digits(100) + "G\n", std::string("    1 | ...") + Digits(100).substr(60) +
                                                     "G\n      |    " + std::string(40, ' ') + "^\n"},
        {std::string(":") + Digits(254) + "0\n", "    1 | ...0\n      |    ^\n"},
        {":\n:\n:\n:\n:\n:\n:\n:\n:\n:0G\n", "   10 | :0G\n      |   ^\n"},
    };
    for (const auto &c : cases) {
        const std::string text = CheckText(c.source).text;
        const std::size_t first = text.find('\n') + 1;
        EXPECT_EQ(text.substr(first, c.echo.size()), c.echo) << text;
    }
}

// The summary against hexfold's conversion, with every unit, block size and
// a limit that the payload may pass; every unit finds the same; and only the
// findings match the pattern of VS Code's $gcc matcher.
TEST(GeneratedSources, SummaryIsHexfoldsAndOnlyFindingsLookLikeFindings)
{
    const std::regex gcc(R"(^(.*?):(\d+):(\d*):?\s+(?:fatal\s+)?(warning|error):\s+(.*)$)");
    const ReportSettings all{.max_findings = 0};
    for (unsigned seed = 0; seed < 24; ++seed) {
        // Lines of every shape from the one generator, a bad line in every other source.
        const std::string source =
            GenerateLines({.seed = seed + 1, .size = 2000 + seed * 1500, .bad_line = seed % 2 == 1});
        const std::uint64_t limit = seed % 3 == 0 ? 300 + seed * 40 : kLimit;
        const ConversionResult expected = ConvertWithLineReads(source, static_cast<std::uint32_t>(limit));
        const std::size_t block =
            kSourceBlockMinimum + seed * 97 % (kLargestSourceBlock - kSourceBlockMinimum);
        const Checked best = CheckText(source, limit, all, BestVectorUnit(), block);
        EXPECT_EQ(best.verdict.status, ExpectedStatus(expected)) << "seed " << seed;
        EXPECT_EQ(best.verdict.target_size, ExpectedTargetSize(expected)) << "seed " << seed;
        if (limit == kLimit) {
            // And hexfold itself, on the same file.
            const std::string dir = testing::TempDir();
            std::ofstream(dir + "/generated.hex", std::ios::binary) << source;
            const int status = std::system(
                (kHexfoldCommand + " " + dir + "/generated.hex " + dir + "/generated.bin >/dev/null")
                    .c_str());
            EXPECT_EQ(WEXITSTATUS(status), best.verdict.status) << "seed " << seed;
            EXPECT_EQ(std::filesystem::file_size(dir + "/generated.bin"), best.verdict.target_size)
                << "seed " << seed;
        }
        for (const VectorUnitInfo &info : kVectorUnits) {
            if (VectorUnitUsable(info.unit)) {
                EXPECT_EQ(CheckText(source, limit, all, info.unit).text, best.text)
                    << info.name << ", seed " << seed;
            }
        }
        std::istringstream lines(best.text);
        for (std::string line; std::getline(lines, line);) {
            const bool finding = line.starts_with("a.hex:") && line.find(": note: ") == std::string::npos;
            EXPECT_EQ(std::regex_match(line, gcc), finding) << line;
        }
    }
}

} // namespace
