#include "platform/SystemQueries.h"

#include <array>
#include <charconv>
#include <system_error>

#include "foundation/FileUtil.h"
#include "platform/DataDirectory.h"

#ifndef NV_VERSION_STRING
#define NV_VERSION_STRING "0.0.0.0"
#endif

namespace nv {
namespace fs = std::filesystem;

namespace {

const std::array<const char*, 3> kOwnPrograms = {"ZQSvc", "ZQSCM", "ZQTester"};

bool isOwnProgram(const std::string& fileName) {
    if (fileName.empty()) return false;
    fs::path p(fileName);
    std::string stem = p.stem().string();
    // Windows-made texts may still name "ZQSvc.exe".
    for (const char* name : kOwnPrograms) {
        if (equalsNoCase(p.filename().string(), name) || equalsNoCase(stem, name)) return true;
    }
    std::error_code ec;
    fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (ec) return false;
    return fs::equivalent(p, self, ec) && !ec;
}

// "1.0.0.0" into four words; false when malformed.
bool parseVersion(const std::string& text, std::array<std::uint16_t, 4>& out) {
    const char* p = text.data();
    const char* end = p + text.size();
    for (std::size_t i = 0; i < out.size(); ++i) {
        auto [next, ec] = std::from_chars(p, end, out[i]);
        if (ec != std::errc()) return false;
        p = next;
        if (i + 1 < out.size()) {
            if (p == end || *p != '.') return false;
            ++p;
        }
    }
    return p == end;
}

}  // namespace

int GetSpecialFolderPath(const fs::path& commonAppData, int Folder, std::string& Path) {
    if (Folder != kCSIDL_COMMON_APPDATA) return kE_INVALIDARG;
    if (commonAppData.empty()) return kE_UNEXPECTED;
    std::string root = commonAppData.string();
    if (root.back() != '/') root += '/';
    Path = root;
    return kS_OK;
}

int GetSpecialFolderPath(int Folder, std::string& Path) {
    return GetSpecialFolderPath(readInstallSettings(programDirectory()).commonAppData, Folder, Path);
}

bool GetFileVersion(const std::string& FileName, std::uint16_t* Major, std::uint16_t* Minor,
                    std::uint16_t* Release, std::uint16_t* Build) {
    if (!isOwnProgram(FileName)) return false;
    std::array<std::uint16_t, 4> v{};
    if (!parseVersion(NV_VERSION_STRING, v)) return false;
    if (Major) *Major = v[0];
    if (Minor) *Minor = v[1];
    if (Release) *Release = v[2];
    if (Build) *Build = v[3];
    return true;
}

std::string GetFileVersionStr(const std::string& FileName) {
    std::uint16_t a = 0, b = 0, c = 0, d = 0;
    if (!GetFileVersion(FileName, &a, &b, &c, &d)) return "0.0.0.0";
    return std::to_string(a) + "." + std::to_string(b) + "." + std::to_string(c) + "." +
           std::to_string(d);
}

bool IsWow64(std::string& Msg) {
    Msg = "Process is NOT running on Wow64";
    return false;
}

}  // namespace nv
