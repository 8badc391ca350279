#pragma once
// Where both programs find their files.
//
// The install directory comes from the install file, /etc/KOR/Nerivale.ini
// (or the file named by $NERIVALE_CONF), section [Nerivale]: InstallDir,
// Version and CommonAppData (default /var/lib), and for the manager
// CarrierListServer, SubmitFrom and SubmitTo. Without the file, or with an
// empty InstallDir, it is the program's own folder.
//
// The data directory is the install directory when that holds Config.Dat, else
// <CommonAppData>/KOR/Nerivale/Users/All Users, whose levels are created one by
// one when missing. A level that cannot be created is an error, never a silent
// fall-back.
#include <filesystem>
#include <stdexcept>
#include <string>

namespace nv {

inline constexpr const char* kInstallConfEnv = "NERIVALE_CONF";
inline constexpr const char* kInstallConfPath = "/etc/KOR/Nerivale.ini";
inline constexpr const char* kInstallSection = "Nerivale";
inline constexpr const char* kDefaultCommonAppData = "/var/lib";

// File names in the data directory (one canonical spelling; look-ups of
// existing files ignore case). Config.Dat's is kConfigFileName in ConfigFile.h.
inline constexpr const char* kProviderFileName = "Provider.dat";
inline constexpr const char* kPortsFileName = "Ports.dat";
inline constexpr const char* kRouteFileName = "NpaNxxRoute.dat";
inline constexpr const char* kUsersFileName = "Users.dat";
inline constexpr const char* kGroupsFileName = "Groups.dat";
inline constexpr const char* kLogFileName = "Log.Dat";
inline constexpr const char* kLogArchiveDirName = "logs";
inline constexpr const char* kModemsFileName = "Modems.ini";

// The data directory, or one of its levels, could not be created.
class DataDirectoryError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct InstallSettings {
    std::filesystem::path installDir;
    std::string version;
    std::filesystem::path commonAppData;
    // Addresses of the manager's carrier services; empty when not configured.
    std::string carrierListServer;  // base URL of the carrier list server (http:// or https://)
    std::string submitFrom;         // sender of the carrier-update mail
    std::string submitTo;           // recipient of the carrier-update mail
    std::filesystem::path installFile;  // the install file read (or looked for)
    bool installDirFromFile = false;    // InstallDir came from it (else the program's folder)
};

// $NERIVALE_CONF when set and not empty, else /etc/KOR/Nerivale.ini.
std::filesystem::path installFilePath();
// Reads installFilePath().
InstallSettings readInstallSettings(const std::filesystem::path& programDir);
// Reads `confFile`; a missing or unreadable file gives programDir and /var/lib.
InstallSettings readInstallSettingsFrom(const std::filesystem::path& confFile,
                                        const std::filesystem::path& programDir);

// The data directory by the rule above, creating the common levels when they
// are missing. Throws DataDirectoryError naming the level and the reason.
std::filesystem::path findDataDirectory(const InstallSettings& settings);

// True when the install directory holds Config.Dat (the rule's first branch).
bool installDirHoldsConfig(const InstallSettings& settings);

// The same rule without creating anything (for a check before the first start).
std::filesystem::path dataDirectoryFor(const InstallSettings& settings);

// The folder of the running program (/proc/self/exe), or the current folder
// when that cannot be read.
std::filesystem::path programDirectory();

}  // namespace nv
