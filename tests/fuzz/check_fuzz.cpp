// Differential fuzzing of hexfold-check's reading: the status and target size
// of its summary against bounded line reads from the C library, every unit
// finding the same, and each finding's column inside its piece. The first
// four bytes choose the source block's size and a low payload limit, as for
// conversion_fuzz; the rest is the source.
#include "reference_conversion.hpp"
#include "source_check.hpp"

#include <cstdint>
#include <cstdlib>
#include <string_view>
#include <vector>

namespace {

struct Seen {
    std::vector<Finding> findings;
};

void Take(void *context, const Finding &finding)
{
    if (finding.at >= finding.piece_size || finding.column < finding.at + 1 || finding.line == 0 ||
        CodePointColumn(finding) > finding.column) {
        std::abort();
    }
    static_cast<Seen *>(context)->findings.push_back(finding);
}

bool SameFindings(const Seen &one, const Seen &other)
{
    if (one.findings.size() != other.findings.size()) {
        return false;
    }
    for (std::size_t at = 0; at < one.findings.size(); ++at) {
        const Finding &a = one.findings[at];
        const Finding &b = other.findings[at];
        if (a.rule != b.rule || a.detail != b.detail || a.line != b.line || a.column != b.column ||
            a.byte != b.byte) {
            return false;
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 4) {
        return 0;
    }
    static std::array<char, kLargestSourceBlock> block;
    const std::size_t usable =
        kSourceBlockMinimum + (std::size_t{data[0]} | std::size_t{data[1]} << 8U) % 1024;
    const std::uint32_t limit = data[3] < 128 ? 0xFFFFFFFF : (data[3] - 128U) * 8U;
    const std::string_view source(reinterpret_cast<const char *>(data + 4), size - 4);

    const ConversionResult expected = ConvertWithLineReads(source, limit);
    const int status = expected.outcome == ConversionOutcome::kConverted ? 0
                       : expected.outcome == ConversionOutcome::kBadLine ? 4
                                                                         : 7;
    const std::uint64_t target = status != 0 && expected.payload.empty() ? 0 : 4 + expected.payload.size();
    Seen first;
    bool have_first = false;
    for (const VectorUnitInfo &info : kVectorUnits) {
        if (!VectorUnitUsable(info.unit)) {
            continue;
        }
        const int fd = memfd_create("source", MFD_CLOEXEC);
        if (fd < 0 || write(fd, source.data(), source.size()) != static_cast<ssize_t>(source.size()) ||
            lseek(fd, 0, SEEK_SET) != 0) {
            std::abort();
        }
        Seen seen;
        const SourceVerdict verdict =
            CheckSource(fd, std::span(block.data(), usable), limit, info.unit, false, {Take, &seen});
        close(fd);
        if (verdict.read != SourceRead::kRead || verdict.status != status || verdict.target_size != target ||
            (have_first && !SameFindings(first, seen))) {
            std::abort();
        }
        if (!have_first) {
            first = seen;
            have_first = true;
        }
    }
    return 0;
}
