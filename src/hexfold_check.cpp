// hexfold-check [OPTION]... FIRMWARE_FILENAME...: every place in each source
// where hexfold's reading makes a wrong image or stops, at file:line:column,
// and what hexfold's own run on it would end with.
#include "check_report.hpp"
#include "conversion.hpp"
#include "descriptor_io.hpp"
#include "record_reader.hpp"
#include "source_check.hpp"
#include "vector_units.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

#ifndef HEXFOLD_VERSION
#define HEXFOLD_VERSION "0"
#endif

namespace {

enum ExitStatus : int {
    kNoErrors = 0,
    kErrors = 1,  // an error-level finding, or a warning under --werror
    kTrouble = 2, // a usage error, or a file that cannot be read
};

constexpr std::string_view kHelp =
    "usage: hexfold-check [OPTION]... FIRMWARE_FILENAME...\n"
    "Reports every place in each firmware file (- for standard input) where hexfold's\n"
    "reading makes a wrong image or stops, as PATH:LINE:COLUMN: SEVERITY: MESSAGE [RULE],\n"
    "and ends each file with the status that hexfold exits with and the bytes it writes.\n"
    "\n"
    "  --format=FORMAT       text (the default), sarif, github or gitlab\n"
    "  --output=FILE         write the report to FILE instead of standard output\n"
    "  --werror              warnings count as errors for the exit status\n"
    "  --disable=RULE[,RULE...]\n"
    "                        no-colon, long-line, carriage-return, not-hex, odd-digits,\n"
    "                        nul or too-large\n"
    "  --max-findings=N      findings shown of each rule in each file (default 10; 0: all)\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 without errors, 1 with errors (or warnings under --werror),\n"
    "2 after a usage error or a file that cannot be read.\n";

// One block for every file: the reader's, of hexfold's size.
constexpr std::size_t kSourceBlockSize = std::size_t{256} * 1024 + kBlockPadding;
constexpr std::size_t kReportBufferSize = std::size_t{256} * 1024;
static_assert(kReportBufferSize >= 2 * kReportItemMax);

constexpr std::uint64_t kHeaderLimit = std::numeric_limits<std::uint32_t>::max();

// "hexfold-check: error: " and the parts, the path's control characters
// escaped, and the error's text when there is one; in one write as long as
// the line fits the buffer.
void Complain(std::string_view first, std::string_view path = "", std::string_view last = "", int error = 0)
{
    std::array<char, 512> line{};
    std::size_t used = 0;
    const auto put = [&line, &used](std::string_view text, bool escape) {
        for (const char ch : text) {
            if (used + 4 > line.size()) {
                (void)WriteAll(2, reinterpret_cast<const std::uint8_t *>(line.data()), used);
                used = 0;
            }
            const auto byte = static_cast<std::uint8_t>(ch);
            if (escape && (byte < ' ' || byte == 0x7F)) {
                line[used++] = '<';
                line[used++] = "0123456789abcdef"[byte >> 4U];
                line[used++] = "0123456789abcdef"[byte & 0xFU];
                line[used++] = '>';
            } else {
                line[used++] = ch;
            }
        }
    };
    put("hexfold-check: error: ", false);
    put(first, false);
    put(path, true);
    put(last, false);
    put(error != 0 ? ": " : "", false);
    put(error != 0 ? std::strerror(error) : "", false);
    put("\n", false);
    (void)WriteAll(2, reinterpret_cast<const std::uint8_t *>(line.data()), used);
}

// As hexfold does: a closed standard descriptor would be taken by a file
// that this program opens, so each gap is filled with the root directory,
// which can be neither read nor written.
bool FillClosedStandardDescriptors()
{
    const bool stdin_closed = fcntl(0, F_GETFD) == -1;
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            (void)open("/", O_RDONLY | O_DIRECTORY);
        }
    }
    return stdin_closed;
}

struct Options {
    ReportSettings settings;
    const char *output = nullptr;
    bool help = false;
    bool version = false;
    int files = 0; // gathered at the start of argv
};

bool ParseFormat(std::string_view value, ReportFormat &format)
{
    constexpr std::array<std::pair<std::string_view, ReportFormat>, 4> kFormats = {{
        {"text", ReportFormat::kText},
        {"sarif", ReportFormat::kSarif},
        {"github", ReportFormat::kGithub},
        {"gitlab", ReportFormat::kGitlab},
    }};
    for (const auto &[name, each] : kFormats) {
        if (value == name) {
            format = each;
            return true;
        }
    }
    Complain("--format takes text, sarif, github or gitlab, not '", value, "'");
    return false;
}

bool ParseRules(std::string_view value, std::array<bool, kRuleCount> &disabled)
{
    for (;;) {
        const std::string_view name = value.substr(0, value.find(','));
        bool known = false;
        for (const RuleInfo &info : kRules) {
            if (name == info.name) {
                disabled[static_cast<std::size_t>(info.rule)] = true;
                known = true;
            }
        }
        if (!known) {
            Complain("--disable: no rule '", name,
                     "' (no-colon, long-line, carriage-return, not-hex, odd-digits, nul, too-large)");
            return false;
        }
        if (name.size() == value.size()) {
            return true;
        }
        value.remove_prefix(name.size() + 1);
    }
}

bool ParseCount(std::string_view value, std::uint64_t &count)
{
    count = 0;
    bool valid = value.size() - 1 < 18; // 1 to 18 digits
    for (const char ch : value) {
        valid &= static_cast<unsigned char>(ch - '0') <= 9;
        count = count * 10 + static_cast<std::uint64_t>(static_cast<unsigned char>(ch - '0'));
    }
    if (!valid) {
        Complain("--max-findings takes a number of at most 18 digits, not '", value, "'");
    }
    return valid;
}

// Options anywhere among the files, GNU style, with their values after '='
// or as the next argument; "--" ends them.
bool ParseOptions(int argc, char *argv[], Options &options)
{
    bool options_done = false;
    for (int index = 1; index < argc; ++index) {
        const std::string_view arg = argv[index];
        if (options_done || arg == "-" || !arg.starts_with('-')) {
            argv[options.files++] = argv[index];
            continue;
        }
        if (arg == "--") {
            options_done = true;
            continue;
        }
        const std::size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const bool flag = name == "--werror" || name == "--help" || name == "--version";
        const bool takes_value =
            name == "--format" || name == "--output" || name == "--disable" || name == "--max-findings";
        if (!flag && !takes_value) {
            Complain("unknown option '", arg, "'; see --help");
            return false;
        }
        if (flag && equals != std::string_view::npos) {
            Complain("", name, " takes no value");
            return false;
        }
        std::string_view value;
        if (takes_value && equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (takes_value && index + 1 < argc) {
            value = argv[++index];
        } else if (takes_value) {
            Complain("", name, " needs a value");
            return false;
        }
        if (name == "--werror") {
            options.settings.werror = true;
        } else if (name == "--help") {
            options.help = true;
        } else if (name == "--version") {
            options.version = true;
        } else if (name == "--output") {
            options.output = value.data();
        } else if (name == "--format"    ? !ParseFormat(value, options.settings.format)
                   : name == "--disable" ? !ParseRules(value, options.settings.disabled)
                                         : !ParseCount(value, options.settings.max_findings)) {
            return false;
        }
    }
    return true;
}

// The report must not replace a file that it reports on.
bool OutputIsAFile(const char *output, char *files[], int count)
{
    struct stat out {};
    if (stat(output, &out) != 0) {
        return false;
    }
    for (int index = 0; index < count; ++index) {
        struct stat in {};
        if (stat(files[index], &in) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino) {
            return true;
        }
    }
    return false;
}

// Checks one file into the report; false when it cannot be read.
bool CheckFile(const char *path, bool stdin_closed, Report &report, VectorUnit unit)
{
    static std::array<char, kSourceBlockSize> block;
    const bool is_stdin = std::string_view(path) == "-";
    if (is_stdin && stdin_closed) {
        Complain("standard input is closed");
        return false;
    }
    // Without waiting for a writer when the path names a FIFO.
    const int source = is_stdin ? 0 : open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (source < 0) {
        Complain("can't open '", path, "'", errno);
        return false;
    }
    struct stat info {};
    (void)fstat(source, &info);
    bool readable = !S_ISDIR(info.st_mode);
    if (!readable) {
        Complain("'", path, "' is a directory");
    } else {
        BeginFile(report, path);
        const SourceVerdict verdict = CheckSource(source, std::span(block), kHeaderLimit, unit,
                                                  !is_stdin && S_ISFIFO(info.st_mode), FindingSinkOf(report));
        readable = verdict.read == SourceRead::kRead;
        if (verdict.read == SourceRead::kFailed) {
            Complain("can't read '", path, "'", verdict.error);
        } else if (verdict.read == SourceRead::kNoWriter) {
            Complain("nobody writes to the FIFO '", path, "', and hexfold would wait for a writer");
        } else {
            EndFile(report, verdict);
        }
    }
    if (!is_stdin) {
        (void)close(source);
    }
    return readable;
}

} // namespace

int main(int argc, char *argv[])
{
    const bool stdin_closed = FillClosedStandardDescriptors();
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        return kTrouble;
    }
    if (options.help || options.version) {
        const std::string_view text = options.help ? kHelp : "hexfold-check " HEXFOLD_VERSION "\n";
        return WriteAll(1, reinterpret_cast<const std::uint8_t *>(text.data()), text.size()) ? kNoErrors
                                                                                             : kTrouble;
    }
    if (options.files == 0) {
        Complain("no firmware file named; see --help");
        return kTrouble;
    }
    static std::array<char, 4096> working_directory;
    options.settings.working_directory =
        getcwd(working_directory.data(), working_directory.size()) != nullptr ? working_directory.data() : "";

    int report_fd = 1;
    if (options.output != nullptr) {
        if (OutputIsAFile(options.output, argv, options.files)) {
            Complain("the report '", options.output, "' would replace a file that it checks");
            return kTrouble;
        }
        report_fd = open(options.output, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (report_fd < 0) {
            Complain("can't open the report '", options.output, "'", errno);
            return kTrouble;
        }
    }
    static std::array<char, kReportBufferSize> report_buffer;
    Report report;
    report.settings = options.settings;
    report.fd = report_fd;
    report.buffer = report_buffer;
    // A unit may be forced by name, as for hexfold.
    const VectorUnit unit = ChooseVectorUnit(std::getenv("HEXFOLD_VECTOR_UNIT"));

    BeginReport(report);
    bool trouble = false;
    for (int index = 0; index < options.files; ++index) {
        trouble = !CheckFile(argv[index], stdin_closed, report, unit) || trouble;
    }
    const int status = trouble ? kTrouble : report.errors ? kErrors : kNoErrors;
    if (!EndReport(report, status)) {
        Complain("can't write the report", "", "", report.error);
        return kTrouble;
    }
    return status;
}
