// The inbound port's configuration of its host and its log handlers.
#include <gtest/gtest.h>

#include "foundation/ConfigFile.h"
#include "protocols/KORPelmora.h"
#include "service/InboundPort.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

TEST(InboundPort, SectionSetsTheHost) {
    test::TempDir dir;
    // Missing keys take the engine's defaults: COM1, 1200 baud, 7E1, RTS/CTS, 230.
    test::writeFile(dir / "config.dat", "[nerivale port]\r\nEnabled=1\r\n");
    NerivalePortSection s = PelmoraPortThread::readSection(dir.path());
    EXPECT_TRUE(s.Enabled);
    EXPECT_EQ(s.Length.value, 230);
    EXPECT_FALSE(s.TruncateMsgs);
    TKORPelmora host(dir.path());
    PelmoraPortThread::configureHost(host, s, dir.path(), 0);
    EXPECT_EQ(host.Name, "Inbound0");
    EXPECT_EQ(host.FPortName, "Nerivale Port");
    EXPECT_TRUE(host.DeviceDirectAccess);
    EXPECT_EQ(host.ComPort(), TTapComPortNumber::pntCOM2);  // ordinal 1: COM1
    EXPECT_EQ(host.ComPortSpeed(), brt1200);
    EXPECT_EQ(host.ComPortDataBits(), dbt7BITS);
    EXPECT_EQ(host.ComPortParity(), pttEVEN);
    EXPECT_EQ(host.ComPortHwHandshaking(), hhtRTSCTS);
    EXPECT_EQ(host.ComPortSwHandshaking(), shtNONE);

    struct Case {
        int flowCtrl, dataSettings;
        TTapComPortHwHandshaking hw;
        TTapComPortSwHandshaking sw;
        TTapComPortDataBits bits;
        TTapComPortParity parity;
    } cases[] = {
        {0, 1, hhtNONE, shtNONE, dbt8BITS, pttNONE},
        {1, 0, hhtRTSCTS, shtNONE, dbt7BITS, pttEVEN},
        {2, 1, hhtNONE, shtXONXOFF, dbt8BITS, pttNONE},
        {3, 1, hhtRTSCTS, shtXONXOFF, dbt8BITS, pttNONE},
        // Outside the lists: the host keeps what it had (its constructor's 8N1, RTS/CTS).
        {7, 5, hhtRTSCTS, shtNONE, dbt8BITS, pttNONE},
    };
    for (const auto& c : cases) {
        NerivalePortSection sec;
        sec.ComPort = 19;
        sec.ComSpeed = 6;
        sec.FlowCtrl = c.flowCtrl;
        sec.DataSettings = c.dataSettings;
        TKORPelmora h(dir.path());
        PelmoraPortThread::configureHost(h, sec, dir.path(), 0);
        EXPECT_EQ(static_cast<int>(h.ComPort()), 20) << c.flowCtrl;
        EXPECT_EQ(h.ComPortSpeed(), brt9600);
        EXPECT_EQ(h.ComPortHwHandshaking(), c.hw) << c.flowCtrl;
        EXPECT_EQ(h.ComPortSwHandshaking(), c.sw) << c.flowCtrl;
        EXPECT_EQ(h.ComPortDataBits(), c.bits) << c.dataSettings;
        EXPECT_EQ(h.ComPortParity(), c.parity) << c.dataSettings;
    }
}

TEST(InboundPort, SpeedOutsideTheListLeavesTheHostsDefault) {
    test::TempDir dir;
    for (int speed : {-1, 13, 99}) {
        NerivalePortSection sec;
        sec.ComSpeed = speed;
        TKORPelmora h(dir.path());
        PelmoraPortThread::configureHost(h, sec, dir.path(), 0);
        EXPECT_EQ(h.ComPortSpeed(), brt9600) << speed;
    }
    NerivalePortSection sec;
    sec.ComSpeed = 0;
    TKORPelmora h(dir.path());
    PelmoraPortThread::configureHost(h, sec, dir.path(), 0);
    EXPECT_EQ(h.ComPortSpeed(), brt110);
}

TEST(InboundPort, HandlersWriteTheConnectionLines) {
    test::TempDir dir;
    // Declared before the host: its destruction reports the drop through them.
    std::vector<std::string> lines;
    std::string seenRaw;
    TKORPelmora host(dir.path());
    host.FPortName = "Nerivale Port";
    host.FRawQJData = "raw block";
    PelmoraPortThread::bindHandlers(
        host, [&](std::string t) { lines.push_back(std::move(t)); },
        [&](const std::string* raw, const std::string& pin, const std::string& msg, bool& submitted) {
            seenRaw = raw ? *raw : "";
            lines.push_back("intake " + pin + " " + msg);
            submitted = false;
        });
    host.OnOpen(host);
    host.OnClose(host);
    host.OnCallOffering(host);
    host.OnCallAnswered(host);
    host.OnCallAnswering(host);
    host.OnConnection(host);
    host.OnDisconnect(host);
    host.OnDropCall(host);
    host.OnUnexpectedClose(host);
    host.OnError(host, "Comport Error, Port Shutting Down");
    host.OnTapiProgress(host, "Verifing Account");
    std::string id;
    bool submitted = true;
    host.OnMsgReceived(host, "12345", "Hello", id, submitted);
    EXPECT_FALSE(submitted);
    EXPECT_EQ(seenRaw, "raw block");
    const std::string p = "[Nerivale Connection] Nerivale Port ";
    EXPECT_EQ(lines, (std::vector<std::string>{
                         p + "Waiting For Calls...", p + "Inbound Calls Disabled", p + "Inbound Call Detected",
                         p + "Call Answered", p + "Answerong Call", p + "Connected", p + "Disconnected",
                         p + "Call Droped", p + "Unexpected Port Closure", p + "Comport Error, Port Shutting Down",
                         p + "Verifing Account", "intake 12345 Hello"}));
}

}  // namespace
}  // namespace nv
