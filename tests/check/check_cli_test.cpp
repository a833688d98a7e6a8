// hexfold-check end to end: exit statuses, options, formats and bad input,
// each a row run on real files, FIFOs and descriptors.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

namespace fs = std::filesystem;

namespace {

#ifdef HEXFOLD_EMULATOR
// A cross build's hexfold-check runs under the build host's emulator, which
// is started in its place with the checker and its arguments.
const std::vector<std::string> kEmulator = {HEXFOLD_EMULATOR};
#else
const std::vector<std::string> kEmulator;
#endif

enum class Prep {
    kNone,
    kCloseStdin,
    kCloseStdout,
    kFifoWithoutWriter, // @/fifo
    kFifoSlowWriter,    // @/fifo, written 200 ms after the checker opens it
    kRemovedCwd,        // run in @/gone, removed
    kInSub,             // run in @/sub
};

struct CliCase {
    const char *name;
    std::vector<std::string> args; // "@" stands for the test's directory, also the working directory
    int status;
    std::vector<std::string> out = {}; // each in standard output, in this order
    std::string err = "";              // standard error, exactly
    std::map<std::string, std::string> files = {{"a.hex", ":0A1B\n"}};
    std::string stdin_text = "";
    Prep prep = Prep::kNone;
    bool out_in_report = false; // out is looked for in @/r.txt, and standard output must be empty
};

void PrintTo(const CliCase &c, std::ostream *os)
{
    *os << c.name;
}

std::string At(std::string text, const std::string &dir)
{
    for (std::size_t at = 0; (at = text.find('@', at)) != std::string::npos; at += dir.size()) {
        text.replace(at, 1, dir);
    }
    return text;
}

std::string Drain(int fd)
{
    std::string text(static_cast<std::size_t>(lseek(fd, 0, SEEK_END)), '\0');
    pread(fd, text.data(), text.size(), 0);
    close(fd);
    return text;
}

const std::string kCrLf = ":0A\r\n:1B\r\n:2C\r\n";
const std::string kError = "hexfold-check: error: ";
const std::string kSummary6 = "@/a.hex: note: hexfold exits 0 and writes 6 bytes [summary]\n";
const std::string kOdd = "a b:1\xff.hex";

std::vector<CliCase> CliCases()
{
    return {
        // Exit statuses and what counts.
        {"Clean", {"@/a.hex"}, 0, {kSummary6}},
        {"WarningsPass",
         {"@/a.hex"},
         0,
         {"@/a.hex:1:4: warning: ", "[carriage-return]"},
         "",
         {{"a.hex", kCrLf}}},
        {"WarningsFailUnderWerror",
         {"@/a.hex", "--werror"},
         1,
         {"@/a.hex:3:4: warning: "},
         "",
         {{"a.hex", kCrLf}}},
        {"ErrorsFail", {"@/a.hex"}, 1, {"@/a.hex:2:1: error: "}, "", {{"a.hex", ":0A\n\n"}}},
        {"DisabledRulesDoNotCount",
         {"--werror", "--disable=carriage-return,no-colon", "@/a.hex"},
         0,
         {"@/a.hex: note: hexfold exits 4 and writes 10 bytes [summary]\n"},
         "",
         {{"a.hex", kCrLf + "\n"}}},
        {"MaxFindingsCountsTheRest",
         {"--max-findings=1", "@/a.hex"},
         0,
         {"@/a.hex:1:4: ",
          "@/a.hex: note: 2 more findings not shown (carriage-return 2); --max-findings=0 shows "
          "them all [max-findings]\n"},
         "",
         {{"a.hex", kCrLf}}},
        {"MaxFindingsZeroShowsAll",
         {"--max-findings", "0", "@/a.hex"},
         0,
         {"@/a.hex:3:4: "},
         "",
         {{"a.hex", kCrLf}}},
        {"StandardInput",
         {"-", "--", "-x.hex"},
         0,
         {"-: note: hexfold exits 0 and writes 5 bytes", "-x.hex: note: "},
         "",
         {{"-x.hex", ""}},
         ":0G\n"},
        // Formats.
        {"Github",
         {"--format=github", "@/a.hex"},
         0,
         {"::warning file=@/a.hex,line=1,col=4,title=carriage-return::carriage return before the line feed: "
          "hexfold "
          "writes an extra byte 0x00\n",
          "::notice file=@/a.hex,title=summary::hexfold exits 0 and writes 10 bytes\n"},
         "",
         {{"a.hex", kCrLf}}},
        {"GithubEscapes",
         {"--format", "github", "a,b%c:d\r\n.hex"},
         1,
         {"::error file=a%2Cb%25c%3Ad%0D%0A.hex,line=1,col=1,title=no-colon::line begins with 'x', not a "
          "colon: "
          "hexfold stops here with status 4\n",
          "::notice file=a%2Cb%25c%3Ad%0D%0A.hex,title=summary::"},
         "",
         {{"a,b%c:d\r\n.hex", "x\n"}}},
        {"Gitlab",
         {"--format=gitlab", "@/a.hex"},
         1,
         {"[\n{\"description\":\"empty line: hexfold stops here with status 4\",\"check_name\":\"no-colon\","
          "\"fingerprint\":\"",
          "\",\"severity\":\"major\",\"location\":{\"path\":\"@/a.hex\",\"lines\":{\"begin\":1}}}\n]\n"},
         "",
         {{"a.hex", "\n"}}},
        {"GitlabEmpty", {"--format=gitlab", "@/a.hex"}, 0, {"[]\n"}},
        {"OddPathsInText",
         {kOdd, "\x1b[1m\x7f.hex"},
         0,
         {kOdd + ": note: ", "<1b>[1m<7f>.hex: note: "},
         "",
         {{kOdd, ""}, {"\x1b[1m\x7f.hex", ""}}},
        {"OddPathsInSarif",
         {"--format=sarif", kOdd, "@/a.hex"},
         0,
         {"\"uri\":\"a%20b%3A1%FF.hex\"", "\"uri\":\"a.hex\"", "\"exitCode\":0"},
         "",
         {{kOdd, ""}, {"a.hex", ""}}},
        {"OddPathsInGitlab",
         {"--format=gitlab", kOdd + "\"\\\x01\xc3\xa9\xe2\x82\xac\xc3"
                                    "A\xc3"},
         1,
         {"\"path\":\"a b:1\\ufffd.hex\\\"\\\\\\u0001\xc3\xa9\xe2\x82\xac\\ufffdA\\ufffd\""},
         "",
         {{kOdd + "\"\\\x01\xc3\xa9\xe2\x82\xac\xc3"
                  "A\xc3",
           "\n"}}},
        // Columns in code points: the two bytes of an e acute are one.
        {"SarifCodePoints",
         {"--format=sarif", "a.hex"},
         0,
         {"\"startColumn\":2,", "\"startColumn\":2,", "\"startColumn\":4,\"endLine\":1,\"endColumn\":5}"},
         "",
         {{"a.hex", ":\xc3\xa9"
                    "0G\n"}}},
        {"SarifWithoutAWorkingDirectory",
         {"--format=sarif", "@/a.hex"},
         0,
         {"\"uri\":\"file:///"},
         "",
         {{"a.hex", ""}},
         "",
         Prep::kRemovedCwd},
        {"SarifOutsideTheWorkingDirectory",
         {"--format=sarif", "@/sub.hex", "@/a.hex", "@/sub/b.hex"},
         0,
         {"\"uri\":\"file://@/sub.hex\"", "\"uri\":\"file://@/a.hex\"", "\"uri\":\"b.hex\""},
         "",
         {{"a.hex", ""}, {"sub.hex", ""}, {"sub/b.hex", ""}},
         "",
         Prep::kInSub},
        {"SarifUnreadable",
         {"--format=sarif", "@"},
         2,
         {"\"executionSuccessful\":false,\"exitCode\":2"},
         kError + "'@' is a directory\n"},
        // Options.
        {"Help", {"--help"}, 0, {"usage: hexfold-check [OPTION]... FIRMWARE_FILENAME...\n"}, "", {}},
        {"Version", {"@/a.hex", "--version"}, 0, {"hexfold-check " HEXFOLD_VERSION "\n"}},
        {"HelpToClosedStdout", {"--help"}, 2, {}, "", {}, "", Prep::kCloseStdout},
        {"NoFile", {"--werror"}, 2, {}, kError + "no firmware file named; see --help\n"},
        {"UnknownOption", {"-x", "@/a.hex"}, 2, {}, kError + "unknown option '-x'; see --help\n"},
        {"FlagWithValue", {"--werror=yes", "@/a.hex"}, 2, {}, kError + "--werror takes no value\n"},
        {"MissingValue", {"@/a.hex", "--format"}, 2, {}, kError + "--format needs a value\n"},
        {"BadFormat",
         {"--format=xml", "@/a.hex"},
         2,
         {},
         kError + "--format takes text, sarif, github or gitlab, not 'xml'\n"},
        {"BadRule",
         {"--disable=nul,crlf", "@/a.hex"},
         2,
         {},
         kError + "--disable: no rule 'crlf' (no-colon, long-line, carriage-return, not-hex, odd-digits, "
                  "nul, too-large)\n"},
        {"BadCount",
         {"--max-findings=1x", "@/a.hex"},
         2,
         {},
         kError + "--max-findings takes a number of at most 18 digits, not '1x'\n"},
        {"LongCount",
         {"--max-findings=1234567890123456789", "@/a.hex"},
         2,
         {},
         kError + "--max-findings takes a number of at most 18 digits, not '1234567890123456789'\n"},
        {"Output",
         {"--output=@/r.txt", "@/a.hex"},
         0,
         {kSummary6},
         "",
         {{"a.hex", ":0A1B\n"}},
         "",
         Prep::kNone,
         true},
        {"OutputIsChecked",
         {"--output=@/r.txt", "@/none.hex", "/dev/null", "@/a.hex", "@/r.txt"},
         2,
         {},
         kError + "the report '@/r.txt' would replace a file that it checks\n",
         {{"a.hex", ""}, {"r.txt", ""}}},
        {"OutputNotOpened",
         {"--output=@/no/r.txt", "@/a.hex"},
         2,
         {},
         kError + "can't open the report '@/no/r.txt': No such file or directory\n"},
        {"OutputFull",
         {"--output=/dev/full", "--max-findings=0", "@/a.hex"},
         2,
         {},
         kError + "can't write the report: No space left on device\n",
         {{"a.hex",
           [] {
               std::string lines;
               for (int copy = 0; copy < 3000; ++copy) {
                   lines += kCrLf;
               }
               return lines;
           }()}}},
        {"StdoutClosed",
         {"@/a.hex"},
         2,
         {},
         kError + "can't write the report: Bad file descriptor\n",
         {{"a.hex", ""}},
         "",
         Prep::kCloseStdout},
        // Files that cannot be read: the others are still checked.
        {"Missing",
         {"@/none\x01\x7f.hex", "@/a.hex"},
         2,
         {kSummary6},
         kError + "can't open '@/none<01><7f>.hex': No such file or directory\n"},
        {"NameTooLong",
         {std::string(5000, 'x')},
         2,
         {},
         kError + "can't open '" + std::string(5000, 'x') + "': File name too long\n"},
        {"Directory", {"@"}, 2, {}, kError + "'@' is a directory\n"},
        {"Unreadable",
         {"/proc/self/mem"},
         2,
         {},
         kError + "can't read '/proc/self/mem': Input/output error\n"},
        {"StdinClosed", {"-"}, 2, {}, kError + "standard input is closed\n", {}, "", Prep::kCloseStdin},
        {"FifoWithoutWriter",
         {"@/fifo"},
         2,
         {},
         kError + "nobody writes to the FIFO '@/fifo', and hexfold would wait for a writer\n",
         {},
         "",
         Prep::kFifoWithoutWriter},
        {"FifoSlowWriter",
         {"@/fifo"},
         0,
         {"@/fifo: note: hexfold exits 0 and writes 6 bytes [summary]\n"},
         "",
         {},
         "",
         Prep::kFifoSlowWriter},
        {"LongLineWithoutLineFeed",
         {"@/a.hex"},
         1,
         {"@/a.hex:1:256: error: ", "@/a.hex: note: hexfold exits 4 and writes 131 bytes"},
         "",
         {{"a.hex", ":" + std::string(3 << 20, 'A')}}},
    };
}

class Cli : public testing::TestWithParam<CliCase> {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "hexfold-check-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(Cli, StatusReportAndMessage)
{
    const CliCase &c = GetParam();
    const std::string dir = dir_.string();
    fs::create_directories(dir_ / "sub");
    for (const auto &[name, content] : c.files) {
        std::ofstream(dir_ / name, std::ios::binary) << content;
    }
    std::vector<std::string> args = kEmulator;
    args.emplace_back(kEmulator.empty() ? "hexfold-check" : HEXFOLD_CHECK_BINARY);
    for (const std::string &arg : c.args) {
        args.push_back(At(arg, dir));
    }
    std::vector<char *> argv;
    for (std::string &arg : args) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);
    const bool fifo = c.prep == Prep::kFifoWithoutWriter || c.prep == Prep::kFifoSlowWriter;
    if (fifo) {
        ASSERT_EQ(mkfifo((dir_ / "fifo").c_str(), 0600), 0);
    }
    std::thread writer;
    if (c.prep == Prep::kFifoSlowWriter) {
        // Open before the checker starts (O_RDWR needs no reader), so that it
        // finds a writer with nothing to say yet.
        const int fd = open((dir_ / "fifo").c_str(), O_RDWR | O_CLOEXEC);
        writer = std::thread([fd] {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            EXPECT_EQ(write(fd, ":0A1B\n", 6), 6);
            close(fd);
        });
    }
    const int in = memfd_create("stdin", MFD_CLOEXEC);
    const int out = memfd_create("stdout", MFD_CLOEXEC);
    const int err = memfd_create("stderr", MFD_CLOEXEC);
    ASSERT_EQ(write(in, c.stdin_text.data(), c.stdin_text.size()), static_cast<ssize_t>(c.stdin_text.size()));
    lseek(in, 0, SEEK_SET);
    const fs::path cwd = c.prep == Prep::kRemovedCwd ? dir_ / "gone"
                         : c.prep == Prep::kInSub    ? dir_ / "sub"
                                                     : dir_;
    fs::create_directories(cwd);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        if (chdir(cwd.c_str()) != 0 || (c.prep == Prep::kRemovedCwd && rmdir(cwd.c_str()) != 0)) {
            _exit(126);
        }
        if (c.prep == Prep::kCloseStdin) {
            close(0);
        }
        if (c.prep == Prep::kCloseStdout) {
            close(1);
        }
        alarm(HEXFOLD_TEST_TIMEOUT);
        execvp(kEmulator.empty() ? HEXFOLD_CHECK_BINARY : argv[0], argv.data());
        _exit(127);
    }
    int wait_status = 0;
    ASSERT_EQ(waitpid(pid, &wait_status, 0), pid);
    if (writer.joinable()) {
        writer.join();
    }
    close(in);
    std::string stdout_text = Drain(out);
    if (c.out_in_report) {
        EXPECT_EQ(stdout_text, "");
        std::ifstream report(dir_ / "r.txt", std::ios::binary);
        stdout_text.assign(std::istreambuf_iterator<char>(report), {});
    }
    EXPECT_EQ(WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status), c.status)
        << stdout_text;
    std::size_t at = 0;
    for (const std::string &part : c.out) {
        const std::size_t found = stdout_text.find(At(part, dir), at);
        ASSERT_NE(found, std::string::npos) << At(part, dir) << " not in\n" << stdout_text;
        at = found + part.size();
    }
    EXPECT_EQ(Drain(err), At(c.err, dir));
}

INSTANTIATE_TEST_SUITE_P(Cases, Cli, testing::ValuesIn(CliCases()),
                         [](const testing::TestParamInfo<CliCase> &param) { return param.param.name; });

} // namespace
