#pragma once
// One scratch file per fuzz process, for parsers that only read from a path.
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace nv::fuzz {

inline std::filesystem::path scratchFile(std::string_view name, std::string_view contents) {
    static const std::filesystem::path dir = [] {
        std::string templ = (std::filesystem::temp_directory_path() / "nv-fuzz-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        return std::filesystem::path(templ);
    }();
    const std::filesystem::path path = dir / std::string(name);
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        .write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return path;
}

}  // namespace nv::fuzz
