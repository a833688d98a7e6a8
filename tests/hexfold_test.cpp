// End-to-end: runs the built hexfold on real files, devices and pipes and
// checks its status, its standard output byte for byte, an empty standard
// error and the target that it leaves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

const std::string kSourceOpen = "Error : can't open Zintar source file '%s' .\n";
const std::string kTargetOpen = "Error : can't open Zintar target file '%s' .\n";
const std::string kSameFile = "Error : Zintar target file '%s' is the source file .\n";
const std::string kBadLine = "Error : Bad target file '%s' - line doesn't start with ':' .\n";
const std::string kSourceRead = "Error : can't read Zintar source file '%s' .\n";
const std::string kTargetWrite = "Error : can't write Zintar target file '%s' .\n";
const std::string kTooLarge = "Error : Zintar target file '%s' is too large .\n";
const std::string kUsage = "usage : hexfold <FIRMWARE_FILENAME> <OUTPUTFILE>\n";

std::string Format(const std::string &message, const std::string &path)
{
    std::string text = message;
    text.replace(text.find("%s"), 2, path);
    return text;
}

std::string Header(std::uint32_t total)
{
    std::string header;
    for (unsigned shift = 0; shift < 32; shift += 8) {
        header += static_cast<char>((total >> shift) & 0xFFU);
    }
    return header;
}

void WriteFile(const fs::path &path, const std::string &content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
    ASSERT_TRUE(out.good()) << path;
}

// nullopt when there is no such file.
std::optional<std::string> ReadFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

// ':' and 2 * count digits, the digits spelling bytes 0, 1, 2, ...
std::string RecordLine(std::size_t count, std::string *bytes = nullptr)
{
    static const char *const kDigits = "0123456789ABCDEF";
    std::string line = ":";
    for (std::size_t i = 0; i < count; ++i) {
        const auto byte = static_cast<unsigned char>(i * 37U);
        line += kDigits[byte >> 4U];
        line += kDigits[byte & 0xFU];
        if (bytes != nullptr) {
            *bytes += static_cast<char>(byte);
        }
    }
    return line;
}

// Feeds each block into a pipe its number of times, from a child process,
// and returns the pipe's read end. A count of 0 feeds until the reader goes away.
struct Feeder {
    int read_end = -1;
    pid_t pid = -1;
};

struct Segment {
    std::string block;
    std::uint64_t times;
};

Feeder StartFeeder(const std::vector<Segment> &segments)
{
    int ends[2];
    if (pipe2(ends, O_CLOEXEC) != 0) {
        ADD_FAILURE() << "pipe2 failed";
        return {};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        (void)signal(SIGPIPE, SIG_DFL);
        close(ends[0]);
        for (const Segment &segment : segments) {
            for (std::uint64_t i = 0; segment.times == 0 || i < segment.times; ++i) {
                for (std::size_t done = 0; done < segment.block.size();) {
                    const ssize_t written =
                        write(ends[1], segment.block.data() + done, segment.block.size() - done);
                    if (written <= 0) {
                        _exit(0);
                    }
                    done += static_cast<std::size_t>(written);
                }
            }
        }
        _exit(0);
    }
    close(ends[1]);
    return {ends[0], pid};
}

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

struct Streams {
    bool close_stdin = false;
    bool close_stdout = false;
    int fd3 = -1; // handed to hexfold as its descriptor 3, for /dev/fd/3
};

std::string Drain(int fd)
{
    std::string text;
    (void)lseek(fd, 0, SEEK_SET);
    char chunk[4096];
    for (ssize_t got; (got = read(fd, chunk, sizeof chunk)) > 0;) {
        text.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

Outcome RunHexfold(const std::vector<std::string> &args, const Streams &streams = {})
{
    const int out = memfd_create("stdout", MFD_CLOEXEC);
    const int err = memfd_create("stderr", MFD_CLOEXEC);
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>("hexfold"));
    for (const std::string &arg : args) {
        argv.push_back(const_cast<char *>(arg.c_str()));
    }
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out, 1);
        dup2(err, 2);
        if (streams.fd3 >= 0) {
            dup2(streams.fd3, 3);
            (void)fcntl(3, F_SETFD, 0);
        }
        if (streams.close_stdin) {
            close(0);
        }
        if (streams.close_stdout) {
            close(1);
        }
        execv(HEXFOLD_BINARY, argv.data());
        _exit(127);
    }
    int wait_status = 0;
    Outcome outcome;
    if (pid > 0 && waitpid(pid, &wait_status, 0) == pid) {
        outcome.status = WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 128 + WTERMSIG(wait_status);
    }
    outcome.out = Drain(out);
    outcome.err = Drain(err);
    return outcome;
}

class Hexfold : public testing::Test {
  protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "hexfold-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path dir_;
};

// ---------------------------------------------------------------------------
// Conversions of regular files: the source's text, the status and message, and
// the target's bytes (nullopt: no target file at all).

struct ConversionCase {
    const char *name;
    std::string source;
    int status;
    std::optional<std::string> target;
};

std::vector<ConversionCase> ConversionCases()
{
    std::string bytes127;
    const std::string line254 = RecordLine(127, &bytes127); // ':' and 254 digits
    const std::string line253 = line254.substr(0, 254);     // ':' and 253 digits
    std::string bytes126_and_nibble = bytes127;
    bytes126_and_nibble.back() = static_cast<char>(bytes127.back() & 0xF0);

    std::string many_bytes;
    std::string many_lines;
    for (int i = 0; i < 300; ++i) {
        many_lines += RecordLine(21, &many_bytes) + "\n";
    }

    return {
        {"EmptySource", "", 0, Header(0)},
        {"ColonOnlyLines", ":\n:\n:", 0, Header(0)},
        {"TwoLines", ":0A1B\n:A0B1C2\n", 0, Header(5) + "\x0A\x1B\xA0\xB1\xC2"},
        {"LastLineWithoutLineFeed", ":0A1B\n:A0B1C", 0, Header(4) + "\x0A\x1B\xA0\xB1"},
        {"CarriageReturnsCountInTheTotal", ":0A\r\n:1B\r\n", 0, Header(4) + std::string("\x0A\0\x1B\0", 4)},
        {"NulEndsTheLine",
         std::string(":0A\0"
                     "1B\n:2C\n",
                     11),
         0, Header(2) + "\x0A\x2C"},
        {"LongestLineWithLineFeed", line253 + "\n", 0, Header(127) + bytes126_and_nibble},
        {"LongestLineAtEndOfFile", line254, 0, Header(127) + bytes127},
        {"ManyLines", many_lines, 0, Header(300 * 21) + many_bytes},
        {"OverlongLineSplitsAndFails", line254 + "\n", 4, Header(0) + bytes127},
        {"EmptyLineAtEnd", ":0A1B\n\n", 4, Header(0) + "\x0A\x1B"},
        {"FirstLineLeadingSpace", " :0A1B\n", 4, ""},
        {"FirstLineComment", "# boot block\n:0A1B\n", 4, ""},
        {"FirstLineBlank", "\n:0A1B\n", 4, ""},
        {"BadLineAfterGoodOnes", ":0A1B\n:C2\nC3\n:D4\n", 4, Header(0) + "\x0A\x1B\xC2"},
    };
}

void PrintTo(const ConversionCase &c, std::ostream *os)
{
    *os << c.name;
}

class Conversion : public Hexfold, public testing::WithParamInterface<ConversionCase> {};

TEST_P(Conversion, WritesTheTargetAndReportsTheStatus)
{
    const ConversionCase &c = GetParam();
    const fs::path source = dir_ / "firmware.hex";
    const fs::path target = dir_ / "image.bin";
    WriteFile(source, c.source);
    // A stale target longer than any result: it must be truncated, not overwritten.
    WriteFile(target, std::string(1024, 'x'));

    const Outcome run = RunHexfold({source, target});

    EXPECT_EQ(run.status, c.status);
    EXPECT_EQ(run.out, c.status == 0 ? "" : Format(kBadLine, source));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(ReadFile(target), c.target);
    EXPECT_EQ(ReadFile(source), c.source);
}

INSTANTIATE_TEST_SUITE_P(Files, Conversion, testing::ValuesIn(ConversionCases()),
                         [](const testing::TestParamInfo<ConversionCase> &param) {
                             return param.param.name;
                         });

// ---------------------------------------------------------------------------
// The command line and the failure paths, each through real files, links,
// devices and pipes.

struct Scene {
    std::string source;
    std::string target;
    Streams streams;
    std::vector<std::string> args; // when set, used instead of {source, target}
    std::function<void()> after;   // clean-up once hexfold has ended
};

struct FaultCase {
    const char *name;
    std::function<Scene(const fs::path &dir)> setup;
    int status;
    std::string message; // "%s" stands for the path it names
    bool names_source;   // whether that path is the source's or the target's
    std::function<void(const fs::path &dir, const Scene &)> check;
};

void ExpectNoTarget(const fs::path &dir, const Scene &scene)
{
    EXPECT_FALSE(fs::exists(fs::symlink_status(scene.target))) << scene.target;
    (void)dir;
}

void ExpectOnlyFiles(const fs::path &dir, std::vector<std::string> names)
{
    std::vector<std::string> found;
    for (const auto &entry : fs::directory_iterator(dir)) {
        found.push_back(entry.path().filename());
    }
    std::sort(found.begin(), found.end());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(found, names);
}

Scene InDir(const fs::path &dir, const std::string &source_text)
{
    WriteFile(dir / "a.hex", source_text);
    return {dir / "a.hex", dir / "a.bin", {}, {}, {}};
}

Scene PipeSource(Feeder feeder, const std::string &target)
{
    Scene scene{"/dev/fd/3", target, {}, {}, {}};
    scene.streams.fd3 = feeder.read_end;
    scene.after = [feeder] {
        close(feeder.read_end);
        int ignored = 0;
        waitpid(feeder.pid, &ignored, 0);
    };
    return scene;
}

std::vector<FaultCase> FaultCases()
{
    const std::string small = ":0A1B\n";
    const auto target_is = [](std::optional<std::string> expected) {
        return
            [expected](const fs::path &, const Scene &scene) { EXPECT_EQ(ReadFile(scene.target), expected); };
    };
    const auto source_kept = [small](const fs::path &dir, const Scene &scene) {
        EXPECT_EQ(ReadFile(dir / "a.hex"), small);
        EXPECT_TRUE(fs::exists(fs::symlink_status(scene.target)));
    };
    const auto same_file = [small](std::function<std::string(const fs::path &)> spell) {
        return [small, spell](const fs::path &dir) {
            Scene scene = InDir(dir, small);
            scene.target = spell(dir);
            return scene;
        };
    };

    return {
        {"NoArguments",
         [](const fs::path &) {
             return Scene{"", "", {}, {}, {}};
         },
         1, kUsage, false, [](const fs::path &dir, const Scene &) { ExpectOnlyFiles(dir, {}); }},
        {"OneArgument",
         [](const fs::path &dir) {
             return Scene{"", "", {}, {dir / "a.hex"}, {}};
         },
         1, kUsage, false, [](const fs::path &dir, const Scene &) { ExpectOnlyFiles(dir, {}); }},
        {"ThreeArguments",
         [small](const fs::path &dir) {
             Scene scene = InDir(dir, small);
             scene.args = {scene.source, scene.target, dir / "c.bin"};
             return scene;
         },
         1, kUsage, false, [](const fs::path &dir, const Scene &) { ExpectOnlyFiles(dir, {"a.hex"}); }},
        {"UsageWithStdoutClosed",
         [](const fs::path &) {
             Scene scene{"", "", {}, {"only-one"}, {}};
             scene.streams.close_stdout = true;
             return scene;
         },
         1, "", false, nullptr},

        {"SourceMissing",
         [](const fs::path &dir) {
             return Scene{dir / "none.hex", dir / "a.bin", {}, {}, {}};
         },
         2, kSourceOpen, true, ExpectNoTarget},
        {"SourceIsDirectory",
         [](const fs::path &dir) {
             return Scene{dir, dir / "a.bin", {}, {}, {}};
         },
         2, kSourceOpen, true, ExpectNoTarget},
        {"PathPrintedVerbatim",
         [](const fs::path &dir) {
             return Scene{dir / "100%s %n %% fw.hex", dir / "a.bin", {}, {}, {}};
         },
         2, kSourceOpen, true, ExpectNoTarget},

        {"TargetDirectoryMissing",
         [small](const fs::path &dir) {
             Scene scene = InDir(dir, small);
             scene.target = dir / "missing" / "a.bin";
             return scene;
         },
         3, kTargetOpen, false, nullptr},
        {"TargetIsDirectory",
         [small](const fs::path &dir) {
             Scene scene = InDir(dir, small);
             scene.target = dir;
             return scene;
         },
         3, kTargetOpen, false,
         [small](const fs::path &dir, const Scene &) { EXPECT_EQ(ReadFile(dir / "a.hex"), small); }},
        {"TargetIsSourceSamePath", same_file([](const fs::path &dir) { return dir / "a.hex"; }), 3, kSameFile,
         false, source_kept},
        {"TargetIsSourceOtherSpelling",
         same_file([](const fs::path &dir) { return (dir / "." / "a.hex").string(); }), 3, kSameFile, false,
         source_kept},
        {"TargetIsSymlinkToSource", same_file([](const fs::path &dir) {
             fs::create_symlink(dir / "a.hex", dir / "link.hex");
             return dir / "link.hex";
         }),
         3, kSameFile, false, source_kept},
        {"TargetIsHardLinkToSource", same_file([](const fs::path &dir) {
             fs::create_hard_link(dir / "a.hex", dir / "hard.hex");
             return dir / "hard.hex";
         }),
         3, kSameFile, false, source_kept},
        {"DevNullAsBoth",
         [](const fs::path &) {
             return Scene{"/dev/null", "/dev/null", {}, {}, {}};
         },
         0, "", false, nullptr},

        {"BadLineWithStdoutClosed",
         [](const fs::path &dir) {
             Scene scene = InDir(dir, ":0A\nbad\n");
             scene.streams.close_stdout = true;
             return scene;
         },
         4, "", false, target_is(Header(0) + "\x0A")},
        // The source and the target then take descriptors 0 and 1: the
        // message must not land in the target.
        {"BadLineWithStdinAndStdoutClosed",
         [](const fs::path &dir) {
             Scene scene = InDir(dir, ":0A\nbad\n");
             scene.streams.close_stdin = true;
             scene.streams.close_stdout = true;
             return scene;
         },
         4, "", false, target_is(Header(0) + "\x0A")},
        {"GoodRunWithStdoutClosed",
         [](const fs::path &dir) {
             Scene scene = InDir(dir, ":0A\n");
             scene.streams.close_stdout = true;
             return scene;
         },
         0, "", false, target_is(Header(1) + "\x0A")},

        {"SourceIsPipe",
         [](const fs::path &dir) {
             return PipeSource(StartFeeder({{":0A1B\n:C2\n", 3}}), dir / "a.bin");
         },
         0, "", false, target_is(Header(9) + "\x0A\x1B\xC2\x0A\x1B\xC2\x0A\x1B\xC2")},
        // Opens, but every read fails: address 0 is never mapped.
        {"SourceUnreadable",
         [](const fs::path &dir) {
             return Scene{"/proc/self/mem", dir / "a.bin", {}, {}, {}};
         },
         5, kSourceRead, true, target_is("")},

        {"TargetIsPipe",
         [small](const fs::path &dir) {
             Scene scene = InDir(dir, small);
             scene.target = dir / "fifo";
             EXPECT_EQ(mkfifo(scene.target.c_str(), 0600), 0);
             // A reader, so that opening the pipe for writing does not wait.
             const int reader = open(scene.target.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
             scene.after = [reader] { close(reader); };
             return scene;
         },
         6, kTargetWrite, false, nullptr},
        // Small enough to sit in the stream buffer until the end.
        {"DiskFullAtTheEnd",
         [small](const fs::path &dir) {
             Scene scene = InDir(dir, small);
             scene.target = "/dev/full";
             return scene;
         },
         6, kTargetWrite, false, nullptr},
        // A source that never ends: only a failure found mid-run stops it.
        {"DiskFullMidRun",
         [](const fs::path &) {
             return PipeSource(StartFeeder({{RecordLine(100) + "\n", 0}}), "/dev/full");
         },
         6, kTargetWrite, false, nullptr},
        // The first failure is the one reported; the close that fails after it is not.
        {"BadLineThenDiskFull",
         [](const fs::path &dir) {
             Scene scene = InDir(dir, ":0A\nbad\n");
             scene.target = "/dev/full";
             return scene;
         },
         4, kBadLine, true, nullptr},
    };
}

void PrintTo(const FaultCase &c, std::ostream *os)
{
    *os << c.name;
}

class Fault : public Hexfold, public testing::WithParamInterface<FaultCase> {};

TEST_P(Fault, ReportsOneLineAndTheStatus)
{
    const FaultCase &c = GetParam();
    Scene scene = c.setup(dir_);
    const std::vector<std::string> args = !scene.args.empty() || scene.source.empty()
                                              ? scene.args
                                              : std::vector<std::string>{scene.source, scene.target};

    const Outcome run = RunHexfold(args, scene.streams);
    if (scene.after) {
        scene.after();
    }

    EXPECT_EQ(run.status, c.status);
    const std::string expected = c.message.find("%s") == std::string::npos
                                     ? c.message
                                     : Format(c.message, c.names_source ? scene.source : scene.target);
    EXPECT_EQ(run.out, expected);
    EXPECT_EQ(run.err, "");
    if (c.check) {
        c.check(dir_, scene);
    }
}

INSTANTIATE_TEST_SUITE_P(Paths, Fault, testing::ValuesIn(FaultCases()),
                         [](const testing::TestParamInfo<FaultCase> &param) { return param.param.name; });

// The largest payload that the 32-bit header can count is accepted to its last
// byte, and the line that would pass it is refused before it is written. It
// takes 8 GiB of text and a 4 GiB target, so it runs under its own label.
TEST_F(Hexfold, LargeTargetStopsAtTheHeaderLimit)
{
    // Pieces of ':' and 254 digits with no line feed: each read takes one, 127 bytes.
    const std::string piece = RecordLine(127);
    std::string block;
    for (int i = 0; i < 256; ++i) {
        block += piece;
    }
    const std::uint64_t limit = 0xFFFFFFFFULL;
    const std::uint64_t pieces = limit / 127; // 33818640, 15 bytes short
    ASSERT_EQ(limit - pieces * 127, 15U);
    const Scene scene = PipeSource(
        StartFeeder({{block, pieces / 256}, {piece, pieces % 256}, {RecordLine(15) + "\n", 1}, {":00\n", 1}}),
        dir_ / "a.bin");

    const Outcome run = RunHexfold({scene.source, scene.target}, scene.streams);
    scene.after();

    EXPECT_EQ(run.status, 7);
    EXPECT_EQ(run.out, Format(kTooLarge, scene.target));
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(fs::file_size(scene.target), 4 + limit);
    std::ifstream target(scene.target, std::ios::binary);
    std::string head(4, 'x');
    target.read(head.data(), 4);
    EXPECT_EQ(head, Header(0));
}

} // namespace
