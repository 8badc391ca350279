#include "platform/DataDirectory.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "foundation/ConfigFile.h"
#include "foundation/FileUtil.h"
#include "foundation/ProfileFile.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

// The levels under the common application data folder, created one by one.
constexpr const char* kDataLevels[] = {"KOR", "Nerivale", "Users", "All Users"};

fs::path commonDataDirectory(const InstallSettings& s) {
    fs::path dir = s.commonAppData;
    for (const char* level : kDataLevels) dir /= level;
    return dir;
}

}  // namespace

bool installDirHoldsConfig(const InstallSettings& s) {
    if (s.installDir.empty()) return false;
    auto found = findFileNoCase(s.installDir, kConfigFileName);
    std::error_code ec;
    return found && fs::is_regular_file(*found, ec);
}

InstallSettings readInstallSettingsFrom(const fs::path& confFile, const fs::path& programDir) {
    ProfileSnapshot ini = ProfileSnapshot::load(confFile);
    InstallSettings s;
    s.installFile = confFile;
    // An empty value counts as a missing one, as the empty default value of the
    // registry key of the Windows version did.
    std::string install = ini.readString(kInstallSection, "InstallDir", "");
    s.installDir = install.empty() ? programDir : fs::path(install);
    s.installDirFromFile = !install.empty();
    s.version = ini.readString(kInstallSection, "Version", "");
    std::string common = ini.readString(kInstallSection, "CommonAppData", "");
    s.commonAppData = common.empty() ? fs::path(kDefaultCommonAppData) : fs::path(common);
    s.carrierListServer = ini.readString(kInstallSection, "CarrierListServer", "");
    s.submitFrom = ini.readString(kInstallSection, "SubmitFrom", "");
    s.submitTo = ini.readString(kInstallSection, "SubmitTo", "");
    return s;
}

fs::path installFilePath() {
    const char* env = std::getenv(kInstallConfEnv);
    return (env && *env) ? fs::path(env) : fs::path(kInstallConfPath);
}

InstallSettings readInstallSettings(const fs::path& programDir) {
    return readInstallSettingsFrom(installFilePath(), programDir);
}

fs::path dataDirectoryFor(const InstallSettings& settings) {
    if (installDirHoldsConfig(settings)) return settings.installDir;
    return commonDataDirectory(settings);
}

fs::path findDataDirectory(const InstallSettings& settings) {
    if (installDirHoldsConfig(settings)) return settings.installDir;
    fs::path dir = settings.commonAppData;
    for (const char* level : kDataLevels) {
        dir /= level;
        if (::mkdir(dir.c_str(), 0775) == 0) continue;
        int err = errno;
        struct stat st {};
        if (err == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
        if (err == EEXIST) err = ENOTDIR;
        throw DataDirectoryError("Unable to create data directory " + dir.string() + ": " +
                                 std::strerror(err));
    }
    return dir;
}

fs::path programDirectory() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (!ec && !exe.empty()) return exe.parent_path();
    fs::path cwd = fs::current_path(ec);
    return ec ? fs::path(".") : cwd;
}

}  // namespace nv
