#include "platform/ServiceHost.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <regex>

#include "platform/ServiceAccount.h"
#include "tests/peers/AccountsRoot.h"
#include "tests/peers/SystemctlStub.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

ServiceUnitOptions options(const std::filesystem::path& exe, const std::filesystem::path& data) {
    ServiceUnitOptions o;
    o.execPath = exe;
    o.dataDir = data;
    return o;
}

bool hasLine(const std::string& text, const std::string& line) {
    return text.find("\n" + line + "\n") != std::string::npos;
}

TEST(ServiceHost, DefaultUnitRunsAsTheSystemUserWritingOnlyTheDataDirectory) {
    std::string unit = unitFileText(options("/opt/nerivale/ZQSvc", "/var/lib/KOR/Nerivale/Users/All Users"));
    for (const char* line : {
             "Description=Neri Vale", "Type=simple", "ExecStart=/opt/nerivale/ZQSvc", "User=nerivale",
             "Group=nerivale", "SupplementaryGroups=dialout", "UMask=0007",
             "ReadWritePaths=\"/var/lib/KOR/Nerivale/Users/All Users\"", "LimitNOFILE=4096",
             "NoNewPrivileges=yes", "CapabilityBoundingSet=", "ProtectSystem=strict", "PrivateTmp=yes",
             "ProtectHome=yes", "ProtectControlGroups=yes", "RestrictAddressFamilies=AF_UNIX AF_INET AF_INET6",
             "SystemCallFilter=@system-service", "DevicePolicy=closed", "DeviceAllow=char-ttyS rw",
             "DeviceAllow=char-ttyUSB rw", "DeviceAllow=char-ttyACM rw", "WantedBy=multi-user.target"})
        EXPECT_TRUE(hasLine(unit, line)) << line;
    // Each directive left out says why, in the unit itself.
    for (const char* name : {"PrivateDevices=", "PrivateNetwork=", "PrivateUsers="})
        EXPECT_NE(unit.find("\n# " + std::string(name)), std::string::npos) << name;
}

TEST(ServiceHost, NamedLogonReplacesTheUserAndKeepsTheGroup) {
    auto o = options("/opt/nerivale/ZQSvc", "/srv/pages");
    o.user = "pager";
    std::string unit = unitFileText(o);
    EXPECT_TRUE(hasLine(unit, "User=pager"));
    EXPECT_TRUE(hasLine(unit, "Group=nerivale"));
    EXPECT_EQ(unit.find("User=nerivale"), std::string::npos);
}

TEST(ServiceHost, PathsAreQuotedForSystemd) {
    struct Case {
        std::string path, execLine, pathLine;
    } cases[] = {
        {"/opt/nv/ZQSvc", "ExecStart=/opt/nv/ZQSvc", "ReadWritePaths=/opt/nv/ZQSvc"},
        {"/opt/100%/ZQSvc", "ExecStart=/opt/100%%/ZQSvc", "ReadWritePaths=/opt/100%%/ZQSvc"},
        {"/opt/$HOME/ZQSvc", "ExecStart=/opt/$$HOME/ZQSvc", "ReadWritePaths=/opt/$HOME/ZQSvc"},
        {"/opt/a \"b\"\\c", "ExecStart=\"/opt/a \\\"b\\\"\\\\c\"", "ReadWritePaths=\"/opt/a \\\"b\\\"\\\\c\""},
    };
    for (const auto& c : cases) {
        std::string unit = unitFileText(options(c.path, c.path));
        EXPECT_TRUE(hasLine(unit, c.execLine)) << c.path << "\n" << unit;
        EXPECT_TRUE(hasLine(unit, c.pathLine)) << c.path;
    }
}

TEST(ServiceHost, AccountNames) {
    for (const char* good : {"nerivale", "pager_1", "j.doe", "web-svc", "HOST$"}) EXPECT_TRUE(isAccountName(good)) << good;
    for (const char* bad : {"", "-rf", "a b", "a\nUser=root", "x/y", "a$b", "123456789012345678901234567890123"})
        EXPECT_FALSE(isAccountName(bad)) << bad;
}

// systemd's own tools on the unit as written: it loads, and its exposure score
// (0 safest, 10 unsafe) is 3.0 or better.
class SystemdAnalyzeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (runProgram("sh", {"-c", "command -v systemd-analyze >/dev/null"}) != 0)
            GTEST_SKIP() << "systemd-analyze is not installed; the unit's score was not checked";
        // ExecStart must name an executable that exists.
        test::writeFile(dir / "ZQSvc", "#!/bin/sh\n");
        ::chmod((dir / "ZQSvc").c_str(), 0755);
        std::filesystem::create_directories(dir / "All Users");
        test::writeFile(dir / "nerivale.service", unitFileText(options(dir / "ZQSvc", dir / "All Users")));
    }
    int analyze(const std::string& args) {
        return runProgram("sh", {"-c", "systemd-analyze " + args + " '" + (dir / "nerivale.service").string() +
                                           "' >'" + (dir / "out").string() + "' 2>&1"});
    }
    test::TempDir dir;
};

TEST_F(SystemdAnalyzeTest, VerifyAcceptsTheUnit) {
    EXPECT_EQ(analyze("verify"), 0) << test::readFile(dir / "out");
}

TEST_F(SystemdAnalyzeTest, SecurityExposureIsAtMostThree) {
    ASSERT_EQ(analyze("security --offline=true"), 0) << test::readFile(dir / "out");
    std::string out = test::readFile(dir / "out");
    std::smatch m;
    ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Overall exposure level for nerivale\.service: ([0-9.]+))")))
        << out;
    EXPECT_LE(std::stod(m[1].str()), 3.0) << out;
}

// Accounts in a root folder of the test's own and the stub systemctl.
class ServiceHostInstall : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::AccountsRoot::usable()) GTEST_SKIP() << "the shadow tools need root";
    }
    ServiceUnitOptions pages() { return options("/opt/nerivale/ZQSvc", data / "pages"); }
    test::TempDir data;
    test::AccountsRoot root;
    SystemAccounts accounts{root.path()};
    test::SystemctlStub systemd;
};

TEST_F(ServiceHostInstall, InstallWritesAndEnablesUninstallDisablesAndRemoves) {
    auto o = pages();
    std::string error;
    ASSERT_TRUE(installServiceUnit(o, accounts, error)) << error;
    EXPECT_TRUE(accounts.userId("nerivale"));
    EXPECT_TRUE(std::filesystem::is_directory(o.dataDir));
    EXPECT_EQ(test::readFile(systemd.unit()), unitFileText(o));
    EXPECT_EQ(systemd.calls(), "daemon-reload\nenable nerivale.service\n");

    std::string accountsBefore = root.passwd() + root.group();
    ASSERT_TRUE(uninstallServiceUnit(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(systemd.unit()));
    // The account, the group and the operator's data stay.
    EXPECT_EQ(root.passwd() + root.group(), accountsBefore);
    EXPECT_TRUE(std::filesystem::is_directory(o.dataDir));
    EXPECT_EQ(systemd.calls(), "daemon-reload\nenable nerivale.service\ndisable nerivale.service\ndaemon-reload\n");

    EXPECT_FALSE(uninstallServiceUnit(error));
    EXPECT_NE(error.find("not installed"), std::string::npos);
}

// A refused step names itself and takes back what was written: a fresh unit
// goes, a rewritten one ("Apply Changes") gets its old text.
TEST_F(ServiceHostInstall, FailedStepTakesTheUnitBack) {
    struct Case {
        const char* refused;
        bool installedBefore;
        std::string message, calls;
    } cases[] = {
        {"daemon-reload", false, "\"systemctl daemon-reload\" failed (exit status 1); the unit was removed again",
         "daemon-reload\ndaemon-reload\n"},
        {"enable", false, "\"systemctl enable nerivale.service\" failed (exit status 1); the unit was removed again",
         "daemon-reload\nenable nerivale.service\ndisable nerivale.service\ndaemon-reload\n"},
        {"enable", true,
         "\"systemctl enable nerivale.service\" failed (exit status 1); the unit's previous text was put back",
         "daemon-reload\nenable nerivale.service\ndaemon-reload\n"},
    };
    for (const auto& c : cases) {
        test::SystemctlStub systemd;
        if (c.installedBefore) test::writeFile(systemd.unit(), "old unit\n");
        systemd.refuse(c.refused);
        std::string error;
        EXPECT_FALSE(installServiceUnit(pages(), accounts, error)) << c.refused;
        EXPECT_EQ(error, c.message);
        EXPECT_EQ(systemd.calls(), c.calls) << c.refused;
        if (c.installedBefore)
            EXPECT_EQ(test::readFile(systemd.unit()), "old unit\n");
        else
            EXPECT_FALSE(std::filesystem::exists(systemd.unit())) << c.refused;
    }
}

// Nothing is written and systemd is not called when the account or the data
// directory cannot be made ready, or the unit could not name them.
TEST_F(ServiceHostInstall, RefusedBeforeTheUnitIsWritten) {
    auto badPath = options("/opt/nerivale/ZQSvc", data / "pages\nUser=root");
    auto badUser = pages();
    badUser.user = "root\nExecStartPre=/bin/sh";
    auto missingLogon = pages();
    missingLogon.user = "pager";
    auto holdsProgram = options(data / "pages/ZQSvc", data / "pages");
    struct Case {
        const char* name;
        ServiceUnitOptions o;
        std::string errorStart;
    } cases[] = {
        {"path", badPath, "A unit cannot name this path: "},
        {"user", badUser, "Not an account name: "},
        {"logon", missingLogon, "The logon \"pager\" does not exist"},
        {"program", holdsProgram, "The data directory " + (data / "pages").string() + " holds the program "},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(installServiceUnit(c.o, accounts, error)) << c.name;
        EXPECT_EQ(error.rfind(c.errorStart, 0), 0u) << c.name << ": " << error;
        EXPECT_FALSE(std::filesystem::exists(systemd.unit())) << c.name;
        EXPECT_EQ(systemd.calls(), "") << c.name;
    }
}

}  // namespace
}  // namespace nv
