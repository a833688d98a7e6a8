// The block reader, the vector decoders and the conversion core, each held
// against a definition that knows nothing of blocks or vectors.
#include "hex_digit.hpp"
#include "record_line.hpp"
#include "record_lines.hpp"
#include "reference_conversion.hpp"
#include "vector_units.hpp"

#include <gtest/gtest.h>

#include <array>
#include <set>
#include <string>
#include <string_view>

namespace {

std::uint8_t ExpectedByte(char first, char second)
{
    return static_cast<std::uint8_t>(ConvertHexDigitToNum(first) << 4U | ConvertHexDigitToNum(second));
}

// Parameterised by the unit's name, so that every unit in the table shows in
// the results: run where this build and machine have it, skipped by name
// where they do not.
class VectorUnitTest : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override
    {
        const VectorUnitInfo *info = FindVectorUnit(GetParam());
        ASSERT_NE(info, nullptr);
        if (!VectorUnitUsable(info->unit)) {
            GTEST_SKIP() << GetParam() << (info->built ? ": not on this machine" : ": not in this build");
        }
        unit_ = info->unit;
        steps_ = info->steps;
    }

    VectorUnit unit_ = VectorUnit::kWords;
    UnitSteps steps_;
};

// Every pair that can stand in a plain piece, in every position of a
// 20-pair line: the vector steps that run whole and the one that holds the
// line feed.
TEST_P(VectorUnitTest, SimplePiecesDecodeEveryPair)
{
    // The piece is followed by more than a whole piece that is not simple.
    std::string text = ":" + std::string(40, '0') + "\n" + std::string(300, 'x');
    for (int first = 0; first < 256; ++first) {
        for (int second = 0; second < 256; ++second) {
            if (first == '\n' || first == 0 || second == '\n' || second == 0) {
                continue;
            }
            for (std::size_t k = 0; k < 20; ++k) {
                text[1 + 2 * k] = static_cast<char>(first);
                text[2 + 2 * k] = static_cast<char>(second);
            }
            std::array<std::uint8_t, 64> bytes{};
            const PlainRun run = DecodePlainPieces(unit_, text.data(), text.size() - 64, bytes.data(), 1024);
            ASSERT_EQ(run.chars, 42U);
            ASSERT_EQ(run.bytes, 20U);
            for (std::size_t k = 0; k < 20; ++k) {
                ASSERT_EQ(bytes[k], ExpectedByte(text[1], text[2]))
                    << "pair " << first << ", " << second << " at " << k;
            }
        }
    }
}

// The general path's decoder on this unit: every pair that can stand before
// a piece's NUL, in each byte of a whole step and of the longest tail after it.
TEST_P(VectorUnitTest, GeneralPathDecodesEveryPairInStepsAndTail)
{
    const std::size_t count = steps_.chars - 1;
    std::string piece(1 + 2 * count, ':');
    for (int first = 1; first < 256; ++first) {
        for (int second = 1; second < 256; ++second) {
            for (std::size_t k = 0; k < count; ++k) {
                piece[1 + 2 * k] = static_cast<char>(first);
                piece[2 + 2 * k] = static_cast<char>(second);
            }
            std::array<std::uint8_t, 64> bytes{};
            ASSERT_EQ(ConvertHexPieceToBytes(steps_, piece.data(), piece.size(), bytes.data()), count);
            for (std::size_t k = 0; k < count; ++k) {
                ASSERT_EQ(bytes[k], ExpectedByte(piece[1], piece[2]))
                    << "pair " << first << ", " << second << " at " << k;
            }
            ASSERT_EQ(bytes[count], 0) << "written past the count";
        }
    }
}

// Each unit's marking on its own: every character value at each of the 64
// places, among neighbours that a carry, a lost high bit or the wrong byte
// order of a word would turn into stops.
TEST_P(VectorUnitTest, MarkStopsEveryCharacterAtEveryPlace)
{
    for (const char neighbour : {'0', '\x8A', '\x80', '\xFF', '\x0B'}) {
        std::array<char, 64> text{};
        text.fill(neighbour);
        for (std::size_t place = 0; place < text.size(); ++place) {
            for (int value = 0; value < 256; ++value) {
                text[place] = static_cast<char>(value);
                const std::uint64_t expected = value == 0 || value == '\n' ? std::uint64_t{1} << place : 0;
                ASSERT_EQ(steps_.mark_stops(text.data()), expected)
                    << "character " << value << " at " << place << " among " << int{neighbour};
            }
            text[place] = neighbour;
        }
    }
}

// Each unit's decoding on its own, NULs and line feeds included: every pair
// at every place of a step lands in its own byte, and nothing past the step.
TEST_P(VectorUnitTest, DecodePairsEveryPairAtEveryPlace)
{
    constexpr std::size_t kMaxChars = 64;
    ASSERT_LE(steps_.chars, kMaxChars);
    std::array<char, kMaxChars> pairs{};
    for (std::size_t k = 0; k < kMaxChars; ++k) {
        pairs[k] = "0123456789abcdefABCDEF"[k % 22];
    }
    const std::size_t count = steps_.chars / 2;
    for (std::size_t place = 0; place < count; ++place) {
        for (int first = 0; first < 256; ++first) {
            for (int second = 0; second < 256; ++second) {
                std::array<char, kMaxChars> text = pairs;
                text[2 * place] = static_cast<char>(first);
                text[2 * place + 1] = static_cast<char>(second);
                std::array<std::uint8_t, kMaxChars / 2 + 1> expected{};
                for (std::size_t k = 0; k < count; ++k) {
                    expected[k] = ExpectedByte(text[2 * k], text[2 * k + 1]);
                }
                std::array<std::uint8_t, kMaxChars / 2 + 1> bytes{};
                steps_.decode_pairs(text.data(), bytes.data());
                ASSERT_EQ(bytes, expected) << "pair " << first << ", " << second << " at " << place;
            }
        }
    }
}

// hexfold-check's mark step: every character value at each of the 64
// places, among digits and among non-digits, against IsHexDigit.
TEST_P(VectorUnitTest, MarkNonDigitsEveryCharacterAtEveryPlace)
{
    for (const char neighbour : {'0', 'f', 'G', '\x8A', '\xFF', ':'}) {
        std::array<char, 64> text{};
        text.fill(neighbour);
        const std::uint64_t others = IsHexDigit(neighbour) ? 0 : ~std::uint64_t{0};
        for (std::size_t place = 0; place < text.size(); ++place) {
            for (int value = 0; value < 256; ++value) {
                text[place] = static_cast<char>(value);
                const std::uint64_t bit = std::uint64_t{1} << place;
                const std::uint64_t expected = (others & ~bit) | (IsHexDigit(text[place]) ? 0 : bit);
                ASSERT_EQ(steps_.mark_non_digits(text.data()), expected)
                    << "character " << value << " at " << place << " among " << int{neighbour};
            }
            text[place] = neighbour;
        }
    }
}

// A name picks its unit where that unit can run, anything else the best one;
// "none" is always there.
TEST(ChooseVectorUnit, ByNameOrTheBest)
{
    const VectorUnit best = BestVectorUnit();
    EXPECT_TRUE(VectorUnitUsable(best));
    EXPECT_EQ(ChooseVectorUnit("none"), VectorUnit::kWords);
    for (const VectorUnitInfo &info : kVectorUnits) {
        EXPECT_EQ(ChooseVectorUnit(info.name), VectorUnitUsable(info.unit) ? info.unit : best) << info.name;
    }
    // No usable unit stands later in the table, which lists them by preference.
    bool past_best = false;
    for (const VectorUnitInfo &info : kVectorUnits) {
        EXPECT_FALSE(past_best && VectorUnitUsable(info.unit)) << info.name << " is preferred to the best";
        past_best = past_best || info.unit == best;
    }
    for (const char *other :
         {static_cast<const char *>(nullptr), "", "NONE", "Sse2", "avx", "avx2 ", "neon2"}) {
        EXPECT_EQ(ChooseVectorUnit(other), best) << (other == nullptr ? "unset" : other);
    }
}

// What each architecture must build, and which of those every processor of
// it runs: a unit lost from the build would otherwise only skip its tests.
TEST(ChooseVectorUnit, EachArchitectureBuildsItsOwn)
{
    struct Own {
        std::set<std::string_view> built;
        std::set<std::string_view> everywhere;
    };
#if defined(__x86_64__)
    const Own own = {{"none", "sse2", "avx2", "avx512"}, {"none", "sse2"}};
#elif defined(__aarch64__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const Own own = {{"none", "neon"}, {"none", "neon"}};
#else
    const Own own = {{"none"}, {"none"}};
#endif
    for (const VectorUnitInfo &info : kVectorUnits) {
        EXPECT_EQ(info.built, own.built.contains(info.name)) << info.name;
        EXPECT_TRUE(!own.everywhere.contains(info.name) || VectorUnitUsable(info.unit)) << info.name;
    }
}

// A unit's mark step against the characters themselves: a lone line feed or
// NUL at every position among characters of every value, and mixtures.
TEST_P(VectorUnitTest, MarksEveryLineFeedAndNul)
{
    std::array<char, 64> text{};
    const auto fill = [&text](unsigned seed, unsigned stop_every) {
        for (std::size_t at = 0; at < text.size(); ++at) {
            const unsigned mixed = seed * 131U + static_cast<unsigned>(at) * 37U;
            text[at] = stop_every != 0 && mixed % stop_every == 0 ? "\n\0"[mixed / stop_every % 2]
                                                                  : static_cast<char>(mixed % 256U);
        }
    };
    for (unsigned seed = 0; seed < 2048; ++seed) {
        fill(seed, seed < 1024 ? 0 : seed % 7 + 1);
        if (seed < 1024) {
            // Among what fill left, one more stop of each kind in turn.
            text[seed % 64] = seed % 128 < 64 ? '\n' : '\0';
        }
        std::uint64_t expected = 0;
        for (std::size_t at = 0; at < text.size(); ++at) {
            if (text[at] == '\n' || text[at] == '\0') {
                expected |= std::uint64_t{1} << at;
            }
        }
        ASSERT_EQ(steps_.mark_stops(text.data()), expected) << "seed " << seed;
    }
}

// Lines of every shape, so that the block's end falls on every kind of
// character, and with a bad line.
TEST_P(VectorUnitTest, SameResultAsLineReadsWhereverTheBlockEnds)
{
    const std::string good = GenerateLines({.seed = 7, .size = 9000});
    const std::string sources[] = {
        good,
        good + "\n",                                         // an empty last line
        good.substr(0, 3000).append("?").append(good, 3000), // a character that may start a piece
        good.substr(0, 5000).append("\n").append(good, 5000),
        GenerateLines({.seed = 7, .size = 9000, .bad_line = true}),
    };
    for (const std::string &source : sources) {
        const ConversionResult expected = ConvertWithLineReads(source, 0xFFFFFFFF);
        ASSERT_GT(expected.payload.size(), 1000U);
        // Every offset of a 600-character stretch, and every target block
        // size from the smallest that works.
        for (std::size_t size = 320; size < 920; ++size) {
            ASSERT_EQ(ConvertWithCore(source, size, 256 + size % 200, 0xFFFFFFFF, unit_), expected)
                << "source block of " << size;
        }
    }
}

// The header limit is exact: a payload of exactly the limit converts, one
// byte less refuses the line that would pass it, with the lines before it
// written. Lines long enough that the plain pieces run in bulk up to it.
TEST_P(VectorUnitTest, TheLimitIsExact)
{
    std::string source;
    for (int i = 0; i < 400; ++i) {
        source.append(":")
            .append(2 * static_cast<std::size_t>(i % 37), "0123456789ABCDEF"[i % 16])
            .append("\n");
    }
    const std::size_t total = ConvertWithLineReads(source, 0xFFFFFFFF).payload.size();
    for (const std::size_t below : {0U, 1U, 17U, 18U, 36U, 200U, 500U}) {
        const auto limit = static_cast<std::uint32_t>(total - below);
        const ConversionResult expected = ConvertWithLineReads(source, limit);
        EXPECT_EQ(expected.outcome,
                  below == 0 ? ConversionOutcome::kConverted : ConversionOutcome::kTooLarge);
        EXPECT_EQ(ConvertWithCore(source, 4096 + 64, 4096, limit, unit_), expected) << below << " below";
    }
}

// Lines of one length, which the walk takes by guessing where the next line
// feed stands (254 digits are too many for a piece), one of them changed at
// every place, colon and line feed included, to a stop, a character just
// below or above the guess's bound, or one from 0x80 up: against line reads
// wherever the blocks end, sometimes with the header limit inside the lines.
TEST_P(VectorUnitTest, GuessedPiecesAgreeWithLineReads)
{
    for (const std::size_t digits : {2U, 9U, 16U, 17U, 33U, 42U, 64U, 65U, 129U, 200U, 253U, 254U}) {
        std::string line = ":";
        for (std::size_t k = 0; k < digits; ++k) {
            line += "0123456789abcdefABCDEF"[k % 22];
        }
        line += '\n';
        for (std::size_t place = 0; place < line.size(); ++place) {
            for (const char odd : {'\n', '\0', '\x09', '\x0B', '\x8A'}) {
                std::string source;
                for (int k = 0; k < 40; ++k) {
                    source += line;
                }
                source[17 * line.size() + place] = odd;
                // Not at the colon, which the walk must see turn into another character.
                const std::uint32_t limit =
                    place % 4 == 1 ? static_cast<std::uint32_t>(place * digits / 2 + 7) : 0xFFFFFFFF;
                const std::size_t source_block = 600 + (place * 131 + digits * 17) % 3500;
                ASSERT_EQ(ConvertWithCore(source, source_block, 256 + place % 300, limit, unit_),
                          ConvertWithLineReads(source, limit))
                    << digits << " digits, character " << int{odd} << " at " << place;
            }
        }
    }
}

// The walk on its own, with line feeds past the text's end: it takes whole
// pieces, none whose line feed lies past available, none that starts with
// more than room bytes written, and it stops short of neither limit by more
// than a piece and a mark step. Rows: a line, and every how many lines a
// shorter one stands in for it (0 for never).
TEST_P(VectorUnitTest, WalkStopsAtTheTextsEndAndTheRoom)
{
    const auto line = [](std::size_t digits, const char *end) {
        std::string text = ":";
        for (std::size_t k = 0; k < digits; ++k) {
            text += "0123456789abcdefABCDEF"[k % 22];
        }
        return text.append(end);
    };
    const struct {
        std::string line;
        std::size_t short_every;
    } rows[] = {{line(42, "\n"), 0},
                {line(42, "\n"), 7},
                {line(41, "\r\n"), 5},
                {line(9, "\n"), 0},
                {line(253, "\n"), 3}};
    for (const auto &row : rows) {
        std::string text;
        for (std::size_t k = 1; text.size() < 3000; ++k) {
            text += row.short_every != 0 && k % row.short_every == 0 ? ":0A1B\n" : row.line;
        }
        for (std::size_t available = 300; available < 1000; ++available) {
            for (const std::size_t room : {std::size_t{2}, std::size_t{100}, std::size_t{1000}}) {
                std::array<std::uint8_t, 2048> bytes{};
                const PlainRun run = DecodePlainPieces(unit_, text.data(), available, bytes.data(), room);
                ASSERT_LE(run.chars, available) << available;
                ASSERT_EQ(text[run.chars - 1], '\n') << available;
                const std::string taken = text.substr(0, run.chars);
                ASSERT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(run.bytes)),
                          ConvertWithLineReads(taken, 0xFFFFFFFF).payload);
                const std::size_t last_start = taken.rfind('\n', run.chars - 2) + 1;
                EXPECT_LE(run.bytes - (run.chars - last_start - 1) / 2, room) << available << ", " << room;
                EXPECT_TRUE(run.bytes > room || run.chars + kMaxPieceSize + 64 >= available)
                    << available << ", " << room;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Units, VectorUnitTest, testing::ValuesIn(VectorUnitNames()),
                         [](const testing::TestParamInfo<std::string> &param) { return param.param; });

} // namespace
