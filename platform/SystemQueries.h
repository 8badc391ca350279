#pragma once
// The operating-system queries of the programs' start-up, with their Linux
// meaning: the special folder is the configured common-data root, the version
// of our own programs is compiled in, and no process runs under Wow64.
#include <cstdint>
#include <filesystem>
#include <string>

namespace nv {

// Folder identifier of the all-users application data folder.
constexpr int kCSIDL_COMMON_APPDATA = 35;
constexpr int kS_OK = 0;
constexpr int kE_INVALIDARG = static_cast<int>(0x80070057u);
constexpr int kE_UNEXPECTED = static_cast<int>(0x8000FFFFu);

// Folder kCSIDL_COMMON_APPDATA: Path := commonAppData followed by "/", result
// kS_OK. Any other folder: kE_INVALIDARG; an empty root: kE_UNEXPECTED; Path
// unchanged on failure.
int GetSpecialFolderPath(const std::filesystem::path& commonAppData, int Folder, std::string& Path);
// The same with the root the install file names (CommonAppData, default /var/lib).
int GetSpecialFolderPath(int Folder, std::string& Path);

// The version of one of our own programs (ZQSvc, ZQSCM, ZQTester, or the
// running program itself): the compiled-in version. False (outputs untouched)
// for any other file. Null outputs are skipped.
bool GetFileVersion(const std::string& FileName, std::uint16_t* Major, std::uint16_t* Minor,
                    std::uint16_t* Release, std::uint16_t* Build);
// "Major.Minor.Release.Build", or "0.0.0.0" when GetFileVersion fails.
std::string GetFileVersionStr(const std::string& FileName);

// Always false here; Msg := "Process is NOT running on Wow64".
bool IsWow64(std::string& Msg);

}  // namespace nv
