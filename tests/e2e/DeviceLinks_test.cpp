// ZQSvc with its three devices on pseudo-terminals: the TNPP link on COM1 with
// a scripted peer, the encoder port on COM7 (its default), the GSM modem on
// COM3 with a scripted modem; test pages go out on the link and the modem.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>

#include "platform/SerialPort.h"
#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/GsmModem.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"
#include "tests/peers/TnppPeer.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

class DeviceLinksE2e : public ::testing::Test {
protected:
    void link(int com, const std::string& device) {
        std::filesystem::create_symlink(device, dir / ("COM" + std::to_string(com)));
    }
    std::vector<std::string> logTexts() { return log.lines(); }
    bool waitLog(const std::string& text) { return log.waitForLine(text, 1, 15s); }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
};

TEST_F(DeviceLinksE2e, DevicesOpenAtStartAndCarryTestPages) {
    test::PtyPair tnppLine, encoderLine;
    test::GsmModemScript script;
    script.creg = {"0,5"};
    script.network = "Vodafone";
    test::GsmModem modem(script);
    link(1, tnppLine.slavePath());
    link(7, encoderLine.slavePath());
    link(3, modem.devicePath());
    test::writeInstallFile(dir.path());
    test::writeFile(dir / "Config.Dat",
                    "[TNPP]\r\nEnableTNPP=1\r\nDestAddr=1\r\nSourceAddr=2\r\n"
                    "[Brevicor Port]\r\nEnabled=1\r\n"
                    "[SMS]\r\nEnabled=1\r\nCOMPort=2\r\n");
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "TNPP"},
                                     {.name = "Gsm", .npanxx = "777", .provider = "Gsm"}}));
    test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Gsm", .deliveryType = 4}}));
    test::FakeManager manager(dir / "PelmoraConfig");
    test::ZQSvcProcess service(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());

    // The service's TNPP defaults: STX initiation and transparent CRC.
    test::TnppPeer peer(tnppLine, true, 15s);
    ASSERT_EQ(test::showBytes(peer.bringUp()), test::showBytes(peer.packet("000003000200", "")))
        << test::readFile(dir / "stderr.txt");
    ASSERT_TRUE(waitLog("[System] All Services Active!")) << test::readFile(dir / "stderr.txt");
    ASSERT_TRUE(waitLog("[System] TNPP Services Active!")) << ::testing::PrintToString(logTexts());
    EXPECT_TRUE(waitLog("[SMS Status] SMS Gateway On-Line Roaming with Vodafone"));
    auto texts = logTexts();
    auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
    EXPECT_LT(at("[System] Starting TNPP Services!"), at("[System] Starting Brevicor Services!"));
    EXPECT_LT(at("[System] Starting Brevicor Services!"),
              at("[SMS Status] SMS Gateway On-Line Roaming with Vodafone"));
    EXPECT_EQ(at("[System] Error: Unable To Open Brevi Cor ComPort!"), static_cast<long>(texts.size()));

    // The encoder port with the engine's defaults: 9600 baud, RTS/CTS.
    SerialSettings far;
    ASSERT_TRUE(queryLineSettings(encoderLine.master(), far));
    EXPECT_EQ(far.baud, 9600);
    EXPECT_TRUE(far.rtsCts);

    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=12345\r\n"));
    EXPECT_EQ(test::showBytes(peer.readPacket()),
              test::showBytes(peer.packet("000103000201", "B@12345     Nerivale Server Test Message")));
    peer.send(test::TnppPeer::ACK);
    EXPECT_TRUE(waitLog("[TNPP Delivery OK]  ID:  - Nerivale Server PIN:12345 Msg: Nerivale Server Test Message"));

    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=7771\r\n"));
    ASSERT_TRUE(modem.waitReceived("Nerivale Server Test Message", 15s));
    EXPECT_TRUE(waitLog("[SMS Delivery OK] Message Submitted For Processing ID:  - Nerivale Server PIN:7771 "
                        "Msg: Nerivale Server Test Message"));
    EXPECT_EQ(modem.bodies(), (std::vector<std::string>{"Nerivale Server Test Message"}));

    service.signal(SIGTERM);
    EXPECT_TRUE(service.waitExit(20s).has_value());
    EXPECT_TRUE(waitLog("[TNPP] TNPP Port Closed"));
}

}  // namespace
}  // namespace nv
