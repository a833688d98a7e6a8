// The general path's decoder on sample pieces, through every unit that runs
// here, and the digit definition that every unit is held against.
#include "hex_digit.hpp"
#include "record_line.hpp"

#include <gtest/gtest.h>

#include <cctype>
#include <charconv>
#include <memory>
#include <string>
#include <vector>

namespace {

std::string Digits(std::size_t count)
{
    std::string digits;
    for (std::size_t i = 0; i < count; ++i) {
        digits += "0123456789ABCDEFabcdef"[i % 22];
    }
    return digits;
}

// The bytes that hexadecimal text spells, two digits each, as the C++
// library reads them.
std::vector<std::uint8_t> Hex(std::string_view digits)
{
    std::vector<std::uint8_t> bytes(digits.size() / 2);
    for (std::size_t k = 0; k < bytes.size(); ++k) {
        (void)std::from_chars(digits.data() + 2 * k, digits.data() + 2 * k + 2, bytes[k], 16);
    }
    return bytes;
}

struct PieceCase {
    const char *name;
    std::string piece;
    std::vector<std::uint8_t> bytes;
};

const std::vector<PieceCase> kPieceCases = {
    {"Empty", "", {}},
    {"ColonAndLineFeed", ":\n", {}},
    {"ColonAlone", ":", {}},
    {"TwoPairs", ":0A1B\n", Hex("0A1B")},
    {"MixedCase", ":A0b1C2\n", Hex("A0B1C2")},
    {"OddDigitsLineFeedAsLowNibble", ":ABC\n", Hex("ABC0")},
    {"OddDigitsLastDropped", ":ABC", Hex("AB")},
    {"CarriageReturnPairIsZero", ":AB\r\n", Hex("AB00")},
    {"CarriageReturnAsLowNibble", ":ABC\r\n", Hex("ABC0")},
    {"NonDigitIsZero", ":G7\n", Hex("07")},
    {"SpaceShiftsPairs", ": AB\n", Hex("0AB0")},
    {"EndsAtNul", std::string(":AB\0CD\n", 7), Hex("AB")},
    {"HighCharactersAreZero", ":\xFF\x80\xA1\x31\n", Hex("0001")},
    {"RecordFieldsAreData", ":06C350004B0F92E1773A5D\n", Hex("06C350004B0F92E1773A5D")},
    {"LongestLine", ":" + Digits(253) + "\n", Hex(Digits(253) + "0")},
    {"PieceWithoutNulEndsAtItsSize", ":" + std::string(254, 'F'), Hex(std::string(254, 'F'))},
};

void PrintTo(const PieceCase &c, std::ostream *os)
{
    *os << c.name;
}

class RecordLineTest : public testing::TestWithParam<PieceCase> {};

TEST_P(RecordLineTest, DecodesPairsAndLeavesTheRestOfTheBytes)
{
    const PieceCase &c = GetParam();
    for (const VectorUnitInfo &info : kVectorUnits) {
        if (!VectorUnitUsable(info.unit)) {
            continue;
        }
        // Two different fillers: a stray write past the count cannot match both.
        for (const std::uint8_t filler : {std::uint8_t{0x5A}, std::uint8_t{0xA5}}) {
            std::vector<std::uint8_t> bytes(kMaxPieceSize, filler);
            // Exactly its size on the heap, so that AddressSanitizer sees a read past it.
            const auto piece = std::make_unique<char[]>(c.piece.size());
            c.piece.copy(piece.get(), c.piece.size());
            ASSERT_EQ(ConvertHexPieceToBytes(info.steps, piece.get(), c.piece.size(), bytes.data()),
                      c.bytes.size())
                << info.name;
            for (std::size_t k = 0; k < bytes.size(); ++k) {
                ASSERT_EQ(bytes[k], k < c.bytes.size() ? c.bytes[k] : filler) << info.name << ", byte " << k;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(SamplePieces, RecordLineTest, testing::ValuesIn(kPieceCases),
                         [](const testing::TestParamInfo<PieceCase> &param) { return param.param.name; });

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

} // namespace
