// ZQSvc as a whole program on a temporary data directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/AccountsRoot.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/SystemctlStub.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

class ZQSvcTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeInstallFile(dir.path());
        // Config.Dat in the install directory makes it the data directory.
        test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
    }

    void start() {
        service = std::make_unique<test::ZQSvcProcess>(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
        ASSERT_TRUE(waitLog("[System] Nerivale Server Started")) << test::readFile(dir / "stderr.txt");
    }

    // Log.Dat's texts without their stamps; `systemOnly` keeps the engine
    // thread's "[System]" lines, whose order is fixed (other threads interleave).
    std::vector<std::string> logTexts(bool systemOnly = false) {
        std::vector<std::string> out;
        for (auto& text : log.lines()) {
            // The spooler's "[System] Queue Services" lines come from its own thread.
            bool engineLine = text.rfind("[System] ", 0) == 0 && text.rfind("[System] Queue Services ", 0) != 0;
            if (!systemOnly || engineLine) out.push_back(std::move(text));
        }
        return out;
    }
    bool waitLog(const std::string& text) { return log.waitForLine(text, 1, 10s); }

    // The replies to one command, without log lines and the queue length the
    // engine sends every second; a ping sent after it marks the end.
    std::vector<std::string> repliesTo(const std::string& text) {
        std::size_t from = manager->count();
        EXPECT_TRUE(test::sendCommand(dir / "PelmoraServer", text));
        EXPECT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=ping"));
        EXPECT_TRUE(manager->waitForExact("cmd=ping", 10s, from)) << text;
        std::vector<std::string> out;
        auto all = manager->messages();
        for (std::size_t i = from; i < all.size(); ++i) {
            if (all[i].rfind("cmd=log\r\n", 0) == 0 || all[i].rfind("cmd=cntrupd\r\ncounter=11\r\n", 0) == 0)
                continue;
            if (all[i] == "cmd=ping") break;
            out.push_back(all[i]);
        }
        return out;
    }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<test::ZQSvcProcess> service;
};

TEST_F(ZQSvcTest, StartsAnswersCommandsAndStopsOnSigterm) {
    start();
    ASSERT_TRUE(waitLog("[System] All Services Active!"));
    EXPECT_EQ(logTexts(true), (std::vector<std::string>{"[System] Nerivale Server Start Requested!",
                                                    "[System] Starting Pelmoar Services!",
                                                    "[System] All Services Active!",
                                                    "[System] Nerivale Server Started"}));
    auto first = manager->waitFor([](const std::string& m) { return m.rfind("cmd=log\r\ndata=", 0) == 0; }, 5s);
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->ends_with(" - [System] Nerivale Server Start Requested!\r\n")) << *first;

    const std::string zero =
        "cmd=all_counters\r\nctWCTPCount=0\r\nctSNPPCount=0\r\nctSMPPCount=0\r\nctTapCount=0\r\nctEPagesSent=0\r\n"
        "ctSMSCount=0\r\nctErrorCount=0\r\nctTransactionCount=0\r\nctQueuedMgs=0\r\nctNerivaleInCount=0\r\n"
        "ctTNPPCounter=0\r\nctBrevicorCount=0\r\nctHours=0\r\nctMinutes=0\r\ncancelcall1=0\r\n";
    struct Case {
        std::string command;
        std::vector<std::string> replies;
    } cases[] = {
        {"cmd=send_counters\r\n", {zero}},
        {"cmd=send_counters", {zero}},
        {"cmd=SEND_COUNTERS\r\n", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(repliesTo(c.command), c.replies) << c.command;
    std::size_t from = manager->count();
    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "CMD=ping"));
    EXPECT_TRUE(manager->waitForExact("cmd=ping", 10s, from));

    std::size_t logged = logTexts(true).size();
    service->signal(SIGTERM);
    auto status = service->waitExit(20s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    auto texts = logTexts(true);
    EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(logged), texts.end()),
              (std::vector<std::string>{"[System] Stopping Nerivale Server", "[System] Server ShutDown Requested",
                                        "[System] Server ShutDown"}));
    EXPECT_TRUE(manager->waitForExact("cmd=cancelcall1\r\nvalue=0\r\n", 5s));
    EXPECT_FALSE(std::filesystem::exists(dir / "PelmoraServer"));
}

TEST_F(ZQSvcTest, TestPageIsRoutedByPrefix) {
    test::writeFile(dir / "NpaNxxRoute.dat", test::routeFile({
                                                 {.name = "Default", .npanxx = "0000000000", .provider = "Acme SNPP"},
                                                 {.name = "Five5", .npanxx = "55", .provider = "TNPP"},
                                                 {.name = "Five55", .npanxx = "555", .provider = "Acme SNPP"},
                                                 {.name = "Off", .npanxx = "777", .provider = "TNPP", .enabled = false},
                                                 {.name = "Lost", .npanxx = "888", .provider = "Ghost"},
                                             }));
    test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Acme SNPP", .deliveryType = 2}}));
    start();
    const std::string received = "[Nerivale Connection] Message Received From Nerivale Port  PIN: ";
    const std::string text = " Message: Nerivale Server Test Message";
    struct Case {
        std::string pin;
        std::vector<std::string> lines;
        std::vector<std::string> counters;  // cntrupd messages, in order
    } cases[] = {
        {"5551234",
         {received + "5551234 Provider: TNPP" + text,
          "[TNPP Delivery Fail] Error Sending Message To \"Nerivale Server 5551234\""},
         {"cmd=cntrupd\r\ncounter=14\r\nvalue=1", "cmd=cntrupd\r\ncounter=9\r\nvalue=1"}},
        {"4441",
         {received + "4441 Provider: Acme SNPP" + text,
          "[SNPP Connection] '' is not a valid port number \"4441\" at  - ",
          "[SNPP Delivery Fail] '' is not a valid port number ID:  - 4441 PIN:4441 Provider: Acme SNPP Msg: "
          "Nerivale Server Test Message"},
         {"cmd=cntrupd\r\ncounter=14\r\nvalue=2", "cmd=cntrupd\r\ncounter=9\r\nvalue=2"}},
        {"7771", {"[System] Delivery Failed For PIN: 7771, Route \"Off\" Disabled! Page Discarded!"}, {}},
        {"8881", {"[System] Delivery Failed For PIN: 8881, Provider \"Ghost\" Not Found! Page Discarded!"}, {}},
    };
    for (const auto& c : cases) {
        std::size_t logFrom = logTexts().size();
        std::size_t msgFrom = manager->count();
        ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=" + c.pin + "\r\n"));
        ASSERT_TRUE(waitLog(c.lines.back())) << c.pin;
        // The inbound port's own lines (its thread runs beside) are not the page's.
        std::vector<std::string> pageLines;
        auto texts = logTexts();
        for (std::size_t i = logFrom; i < texts.size(); ++i)
            if (texts[i].rfind("[Nerivale Connection] ", 0) != 0 || texts[i].rfind(received, 0) == 0)
                pageLines.push_back(texts[i]);
        EXPECT_EQ(pageLines, c.lines) << c.pin;
        for (const auto& counter : c.counters) EXPECT_TRUE(manager->waitForExact(counter, 5s, msgFrom)) << c.pin;
        // A page that is not taken in counts nothing.
        auto counted = [](const std::string& m) {
            return m.rfind("cmd=cntrupd\r\n", 0) == 0 && m.rfind("cmd=cntrupd\r\ncounter=11\r\n", 0) != 0;
        };
        if (c.counters.empty()) {
            EXPECT_FALSE(manager->waitFor(counted, 200ms, msgFrom)) << c.pin;
        }
    }
    service->signal(SIGTERM);
    EXPECT_EQ(service->waitExit(20s), std::optional<int>(0));
}

}  // namespace
}  // namespace nv

namespace nv {
namespace {

TEST(ZQSvcInstall, InstallAndUninstallManageTheUnit) {
    if (!test::AccountsRoot::usable()) GTEST_SKIP() << "the shadow tools need root";
    test::TempDir dir;
    test::SystemctlStub systemd;
    test::AccountsRoot accounts("pager:x:1500:1500::/home/pager:/bin/sh\n");
    test::writeInstallFile(dir.path(), "CommonAppData=" + (dir / "common").string() + "\r\n");
    struct Step {
        std::vector<std::string> args;
        bool unitAfter;
        std::string out;
    } steps[] = {
        {{"INSTALL", "SILENT"}, true, ""},
        {{"/uninstall"}, false, "Service uninstalled successfully\n"},
        {{"-Install"}, true, "Service installed successfully\n"},
    };
    for (const auto& s : steps) {
        test::ZQSvcProcess run(ZQSVC_PATH, dir / "Nerivale.ini", dir.path(), s.args);
        EXPECT_EQ(run.waitExit(10s), std::optional<int>(0)) << s.args[0];
        EXPECT_EQ(std::filesystem::exists(systemd.unit()), s.unitAfter) << s.args[0];
        EXPECT_EQ(test::readFile(dir / "stdout.txt"), s.out) << s.args[0];
    }
    std::string unit = test::readFile(systemd.unit());
    EXPECT_NE(unit.find("\nExecStart=" + std::filesystem::canonical(ZQSVC_PATH).string() + "\n"), std::string::npos);
    EXPECT_NE(unit.find("\nReadWritePaths=\"" + (dir / "common/KOR/Nerivale/Users/All Users").string() + "\"\n"),
              std::string::npos)
        << unit;
    EXPECT_NE(unit.find("\nUser=nerivale\nGroup=nerivale\n"), std::string::npos);
    EXPECT_NE(accounts.passwd().find("\nnerivale:x:"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "common/KOR/Nerivale/Users/All Users").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 02770u);
    EXPECT_EQ(systemd.calls(),
              "daemon-reload\nenable nerivale.service\ndisable nerivale.service\ndaemon-reload\n"
              "daemon-reload\nenable nerivale.service\n");
    // "Apply Changes" with a named logon rewrites the unit.
    test::ZQSvcProcess apply(ZQSVC_PATH, dir / "Nerivale.ini", dir.path(), {"INSTALL", "SILENT", "USER=pager"});
    EXPECT_EQ(apply.waitExit(10s), std::optional<int>(0)) << test::readFile(dir / "stderr.txt");
    EXPECT_NE(test::readFile(systemd.unit()).find("\nUser=pager\nGroup=nerivale\n"), std::string::npos);
    // Nothing to remove twice.
    test::ZQSvcProcess again(ZQSVC_PATH, dir / "Nerivale.ini", dir.path(), {"UNINSTALL", "SILENT"});
    EXPECT_EQ(again.waitExit(10s), std::optional<int>(0));
    test::ZQSvcProcess twice(ZQSVC_PATH, dir / "Nerivale.ini", dir.path(), {"UNINSTALL", "SILENT"});
    EXPECT_EQ(twice.waitExit(10s), std::optional<int>(1));
}

}  // namespace
}  // namespace nv

namespace nv {
namespace {

TEST(ZQSvcDataDirectory, ADataDirectoryThatCannotBeMadeEndsTheProgramWithItsReason) {
    test::TempDir dir;
    test::writeFile(dir / "blocker", "a file where a folder should be");
    // No Config.Dat in the install directory: the common data folder is used,
    // and its first level cannot be created under a plain file.
    test::writeInstallFile(dir.path(), "CommonAppData=" + (dir / "blocker").string() + "\r\n");
    test::ZQSvcProcess run(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    EXPECT_EQ(run.waitExit(10s), std::optional<int>(1));
    EXPECT_NE(test::readFile(dir / "stderr.txt").find("blocker"), std::string::npos)
        << test::readFile(dir / "stderr.txt");
    EXPECT_FALSE(std::filesystem::exists(dir / "Log.Dat"));
}

}  // namespace
}  // namespace nv
