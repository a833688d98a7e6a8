// hexfold-lines [--seed=N] [--size=BYTES] [--shape=mixed|digits42|digits42-nul]:
// record_lines.hpp's lines on standard output, for scripts.
#include "record_lines.hpp"

#include <cstdio>
#include <string_view>

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
