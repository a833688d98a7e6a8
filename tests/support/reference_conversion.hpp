// Two ways to convert a source held in memory, for the tests and the fuzzer
// to hold against each other: hexfold's core on blocks of any size, and a
// reference that knows nothing of blocks: the C library's own bounded line
// reads, each character decoded with ConvertHexDigitToNum.
#ifndef HEXFOLD_REFERENCE_CONVERSION_HPP
#define HEXFOLD_REFERENCE_CONVERSION_HPP

#include "conversion.hpp"
#include "hex_digit.hpp"

#include <sys/mman.h>
#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#endif
#ifndef ASAN_POISON_MEMORY_REGION
#define ASAN_POISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#define ASAN_UNPOISON_MEMORY_REGION(addr, size) ((void)(addr), (void)(size))
#endif
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
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

// The largest blocks that the tests and the fuzzer ask for.
inline constexpr std::size_t kLargestSourceBlock = 4096 + 64;
inline constexpr std::size_t kLargestTargetBlock = 4096;

// The source comes from a memfd, so every read fills the block; blocks of
// different sizes put the block's end at every offset. Both blocks are the
// largest, with only as much in use as asked; the rest is poisoned under
// AddressSanitizer, so that it sees any access past the part in use.
inline ConversionResult ConvertWithCore(std::string_view source, std::size_t source_block_size,
                                        std::size_t target_block_size, std::uint32_t limit, VectorUnit unit)
{
    if (source_block_size < kSourceBlockMinimum || source_block_size > kLargestSourceBlock ||
        target_block_size < kTargetBlockMinimum || target_block_size > kLargestTargetBlock) {
        std::abort();
    }
    const int fd = memfd_create("source", MFD_CLOEXEC);
    if (fd < 0 || write(fd, source.data(), source.size()) != static_cast<ssize_t>(source.size()) ||
        lseek(fd, 0, SEEK_SET) != 0) {
        std::abort();
    }
    const int target = memfd_create("target", MFD_CLOEXEC);
    if (target < 0) {
        std::abort();
    }
    const auto source_block = std::make_unique<std::array<char, kLargestSourceBlock>>();
    const auto target_block = std::make_unique<std::array<std::uint8_t, kLargestTargetBlock>>();
    ASAN_POISON_MEMORY_REGION(source_block->data() + source_block_size,
                              kLargestSourceBlock - source_block_size);
    ASAN_POISON_MEMORY_REGION(target_block->data() + target_block_size,
                              kLargestTargetBlock - target_block_size);
    const Conversion conversion =
        ConvertRecords(fd, target, std::span(source_block->data(), source_block_size),
                       std::span(target_block->data(), target_block_size), limit, unit);
    ASAN_UNPOISON_MEMORY_REGION(source_block->data(), kLargestSourceBlock);
    ASAN_UNPOISON_MEMORY_REGION(target_block->data(), kLargestTargetBlock);
    close(fd);
    ConversionResult result{conversion.outcome, {}};
    char chunk[4096];
    ssize_t got = 0;
    for (off_t at = 0; (got = pread(target, chunk, sizeof chunk, at)) > 0; at += got) {
        result.payload.append(chunk, static_cast<std::size_t>(got));
    }
    close(target);
    if (got < 0 || conversion.total != result.payload.size()) {
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
