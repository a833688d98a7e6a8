// Record lines from a seed, for every test that needs lines of every shape:
// the same seed and size give the same bytes on every machine, since only
// 64-bit integer arithmetic of its own decides them.
#ifndef HEXFOLD_RECORD_LINES_HPP
#define HEXFOLD_RECORD_LINES_HPP

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

enum class LineShape {
    // Lines that convert (a bad line only when asked for): ':' and 0 to 253
    // digits, either case; CR LF; a NUL inside; characters that are not
    // digits (space, 'G', bytes from 128 up, any but NUL and LF); a line of
    // 254 digits whose next piece is the next line; and a last line without
    // a line feed. Lines of every length from 2 to 255 characters, line end
    // included, occur in the first MiB.
    kMixed,
    kDigits42,    // lines of 43 characters and a LF: ':' and 42 pseudo-random upper-case digits
    kDigits42Nul, // the same digits with a NUL before each LF
};

struct LinesRequest {
    std::uint64_t seed = 1;
    std::size_t size = std::size_t{1} << 20U; // lines are written until they reach it
    LineShape shape = LineShape::kMixed;
    // Mixed only: one line that makes a piece not begin with ':' (an empty
    // line, another first character, 254 digits or more, 253 before a CR)
    // at a place the seed picks; the lines before it are those of the same
    // request without it.
    bool bad_line = false;
};

// splitmix64: every bit of the state reaches the output in a few steps.
struct LineRandom {
    std::uint64_t state = 0;
};

inline std::uint64_t NextRandom(LineRandom &random)
{
    random.state += 0x9E3779B97F4A7C15U;
    std::uint64_t z = random.state;
    z = (z ^ (z >> 30U)) * 0xBF58476D1CE4E5B9U;
    z = (z ^ (z >> 27U)) * 0x94D049BB133111EBU;
    return z ^ (z >> 31U);
}

// In 64 bits, so that a 32-bit size_t draws the same numbers.
inline std::size_t RandomBelow(LineRandom &random, std::size_t bound)
{
    return static_cast<std::size_t>(NextRandom(random) % std::uint64_t{bound});
}

inline void AppendDigits(LineRandom &random, std::size_t count, std::string &line)
{
    constexpr std::string_view kDigits = "0123456789abcdefABCDEF";
    for (std::size_t k = 0; k < count; ++k) {
        line += kDigits[RandomBelow(random, kDigits.size())];
    }
}

// Any byte but a line feed, and a NUL only when allowed.
inline char RandomCharacter(LineRandom &random, bool nul)
{
    for (;;) {
        const auto ch = static_cast<char>(RandomBelow(random, 256));
        if (ch != '\n' && (nul || ch != '\0')) {
            return ch;
        }
    }
}

// The kinds of a mixed source's good lines, each once a round in an order
// the seed shuffles; plain lines come most often, as in real files.
enum class MixedLine {
    kPlain,
    kPlainEveryCount, // over 254 rounds, every count of digits from 0 to 253
    kShort,
    kDigits42,
    kCrLf,
    kNul,
    kNonDigits,
    kLongest,      // 255 characters with their line end, LF or CR LF
    kSplitAtColon, // 254 digits without a line end
};

inline constexpr std::array<MixedLine, 13> kMixedRound = {
    MixedLine::kPlain,        MixedLine::kPlain, MixedLine::kPlain,     MixedLine::kPlainEveryCount,
    MixedLine::kShort,        MixedLine::kShort, MixedLine::kDigits42,  MixedLine::kDigits42,
    MixedLine::kCrLf,         MixedLine::kNul,   MixedLine::kNonDigits, MixedLine::kLongest,
    MixedLine::kSplitAtColon,
};

inline void AppendMixedLine(LineRandom &random, MixedLine kind, std::size_t round, std::string &line)
{
    line += ':';
    switch (kind) {
    case MixedLine::kPlain:
        AppendDigits(random, RandomBelow(random, 254), line);
        break;
    case MixedLine::kPlainEveryCount:
        // 97 and 254 are coprime: round after round the counts spread out.
        AppendDigits(random, round * 97 % 254, line);
        break;
    case MixedLine::kShort:
        AppendDigits(random, RandomBelow(random, 8), line);
        break;
    case MixedLine::kDigits42:
        AppendDigits(random, 42, line);
        break;
    case MixedLine::kCrLf:
        AppendDigits(random, RandomBelow(random, 253), line);
        line += '\r';
        break;
    case MixedLine::kNul: {
        const std::size_t before = RandomBelow(random, 253);
        AppendDigits(random, before, line);
        line += '\0';
        for (std::size_t after = RandomBelow(random, 253 - before); after != 0; --after) {
            line += RandomCharacter(random, true);
        }
        break;
    }
    case MixedLine::kNonDigits:
        for (std::size_t count = RandomBelow(random, 254); count != 0; --count) {
            if (RandomBelow(random, 2) == 0) {
                AppendDigits(random, 1, line);
            } else {
                line += RandomCharacter(random, false);
            }
        }
        break;
    case MixedLine::kLongest:
        if (RandomBelow(random, 2) == 0) {
            AppendDigits(random, 253, line);
        } else {
            AppendDigits(random, 252, line);
            line += '\r';
        }
        break;
    case MixedLine::kSplitAtColon:
        AppendDigits(random, 254, line);
        return;
    }
    line += '\n';
}

inline void AppendBadLine(LineRandom &random, std::string &line)
{
    switch (RandomBelow(random, 4)) {
    case 0:
        line += '\n';
        return;
    case 1:
        line += " 0G#\r\xC0"[RandomBelow(random, 6)];
        line += ':';
        AppendDigits(random, RandomBelow(random, 40), line);
        break;
    case 2:
        line += ':';
        AppendDigits(random, 254 + RandomBelow(random, 101), line);
        break;
    default:
        line += ':';
        AppendDigits(random, 253, line);
        line += '\r';
        break;
    }
    line += '\n';
}

inline void AppendDigits42(LineRandom &random, bool nul, std::string &line)
{
    constexpr std::string_view kUpperDigits = "0123456789ABCDEF";
    line += ':';
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < 42; ++k) {
        // Sixteen digits to a draw.
        if (k % 16 == 0) {
            bits = NextRandom(random);
        }
        line += kUpperDigits[bits & 0xFU];
        bits >>= 4U;
    }
    if (nul) {
        line += '\0';
    }
    line += '\n';
}

// Hands the lines to sink in chunks of about 64 KiB, as std::string_view.
template <typename Sink> void GenerateLines(const LinesRequest &request, Sink &&sink)
{
    constexpr std::size_t kChunk = std::size_t{64} * 1024;
    LineRandom random{request.seed};
    // Drawn apart, so that a bad line leaves the others as they were.
    LineRandom bad_random{request.seed ^ 0x5BAD5BAD5BAD5BADU};
    const std::size_t bad_at = request.size == 0 ? 0 : RandomBelow(bad_random, request.size);
    bool bad_line = request.bad_line && request.shape == LineShape::kMixed;
    std::array<MixedLine, kMixedRound.size()> round{};
    std::size_t round_count = 0;
    std::size_t in_round = round.size();
    std::size_t written = 0;
    std::string chunk;
    while (written < request.size) {
        const std::size_t before = chunk.size();
        if (request.shape != LineShape::kMixed) {
            AppendDigits42(random, request.shape == LineShape::kDigits42Nul, chunk);
        } else if (bad_line && written >= bad_at) {
            AppendBadLine(bad_random, chunk);
            bad_line = false;
        } else {
            if (in_round == round.size()) {
                // Fisher-Yates, with draws of its own.
                round = kMixedRound;
                for (std::size_t k = round.size() - 1; k > 0; --k) {
                    std::swap(round[k], round[RandomBelow(random, k + 1)]);
                }
                in_round = 0;
                ++round_count;
            }
            AppendMixedLine(random, round[in_round++], round_count, chunk);
        }
        written += chunk.size() - before;
        if (chunk.size() >= kChunk) {
            sink(std::string_view(chunk));
            chunk.clear();
        }
    }
    if (request.shape == LineShape::kMixed) {
        chunk += ':';
        AppendDigits(random, RandomBelow(random, 255), chunk);
    }
    sink(std::string_view(chunk));
}

inline std::string GenerateLines(const LinesRequest &request)
{
    std::string lines;
    GenerateLines(request, [&lines](std::string_view chunk) { lines += chunk; });
    return lines;
}

#endif
