#pragma once
// The service host: the systemd unit that stands in for the Windows service
// registration, and syslog in place of the event log. `ZQSvc INSTALL` is the one
// way to install (the manager runs it through its privileged runner), so the
// unit text has a single writer.
#include <filesystem>
#include <string>
#include <vector>

namespace nv {

class SystemAccounts;

inline constexpr const char* kServiceName = "Nerivale";
inline constexpr const char* kServiceUnitName = "nerivale.service";
inline constexpr const char* kServiceDescription = "Neri Vale";
inline constexpr const char* kServiceDisplayName = "QX TAP Gateway";
// The default logon: a system user, and the group that shares the data
// directory with the operators.
inline constexpr const char* kServiceAccount = "nerivale";
// The group of the serial lines and modems.
inline constexpr const char* kSerialGroup = "dialout";
// Open files allowed to the service; see unitFileText().
inline constexpr int kServiceFileLimit = 4096;

struct ServiceUnitOptions {
    std::filesystem::path execPath;       // absolute path of ZQSvc
    std::filesystem::path dataDir;        // the only folder the service may write
    std::string user = kServiceAccount;   // a named logon replaces it
    std::string group = kServiceAccount;  // always kept: it owns the data directory
};

// The hardened unit. Paths are quoted for systemd; they must hold no control
// characters (installServiceUnit refuses those).
std::string unitFileText(const ServiceUnitOptions& options);

// A user or group name that may stand in a unit and on a useradd command line.
bool isAccountName(const std::string& name);

// Where units are written: $NERIVALE_UNIT_DIR when set (tests), else /etc/systemd/system.
std::filesystem::path serviceUnitDirectory();

// Install: the account and the data directory (platform/ServiceAccount.h), the
// unit, `systemctl daemon-reload` and `enable`. Uninstall: `disable`, the unit
// removed, `daemon-reload`; the account, the group and the data directory stay.
// The systemctl found on PATH is used. False with a reason: a failed step is
// named in `error`, and the unit written is taken back (a rewritten unit gets
// its old text again), so systemd never keeps a half-done installation. An
// account made on the way stays; the next install finds it.
bool installServiceUnit(const ServiceUnitOptions& options, SystemAccounts& accounts, std::string& error);
bool uninstallServiceUnit(std::string& error);

// Runs a program from PATH with arguments and waits; its exit status, -1 when it
// could not run.
int runProgram(const std::string& program, const std::vector<std::string>& args);

// Syslog under the service name. Texts are Windows-1252 and leave as UTF-8.
class SysLog {
public:
    SysLog();
    ~SysLog();
    SysLog(const SysLog&) = delete;
    SysLog& operator=(const SysLog&) = delete;
    void info(const std::string& text);
    void error(const std::string& text);
};

}  // namespace nv
