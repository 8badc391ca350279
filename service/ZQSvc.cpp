// ZQSvc: the gateway service. Runs in the foreground under systemd;
// "INSTALL" / "UNINSTALL" (with "SILENT") manage its unit.
#include <string>
#include <vector>

#include "protocols/KORInetPaging.h"
#include "service/ZQSvcMainFrm.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // libcurl's global set-up is not thread-safe: once, before any thread. Should
    // it fail, WCTP and e-mail pages fail with their reasons; the rest runs.
    const bool curlReady = nv::initInternetPaging();
    int rc = 0;
    {
        nv::TNerivale service;
        rc = service.run(args);
    }
    if (curlReady) nv::cleanupInternetPaging();
    return rc;
}
