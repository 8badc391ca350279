#include "platform/ServiceHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

// A stub systemctl first on PATH that records its arguments, and a unit
// directory of the test's own: the real /etc is never touched.
class StubSystemd {
public:
    StubSystemd() {
        std::filesystem::create_directories(m_dir / "bin");
        std::filesystem::create_directories(m_dir / "units");
        auto stub = m_dir / "bin" / "systemctl";
        test::writeFile(stub, "#!/bin/sh\necho \"$@\" >> '" + (m_dir / "calls").string() + "'\nexit 0\n");
        ::chmod(stub.c_str(), 0755);
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        ::setenv("PATH", ((m_dir / "bin").string() + ":" + m_oldPath).c_str(), 1);
        ::setenv("NERIVALE_UNIT_DIR", (m_dir / "units").c_str(), 1);
    }
    ~StubSystemd() {
        ::setenv("PATH", m_oldPath.c_str(), 1);
        ::unsetenv("NERIVALE_UNIT_DIR");
    }
    std::filesystem::path unit() const { return m_dir / "units" / "nerivale.service"; }
    std::string calls() const {
        return std::filesystem::exists(m_dir / "calls") ? test::readFile(m_dir / "calls") : "";
    }

private:
    test::TempDir m_dir;
    std::string m_oldPath;
};

TEST(ServiceHost, UnitNamesTheDescriptionAndTheProgram) {
    std::string unit = unitFileText({"/opt/nerivale/ZQSvc", "", ""});
    EXPECT_NE(unit.find("\nDescription=Neri Vale\n"), std::string::npos);
    EXPECT_NE(unit.find("\nExecStart=/opt/nerivale/ZQSvc\n"), std::string::npos);
    EXPECT_NE(unit.find("\nType=simple\n"), std::string::npos);
    EXPECT_NE(unit.find("\nWantedBy=multi-user.target\n"), std::string::npos);
    EXPECT_EQ(unit.find("User="), std::string::npos);
    std::string withUser = unitFileText({"/opt/nerivale/ZQSvc", "pager", "pagers"});
    EXPECT_NE(withUser.find("\nUser=pager\nGroup=pagers\n"), std::string::npos);
}

TEST(ServiceHost, InstallWritesAndEnablesUninstallDisablesAndRemoves) {
    StubSystemd systemd;
    std::string error;
    ASSERT_TRUE(installServiceUnit({"/opt/nerivale/ZQSvc", "", ""}, error)) << error;
    EXPECT_EQ(test::readFile(systemd.unit()), unitFileText({"/opt/nerivale/ZQSvc", "", ""}));
    EXPECT_EQ(systemd.calls(), "daemon-reload\nenable nerivale.service\n");

    ASSERT_TRUE(uninstallServiceUnit(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(systemd.unit()));
    EXPECT_EQ(systemd.calls(), "daemon-reload\nenable nerivale.service\ndisable nerivale.service\ndaemon-reload\n");

    EXPECT_FALSE(uninstallServiceUnit(error));
    EXPECT_NE(error.find("not installed"), std::string::npos);
}

TEST(ServiceHost, UnitPassesSystemdAnalyzeVerify) {
    if (runProgram("sh", {"-c", "command -v systemd-analyze >/dev/null"}) != 0)
        GTEST_SKIP() << "systemd-analyze not installed";
    test::TempDir dir;
    // ExecStart must name an executable that exists.
    auto exe = dir / "ZQSvc";
    test::writeFile(exe, "#!/bin/sh\n");
    ::chmod(exe.c_str(), 0755);
    auto unit = dir / "nerivale.service";
    test::writeFile(unit, unitFileText({exe, "", ""}));
    EXPECT_EQ(runProgram("sh", {"-c", "systemd-analyze verify '" + unit.string() + "' 2>'" +
                                          (dir / "err").string() + "'"}),
              0)
        << test::readFile(dir / "err");
}

}  // namespace
}  // namespace nv
