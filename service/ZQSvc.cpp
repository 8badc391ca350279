// ZQSvc: the gateway service. Runs in the foreground under systemd;
// "INSTALL" / "UNINSTALL" (with "SILENT") manage its unit.
#include <string>
#include <vector>

#include "service/ZQSvcMainFrm.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    nv::TNerivale service;
    return service.run(args);
}
