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

// Callers and scripts match these byte for byte.
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

// One read per 256 KiB of source and one write per 128 KiB of payload.
constexpr std::size_t kSourceBlockSize = std::size_t{256} * 1024 + kBlockPadding;
constexpr std::size_t kTargetBlockSize = std::size_t{128} * 1024;

// Prints the one line that a failure gets, the path through %s so that a '%'
// in it prints as it stands, and hands its status back.
int Fail(int status, const char *message, const char *path)
{
    (void)std::printf(message, path);
    return status;
}

// Fills each closed standard descriptor with the root directory, read-only,
// so that neither file lands where the failure line or a library's message
// goes (Cases/Run.StatusMessageAndFiles/BadLineWithAllStandardDescriptorsClosed,
// Matrix/Inject.StatusMessageAndTarget/open1_EMFILE0_stray).
void FillClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1) {
            (void)open("/", O_RDONLY | O_DIRECTORY);
        }
    }
}

// Little-endian whatever the host's byte order, into the 4 bytes left at the start.
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
    // The exit status, not SIGPIPE, says what happened when nobody reads
    // standard output, and status 6 past a file-size limit.
    (void)std::signal(SIGPIPE, SIG_IGN);
    (void)std::signal(SIGXFSZ, SIG_IGN);

    if (argc != 3) {
        (void)std::puts("usage : hexfold <FIRMWARE_FILENAME> <OUTPUTFILE>");
        return kUsage;
    }
    const char *source_path = argv[1];
    const char *target_path = argv[2];

    // Open: nothing.
    const int source = open(source_path, O_RDONLY | O_CLOEXEC);
    if (source < 0) {
        return Fail(kSourceNotOpened, kSourceOpenMessage, source_path);
    }
    // Open: source. A directory opens for reading on Linux, and only its
    // first read would fail.
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

    // Open: source, target. A pipe or a terminal cannot be positioned.
    if (lseek(target, kHeaderSize, SEEK_SET) < 0) {
        (void)close(source);
        (void)close(target);
        return Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }
    // Static rather than on the stack, where a frame this large is probed
    // page by page: a small run touches only the pages it fills.
    static std::array<char, kSourceBlockSize> source_block;
    static std::array<std::uint8_t, kTargetBlockSize> target_block;
    static_assert(kSourceBlockSize >= kSourceBlockMinimum && kTargetBlockSize >= kTargetBlockMinimum);
    const VectorUnit unit = ChooseVectorUnit(std::getenv("HEXFOLD_VECTOR_UNIT"));
    const Conversion conversion =
        ConvertRecords(source, target, source_block, target_block, kHeaderLimit, unit);
    (void)close(source);

    // Open: target.
    if (conversion.outcome == ConversionOutcome::kTargetNotWritten) {
        (void)close(target);
        return Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }
    if (conversion.outcome == ConversionOutcome::kConverted && !WriteLengthHeader(target, conversion.total)) {
        (void)close(target);
        return Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }
    // Some file systems report a failed write only at the close: once bytes
    // or the header went out, that outranks any other failure
    // (Matrix/Inject.StatusMessageAndTarget/close2_EIO1 against /close2_EIO2).
    if (close(target) != 0 &&
        (conversion.total != 0 || conversion.outcome == ConversionOutcome::kConverted)) {
        return Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }
    // Open: nothing.
    if (conversion.outcome == ConversionOutcome::kBadLine) {
        return Fail(kBadLine, kBadLineMessage, source_path);
    }
    if (conversion.outcome == ConversionOutcome::kSourceNotRead) {
        return Fail(kSourceNotRead, kSourceReadMessage, source_path);
    }
    if (conversion.outcome == ConversionOutcome::kTooLarge) {
        return Fail(kTargetTooLarge, kTooLargeMessage, target_path);
    }
    return kSuccess;
}
