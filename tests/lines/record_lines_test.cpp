// The line generator's contract, which scripts and other tests rely on: the
// same bytes for a seed and size on every machine, and every shape it names.
#include "record_lines.hpp"
#include "reference_conversion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

std::uint64_t Fnv1a(std::string_view text)
{
    std::uint64_t hash = 0xCBF29CE484222325U;
    for (const char ch : text) {
        hash = (hash ^ static_cast<unsigned char>(ch)) * 0x100000001B3U;
    }
    return hash;
}

// Taken on x86-64; a big-endian or 32-bit machine must give the same.
TEST(RecordLines, SameBytesOnEveryMachine)
{
    const struct {
        LinesRequest request;
        std::size_t size;
        std::uint64_t hash;
    } cases[] = {
        {{.seed = 1}, 1048857, 10326129789026501380U},
        {{.seed = 2, .size = 100000, .bad_line = true}, 100301, 7588706575571279035U},
        {{.seed = 1, .size = 100000, .shape = LineShape::kDigits42}, 100012, 17086826504819071906U},
        {{.seed = 9, .size = 1000, .shape = LineShape::kDigits42Nul}, 1035, 2177697306727297530U},
    };
    for (const auto &c : cases) {
        const std::string lines = GenerateLines(c.request);
        EXPECT_EQ(lines.size(), c.size) << "seed " << c.request.seed;
        EXPECT_EQ(Fnv1a(lines), c.hash) << "seed " << c.request.seed;
    }
}

// The pieces that bounded reads of 255 characters make of text.
std::vector<std::string_view> Pieces(std::string_view text)
{
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const std::size_t line_feed = text.find('\n');
        const std::size_t size =
            std::min(line_feed == std::string_view::npos ? text.size() : line_feed + 1, std::size_t{255});
        pieces.push_back(text.substr(0, size));
        text.remove_prefix(size);
    }
    return pieces;
}

TEST(RecordLines, MixedHoldsEveryShape)
{
    const std::string lines = GenerateLines({});
    const std::vector<std::string_view> pieces = Pieces(lines);
    const auto digits_only = [](std::string_view piece) {
        return piece.find_first_not_of("0123456789abcdefABCDEF", 1) == piece.size() - 1;
    };
    const struct {
        const char *shape;
        std::function<bool(std::string_view)> holds;
    } shapes[] = {
        {"CR LF", [](std::string_view piece) { return piece.ends_with("\r\n"); }},
        {"a NUL inside a line", [](std::string_view piece) { return piece.find('\0') + 2 < piece.size(); }},
        {"a space", [](std::string_view piece) { return piece.find(' ') != std::string_view::npos; }},
        {"a 'G'", [](std::string_view piece) { return piece.find('G') != std::string_view::npos; }},
        {"a byte from 128 up",
         [](std::string_view piece) {
             return std::ranges::any_of(piece, [](char ch) { return (ch & 0x80) != 0; });
         }},
        {"an odd count of digits",
         [&](std::string_view piece) { return piece.size() % 2 == 1 && digits_only(piece); }},
        {"a colon alone", [](std::string_view piece) { return piece == ":\n"; }},
        {"255 characters, the next piece a line",
         [](std::string_view piece) { return piece.size() == 255 && piece.back() != '\n'; }},
    };
    for (const auto &shape : shapes) {
        EXPECT_TRUE(std::ranges::any_of(pieces, shape.holds)) << shape.shape;
    }
    EXPECT_NE(lines.back(), '\n') << "the last line has a line feed";
    for (std::size_t length = 2; length <= 255; ++length) {
        EXPECT_TRUE(std::ranges::any_of(
            pieces,
            [length](std::string_view piece) { return piece.size() == length && piece.back() == '\n'; }))
            << "no line of " << length << " characters";
    }
}

// Mixed converts; its bad line stops it after the same bytes, and at most
// the 127 of the bad line's first piece.
TEST(RecordLines, MixedConvertsAndItsBadLineStopsIt)
{
    for (std::uint64_t seed = 1; seed <= 8; ++seed) {
        const ConversionResult good =
            ConvertWithLineReads(GenerateLines({.seed = seed, .size = 20000}), 0xFFFFFFFF);
        const ConversionResult bad =
            ConvertWithLineReads(GenerateLines({.seed = seed, .size = 20000, .bad_line = true}), 0xFFFFFFFF);
        EXPECT_EQ(good.outcome, ConversionOutcome::kConverted) << "seed " << seed;
        EXPECT_EQ(bad.outcome, ConversionOutcome::kBadLine) << "seed " << seed;
        const std::size_t same = bad.payload.size() - std::min<std::size_t>(bad.payload.size(), 127);
        EXPECT_EQ(good.payload.substr(0, same), bad.payload.substr(0, same)) << "seed " << seed;
    }
}

TEST(RecordLines, Digits42AndTheSameWithNuls)
{
    const std::string lines = GenerateLines({.seed = 4, .size = 44000, .shape = LineShape::kDigits42});
    const std::string with_nuls = GenerateLines({.seed = 4, .size = 45000, .shape = LineShape::kDigits42Nul});
    ASSERT_EQ(lines.size(), 44000U);
    ASSERT_EQ(with_nuls.size(), 45000U);
    std::set<std::string_view> distinct;
    for (std::size_t k = 0; k < 1000; ++k) {
        const std::string_view line = std::string_view(lines).substr(k * 44, 44);
        ASSERT_TRUE(line[0] == ':' && line.find_first_not_of("0123456789ABCDEF", 1) == 43 && line[43] == '\n')
            << line;
        ASSERT_EQ(with_nuls.substr(k * 45, 45), std::string(line.substr(0, 43)) + '\0' + '\n') << line;
        distinct.insert(line);
    }
    // Not stuck: no line twice, and every digit with the colon and the line feed.
    EXPECT_EQ(distinct.size(), 1000U);
    EXPECT_EQ(std::set<char>(lines.begin(), lines.end()).size(), 18U);
}

// hexfold-lines writes the header's bytes, NULs included, for each argument
// it takes, and refuses any other.
TEST(RecordLines, ToolWritesTheSameBytes)
{
#ifdef HEXFOLD_EMULATOR
    // A cross build's tool runs under the build host's emulator.
    std::string emulator;
    for (const char *word : {HEXFOLD_EMULATOR}) {
        emulator += std::string("'") + word + "' ";
    }
#else
    const std::string emulator;
#endif
    const struct {
        const char *arguments;
        std::optional<LinesRequest> request; // nullopt: refused
    } cases[] = {
        {"", LinesRequest{}},
        {"--seed=5 --size=300000 --shape=mixed", LinesRequest{.seed = 5, .size = 300000}},
        {"--shape=digits42 --seed=18446744073709551615",
         LinesRequest{.seed = 18446744073709551615U, .shape = LineShape::kDigits42}},
        {"--size=1000 --shape=digits42-nul", LinesRequest{.size = 1000, .shape = LineShape::kDigits42Nul}},
        {"--seed=", std::nullopt},
        {"--seed=-1", std::nullopt},
        {"--seed=18446744073709551616", std::nullopt},
        {"--size=4k", std::nullopt},
        {"--shape=digits", std::nullopt},
        {"--bad", std::nullopt},
        {"seed=1", std::nullopt},
    };
    for (const auto &c : cases) {
        const std::string command = emulator + "'" + HEXFOLD_LINES_TOOL + "' " + c.arguments + " 2>/dev/null";
        std::FILE *tool = popen(command.c_str(), "r");
        ASSERT_NE(tool, nullptr) << command;
        std::string written;
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, tool)) > 0;) {
            written.append(chunk, got);
        }
        EXPECT_EQ(pclose(tool) == 0, c.request.has_value()) << command;
        EXPECT_TRUE(written == (c.request ? GenerateLines(*c.request) : "")) << command;
    }
}

} // namespace
