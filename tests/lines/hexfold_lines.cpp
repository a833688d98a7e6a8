// hexfold-lines [--seed=N] [--size=BYTES] [--shape=mixed|digits42|digits42-nul]:
// record_lines.hpp's lines on standard output, for scripts.
#include "record_lines.hpp"

#include <array>
#include <charconv>
#include <cstdio>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

// One of hexfold-lines' arguments (--seed=N, --size=BYTES,
// --shape=mixed|digits42|digits42-nul) into request; false when it is none
// of them or its value does not parse whole.
bool ParseLinesArgument(std::string_view argument, LinesRequest &request)
{
    const auto number = [&argument](std::string_view option, auto &value) {
        if (!argument.starts_with(option)) {
            return false;
        }
        const std::string_view digits = argument.substr(option.size());
        const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
        return !digits.empty() && error == std::errc{} && end == digits.data() + digits.size();
    };
    if (number("--seed=", request.seed) || number("--size=", request.size)) {
        return true;
    }
    const std::array<std::pair<std::string_view, LineShape>, 3> shapes = {{
        {"--shape=mixed", LineShape::kMixed},
        {"--shape=digits42", LineShape::kDigits42},
        {"--shape=digits42-nul", LineShape::kDigits42Nul},
    }};
    for (const auto &[name, shape] : shapes) {
        if (argument == name) {
            request.shape = shape;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    LinesRequest request;
    for (int k = 1; k < argc; ++k) {
        if (!ParseLinesArgument(argv[k], request)) {
            (void)std::fprintf(stderr, "usage : hexfold-lines [--seed=N] [--size=BYTES] "
                                       "[--shape=mixed|digits42|digits42-nul]\n");
            return 2;
        }
    }
    bool written = true;
    GenerateLines(request, [&written](std::string_view chunk) {
        written = written && std::fwrite(chunk.data(), 1, chunk.size(), stdout) == chunk.size();
    });
    return written && std::fflush(stdout) == 0 ? 0 : 1;
}
