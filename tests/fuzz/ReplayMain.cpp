// Runs a fuzz target over files instead of under libFuzzer: every file named,
// and every file in every folder named, in name order. Built with any
// compiler, so the committed corpus is checked by every build. A broken
// invariant aborts; an empty corpus, or one that never reaches the
// situations the target checks, fails too.
#include "tests/fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

std::vector<std::uint8_t> readFile(const std::filesystem::path& path)
{
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

} // namespace

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const fs::path given(argv[i]);
        if (fs::is_directory(given)) {
            for (const auto& entry : fs::directory_iterator(given))
                if (entry.is_regular_file())
                    inputs.push_back(entry.path());
        } else if (fs::is_regular_file(given)) {
            inputs.push_back(given);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", argv[i]);
            return 2;
        }
    }
    std::sort(inputs.begin(), inputs.end());
    if (inputs.empty()) {
        std::fprintf(stderr, "usage: %s corpus-folder-or-file...  (found no input)\n", argv[0]);
        return 2;
    }

    for (const fs::path& path : inputs) {
        isp::fuzz::currentInputName() = path.string();
        const std::vector<std::uint8_t> data = readFile(path);
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    isp::fuzz::currentInputName().clear();
    std::printf("%zu inputs replayed, every invariant held\n", inputs.size());
    if (!isp::fuzz::replaySummary()) {
        std::fprintf(
            stderr, "the corpus does not reach every situation the target checks; add seeds for the missing ones\n");
        return 1;
    }
    return 0;
}
