// Two ways to convert a source held in memory, for the tests and the fuzzer
// to hold against each other: hexfold's core on blocks of any size, and a
// reference that knows nothing of blocks: the C library's own bounded line
// reads, each character decoded with ConvertHexDigitToNum.
#ifndef HEXFOLD_REFERENCE_CONVERSION_HPP
#define HEXFOLD_REFERENCE_CONVERSION_HPP

#include "conversion.hpp"
#include "record_line.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

struct ConversionResult {
    ConversionOutcome outcome = ConversionOutcome::kConverted;
    std::string payload;

    bool operator==(const ConversionResult &) const = default;
};

inline ConversionResult ConvertWithLineReads(std::string_view source, std::uint32_t limit)
{
    ConversionResult result;
    if (source.empty()) {
        return result;
    }
    std::string copy(source);
    std::FILE *stream = fmemopen(copy.data(), copy.size(), "r");
    if (stream == nullptr) {
        std::abort();
    }
    char line[256];
    while (std::fgets(line, sizeof line, stream) != nullptr) {
        if (line[0] != ':') {
            result.outcome = ConversionOutcome::kBadLine;
            break;
        }
        const std::size_t count = (std::strlen(line) - 1) / 2;
        if (count > limit - result.payload.size()) {
            result.outcome = ConversionOutcome::kTooLarge;
            break;
        }
        for (std::size_t k = 0; k < count; ++k) {
            result.payload += static_cast<char>(ConvertHexDigitToNum(line[1 + 2 * k]) << 4U |
                                                ConvertHexDigitToNum(line[2 + 2 * k]));
        }
    }
    std::fclose(stream);
    return result;
}

// The source comes from a memfd, so every read fills the block; blocks of
// different sizes put the block's end at every offset. Both blocks are
// exactly as large as asked, so that AddressSanitizer sees any access past them.
inline ConversionResult ConvertWithCore(std::string_view source, std::size_t source_block_size,
                                        std::size_t target_block_size, std::uint32_t limit, VectorUnit unit)
{
    const int fd = memfd_create("source", MFD_CLOEXEC);
    if (fd < 0 || write(fd, source.data(), source.size()) != static_cast<ssize_t>(source.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    char *payload = nullptr;
    std::size_t payload_size = 0;
    std::FILE *target = open_memstream(&payload, &payload_size);
    std::vector<char> source_block(source_block_size);
    std::vector<std::uint8_t> target_block(target_block_size);
    const Conversion conversion = ConvertRecords(fd, target, {source_block, target_block}, limit, unit);
    std::fclose(target);
    close(fd);
    ConversionResult result{conversion.outcome, std::string(payload, payload_size)};
    std::free(payload);
    if (conversion.total != result.payload.size()) {
        std::abort();
    }
    return result;
}

// Every unit's name, in the table's order, usable here or not.
inline std::vector<std::string> VectorUnitNames()
{
    std::vector<std::string> names;
    for (const VectorUnitInfo &info : kVectorUnits) {
        names.emplace_back(info.name);
    }
    return names;
}

// The unit of that name, or none when the table has no such name.
inline const VectorUnitInfo *FindVectorUnit(std::string_view name)
{
    for (const VectorUnitInfo &info : kVectorUnits) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

#endif
