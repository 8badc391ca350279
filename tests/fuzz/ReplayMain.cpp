// Without libFuzzer the fuzz targets are built into replay programs: each file
// of the folders (or the files) named on the command line goes once through
// LLVMFuzzerTestOneInput. CTest runs them over the seed corpus and the kept
// reproducers, so every crash or broken invariant found once stays fixed.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/fuzz/FuzzSupport.h"

namespace fs = std::filesystem;

namespace {

bool replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", file.c_str());
        return false;
    }
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<fs::path> files;
    for (int i = 1; i < argc; ++i) {
        const fs::path arg = argv[i];
        if (fs::is_directory(arg)) {
            for (const auto& e : fs::recursive_directory_iterator(arg))
                if (e.is_regular_file()) files.push_back(e.path());
        } else {
            files.push_back(arg);
        }
    }
    if (files.empty()) {
        std::fprintf(stderr, "no inputs to replay\n");
        return 1;
    }
    int bad = 0;
    for (const fs::path& f : files)
        if (!replay(f)) ++bad;
    std::printf("replayed %zu inputs\n", files.size() - static_cast<std::size_t>(bad));
    return bad == 0 ? 0 : 1;
}
