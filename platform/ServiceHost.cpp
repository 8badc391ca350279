#include "platform/ServiceHost.h"

#include <spawn.h>
#include <sys/wait.h>
#include <syslog.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "foundation/FileUtil.h"
#include "foundation/Win1252.h"
#include "platform/ServiceAccount.h"

extern char** environ;

namespace nv {
namespace fs = std::filesystem;

namespace {

// A path as one word of a unit file: quoted when it holds a blank, a quote or a
// backslash; "%" is a specifier and "$" (ExecStart only) a variable, so both are doubled.
std::string unitWord(const fs::path& path, bool command) {
    const std::string& p = path.native();
    bool quote = p.find_first_of(" \t\"'\\") != std::string::npos;
    std::string out = quote ? "\"" : "";
    for (char c : p) {
        if (c == '%') out += '%';
        if (c == '$' && command) out += '$';
        if (quote && (c == '"' || c == '\\')) out += '\\';
        out += c;
    }
    if (quote) out += '"';
    return out;
}

// The sandbox. Every directive here was checked against what the gateway does:
// serial lines and modems, TCP/TLS to carriers, Unix sockets to the manager,
// syslog, files in the data directory only.
constexpr const char* kHardening =
    "NoNewPrivileges=yes\n"
    "CapabilityBoundingSet=\n"
    "AmbientCapabilities=\n"
    "ProtectSystem=strict\n"
    "PrivateTmp=yes\n"
    "PrivateMounts=yes\n"
    "ProtectHome=yes\n"
    "ProtectKernelTunables=yes\n"
    "ProtectKernelModules=yes\n"
    "ProtectKernelLogs=yes\n"
    "ProtectControlGroups=yes\n"
    "ProtectClock=yes\n"
    "ProtectHostname=yes\n"
    "ProtectProc=invisible\n"
    "ProcSubset=pid\n"
    "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6\n"
    "RestrictNamespaces=yes\n"
    "RestrictRealtime=yes\n"
    "RestrictSUIDSGID=yes\n"
    "LockPersonality=yes\n"
    "MemoryDenyWriteExecute=yes\n"
    "RemoveIPC=yes\n"
    "KeyringMode=private\n"
    "SystemCallArchitectures=native\n"
    "SystemCallFilter=@system-service\n"
    "SystemCallFilter=~@privileged @resources\n"
    // A refused call fails with EPERM instead of killing the service: keeping a
    // rewritten file's group (fchown) is allowed to fail that way.
    "SystemCallErrorNumber=EPERM\n"
    // Serial ports, USB serial adapters, USB modems, and ptys (a serial line
    // bridged by another program). A USB adapter whose driver loads only after the
    // service started is reached after a restart of the service.
    "DevicePolicy=closed\n"
    "DeviceAllow=char-ttyS rw\n"
    "DeviceAllow=char-ttyUSB rw\n"
    "DeviceAllow=char-ttyACM rw\n"
    "DeviceAllow=char-pts rw\n"
    "# Left out, because the gateway needs what they take away:\n"
    "# PrivateDevices= hides the serial lines and modems in /dev.\n"
    "# PrivateNetwork=, IPAddressDeny= cut the carriers' servers off, which may be anywhere.\n"
    "# PrivateUsers= does not map the dialout group, so the serial lines could not be opened.\n"
    "# RootDirectory= would lose the CA store, the resolver and the time zone of the host.\n";

}  // namespace

std::string unitFileText(const ServiceUnitOptions& o) {
    std::string t;
    t += "# Nerivale Server (" + std::string(kServiceDisplayName) + ")\n";
    t += "[Unit]\n";
    t += "Description=" + std::string(kServiceDescription) + "\n";
    t += "After=network-online.target\n";
    t += "Wants=network-online.target\n\n";
    t += "[Service]\n";
    t += "Type=simple\n";
    t += "ExecStart=" + unitWord(o.execPath, true) + "\n";
    t += "User=" + o.user + "\n";
    t += "Group=" + o.group + "\n";
    // A named logon reaches the serial lines too, member of dialout or not.
    t += "SupplementaryGroups=" + std::string(kSerialGroup) + "\n";
    // Files made by the service stay the group's (the data directory is set-group-id).
    t += "UMask=0007\n";
    t += "ReadWritePaths=" + unitWord(o.dataDir, false) + "\n";
    // Each command socket client, serial line, carrier connection and page worker
    // holds a descriptor or two; the socket's own cap on waiting clients is far
    // below this, so a flood is refused there and deliveries keep their room.
    t += "LimitNOFILE=" + std::to_string(kServiceFileLimit) + "\n";
    // Every wait of the engine polls its stop flag, but a dial or a carrier reply
    // in progress may still take its time-out before the threads are joined.
    t += "TimeoutStopSec=90\n";
    t += kHardening;
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

namespace {

bool hasControlCharacter(const std::string& text) {
    return std::any_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; });
}

// One systemctl call; false with the step named in `error`.
bool systemctlStep(const std::vector<std::string>& args, std::string& error) {
    int rc = runProgram("systemctl", args);
    if (rc == 0) return true;
    std::string step = "systemctl";
    for (const auto& a : args) step += " " + a;
    error = rc < 0 ? "\"" + step + "\" could not be run" : "\"" + step + "\" failed (exit status " + std::to_string(rc) + ")";
    return false;
}

}  // namespace

bool isAccountName(const std::string& name) {
    if (name.empty() || name.size() > 32 || name.front() == '-') return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        bool plain = std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
        // Samba's machine accounts end in "$".
        if (!plain && !(c == '$' && i + 1 == name.size())) return false;
    }
    return true;
}

bool installServiceUnit(const ServiceUnitOptions& options, SystemAccounts& accounts, std::string& error) {
    if (!isAccountName(options.user) || !isAccountName(options.group)) {
        error = "Not an account name: \"" + (isAccountName(options.user) ? options.group : options.user) + "\"";
        return false;
    }
    for (const fs::path* p : {&options.execPath, &options.dataDir}) {
        if (!p->is_absolute() || hasControlCharacter(p->native())) {
            error = "A unit cannot name this path: \"" + p->string() + "\"";
            return false;
        }
    }
    auto ids = prepareServiceAccount(accounts, options.user, options.dataDir, error);
    if (!ids || !prepareDataDirectory(options.dataDir, *ids, options.execPath, error)) return false;
    fs::path unit = serviceUnitDirectory() / kServiceUnitName;
    // "Apply Changes" rewrites an installed unit; a failure puts its old text back.
    std::string previous;
    bool hadUnit = readWholeFile(unit, previous);
    std::string why;
    if (!writeFileAtomic(unit, unitFileText(options), 0644, &why)) {
        error = "Writing " + unit.string() + " failed: " + why;
        return false;
    }
    bool reloaded = systemctlStep({"daemon-reload"}, error);
    if (reloaded && systemctlStep({"enable", kServiceUnitName}, error)) return true;
    // A failed enable may have left some of its links behind.
    if (reloaded && !hadUnit) runProgram("systemctl", {"disable", kServiceUnitName});
    std::error_code ec;
    bool undone = hadUnit ? writeFileAtomic(unit, previous, 0644) : (fs::remove(unit, ec), !fs::exists(unit, ec));
    runProgram("systemctl", {"daemon-reload"});
    if (!undone)
        error += "; " + unit.string() + " could not be taken back";
    else
        error += hadUnit ? "; the unit's previous text was put back" : "; the unit was removed again";
    return false;
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
