// hexfold FIRMWARE_FILENAME OUTPUTFILE: record lines of hexadecimal text in,
// a 4-byte little-endian length header and the decoded bytes out.
#include "conversion.hpp"
#include "descriptor_io.hpp"
#include "record_reader.hpp"
#include "target_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

enum ExitStatus : int {
    kSuccess = 0,
    kUsage = 1,
    kSourceNotOpened = 2,
    kTargetNotOpened = 3,
    kBadLine = 4,
    kSourceNotRead = 5,
    kTargetNotWritten = 6,
    kTargetTooLarge = 7,
};

// Callers and scripts match these byte for byte; each names one path.
constexpr const char *kSourceOpenMessage = "Error : can't open Zintar source file '%s' .\n";
constexpr const char *kSameFileMessage = "Error : Zintar target file '%s' is the source file .\n";
constexpr const char *kTargetOpenMessage = "Error : can't open Zintar target file '%s' .\n";
constexpr const char *kBadLineMessage = "Error : Bad target file '%s' - line doesn't start with ':' .\n";
constexpr const char *kSourceReadMessage = "Error : can't read Zintar source file '%s' .\n";
constexpr const char *kTargetWriteMessage = "Error : can't write Zintar target file '%s' .\n";
constexpr const char *kTooLargeMessage = "Error : Zintar target file '%s' is too large .\n";

constexpr off_t kHeaderSize = 4;

// The payload's length must fit the 32-bit header.
constexpr std::uint32_t kHeaderLimit = std::numeric_limits<std::uint32_t>::max();

// One read per 256 KiB of source and one write per 128 KiB of payload; fixed,
// so memory does not grow with the file.
constexpr std::size_t kSourceBlockSize = std::size_t{256} * 1024 + kBlockPadding;
constexpr std::size_t kTargetBlockSize = std::size_t{128} * 1024;
static_assert(kSourceBlockSize >= kSourceBlockMinimum && kTargetBlockSize >= kTargetBlockMinimum);

// Prints the one line that a failure gets and hands its status back. The path
// goes through %s, so a path holding '%' is printed as it stands.
int Fail(int status, const char *message, const char *path)
{
    (void)std::printf(message, path);
    return status;
}

// Once both files are open, the status may still change at the end (the
// target's bytes may fail to go out after another failure), so the line is
// chosen as the run goes and printed once, after the last close.
struct Verdict {
    int status = kSuccess;
    const char *message = nullptr;
    const char *path = nullptr;
};

// Started with 0, 1 or 2 closed, hexfold would hand that number to the source
// or the target, and the failure line meant for standard output could end up
// in the target. open takes the lowest free number, so each gap is filled in
// turn, with the root directory opened for reading: reads and writes on it
// fail, and a path such as /dev/stdin that names it opens as a directory,
// which is refused as a source and cannot be opened for writing as a target.
// A fill that fails leaves its gap to the next one, so that the gaps left
// are the highest and the source, opened first and for reading only, takes
// the lowest of them. F_GETFD fails for a descriptor that is not open, and
// for nothing else; were it to fail for one that is, the fill would go above 2.
void FillClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            (void)open("/", O_RDONLY | O_DIRECTORY);
        }
    }
}

// Little-endian whatever the host's byte order, into the 4 bytes reserved at
// the start.
bool WriteLengthHeader(int target, std::uint32_t total)
{
    const std::array<std::uint8_t, kHeaderSize> header = {
        static_cast<std::uint8_t>(total),
        static_cast<std::uint8_t>(total >> 8U),
        static_cast<std::uint8_t>(total >> 16U),
        static_cast<std::uint8_t>(total >> 24U),
    };
    return WriteAll(target, header.data(), header.size(), 0);
}

} // namespace

int main(int argc, char *argv[])
{
    FillClosedStandardDescriptors();
    // Standard output carries only the failure line; when nobody reads it any
    // more, the exit status must still say what happened, not SIGPIPE.
    (void)std::signal(SIGPIPE, SIG_IGN);
    // Likewise past a file-size limit: the write then fails with EFBIG and
    // the run ends with status 6 and its line.
    (void)std::signal(SIGXFSZ, SIG_IGN);

    if (argc != 3) {
        (void)std::puts("usage : hexfold <FIRMWARE_FILENAME> <OUTPUTFILE>");
        return kUsage;
    }
    const char *source_path = argv[1];
    const char *target_path = argv[2];

    // Open: nothing, or the source. A failed open leaves -1, which fstat
    // refuses and close(-1) leaves alone. A directory opens for reading on
    // Linux, and only the first read would fail.
    const int source = open(source_path, O_RDONLY | O_CLOEXEC);
    struct stat source_info {};
    if (fstat(source, &source_info) != 0 || S_ISDIR(source_info.st_mode)) {
        (void)close(source);
        return Fail(kSourceNotOpened, kSourceOpenMessage, source_path);
    }
    int target = -1;
    const TargetOpening opening = OpenTarget(source_info, target_path, &target);
    if (opening == TargetOpening::kIsSource) {
        (void)close(source);
        return Fail(kTargetNotOpened, kSameFileMessage, target_path);
    }
    if (opening == TargetOpening::kFailed) {
        (void)close(source);
        return Fail(kTargetNotOpened, kTargetOpenMessage, target_path);
    }

    // Open: source, target. From here every path closes both, source first.
    Verdict verdict;
    const Verdict not_written{kTargetNotWritten, kTargetWriteMessage, target_path};
    // A pipe or a terminal as target shows itself here: it cannot be positioned.
    if (lseek(target, kHeaderSize, SEEK_SET) < 0) {
        verdict = not_written;
    }

    // Static rather than on the stack, where a frame this large is probed page
    // by page: only the pages that a run fills are ever touched, which for a
    // small source is much of the run's cost.
    static std::array<char, kSourceBlockSize> source_block;
    static std::array<std::uint8_t, kTargetBlockSize> target_block;
    std::uint32_t total = 0;
    if (verdict.status == kSuccess) {
        // A unit may be forced by name, for benchmarks and bug reports; one
        // that this build or machine lacks gives way to the best it has.
        const VectorUnit unit = ChooseVectorUnit(std::getenv("HEXFOLD_VECTOR_UNIT"));
        const Conversion conversion =
            ConvertRecords(source, target, source_block, target_block, kHeaderLimit, unit);
        total = conversion.total;
        switch (conversion.outcome) {
        case ConversionOutcome::kBadLine:
            verdict = {kBadLine, kBadLineMessage, source_path};
            break;
        case ConversionOutcome::kSourceNotRead:
            verdict = {kSourceNotRead, kSourceReadMessage, source_path};
            break;
        case ConversionOutcome::kTargetNotWritten:
            verdict = not_written;
            break;
        case ConversionOutcome::kTooLarge:
            verdict = {kTargetTooLarge, kTooLargeMessage, target_path};
            break;
        // With every other outcome named above, this is kConverted; default
        // rather than a case of its own leaves no path for a value that no
        // enumerator has.
        case ConversionOutcome::kConverted:
        default:
            break;
        }
    }
    if (verdict.status == kSuccess && !WriteLengthHeader(target, total)) {
        verdict = not_written;
    }

    // Nothing was written to the source, so its close cannot lose data.
    (void)close(source);
    // Some file systems report a failed write only when the file is closed:
    // then the bytes written may not be there, whatever else went wrong.
    if (close(target) != 0 && (verdict.status == kSuccess || total != 0)) {
        verdict = not_written;
    }
    // Open: nothing.
    if (verdict.status != kSuccess) {
        return Fail(verdict.status, verdict.message, verdict.path);
    }
    return kSuccess;
}
