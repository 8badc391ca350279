#pragma once
// The stub systemctl of tests/peers first on PATH, its call log and a unit
// folder of the test's own (NERIVALE_UNIT_DIR): the real systemd and /etc are
// never touched. Programs started while it lives inherit the same environment.
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/peers/TestSupport.h"

namespace nv::test {

class SystemctlStub {
public:
    SystemctlStub() {
        std::filesystem::create_directories(m_dir / "units");
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", (std::string(NV_SOURCE_DIR) + "/tests/peers:" + m_oldPath).c_str(), 1);
        ::setenv("NV_SYSTEMCTL_LOG", (m_dir / "calls").c_str(), 1);
        ::setenv("NERIVALE_UNIT_DIR", (m_dir / "units").c_str(), 1);
    }
    ~SystemctlStub() {
        ::setenv("PATH", m_oldPath.c_str(), 1);
        ::unsetenv("NV_SYSTEMCTL_LOG");
        ::unsetenv("NV_SYSTEMCTL_REFUSE");
        ::unsetenv("NERIVALE_UNIT_DIR");
    }
    SystemctlStub(const SystemctlStub&) = delete;
    SystemctlStub& operator=(const SystemctlStub&) = delete;

    // The next calls with this verb fail ("" lets every call succeed again).
    void refuse(const std::string& verb) { ::setenv("NV_SYSTEMCTL_REFUSE", verb.c_str(), 1); }
    std::filesystem::path unit() const { return m_dir / "units" / "nerivale.service"; }
    // One line per call: its arguments.
    std::string calls() const {
        return std::filesystem::exists(m_dir / "calls") ? readFile(m_dir / "calls") : "";
    }

private:
    TempDir m_dir;
    std::string m_oldPath;
};

}  // namespace nv::test
