// fuzz_seeds DIR: seeds from the line generator, DIR/conversion_fuzz/ with
// sources of every shape behind the four bytes that choose the blocks and the
// limit, DIR/record_line_fuzz/ with single lines, colon left off, as that
// fuzzer takes them.
#include "record_lines.hpp"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>

namespace fs = std::filesystem;

namespace {

bool WriteSeed(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
    return fs::file_size(path) == bytes.size();
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        return 2;
    }
    const fs::path conversion = fs::path(argv[1]) / "conversion_fuzz";
    const fs::path record_line = fs::path(argv[1]) / "record_line_fuzz";
    fs::remove_all(argv[1]);
    fs::create_directories(conversion);
    fs::create_directories(record_line);
    bool written = true;
    for (std::uint64_t seed = 1; seed <= 12; ++seed) {
        // Block sizes all over their range; every third seed a limit within reach.
        const std::string choice = {static_cast<char>(seed * 83), static_cast<char>(seed),
                                    static_cast<char>(seed * 41),
                                    static_cast<char>(seed % 3 == 0 ? 128 + seed : 0)};
        const std::string lines = GenerateLines({.seed = seed, .size = 3500, .bad_line = seed % 4 == 0});
        written = written && WriteSeed(conversion / ("lines-" + std::to_string(seed)), choice + lines);
    }
    const std::pair<const char *, LineShape> shapes[] = {{"digits42", LineShape::kDigits42},
                                                         {"digits42-nul", LineShape::kDigits42Nul}};
    for (const auto &[name, shape] : shapes) {
        written = written && WriteSeed(conversion / name,
                                       std::string(4, '\0') + GenerateLines({.size = 3500, .shape = shape}));
    }
    const std::string lines = GenerateLines({.size = 40000});
    std::size_t count = 0;
    for (std::size_t at = 0; at < lines.size(); ++count) {
        const std::size_t end = std::min(lines.find('\n', at), lines.size() - 1) + 1;
        written = written && WriteSeed(record_line / ("line-" + std::to_string(count)),
                                       lines.substr(at + 1, end - at - 1));
        at = end;
    }
    return written ? 0 : 1;
}
