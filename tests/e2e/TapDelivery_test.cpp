// ZQSvc as a whole program delivering TAP pages: a direct port and a modem
// port in Ports.dat, a scripted TAP terminal behind the COM map on a pty, and
// the pages coming in as the manager's test pages. The program runs with its
// real spooler pauses, so a page takes some seconds.
#include <gtest/gtest.h>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

class TapDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeInstallFile(dir.path());
        test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
    }

    std::vector<std::string> logTexts() { return log.lines(); }
    bool waitLog(const std::string& prefix, std::chrono::milliseconds bound = 30s) {
        return log.waitFor(prefix, 1, bound);
    }
    bool has(const std::string& text) { return log.has(text); }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    std::unique_ptr<test::FakeManager> manager;
};

TEST_F(TapDeliveryTest, TestPageGoesOutOnTheDirectPortAndStopCancelsCalls) {
    test::PtyPair pty;
    pty.holdSlave();
    std::filesystem::create_symlink(pty.slavePath(), dir / "COM2");
    test::TapTerminal term = test::TapTerminal::onFd(pty.master(), {});
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "Acme"}}));
    test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Acme", .deliveryType = 0}}));
    test::writeFile(dir / "Ports.dat",
                    test::portFile({{.name = "Modem1", .tapiDevice = 0},
                                    {.name = "Direct2", .direct = true, .directGroup = "ACME", .comPort = 1}}));
    test::ZQSvcProcess service(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    ASSERT_TRUE(waitLog("[System] Nerivale Server Started")) << test::readFile(dir / "stderr.txt");
    EXPECT_TRUE(waitLog("[System] Direct2 Active, Ready To Send Pages"));
    EXPECT_TRUE(waitLog("[System] Modem1 Active, Ready To Send Pages"));

    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=5551234"));
    ASSERT_TRUE(waitLog("[TAP Delivery OK] Direct2 ")) << ::testing::PrintToString(logTexts());
    EXPECT_TRUE(has("[TAP Connection Status] Acme Assigned To Direct2 Using Device Num. 0"));
    EXPECT_TRUE(has("[TAP Delivery OK] Direct2 Message Submitted For Processing ID:  - Nerivale Server "
                    "PIN:5551234 Msg: Nerivale Server Test Message"));
    EXPECT_NE(term.received().find("5551234"), std::string::npos);
    ASSERT_TRUE(waitLog("[TAP Connection Status] Direct2 Hanging-Up Port"));
    // The line comes first; the logout follows once the pager hangs up.
    auto until = std::chrono::steady_clock::now() + 10s;
    while (!term.loggedOut() && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(term.loggedOut());

    std::size_t from = manager->count();
    service.signal(SIGTERM);
    auto status = service.waitExit(30s);
    ASSERT_TRUE(status);
    EXPECT_EQ(*status, 0);
    EXPECT_TRUE(has("[System] Direct2 Disabled!"));
    EXPECT_TRUE(has("[System] Modem1 Disabled!"));
    EXPECT_TRUE(manager->waitForExact("cmd=cancelcall1\r\nvalue=0\r\n", 5s, from));
}

}  // namespace
}  // namespace nv
