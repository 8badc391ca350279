#include "platform/ServiceHost.h"

#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>

#include <cstdlib>

#include "foundation/FileUtil.h"
#include "foundation/Win1252.h"

extern char** environ;

namespace nv {
namespace fs = std::filesystem;

std::string unitFileText(const ServiceUnitOptions& o) {
    std::string t;
    t += "# Nerivale Server (" + std::string(kServiceDisplayName) + ")\n";
    t += "[Unit]\n";
    t += "Description=" + std::string(kServiceDescription) + "\n";
    t += "After=network-online.target\n";
    t += "Wants=network-online.target\n\n";
    t += "[Service]\n";
    t += "Type=simple\n";
    t += "ExecStart=" + o.execPath.string() + "\n";
    if (!o.user.empty()) t += "User=" + o.user + "\n";
    if (!o.group.empty()) t += "Group=" + o.group + "\n";
    // Every wait of the engine polls its stop flag, but a dial or a carrier reply
    // in progress may still take its time-out before the threads are joined.
    t += "TimeoutStopSec=90\n";
    t += "\n";
    t += "[Install]\n";
    t += "WantedBy=multi-user.target\n";
    return t;
}

fs::path serviceUnitDirectory() {
    if (const char* dir = std::getenv("NERIVALE_UNIT_DIR"); dir && *dir) return dir;
    return "/etc/systemd/system";
}

int runProgram(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (::posix_spawnp(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool installServiceUnit(const ServiceUnitOptions& options, std::string& error) {
    fs::path unit = serviceUnitDirectory() / kServiceUnitName;
    if (!writeFileAtomic(unit, unitFileText(options), 0644, &error)) return false;
    if (runProgram("systemctl", {"daemon-reload"}) != 0) {
        error = "systemctl daemon-reload failed";
        return false;
    }
    if (runProgram("systemctl", {"enable", kServiceUnitName}) != 0) {
        error = "systemctl enable failed";
        return false;
    }
    return true;
}

bool uninstallServiceUnit(std::string& error) {
    fs::path unit = serviceUnitDirectory() / kServiceUnitName;
    std::error_code ec;
    if (!fs::exists(unit, ec)) {
        error = "The service is not installed: " + unit.string();
        return false;
    }
    // Disabling an installed unit can only fail when systemd is not there; the
    // unit file still goes, so nothing is left half installed.
    bool disabled = runProgram("systemctl", {"disable", kServiceUnitName}) == 0;
    if (!fs::remove(unit, ec)) {
        error = "Cannot remove " + unit.string() + ": " + ec.message();
        return false;
    }
    runProgram("systemctl", {"daemon-reload"});
    if (!disabled) {
        error = "systemctl disable failed";
        return false;
    }
    return true;
}

SysLog::SysLog() { ::openlog(kServiceName, LOG_PID, LOG_DAEMON); }

SysLog::~SysLog() { ::closelog(); }

void SysLog::info(const std::string& text) {
    ::syslog(LOG_INFO, "%s", cp1252ToUtf8(text).c_str());
}

void SysLog::error(const std::string& text) {
    ::syslog(LOG_ERR, "%s", cp1252ToUtf8(text).c_str());
}

}  // namespace nv
