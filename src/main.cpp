// hexfold FIRMWARE_FILENAME OUTPUTFILE: record lines of hexadecimal text in,
// a 4-byte little-endian length header and the decoded bytes out.
#include "conversion.hpp"
#include "record_reader.hpp"
#include "target_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>

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

constexpr long kHeaderSize = 4;

// The payload's length must fit the 32-bit header.
constexpr std::uint32_t kHeaderLimit = std::numeric_limits<std::uint32_t>::max();

// One read per 256 KiB of source and one write per 128 KiB of payload; fixed,
// so memory does not grow with the file.
constexpr std::size_t kSourceBlockSize = std::size_t{256} * 1024 + kBlockPadding;
constexpr std::size_t kTargetBlockSize = std::size_t{128} * 1024;

// Prints the one line that a failure gets and hands its status back, so that
// each failure is reported where it is found. The path goes through %s, so a
// path holding '%' is printed as it stands.
int Fail(int status, const char *message, const char *path)
{
    (void)std::printf(message, path);
    return status;
}

// fopen("r") succeeds on a directory on Linux, and only the first read fails.
bool IsDirectory(std::FILE *stream)
{
    struct stat info {};
    return fstat(fileno(stream), &info) == 0 && S_ISDIR(info.st_mode);
}

// Started with 0, 1 or 2 closed, hexfold would hand that number to the source
// or the target, and the failure line meant for standard output could end up
// in the target. open takes the lowest free number, so each gap is filled in
// turn; should /dev/null be missing, the run goes on as before.
void FillClosedStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1) {
            return;
        }
    }
}

// Little-endian whatever the host's byte order, into the 4 bytes reserved at
// the start.
bool WriteLengthHeader(std::FILE *target, std::uint32_t total)
{
    const std::array<std::uint8_t, kHeaderSize> header = {
        static_cast<std::uint8_t>(total),
        static_cast<std::uint8_t>(total >> 8U),
        static_cast<std::uint8_t>(total >> 16U),
        static_cast<std::uint8_t>(total >> 24U),
    };
    return std::fseek(target, 0, SEEK_SET) == 0 &&
           std::fwrite(header.data(), 1, header.size(), target) == header.size();
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

    // Open: nothing.
    std::FILE *source = std::fopen(source_path, "r");
    if (source == nullptr) {
        return Fail(kSourceNotOpened, kSourceOpenMessage, source_path);
    }
    // Open: source.
    if (IsDirectory(source)) {
        (void)std::fclose(source);
        return Fail(kSourceNotOpened, kSourceOpenMessage, source_path);
    }
    std::FILE *target = nullptr;
    const TargetOpening opening = OpenTarget(fileno(source), target_path, &target);
    if (opening == TargetOpening::kIsSource) {
        (void)std::fclose(source);
        return Fail(kTargetNotOpened, kSameFileMessage, target_path);
    }
    if (opening == TargetOpening::kFailed) {
        (void)std::fclose(source);
        return Fail(kTargetNotOpened, kTargetOpenMessage, target_path);
    }

    // Open: source, target. From here every path closes both, source first.
    // The payload goes out in whole blocks, which a stream buffer would only copy.
    (void)std::setvbuf(target, nullptr, _IONBF, 0);

    int status = kSuccess;
    // A pipe or a terminal as target shows itself here: it cannot be positioned.
    if (std::fseek(target, kHeaderSize, SEEK_SET) != 0) {
        status = Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }

    // Static rather than on the stack, where a frame this large is probed page
    // by page: only the pages that a run fills are ever touched, which for a
    // small source is much of the run's cost.
    static std::array<char, kSourceBlockSize> source_block;
    static std::array<std::uint8_t, kTargetBlockSize> target_block;
    std::uint32_t total = 0;
    if (status == kSuccess) {
        // A unit may be forced by name, for benchmarks and bug reports; one
        // that this build or machine lacks gives way to the best it has.
        const VectorUnit unit = ChooseVectorUnit(std::getenv("HEXFOLD_VECTOR_UNIT"));
        const Conversion conversion = ConvertRecords(
            fileno(source), target, ConversionBuffers{source_block, target_block}, kHeaderLimit, unit);
        total = conversion.total;
        switch (conversion.outcome) {
        case ConversionOutcome::kConverted:
            break;
        case ConversionOutcome::kBadLine:
            status = Fail(kBadLine, kBadLineMessage, source_path);
            break;
        case ConversionOutcome::kSourceNotRead:
            status = Fail(kSourceNotRead, kSourceReadMessage, source_path);
            break;
        case ConversionOutcome::kTargetNotWritten:
            status = Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
            break;
        case ConversionOutcome::kTooLarge:
            status = Fail(kTargetTooLarge, kTooLargeMessage, target_path);
            break;
        }
    }
    if (status == kSuccess && !WriteLengthHeader(target, total)) {
        status = Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }

    // Nothing was written to the source, so its close cannot lose data.
    (void)std::fclose(source);
    // Some file systems report a failed write only when the file is closed.
    if (std::fclose(target) != 0 && status == kSuccess) {
        status = Fail(kTargetNotWritten, kTargetWriteMessage, target_path);
    }
    // Open: nothing.
    return status;
}
