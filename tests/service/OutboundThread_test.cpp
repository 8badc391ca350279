// The engine in-process with real port threads and a fast spooler: TAP pages
// go to scripted TAP terminals over TCP, a direct line (pty) and a scripted
// Hayes modem (pty), watched through Log.Dat and a fake manager.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/RecordAccess.h"
#include "protocols/ModemConfig.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"
#include "tests/service/IntakePages.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

constexpr char RS = 0x1E, CR = 0x0D;

class OutboundTest : public ::testing::Test {
protected:
    void SetUp() override { manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig"); }
    void TearDown() override { engine.reset(); }

    void start(const std::vector<test::PortFixture>& ports) {
        test::writeFile(dir / "Ports.dat", test::portFile(ports));
        EngineOptions o = test::inProcessOptions(dir.path(), manual, 20000ms);
        o.pagerClock = &pagerClock;
        o.outbound = test::fastOutboundTiming();
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        for (auto& p : pending) engine->AddToQueue(p, true);
        pending.clear();
        engine->StartServer();
    }

    // A page as the intake builds it, queued before the engine starts so one
    // spooler cycle sees all of them.
    void queue(const ProviderRec& primary, const std::string& pin, const std::string& msg,
               const ProviderRec* secondary = nullptr) {
        pending.push_back(test::intakePage(primary, pin, msg, secondary));
    }

    std::vector<std::string> logTexts() { return log.lines(); }
    std::size_t countLines(const std::string& prefix) { return log.count(prefix); }
    // Pumps the engine until `n` lines begin with `prefix`.
    bool waitLines(const std::string& prefix, std::size_t n, std::chrono::milliseconds bound = 20s) {
        return log.waitFor(prefix, n, bound);
    }
    bool hasLine(const std::string& text) { return log.has(text); }
    void stop() {
        engine->StopServer();
        loop.pumpFor(20ms);
    }

    test::TempDir dir;
    ManualClock manual;
    test::ScaledClock pagerClock{20};
    EventLoop loop;
    test::LogWatch log{dir.path(), [this] { loop.pumpFor(10ms); }};
    std::unique_ptr<test::FakeManager> manager;
    std::vector<PageRecordPtr> pending;
    std::unique_ptr<TNerivaleSvcMain> engine;
};

const test::PortFixture kModemPort{.name = "Modem1"};

TEST_F(OutboundTest, OneProviderOneLoginAndTenPagesPerCall) {
    test::TapTerminal acme = test::TapTerminal::onTcp({});
    ProviderRec p = test::tapOverIpProvider("Acme", std::to_string(acme.port()));
    for (int i = 0; i < 11; ++i) queue(p, "55500" + std::to_string(i), "Hello " + std::to_string(i));
    start({kModemPort});
    ASSERT_TRUE(waitLines("[TAP Delivery OK] ", 11));
    ASSERT_TRUE(waitLines("[TAP Connection Status] Modem1 Hanging-Up Port", 2));
    stop();
    EXPECT_EQ(acme.loginsSeen(), 2);  // 10 pages on one call, then 1
    EXPECT_EQ(acme.blocksSeen(), 11);
    EXPECT_EQ(countLines("[TAP Connection Status] Acme Assigned To Modem1 Using Device Num. 0"), 2u);
    EXPECT_TRUE(hasLine("[System] Modem1 Active, Ready To Send Pages"));
    EXPECT_TRUE(hasLine("[TAP Delivery OK] Modem1 Message Submitted For Processing ID:  - Nerivale Server PIN:555000 Msg: Hello 0"))
        << ::testing::PrintToString(logTexts());
    EXPECT_EQ(engine->counters().TapCount, 11);
    EXPECT_EQ(engine->counters().TransactionCount, 11);
    EXPECT_TRUE(hasLine("[System] Modem1 Disabled!"));
}

TEST_F(OutboundTest, ProviderChangeAndCallLimitHangUpAndDialAgain) {
    test::TapTerminal acme = test::TapTerminal::onTcp({});
    test::TapTerminal bravo = test::TapTerminal::onTcp({});
    ProviderRec a = test::tapOverIpProvider("Acme", std::to_string(acme.port()), 2);
    ProviderRec b = test::tapOverIpProvider("Bravo", std::to_string(bravo.port()));
    for (int i = 0; i < 3; ++i) queue(a, "10" + std::to_string(i), "A");
    queue(b, "200", "B");
    start({kModemPort});
    ASSERT_TRUE(waitLines("[TAP Delivery OK] ", 4));
    stop();
    EXPECT_EQ(acme.loginsSeen(), 2);
    EXPECT_EQ(countLines("[TAP Status] Max Messages Per Call Reached!"), 1u);
    EXPECT_EQ(bravo.loginsSeen(), 1);
    EXPECT_EQ(bravo.blocksSeen(), 1);
}

// A page whose parts no longer fit the call's quota goes out on a new call:
// no failure line, nothing counted as an error. The secondary record keeps
// its own MsgLength, so each page here is three parts.
TEST_F(OutboundTest, PageBeyondTheCallQuotaGoesOutOnANewCall) {
    test::TapTerminal backup = test::TapTerminal::onTcp({});
    ProviderRec dead = test::tapOverIpProvider("Dead", std::to_string(test::freeLoopbackPort()));
    ProviderRec sec = test::tapOverIpProvider("Backup", std::to_string(backup.port()), 5);
    sec.setMsgLength(26);
    queue(dead, "101", "aaaa bbbb cccc dddd eeee ffff", &sec);
    queue(dead, "102", "aaaa bbbb cccc dddd eeee ffff", &sec);
    start({kModemPort});
    ASSERT_TRUE(waitLines("[TAP Delivery OK] ", 2));
    stop();
    EXPECT_EQ(backup.loginsSeen(), 2);
    EXPECT_EQ(backup.blocksSeen(), 6);
    EXPECT_EQ(countLines("[TAP Status] Max Messages Per Call Reached!"), 1u);
    EXPECT_EQ(countLines("[TAP Delivery Fail]"), 0u) << ::testing::PrintToString(logTexts());
    EXPECT_EQ(countLines("[System] Modem1 Message Deleted"), 0u);
    EXPECT_EQ(engine->counters().TapCount, 2);
    EXPECT_EQ(engine->counters().ErrorCount, 0);
}

TEST_F(OutboundTest, ThreeFailedConnectionsDropThePage) {
    ProviderRec dead = test::tapOverIpProvider("Dead", std::to_string(test::freeLoopbackPort()));
    queue(dead, "5551234", "Nobody home");
    start({kModemPort});
    ASSERT_TRUE(waitLines("[Delivery Fail] ", 1));
    loop.pumpFor(50ms);
    EXPECT_EQ(countLines("[TAPIP Connection Error]Unable To Connect To Dead"), 3u);
    EXPECT_TRUE(hasLine("[Delivery Fail] Modem1 Error Connecting To Provider \"Dead\" ID:  - Nerivale Server "
                        "PIN:5551234 Msg: Nobody home"));
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(engine->queueLength(), 0u);
    EXPECT_EQ(engine->connectionErrors().size(), 0u);
    stop();
}

TEST_F(OutboundTest, FailingPrimaryFallsBackToTheSecondary) {
    test::TapTerminal backup = test::TapTerminal::onTcp({});
    ProviderRec dead = test::tapOverIpProvider("Dead", std::to_string(test::freeLoopbackPort()));
    ProviderRec sec = test::tapOverIpProvider("Backup", std::to_string(backup.port()));
    queue(dead, "777", "Fallback", &sec);
    start({kModemPort});
    ASSERT_TRUE(waitLines("[TAP Delivery OK] ", 1));
    stop();
    EXPECT_EQ(countLines("[TAPIP Connection Error]Unable To Connect To Dead"), 1u);
    EXPECT_TRUE(hasLine("[System] Modem1 Sending Secondary Connections"));
    EXPECT_EQ(backup.blocksSeen(), 1);
    EXPECT_NE(backup.received().find("777"), std::string::npos);
}

TEST_F(OutboundTest, RejectedPageIsRequeuedAndDeletedAtTheThirdFailure) {
    test::TapTerminal rejecting = test::TapTerminal::onTcp({true, {}, {std::string{RS, CR}}});
    queue(test::tapOverIpProvider("Picky", std::to_string(rejecting.port())), "31337", "No");
    start({kModemPort});
    ASSERT_TRUE(waitLines("[System] Modem1 Message Deleted, To Many Connection Errors - 31337 From Nerivale Server",
                          1));
    EXPECT_EQ(countLines("[TAP Delivery Fail] Modem1 "), 3u);
    loop.pumpFor(20ms);
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    stop();
}

// The intake's page for a provider tied to a direct port: the port's group name
// differs in case, the line is a pty behind the COM map, and only the two
// statistics fields of Provider.dat change.
TEST_F(OutboundTest, DirectPortServesItsProviderFromTheIntake) {
    test::PtyPair pty;
    pty.holdSlave();
    std::filesystem::create_symlink(pty.slavePath(), dir / "COM3");
    test::TapTerminal term = test::TapTerminal::onFd(pty.master(), {});
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "ACME"}}));
    test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "ACME", .deliveryType = dtTapDirect,
                                                                .msgLength = 80, .pageCount = 4}}));
    start({{.name = "Direct3", .direct = true, .directGroup = "acme", .comPort = 2, .comData = 1}});
    engine->PipeServer1PipeMessage("cmd=test_page\r\npin=5550100");
    ASSERT_TRUE(waitLines("[TAP Delivery OK] Direct3 ", 1)) << ::testing::PrintToString(logTexts());
    stop();
    EXPECT_NE(term.received().find("5550100"), std::string::npos);
    UnattendedPrompt prompt([](const std::string&) {});
    auto stored = FindProvider("ACME", dir.path(), prompt);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->PageCount(), 5);
    EXPECT_EQ(stored->MsgLength(), 80);  // not the page's length
    EXPECT_GT(stored->LastAccess(), 0.0);
}

TEST_F(OutboundTest, ModemPortDialsPrefixAndNumberThroughTheModemLine) {
    test::PtyPair pty;
    pty.holdSlave();
    test::writeFile(dir / "Modems.ini", "[Line0]\r\nName=TestModem\r\nDevice=" + pty.slavePath() + "\r\nInit=ATZ\r\n");
    ModemSettings s;
    s.dataBits = 8;
    s.parity = 'N';
    ASSERT_TRUE(writeModemConfigFile(dir / "system.mcf", s));
    test::HayesModem modem(pty.master(), {});
    ProviderRec p;
    p.setCompanyName("Carrier");
    p.setDeliveryType(dtTapModem);
    p.setTerminalAccessNum("5551000");
    p.setPassword("pw");
    queue(p, "4242", "Over the phone");
    start({{.name = "Modem1", .modem = "TestModem", .dialPrefix = "9,"}});
    ASSERT_TRUE(waitLines("[TAP Delivery OK] Modem1 ", 1)) << ::testing::PrintToString(logTexts());
    ASSERT_TRUE(waitLines("[TAP Connection Status] Modem1 Hanging-Up Port", 1));
    stop();
    auto cmds = modem.commands();
    EXPECT_TRUE(std::any_of(cmds.begin(), cmds.end(), [](const std::string& c) { return c == "ATDT9,5551000"; }))
        << ::testing::PrintToString(cmds);
    EXPECT_NE(modem.online().find("4242"), std::string::npos);
}

TEST_F(OutboundTest, ModemDeviceBeyondTheModemLinesFailsWithALine) {
    ProviderRec p;
    p.setCompanyName("Carrier");
    p.setDeliveryType(dtTapModem);
    queue(p, "4242", "Nowhere");
    start({{.name = "Modem5", .tapiDevice = 5}});
    ASSERT_TRUE(waitLines("[TAP Connection Error] Modem5 Modem Device Num. 5 Not Found", 1));
    EXPECT_TRUE(waitLines("[TAP Connection Error] Unable To Connect To Carrier", 1));
    stop();
}

TEST_F(OutboundTest, OnlyEnabledOutboundPortsUpToSixteenGetThreads) {
    std::vector<test::PortFixture> ports;
    ports.push_back({.name = "Inbound", .direction = 0});
    ports.push_back({.name = "Off", .enabled = false});
    for (int i = 1; i <= 17; ++i) ports.push_back({.name = "P" + std::to_string(i)});
    start(ports);
    ASSERT_TRUE(waitLines("[System] P", 16));
    loop.pumpFor(50ms);
    EXPECT_TRUE(hasLine("[System] P16 Active, Ready To Send Pages"));
    EXPECT_FALSE(hasLine("[System] P17 Active, Ready To Send Pages"));
    EXPECT_FALSE(hasLine("[System] Inbound Active, Ready To Send Pages"));
    EXPECT_FALSE(hasLine("[System] Off Active, Ready To Send Pages"));
    stop();
}

TEST_F(OutboundTest, CancelCallEndsThePortThreadsAndStopTellsTheManager) {
    start({kModemPort, {.name = "Modem2"}});
    ASSERT_TRUE(waitLines("[System] Modem2 Active", 1));
    engine->PipeServer1PipeMessage("cmd=cancel_call");
    ASSERT_TRUE(waitLines("[System] Modem", 4));  // two "Active", two "Disabled!"
    EXPECT_TRUE(waitLines("[System] Modem1 Disabled!", 1));
    EXPECT_TRUE(waitLines("[System] Modem2 Disabled!", 1));
    stop();
    EXPECT_TRUE(manager->waitForExact("cmd=cancelcall1\r\nvalue=0\r\n", 5s));
    EXPECT_FALSE(engine->Cancelcall.load());
}

// A stop while the terminal holds its answer to a block: the pager's reply
// wait ends at the stop, so the page's result line, its counter and the port's
// "Disabled!" are all written before "Server ShutDown", the last line. The
// reply wait here is a real ten seconds, longer than the stop's bound.
TEST_F(OutboundTest, StopDuringABlockReplyReportsThePageBeforeShutDown) {
    test::TapTerminal acme = test::TapTerminal::onTcp({});
    acme.holdAfterBlocks(0);
    queue(test::tapOverIpProvider("Acme", std::to_string(acme.port())), "5551234", "Held");
    test::writeFile(dir / "Ports.dat", test::portFile({kModemPort}));
    EngineOptions o = test::inProcessOptions(dir.path(), manual, 3000ms);
    o.outbound = test::fastOutboundTiming();
    engine = std::make_unique<TNerivaleSvcMain>(loop, o);
    for (auto& p : pending) engine->AddToQueue(p, true);
    pending.clear();
    engine->StartServer();
    ASSERT_TRUE(test::waitUntil(
        [&] {
            loop.pumpFor(5ms);
            return acme.blocksSeen() == 1;
        },
        20s));
    engine->StopServer();
    loop.pumpFor(20ms);
    const auto lines = logTexts();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back(), "[System] Server ShutDown") << ::testing::PrintToString(lines);
    auto at = [&](const std::string& prefix) {
        return std::find_if(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_NE(at("[TAP Delivery Fail] Modem1 "), lines.end()) << ::testing::PrintToString(lines);
    EXPECT_NE(at("[System] Modem1 Disabled!"), lines.end());
    EXPECT_LT(at("[TAP Delivery Fail] Modem1 "), at("[System] Modem1 Disabled!"));
    EXPECT_EQ(engine->queueLength(), 1u);  // back in the queue, not lost
    acme.release();
}

// clear_queues while a port works through its batch: the page on the wire is
// finished, the rest of the batch and the waiting pages are dropped with their
// lines, and the port serves the next page afterwards.
TEST_F(OutboundTest, ClearQueuesDropsTheBatchBeingWorked) {
    test::TapTerminal acme = test::TapTerminal::onTcp({});
    acme.holdAfterBlocks(2);
    ProviderRec p = test::tapOverIpProvider("Acme", std::to_string(acme.port()));
    for (int i = 0; i < 12; ++i) queue(p, "55510" + std::to_string(i), "Batch " + std::to_string(i));
    start({kModemPort});
    auto until = std::chrono::steady_clock::now() + 20s;
    while (acme.blocksSeen() < 3 && std::chrono::steady_clock::now() < until) loop.pumpFor(5ms);
    ASSERT_EQ(acme.blocksSeen(), 3);  // the third page waits for its answer
    engine->PipeServer1PipeMessage("cmd=clear_queues");
    acme.release();

    ASSERT_TRUE(waitLines("[System] Modem1 Message Cleared From Queue - ", 7)) << ::testing::PrintToString(logTexts());
    ASSERT_TRUE(waitLines("[TAP Connection Status] Modem1 Hanging-Up Port", 1));
    EXPECT_TRUE(hasLine("[Operator Action] Message Queue Cleared!"));
    EXPECT_TRUE(hasLine("[System] Modem1 Message Cleared From Queue - 555109 From Nerivale Server"));
    EXPECT_EQ(countLines("[TAP Delivery OK] "), 3u);
    EXPECT_EQ(engine->queueLength(), 0u);

    // Nothing of the old batch comes back; a new page goes out on the same port.
    queue(p, "5559999", "After the clear");
    engine->AddToQueue(pending.back(), true);
    pending.clear();
    ASSERT_TRUE(waitLines("[TAP Delivery OK] ", 4));
    stop();
    EXPECT_TRUE(hasLine("[TAP Delivery OK] Modem1 Message Submitted For Processing ID:  - Nerivale Server "
                        "PIN:5559999 Msg: After the clear"));
    EXPECT_EQ(acme.blocksSeen(), 4);
    EXPECT_EQ(countLines("[System] Modem1 Message Cleared From Queue - "), 7u);
    for (const auto& line : logTexts()) EXPECT_EQ(line.find("Returned To Queue"), std::string::npos) << line;
}

// Many pages for several providers through several ports, some providers
// failing: every page ends delivered or logged as given up, and nothing hangs.
TEST_F(OutboundTest, StressEveryPageEndsDeliveredOrLogged) {
    test::TapTerminal good1 = test::TapTerminal::onTcp({});
    test::TapTerminal good2 = test::TapTerminal::onTcp({});
    test::TapTerminal picky = test::TapTerminal::onTcp({true, {}, {std::string{RS, CR}}});
    std::vector<ProviderRec> providers = {
        test::tapOverIpProvider("Good1", std::to_string(good1.port())),
        test::tapOverIpProvider("Good2", std::to_string(good2.port()), 3),
        test::tapOverIpProvider("Picky", std::to_string(picky.port())),
        test::tapOverIpProvider("Dead", std::to_string(test::freeLoopbackPort()))};
    const int kPages = 48;
    for (int i = 0; i < kPages; ++i) {
        const ProviderRec& p = providers[static_cast<std::size_t>(i * 7 % 4)];
        const ProviderRec* sec = i % 5 == 0 ? &providers[0] : nullptr;
        queue(p, "9" + std::to_string(1000 + i), "Stress " + std::to_string(i), sec);
    }
    start({kModemPort, {.name = "Modem2"}, {.name = "Modem3"}});
    auto ended = [&] {
        return countLines("[TAP Delivery OK] ") + countLines("[Delivery Fail] ") +
               countLines("[System] Modem1 Message Deleted") + countLines("[System] Modem2 Message Deleted") +
               countLines("[System] Modem3 Message Deleted");
    };
    auto until = std::chrono::steady_clock::now() + 60s;
    while (ended() < static_cast<std::size_t>(kPages) && std::chrono::steady_clock::now() < until)
        loop.pumpFor(20ms);
    EXPECT_EQ(ended(), static_cast<std::size_t>(kPages)) << ::testing::PrintToString(logTexts());
    stop();
    EXPECT_EQ(engine->queueLength(), 0u);
    EXPECT_EQ(static_cast<int>(good1.blocksSeen() + good2.blocksSeen()),
              static_cast<int>(countLines("[TAP Delivery OK] ")));
}

}  // namespace
}  // namespace nv
