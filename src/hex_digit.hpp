// The one definition of a hexadecimal digit's value, which every unit's
// steps and tables are held against.
#ifndef HEXFOLD_HEX_DIGIT_HPP
#define HEXFOLD_HEX_DIGIT_HPP

#include <cstdint>

// Anything that is not a digit is worth 0, so that a stray character never
// stops a line, whether char is signed or not
// (SamplePieces/RecordLineTest.DecodesPairsAndLeavesTheRestOfTheBytes/HighCharactersAreZero).
constexpr std::uint8_t ConvertHexDigitToNum(char ch)
{
    if (ch >= '0' && ch <= '9') {
        return static_cast<std::uint8_t>(ch - '0');
    }
    if (ch >= 'a' && ch <= 'f') {
        return static_cast<std::uint8_t>(ch - 'a' + 10);
    }
    if (ch >= 'A' && ch <= 'F') {
        return static_cast<std::uint8_t>(ch - 'A' + 10);
    }
    return 0;
}

// Whether hexfold reads ch as the digit it is, rather than as a stand-in 0.
constexpr bool IsHexDigit(char ch)
{
    return ch == '0' || ConvertHexDigitToNum(ch) != 0;
}

#endif
