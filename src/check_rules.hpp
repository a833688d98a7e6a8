// What hexfold-check reports: its rules, one per way in which hexfold's
// reading of a line goes wrong, with their names, levels and texts.
#ifndef HEXFOLD_CHECK_RULES_HPP
#define HEXFOLD_CHECK_RULES_HPP

#include <array>
#include <cstddef>
#include <cstdint>

enum class Rule : std::uint8_t {
    kNoColon,
    kLongLine,
    kCarriageReturn,
    kNotHex,
    kOddDigits,
    kNul,
    kTooLarge,
};

enum class Severity : std::uint8_t { kError, kWarning, kNote };

struct RuleInfo {
    Rule rule = Rule::kNoColon;
    const char *name = ""; // as --disable and every format spell it
    Severity level = Severity::kError;
    const char *summary = ""; // one line
    const char *description = "";
    const char *help = ""; // how to fix it
};

inline constexpr std::size_t kRuleCount = 7;

// Rule indexes the table.
inline constexpr std::array<RuleInfo, kRuleCount> kRules = {{
    {Rule::kNoColon, "no-colon", Severity::kError, "A line does not begin with ':'.",
     "hexfold stops at a line that does not begin with ':', an empty line included, with status 4.",
     "Begin the line with ':', or remove it: empty lines go with sed '/^\\r*$/d'."},
    {Rule::kLongLine, "long-line", Severity::kError, "A line is longer than 254 characters.",
     "hexfold reads at most 255 characters at a time, the line feed included, so the rest of a longer "
     "line is read as a line of its own: with status 4 where it does not begin with ':', silently as a "
     "record where it does.",
     "Keep lines to 252 digits (126 bytes) and split longer ones."},
    {Rule::kCarriageReturn, "carriage-return", Severity::kWarning, "A carriage return stands in a line.",
     "hexfold decodes a carriage return as the digit 0: a CR LF line end adds the byte 0x00, or the "
     "low digit 0 of the last byte after an odd number of digits.",
     "Strip the carriage returns: sed 's/\\r$//'."},
    {Rule::kNotHex, "not-hex", Severity::kWarning, "A character is not a hexadecimal digit.",
     "hexfold decodes every character that is not a hexadecimal digit (a space, 'G', a byte of 128 or "
     "more) as 0, and a space after the colon shifts every pair of the line.",
     "Write the line in hexadecimal digits alone."},
    {Rule::kOddDigits, "odd-digits", Severity::kWarning, "A line has an odd number of digits.",
     "hexfold pairs the last digit of an odd count with the line feed or a carriage return, as its low "
     "digit 0, or drops it on a last line without a line feed or before a NUL.",
     "Give every byte both of its digits."},
    {Rule::kNul, "nul", Severity::kWarning, "A NUL stands in a line.",
     "hexfold reads a line up to its first NUL and ignores the rest of it.", "Remove the NUL."},
    {Rule::kTooLarge, "too-large", Severity::kError, "The payload passes 4294967295 bytes.",
     "hexfold stops with status 7 at the line whose bytes would pass the most that the image's 32-bit "
     "header can count.",
     "Split the firmware into images of less than 4 GiB."},
}};

static_assert([] {
    for (std::size_t index = 0; index < kRules.size(); ++index) {
        if (kRules[index].rule != static_cast<Rule>(index)) {
            return false;
        }
    }
    return true;
}());

inline constexpr const RuleInfo &RuleInfoOf(Rule rule)
{
    return kRules[static_cast<std::size_t>(rule)];
}

#endif
