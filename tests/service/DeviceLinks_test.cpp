// The engine's devices from Config.Dat: the serial settings each section gives
// as the far end of a pseudo-terminal sees them, the TNPP link's log lines,
// and the engine in-process with its TNPP link, its GSM modem and the pages
// its workers send through them.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <mutex>

#include "foundation/ConfigFile.h"
#include "platform/KORCom32.h"
#include "platform/SerialPort.h"
#include "protocols/KORSMSMsg.h"
#include "protocols/KORTNPP.h"
#include "service/DeviceLinks.h"
#include "service/SmsSender.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/GsmModem.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TestSupport.h"
#include "tests/peers/TnppPeer.h"
#include "tests/service/FastTiming.h"
#include "tests/service/IntakePages.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

void linkCom(const test::TempDir& dir, int com, const std::string& device) {
    const auto link = dir / ("COM" + std::to_string(com));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(device, link);
}

TEST(DeviceSettings, EachSectionAsTheFarEndSeesIt) {
    enum Section { Tnpp, Brevicor, Sms };
    struct Case {
        std::string what;
        Section section;
        std::string keys;  // Config.Dat lines of the section
        int com;           // the COM port opened
        int baud;
        int dataBits;  // the port's framing: a pty carries no framing to show
        char parity;
        bool twoStopBits;
        bool rtsCts;
        bool xonXoff;
    } cases[] = {
        {"TNPP defaults", Tnpp, "", 1, 9600, 8, 'N', false, true, false},
        {"TNPP 7,E,1 Xon/Xoff 1200", Tnpp, "UseCom=1\r\nComSettings=1\r\nHandShake=1\r\nComSpeed=3\r\n", 2, 1200, 7,
         'E', false, false, true},
        {"TNPP both", Tnpp, "HandShake=2\r\nComSpeed=12\r\n", 1, 115200, 8, 'N', false, true, true},
        {"TNPP none", Tnpp, "HandShake=3\r\nComSpeed=7\r\n", 1, 14400, 8, 'N', false, false, false},
        {"Brevicor defaults: COM7, 8,N,1, RTS/CTS", Brevicor, "", 7, 9600, 8, 'N', false, true, false},
        {"Brevicor 7,E,1 none", Brevicor, "ComPort=0\r\nDataSettings=0\r\nFlowCtrl=0\r\n", 1, 9600, 7, 'E', false,
         false, false},
        {"Brevicor Xon/Xoff 56000", Brevicor, "DataSettings=1\r\nFlowCtrl=2\r\nComSpeed=10\r\n", 7, 56000, 8, 'N',
         false, false, true},
        {"Brevicor both", Brevicor, "FlowCtrl=3\r\nComSpeed=8\r\n", 7, 19200, 8, 'N', false, true, true},
        {"Brevicor codes outside the lists", Brevicor, "DataSettings=2\r\nFlowCtrl=4\r\nComSpeed=13\r\n", 7, 9600, 8,
         'N', false, false, false},
        {"SMS COM3 57600", Sms, "COMPort=2\r\nCOMSpeed=11\r\n", 3, 57600, 8, 'N', true, false, false},
    };
    const char* names[] = {"TNPP", "Brevicor Port", "SMS"};
    for (const auto& c : cases) {
        test::TempDir dir;
        test::PtyPair pty;
        linkCom(dir, c.com, pty.slavePath());
        test::writeFile(dir / "Config.Dat", std::string("[") + names[c.section] + "]\r\n" + c.keys);
        const ConfigFile cfg = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Service);
        std::unique_ptr<TKORCom32> port;
        if (c.section == Tnpp) {
            auto link = std::make_unique<TKORTNPP>(dir.path());
            applyTnppSection(*link, cfg.tnpp());
            port = std::move(link);
        } else if (c.section == Brevicor) {
            port = std::make_unique<TKORCom32>(dir.path());
            applyBrevicorSection(*port, cfg.brevicorPort());
        } else {
            auto modem = std::make_unique<TKORSMSMessaging>(dir.path());
            applySmsSection(*modem, cfg.sms());
            port = std::move(modem);
        }
        ASSERT_TRUE(port->Connect()) << c.what << ": " << port->LastError();
        SerialSettings far;
        ASSERT_TRUE(queryLineSettings(pty.master(), far)) << c.what;
        EXPECT_EQ(far.baud, c.baud) << c.what;
        EXPECT_EQ(far.stopBits == SerialStopBits::Two, c.twoStopBits) << c.what;
        EXPECT_EQ(far.rtsCts, c.rtsCts) << c.what;
        EXPECT_EQ(far.xonXoff, c.xonXoff) << c.what;
        EXPECT_EQ(port->ComPortDataBits(), c.dataBits == 7 ? db7BITS : db8BITS) << c.what;
        EXPECT_EQ(port->ComPortParity(), c.parity == 'E' ? ptEVEN : ptNONE) << c.what;
        port->Disconnect();
    }
}

TEST(TnppLines, EachEventItsLine) {
    TKORTNPP link;
    std::vector<std::string> lines;
    bindTnppEvents(link, [&](const std::string& l) { lines.push_back(l); });
    link.OnPortOpened();
    link.OnPortClosed();
    link.OnLinkTest();
    link.OnLinkError();
    for (auto* e : {&link.OnCRCError, &link.OnRmtCancel, &link.OnSendPacket, &link.OnPacketRequeue,
                    &link.OnPacketSent, &link.OnPacketDropped})
        (*e)("$P");
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "[System] TNPP Services Active!", "[TNPP] TNPP Port Closed", "[TNPP] Link Test OK!",
                         "[TNPP] TNPP Link Lost Or Unable To Astablish Link", "[TNPP] CRC Error: $P",
                         "[TNPP] Remote Caneled: $P", "[TNPP] Sending Packet: $P", "[TNPP] Packet Requeued: $P",
                         "[TNPP] Packet Sent: $P", "[TNPP] Packet Dropped: $P"}));
}

// The engine in-process on a temporary data directory.
class DeviceEngineTest : public ::testing::Test {
protected:
    void start(const std::string& config) {
        test::writeFile(dir / "Config.Dat", config);
        test::writeFile(dir / "NpaNxxRoute.dat",
                        test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "TNPP"},
                                         {.name = "Gsm", .npanxx = "777", .provider = "Gsm"}}));
        test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Gsm", .deliveryType = 4}}));
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
        EngineOptions o = test::inProcessOptions(dir.path(), clock, 5000ms);
        o.localNow = [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };
        o.smsPause = 0ms;
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        ASSERT_TRUE(engine->StartServer());
    }
    std::vector<std::string> logTexts() { return log.lines(); }
    bool waitLog(const std::string& text) { return log.waitForLine(text, 1, 10s); }
    // The lines from the set-up steps, in their order.
    std::vector<std::string> deviceLines() {
        std::vector<std::string> out;
        for (const auto& t : logTexts())
            if (t.find("TNPP") != std::string::npos || t.find("Brevi") != std::string::npos ||
                t.rfind("[SMS Status] ", 0) == 0)
                out.push_back(t);
        return out;
    }
    bool waitCounter(int id, int value) {
        const std::string want =
            "cmd=cntrupd\r\ncounter=" + std::to_string(id) + "\r\nvalue=" + std::to_string(value);
        for (auto until = std::chrono::steady_clock::now() + 10s; std::chrono::steady_clock::now() < until;) {
            loop.pumpFor(5ms);
            if (manager->waitFor([&](const std::string& m) { return m == want; }, 0ms)) return true;
        }
        return false;
    }
    void page(const std::string& pin, const std::string& text) {
        bool submitted = false;
        engine->KORTap1MsgReceived(nullptr, pin, text, submitted);
        ASSERT_TRUE(submitted);
    }

    test::TempDir dir;
    ManualClock clock;
    EventLoop loop;
    test::LogWatch log{dir.path(), [this] { loop.pumpFor(5ms); }};
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<TNerivaleSvcMain> engine;
};

TEST_F(DeviceEngineTest, DevicesThatDoNotOpenAreLoggedAndPagesFail) {
    // COM41: no link in the data directory and no /dev/ttyS40 either.
    start("[TNPP]\r\nEnableTNPP=1\r\nUseCom=40\r\n[Brevicor Port]\r\nEnabled=1\r\nComPort=40\r\n"
          "[SMS]\r\nEnabled=1\r\nComPort=40\r\n");
    ASSERT_TRUE(waitLog("[System] All Services Active!"));
    EXPECT_EQ(deviceLines(), (std::vector<std::string>{
                                 "[System] Starting TNPP Services!",
                                 "[System] Error: Unable To Open TNPP ComPort!",
                                 "[System] Starting Brevicor Services!",
                                 "[System] Error: Unable To Open Brevi Cor ComPort!",
                                 "[SMS Status] SMS Gateway Off-Line, Unable To Open Port",
                             }));
    page("12345", "Hello");
    EXPECT_TRUE(waitLog("[TNPP Delivery Fail] Error Sending Message To \"Nerivale Server 12345\""));
    page("7771", "Hi");
    EXPECT_TRUE(waitLog("[SMS Delivery Fail] SMS COM41: Not Open! ID:  - Nerivale Server PIN:7771 Msg: Hi"));
    EXPECT_TRUE(waitCounter(kCtError, 2));
}

TEST_F(DeviceEngineTest, SwitchedOffSectionsStartNothing) {
    start("[TNPP]\r\nEnableTNPP=0\r\nUseCom=0\r\n[SMS]\r\nEnabled=0\r\n");
    ASSERT_TRUE(waitLog("[System] All Services Active!"));
    EXPECT_TRUE(deviceLines().empty());
    page("7771", "Hi");
    EXPECT_TRUE(waitLog("[SMS Delivery Fail] SMS Messaging Not Enabled! ID:  - Nerivale Server PIN:7771 Msg: Hi"));
}

TEST_F(DeviceEngineTest, TnppPageGoesOutOnTheLink) {
    test::PtyPair pty;
    linkCom(dir, 1, pty.slavePath());
    start("[TNPP]\r\nEnableTNPP=1\r\nUseCom=0\r\nDestAddr=1\r\nSourceAddr=2\r\nTransparentCRC=1\r\n");
    test::TnppPeer peer(pty, true);
    ASSERT_FALSE(peer.bringUp().empty());
    ASSERT_TRUE(waitLog("[System] TNPP Services Active!"));
    page("12345", "Hello");
    const std::string packet = peer.packet("000103000201", "B@12345     Hello");
    EXPECT_EQ(test::showBytes(peer.readPacket()), test::showBytes(packet));
    peer.send(test::TnppPeer::ACK);
    EXPECT_TRUE(waitLog("[TNPP Delivery OK]  ID:  - Nerivale Server PIN:12345 Msg: Hello"));
    // The entry's message id (none here) and "$" come before the packet.
    EXPECT_TRUE(waitLog("[TNPP] Packet Sent: $" + packet)) << ::testing::PrintToString(deviceLines());
    EXPECT_TRUE(waitCounter(kCtTNPP, 1));
    EXPECT_TRUE(waitCounter(kCtTransaction, 1));
    engine.reset();
    EXPECT_EQ(logTexts().back(), "[System] Server ShutDown");
    auto texts = logTexts();
    EXPECT_NE(std::find(texts.begin(), texts.end(), "[TNPP] TNPP Port Closed"), texts.end());
}

TEST_F(DeviceEngineTest, SmsPageOfThreeHundredCharactersGoesAsThreeMessages) {
    test::GsmModemScript script;
    script.creg = {"0,5"};
    script.network = "Vodafone";
    test::GsmModem modem(script);
    linkCom(dir, 3, modem.devicePath());
    start("[SMS]\r\nEnabled=1\r\nComPort=2\r\n");
    ASSERT_TRUE(waitLog("[SMS Status] SMS Gateway On-Line Roaming with Vodafone"));
    std::string text;
    while (text.size() < 300) text += "word" + std::to_string(text.size()) + " ";
    text.resize(300);
    page("7771", text);
    const auto parts = splitSmsPage(text);
    ASSERT_EQ(parts.size(), 3u);
    ASSERT_TRUE(waitLog("[SMS Delivery OK] Message Submitted For Processing ID:  - Nerivale Server PIN:7771 Msg: " +
                        text));
    std::vector<std::string> want;
    for (int i = 1; i <= 3; ++i) want.push_back(labelSmsPart(i, 3, parts[i - 1]));
    EXPECT_EQ(modem.bodies(), want);
    EXPECT_TRUE(waitCounter(kCtSMS, 1));
}

// A port thread's pager logs through the engine's TAP handlers, and its SMS
// pages (here a secondary provider's) go out through the engine's GSM modem.
TEST_F(DeviceEngineTest, PortThreadsUseTheTapHandlersAndTheModem) {
    test::TapTerminal live = test::TapTerminal::onTcp({});
    test::GsmModem modem;
    linkCom(dir, 3, modem.devicePath());
    test::writeFile(dir / "Ports.dat", test::portFile({{.name = "Modem1"}}));
    test::writeFile(dir / "Config.Dat", "[SMS]\r\nEnabled=1\r\nComPort=2\r\n");
    manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
    test::ScaledClock pagerClock{20};
    EngineOptions o = test::inProcessOptions(dir.path(), clock, 20000ms);
    o.pagerClock = &pagerClock;
    o.localNow = [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };
    o.smsPause = 0ms;
    o.outbound = test::fastOutboundTiming();
    engine = std::make_unique<TNerivaleSvcMain>(loop, o);
    ProviderRec gsm;
    gsm.setCompanyName("Gsm");
    gsm.setDeliveryType(dtSmsModem);
    auto a = test::intakePage(test::tapOverIpProvider("Live", std::to_string(live.port())), "0711", "Hello");
    auto b = test::intakePage(test::tapOverIpProvider("Dead", std::to_string(test::freeLoopbackPort())), "0711",
                              "Fallback", &gsm);
    engine->AddToQueue(a, true);
    engine->AddToQueue(b, true);
    ASSERT_TRUE(engine->StartServer());
    EXPECT_TRUE(waitLog("[TAP Network Status] Modem1 Login Accepted"));
    ASSERT_TRUE(modem.waitReceived("Fallback", 20s));
    EXPECT_EQ(modem.bodies(), (std::vector<std::string>{"Fallback"}));
    EXPECT_TRUE(waitCounter(kCtSMS, 1));
}

}  // namespace
}  // namespace nv
