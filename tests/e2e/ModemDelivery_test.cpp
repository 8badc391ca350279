// ZQSvc as a whole program delivering TAP pages through a modem port: the
// modem line of Modems.ini is a pty, a scripted Hayes modem answers on its far
// end and plays the carrier's TAP terminal once connected. Pages come in as
// the manager's test pages; the program runs with its real spooler pauses.
#include <gtest/gtest.h>

#include <algorithm>

#include "protocols/ModemConfig.h"
#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

// Every page of a run is placed by the spooler, which waits 5 s at its start
// and 3.5 s per cycle while pages wait: bounds are generous for a loaded host.
constexpr auto kPageBound = 120s;

class ModemDeliveryTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeInstallFile(dir.path());
        test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
        pty.holdSlave();
        test::writeFile(dir / "Modems.ini",
                        "[Line0]\r\nName=TestModem\r\nDevice=" + pty.slavePath() + "\r\nInit=ATZ\r\n");
        // The pty passes bytes as they are; 8,N,1 keeps the test about the dialogue.
        ModemSettings s;
        s.dataBits = 8;
        s.parity = 'N';
        ASSERT_TRUE(writeModemConfigFile(dir / "system.mcf", s));
        test::writeFile(dir / "NpaNxxRoute.dat",
                        test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "Carrier"}}));
        // The access number as an operator types it: the dash never reaches the modem.
        test::writeFile(dir / "Provider.dat",
                        test::providerFile({{.name = "Carrier", .deliveryType = 1, .accessNum = "555-1000"}}));
        test::writeFile(dir / "Ports.dat",
                        test::portFile({{.name = "Modem1", .modem = "TestModem", .dialPrefix = "9,"}}));
    }

    void start(test::HayesScript script) {
        modem = std::make_unique<test::HayesModem>(pty.master(), std::move(script));
        service = std::make_unique<test::ZQSvcProcess>(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
        ASSERT_TRUE(log.waitFor("[System] Nerivale Server Started", 1, 60s)) << test::readFile(dir / "stderr.txt");
        ASSERT_TRUE(log.waitFor("[System] Modem1 Active, Ready To Send Pages"));
    }

    void testPage(const std::string& pin) {
        ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=" + pin));
    }

    std::vector<std::string> dials() const {
        std::vector<std::string> out;
        for (const auto& c : modem->commands())
            if (c.rfind("ATD", 0) == 0) out.push_back(c);
        return out;
    }

    template <typename Pred>
    static bool poll(Pred done, std::chrono::milliseconds bound = 30s) {
        auto until = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= until) return false;
            std::this_thread::sleep_for(20ms);
        }
        return true;
    }

    void stopCleanly() {
        service->signal(SIGTERM);
        auto status = service->waitExit(60s);
        ASSERT_TRUE(status) << "ZQSvc did not end on SIGTERM";
        EXPECT_EQ(*status, 0);
        EXPECT_TRUE(log.has("[System] Modem1 Disabled!"));
    }

    static std::string okLine(const std::string& pin) {
        return "[TAP Delivery OK] Modem1 Message Submitted For Processing ID:  - Nerivale Server PIN:" + pin +
               " Msg: Nerivale Server Test Message";
    }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    test::PtyPair pty;
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<test::HayesModem> modem;
    std::unique_ptr<test::ZQSvcProcess> service;
};

// Both pages reach the queue inside the spooler's start pause, so its first
// cycle hands them to the port as one batch: one call carries both.
TEST_F(ModemDeliveryTest, TwoTestPagesGoOutOnOneModemCall) {
    ASSERT_NO_FATAL_FAILURE(start({}));
    ASSERT_NO_FATAL_FAILURE(testPage("5551234"));
    ASSERT_NO_FATAL_FAILURE(testPage("5555678"));

    ASSERT_TRUE(log.waitFor("[TAP Delivery OK] Modem1 ", 2, kPageBound)) << ::testing::PrintToString(log.lines());
    ASSERT_TRUE(log.waitFor("[TAP Connection Status] Modem1 Hanging-Up Port", 1, 60s));
    const std::string assigned = "[TAP Connection Status] Carrier Assigned To Modem1 Using Device Num. 0";
    EXPECT_EQ(log.count(assigned), 1u) << ::testing::PrintToString(log.lines());
    EXPECT_TRUE(log.has(okLine("5551234"))) << ::testing::PrintToString(log.lines());
    EXPECT_TRUE(log.has(okLine("5555678")));
    // Placed, delivered, then hung up: in that order in the log.
    const std::size_t at = log.indexOf(assigned);
    const std::size_t hangUp = log.indexOf("[TAP Connection Status] Modem1 Hanging-Up Port");
    ASSERT_NE(at, std::string::npos);
    for (const char* pin : {"5551234", "5555678"}) {
        const std::size_t ok = log.indexOf(okLine(pin));
        EXPECT_LT(at, ok);
        EXPECT_LT(ok, hangUp);
    }

    EXPECT_EQ(dials(), std::vector<std::string>{"ATDT9,5551000"}) << ::testing::PrintToString(modem->commands());
    const std::string online = modem->online();
    std::size_t logins = 0;
    for (std::size_t p = online.find("\x1bPG1"); p != std::string::npos; p = online.find("\x1bPG1", p + 1)) ++logins;
    EXPECT_EQ(logins, 1u);
    EXPECT_NE(online.find("5551234"), std::string::npos);
    EXPECT_NE(online.find("5555678"), std::string::npos);
    EXPECT_NE(online.find("Nerivale Server Test Message"), std::string::npos);
    // The line is logged first; the logout and the modem's hang-up follow.
    EXPECT_TRUE(poll([&] { return modem->loggedOut(); }));
    EXPECT_TRUE(poll([&] {
        auto c = modem->commands();
        return std::find(c.begin(), c.end(), "ATH0") != c.end();
    })) << ::testing::PrintToString(modem->commands());

    stopCleanly();
}

// The carrier's number is busy on every dial: the third failed connection
// gives the page up, and the program still stops in order.
TEST_F(ModemDeliveryTest, BusyNumberThreeTimesDropsThePage) {
    test::HayesScript busy;
    busy.dialResult = "BUSY";
    ASSERT_NO_FATAL_FAILURE(start(busy));
    ASSERT_NO_FATAL_FAILURE(testPage("5551234"));

    ASSERT_TRUE(log.waitFor("[Delivery Fail] ", 1, kPageBound)) << ::testing::PrintToString(log.lines());
    EXPECT_TRUE(log.has("[Delivery Fail] Modem1 Error Connecting To Provider \"Carrier\" ID:  - Nerivale Server "
                        "PIN:5551234 Msg: Nerivale Server Test Message"))
        << ::testing::PrintToString(log.lines());
    EXPECT_EQ(log.count("[TAP Connection Error] Unable To Connect To Carrier"), 3u);
    EXPECT_EQ(log.count("[Dial-up Connection] Modem1 Dialed Number Busy"), 3u);
    EXPECT_EQ(log.count("[TAP Connection Status] Carrier Assigned To Modem1 Using Device Num. 0"), 3u);
    EXPECT_EQ(log.count("[TAP Delivery OK] "), 0u);
    EXPECT_TRUE(modem->online().empty());

    stopCleanly();
    // Given up means gone: no fourth dial before the stop.
    EXPECT_EQ(dials(), std::vector<std::string>(3, "ATDT9,5551000")) << ::testing::PrintToString(modem->commands());
}

}  // namespace
}  // namespace nv
