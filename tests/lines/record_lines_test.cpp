// The line generator's contract, which scripts and other tests rely on: the
// same bytes for a seed and size on every machine, and every shape it names.
#include "record_lines.hpp"
#include "reference_conversion.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
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
    const auto any = [&pieces](const std::function<bool(std::size_t)> &holds) {
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            if (holds(k)) {
                return true;
            }
        }
        return false;
    };
    const auto has = [&any, &pieces](std::string_view part) {
        return any([&](std::size_t k) { return pieces[k].find(part) != std::string_view::npos; });
    };
    const struct {
        const char *shape;
        bool held;
    } shapes[] = {
        {"CR LF", has("\r\n")},
        {"a NUL inside a line",
         any([&](std::size_t k) { return pieces[k].find('\0') < pieces[k].size() - 2; })},
        {"a space", has(" ")},
        {"a 'G'", has("G")},
        {"a byte from 128 up", any([&](std::size_t k) {
             return std::any_of(pieces[k].begin(), pieces[k].end(), [](char ch) { return ch & 0x80; });
         })},
        {"an odd count of digits", any([&](std::size_t k) {
             return pieces[k].size() % 2 == 1 && pieces[k].back() == '\n' &&
                    pieces[k].find_first_not_of("0123456789abcdefABCDEF", 1) == pieces[k].size() - 1;
         })},
        {"a colon alone", has(":\n")},
        {"a piece of 255 characters whose next is a line",
         any([&](std::size_t k) { return pieces[k].size() == 255 && pieces[k].back() != '\n'; })},
        {"a last line without a line feed", lines.back() != '\n'},
    };
    for (const auto &shape : shapes) {
        EXPECT_TRUE(shape.held) << shape.shape;
    }
    for (std::size_t length = 2; length <= 255; ++length) {
        EXPECT_TRUE(any([&](std::size_t k) {
            return pieces[k].size() == length && pieces[k].back() == '\n';
        })) << "no line of "
            << length << " characters";
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
    std::string seen;
    for (std::size_t at = 0; at < lines.size(); at += 44) {
        const std::string_view line = std::string_view(lines).substr(at, 44);
        ASSERT_EQ(line[0], ':') << "at " << at;
        ASSERT_EQ(line.find_first_not_of("0123456789ABCDEF", 1), 43U) << "at " << at;
        ASSERT_EQ(line[43], '\n') << "at " << at;
        ASSERT_EQ(std::string_view(with_nuls).substr(at / 44 * 45, 45),
                  std::string(line.substr(0, 43)) + std::string(1, '\0') + "\n")
            << "at " << at;
        seen += line.substr(1, 42);
    }
    // Not stuck: every digit, and no two lines alike.
    EXPECT_EQ(seen.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    for (const char digit : std::string_view("0123456789ABCDEF")) {
        EXPECT_NE(seen.find(digit), std::string::npos) << digit;
    }
    EXPECT_NE(lines.substr(0, 44), lines.substr(44, 44));
}

TEST(RecordLines, Arguments)
{
    const struct {
        const char *argument;
        bool parsed;
        LinesRequest request;
    } cases[] = {
        {"--seed=7", true, {.seed = 7}},
        {"--seed=18446744073709551615", true, {.seed = 18446744073709551615U}},
        {"--size=43", true, {.size = 43}},
        {"--shape=mixed", true, {}},
        {"--shape=digits42", true, {.shape = LineShape::kDigits42}},
        {"--shape=digits42-nul", true, {.shape = LineShape::kDigits42Nul}},
        {"--seed=", false, {}},
        {"--seed=-1", false, {}},
        {"--seed=18446744073709551616", false, {}},
        {"--size=4k", false, {}},
        {"--shape=digits", false, {}},
        {"--shape=", false, {}},
        {"--bad", false, {}},
        {"seed=1", false, {}},
    };
    for (const auto &c : cases) {
        LinesRequest request;
        EXPECT_EQ(ParseLinesArgument(c.argument, request), c.parsed) << c.argument;
        if (c.parsed) {
            EXPECT_EQ(request.seed, c.request.seed) << c.argument;
            EXPECT_EQ(request.size, c.request.size) << c.argument;
            EXPECT_EQ(request.shape, c.request.shape) << c.argument;
        }
    }
}

// The tool writes the header's bytes, NULs included, in every shape.
TEST(RecordLines, ToolWritesTheSameBytes)
{
#ifndef HEXFOLD_LINES_TOOL
    GTEST_SKIP() << "the tool is not run in a cross build";
#else
    const struct {
        const char *arguments;
        LinesRequest request;
    } cases[] = {
        {"", {}},
        {" --seed=5 --size=300000 --shape=mixed", {.seed = 5, .size = 300000}},
        {" --shape=digits42 --seed=6", {.seed = 6, .shape = LineShape::kDigits42}},
        {" --size=1000 --shape=digits42-nul", {.size = 1000, .shape = LineShape::kDigits42Nul}},
    };
    for (const auto &c : cases) {
        const std::string command = std::string("'") + HEXFOLD_LINES_TOOL + "'" + c.arguments;
        std::FILE *tool = popen(command.c_str(), "r");
        ASSERT_NE(tool, nullptr) << command;
        std::string written;
        char chunk[4096];
        for (std::size_t got; (got = std::fread(chunk, 1, sizeof chunk, tool)) > 0;) {
            written.append(chunk, got);
        }
        EXPECT_EQ(pclose(tool), 0) << command;
        EXPECT_TRUE(written == GenerateLines(c.request)) << command;
    }
    EXPECT_NE(pclose(popen((std::string("'") + HEXFOLD_LINES_TOOL + "' --size=x 2>/dev/null").c_str(), "r")),
              0);
#endif
}

} // namespace
