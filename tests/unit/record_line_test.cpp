#include "record_line.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

namespace {

LineBuffer MakeLine(const std::string &text)
{
    LineBuffer line{};
    text.copy(line.data(), line.size() - 1);
    return line;
}

std::string Digits(std::size_t count)
{
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) {
        digits += "0123456789ABCDEFabcdef"[i % 22];
    }
    return digits;
}

struct LineCase {
    const char *name;
    std::string line;
    std::vector<std::uint8_t> bytes;
};

std::vector<std::uint8_t> Bytes253()
{
    // Digits(253) read in pairs, the last digit ('0' + 252 % 22 = 'a') alone.
    const std::string digits = Digits(253);
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < digits.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(i, 2), nullptr, 16)));
    }
    bytes.push_back(static_cast<std::uint8_t>(std::stoi(digits.substr(252, 1), nullptr, 16) << 4));
    return bytes;
}

const std::vector<LineCase> &LineCases()
{
    static const std::vector<LineCase> cases = {
        {"Empty", "", {}},
        {"ColonAndLineFeed", ":\n", {}},
        {"ColonAlone", ":", {}},
        {"TwoPairs", ":0A1B\n", {0x0A, 0x1B}},
        {"MixedCase", ":A0b1C2\n", {0xA0, 0xB1, 0xC2}},
        {"OddDigitsLineFeedAsLowNibble", ":ABC\n", {0xAB, 0xC0}},
        {"OddDigitsLastDropped", ":ABC", {0xAB}},
        {"CarriageReturnPairIsZero", ":AB\r\n", {0xAB, 0x00}},
        {"CarriageReturnAsLowNibble", ":ABC\r\n", {0xAB, 0xC0}},
        {"NonDigitIsZero", ":G7\n", {0x07}},
        {"SpaceShiftsPairs", ": AB\n", {0x0A, 0xB0}},
        {"EndsAtNul", std::string(":AB\0CD\n", 7), {0xAB}},
        {"HighCharactersAreZero",
         ":\xFF\x80\xA1"
         "1\n",
         {0x00, 0x01}},
        // Digits shaped like a count, an address, a type and a checksum are data too.
        {"RecordFieldsAreData",
         ":06C350004B0F92E1773A5D\n",
         {0x06, 0xC3, 0x50, 0x00, 0x4B, 0x0F, 0x92, 0xE1, 0x77, 0x3A, 0x5D}},
        {"LongestLine", std::string(":").append(Digits(253)).append("\n"), Bytes253()},
    };
    return cases;
}

void PrintTo(const LineCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordLineTest : public testing::TestWithParam<LineCase> {};

TEST_P(RecordLineTest, DecodesPairsAndLeavesTheRestOfTheBuffer)
{
    const LineCase &c = GetParam();
    // Two different fillers: a stray write past the count cannot match both.
    for (const std::uint8_t filler : {std::uint8_t{0x5A}, std::uint8_t{0xA5}}) {
        ByteBuffer bytes{};
        bytes.fill(filler);
        const std::uint8_t count = ConvertHexLineToBytes(MakeLine(c.line), bytes);
        ASSERT_EQ(count, c.bytes.size());
        for (std::size_t k = 0; k < bytes.size(); ++k) {
            const std::uint8_t expected = k < c.bytes.size() ? c.bytes[k] : filler;
            ASSERT_EQ(bytes[k], expected) << "byte " << k;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SampleLines, RecordLineTest, testing::ValuesIn(LineCases()),
                         [](const testing::TestParamInfo<LineCase> &param) { return param.param.name; });

TEST(ConvertHexDigitToNum, MatchesHexadecimalDigitsAndZeroElsewhere)
{
    for (int value = 0; value < 256; ++value) {
        const char ch = static_cast<char>(value);
        const std::string text(1, ch);
        // Independent of the function under test: the C library's reading of one digit.
        const int expected = std::isxdigit(value) != 0 ? std::stoi(text, nullptr, 16) : 0;
        EXPECT_EQ(ConvertHexDigitToNum(ch), expected) << "character " << value;
    }
}

// The decoder reads pairs through a table of its own; it must agree with the
// digit function on every pair of characters that can stand in a line.
TEST(ConvertHexLineToBytes, EveryPairMatchesConvertHexDigitToNum)
{
    ByteBuffer bytes{};
    for (int first = 1; first < 256; ++first) {
        for (int second = 1; second < 256; ++second) {
            LineBuffer line{};
            line[0] = ':';
            line[1] = static_cast<char>(first);
            line[2] = static_cast<char>(second);
            ASSERT_EQ(ConvertHexLineToBytes(line, bytes), 1);
            const int expected = ConvertHexDigitToNum(line[1]) * 16 + ConvertHexDigitToNum(line[2]);
            ASSERT_EQ(bytes[0], expected) << "characters " << first << ", " << second;
        }
    }
}

TEST(ConvertHexLineToBytes, BufferWithoutNulStopsAtItsEnd)
{
    LineBuffer line{};
    line.fill('F');
    line[0] = ':';
    ByteBuffer bytes{};
    ASSERT_EQ(ConvertHexLineToBytes(line, bytes), 127);
    EXPECT_EQ(bytes[126], 0xFF);
    EXPECT_EQ(bytes[127], 0x00);
}

} // namespace
