#include "service/ZQSvcMainFrm.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>

#include "foundation/FileUtil.h"
#include "foundation/Win1252.h"
#include "platform/DataDirectory.h"
#include "platform/EventLoop.h"
#include "platform/ServiceAccount.h"
#include "platform/ServiceHost.h"
#include "protocols/ModemConfig.h"
#include "service/SrvcMainFrm.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

// "INSTALL", "/install", "-Install": the switch spellings the service framework took.
bool isSwitch(const std::string& arg, const char* name) {
    std::string_view a = arg;
    while (!a.empty() && (a.front() == '/' || a.front() == '-')) a.remove_prefix(1);
    return equalsNoCase(a, name);
}

// "USER=<name>": the named logon of an install.
std::optional<std::string> userArgument(const std::string& arg) {
    std::string_view a = arg;
    while (!a.empty() && (a.front() == '/' || a.front() == '-')) a.remove_prefix(1);
    if (a.size() < 5 || !equalsNoCase(a.substr(0, 5), "USER=")) return std::nullopt;
    return std::string(a.substr(5));
}

fs::path ownExecutable() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("ZQSvc") : exe;
}

}  // namespace

int TNerivale::run(const std::vector<std::string>& args) {
    bool install = false, uninstall = false, silent = false;
    std::string user = kServiceAccount;
    for (const auto& a : args) {
        install |= isSwitch(a, "INSTALL");
        uninstall |= isSwitch(a, "UNINSTALL");
        silent |= isSwitch(a, "SILENT");
        if (auto named = userArgument(a)) user = *named;
        m_verbose |= a == "-v";
    }
    if (install) return ServiceInstall(silent, user);
    if (uninstall) return ServiceUninstall(silent);
    return QXSNPPGatewayExecute();
}

int TNerivale::ServiceInstall(bool silent, const std::string& user) {
    ServiceUnitOptions options;
    options.execPath = ownExecutable();
    // The folder the service will find at its start, by the same rule.
    options.dataDir = dataDirectoryFor(readInstallSettings(programDirectory()));
    options.user = user;
    SystemAccounts accounts = SystemAccounts::fromEnvironment();
    std::string error;
    if (!installServiceUnit(options, accounts, error)) {
        std::fprintf(stderr, "Service installation failed: %s\n", error.c_str());
        return 1;
    }
    if (!silent) std::printf("Service installed successfully\n");
    return 0;
}

int TNerivale::ServiceUninstall(bool silent) {
    std::string error;
    if (!uninstallServiceUnit(error)) {
        std::fprintf(stderr, "Service removal failed: %s\n", error.c_str());
        return 1;
    }
    if (!silent) std::printf("Service uninstalled successfully\n");
    return 0;
}

namespace {

// Both to syslog and to stderr (the journal under systemd, the terminal in the foreground).
void announce(SysLog& eventLog, const std::string& text, bool loud) {
    std::fprintf(stderr, "ZQSvc: %s\n", text.c_str());
    if (loud)
        eventLog.error(text);
    else
        eventLog.info(text);
}

// Which install file was read and which data directory the rule chose, so a
// missing Config.Dat never moves the service to another folder unnoticed.
void announceInstallFile(SysLog& eventLog, const InstallSettings& settings) {
    if (settings.installDirFromFile) return;
    announce(eventLog,
             "Install file " + settings.installFile.string() +
                 " is missing, unreadable or names no InstallDir: the install directory is the program's folder " +
                 settings.installDir.string(),
             true);
}

void announceDataDirectory(SysLog& eventLog, const InstallSettings& settings, const fs::path& dataDir) {
    if (!installDirHoldsConfig(settings))
        announce(eventLog,
                 "WARNING: no Config.Dat in the install directory " + settings.installDir.string() +
                     ": running from " + dataDir.string() + "; files in " + settings.installDir.string() +
                     " are not used",
                 true);
    announce(eventLog,
             "Install file " + settings.installFile.string() + ", install directory " + settings.installDir.string() +
                 ", data directory " + dataDir.string(),
             false);
}

}  // namespace

int TNerivale::QXSNPPGatewayExecute() {
    SysLog eventLog;
    InstallSettings settings = readInstallSettings(programDirectory());
    EngineOptions options;
    options.appDir = settings.installDir;
    announceInstallFile(eventLog, settings);
    try {
        options.dataDir = findDataDirectory(settings);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "ZQSvc: %s\n", e.what());
        eventLog.error(e.what());
        return 1;
    }
    announceDataDirectory(eventLog, settings, options.dataDir);
    // Started by a person outside the service's group: say so instead of failing
    // on the first file.
    if (auto problem = dataDirectoryAccessProblem(options.dataDir)) {
        std::fprintf(stderr, "ZQSvc: %s\n", problem->c_str());
        eventLog.error(*problem);
        return 1;
    }
    // In the foreground (a terminal, or -v) every log line shows on stderr too;
    // under systemd the journal has the syslog lines.
    const bool foreground = m_verbose || ::isatty(STDERR_FILENO) == 1;
    if (foreground)
        options.logEcho = [](const std::string& line) { std::fprintf(stderr, "%s\n", cp1252ToUtf8(line).c_str()); };
    options.logFailure = [&eventLog, foreground](const std::string& text) {
        eventLog.error(text);
        if (foreground) std::fprintf(stderr, "ZQSvc: %s\n", cp1252ToUtf8(text).c_str());
    };
    // The modem lines fall back to system.mcf; a fresh data directory gets the defaults.
    if (!ensureSystemModemConfig(options.dataDir))
        eventLog.error("Unable To Write " + (options.dataDir / kSystemModemConfigName).string());

    EventLoop loop;
    SignalWatch signals(loop, {SIGTERM, SIGINT}, [&loop](int) { loop.quit(); });
    auto engine = std::make_unique<TNerivaleSvcMain>(loop, options);
    bool started = false;
    try {
        started = engine->StartServer();
    } catch (const std::exception& e) {
        engine->WriteToLog(std::string("[Exception Error] ") + e.what());
    }
    if (!started) {
        engine->WriteToLog("[System] Unable To Start Nerivale Server, Check Log");
        eventLog.error("Unable To Start Nerivale Server, Check Log");
        engine.reset();
        return 1;
    }
    engine->WriteToLog("[System] Nerivale Server Started");
    eventLog.info("Nerivale Server Started");
    try {
        loop.run();
    } catch (const std::exception& e) {
        // An exception in the running loop stops the service in order.
        engine->WriteToLog(std::string("[Exception Error] ") + e.what());
    }
    engine->WriteToLog("[System] Stopping Nerivale Server");
    engine.reset();
    eventLog.info("Nerivale Server Stopped");
    return 0;
}

}  // namespace nv
