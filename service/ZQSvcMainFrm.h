#pragma once
// TNerivale: the service program around the engine. Under systemd the service
// runs in the foreground; "INSTALL" (with "USER=<name>" for a named logon) and
// "UNINSTALL" (both with "SILENT") write or remove the unit instead of running;
// "-v" echoes every log line to stderr (as when stderr is a terminal).
#include <string>
#include <vector>

namespace nv {

class TNerivale {
public:
    // The program: parses the switches and runs. Returns the exit status.
    int run(const std::vector<std::string>& args);

    // Writes and enables the unit, running the service as `user` (the system
    // user by default); without `silent` the result is printed.
    int ServiceInstall(bool silent, const std::string& user);
    int ServiceUninstall(bool silent);
    // The service itself: engine, StartServer, the loop until SIGTERM/SIGINT, stop.
    int QXSNPPGatewayExecute();

private:
    bool m_verbose = false;  // -v: every log line on stderr as well
};

}  // namespace nv
