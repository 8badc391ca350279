#pragma once
// The service host: the systemd unit that stands in for the Windows service
// registration, and syslog in place of the event log. The manager installs the
// same unit through unitFileText(), so both ways of installing agree.
#include <filesystem>
#include <string>
#include <vector>

namespace nv {

inline constexpr const char* kServiceName = "Nerivale";
inline constexpr const char* kServiceUnitName = "nerivale.service";
inline constexpr const char* kServiceDescription = "Neri Vale";
inline constexpr const char* kServiceDisplayName = "QX TAP Gateway";

struct ServiceUnitOptions {
    std::filesystem::path execPath;  // absolute path of ZQSvc
    std::string user;                // empty: the default account (root)
    std::string group;               // empty: the user's group; owns the pipe sockets
};

std::string unitFileText(const ServiceUnitOptions& options);

// Where units are written: $NERIVALE_UNIT_DIR when set (tests), else /etc/systemd/system.
std::filesystem::path serviceUnitDirectory();

// Write or remove the unit, then tell systemd (`systemctl daemon-reload`, `enable` /
// `disable`). The systemctl found on PATH is used. False with a reason on failure.
bool installServiceUnit(const ServiceUnitOptions& options, std::string& error);
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
