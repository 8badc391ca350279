#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "foundation/Clock.h"
#include "protocols/KORTNPP.h"
#include "tests/peers/TestSupport.h"
#include "tests/peers/TnppPeer.h"

// The link against the scripted peer on a pseudo-terminal. Time stands still
// on a ManualClock unless a test moves it, so every time-out is reached by
// advancing the clock, never by waiting for it.
namespace nv::test {
namespace {

using namespace std::chrono_literals;

constexpr char SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06, NAK = 0x15, CAN = 0x18,
               RS = 0x1E;

std::string body(const std::string& header, const std::string& block, bool stx = true) {
    return std::string(1, SOH) + header + (stx ? std::string(1, STX) : "") + block + std::string(1, ETX);
}

// Event texts as the link hands them out: NUL, CR, LF shown as <00>, <0D>, <0A>.
std::string shown(const std::string& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == '\0') out += "<00>";
        else if (c == '\r') out += "<0D>";
        else if (c == '\n') out += "<0A>";
        else out += c;
    }
    return out;
}

// Every event of the link as "Name" or "Name: text", in order.
class EventLog {
public:
    void add(std::string line) {
        {
            std::lock_guard lk(m_mutex);
            m_lines.push_back(std::move(line));
        }
        m_cv.notify_all();
    }
    bool waitFor(const std::string& line, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lk(m_mutex);
        return m_cv.wait_for(lk, timeout, [&] { return countLocked(line) > 0; });
    }
    bool waitCount(const std::string& line, int n, std::chrono::milliseconds timeout = 5s) {
        std::unique_lock lk(m_mutex);
        return m_cv.wait_for(lk, timeout, [&] { return countLocked(line) >= n; });
    }
    int count(const std::string& line) {
        std::lock_guard lk(m_mutex);
        return countLocked(line);
    }
    std::vector<std::string> lines() {
        std::lock_guard lk(m_mutex);
        return m_lines;
    }

private:
    int countLocked(const std::string& line) const {
        return static_cast<int>(std::count(m_lines.begin(), m_lines.end(), line));
    }
    std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_lines;
};

class TnppLinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM1");
        m_pty.holdSlave();
        m_clock.setAdvanceOnSleep(false);
        m_link = std::make_unique<TKORTNPP>(m_dir.path(), m_clock);
        auto& l = *m_link;
        l.SetComPort(pnCOM1);
        l.IdleRspTout = 10;
        l.ENQRspTout = 5;
        l.ENQRetries = 2;
        l.Retrycount = 3;
        l.RSHoldTime = 10;
        l.KeepAliveTout = 60;
        l.InterCharTime = 2;
        auto note = [this](const char* name) { return [this, name] { m_events.add(name); }; };
        auto text = [this](const char* name) {
            return [this, name](const std::string& p) { m_events.add(std::string(name) + ": " + p); };
        };
        l.OnPortOpened = note("PortOpened");
        l.OnPortClosed = note("PortClosed");
        l.OnLinkTest = note("LinkTest");
        l.OnLinkError = note("LinkError");
        l.OnSendPacket = text("SendPacket");
        l.OnPacketSent = text("PacketSent");
        l.OnCRCError = text("CRCError");
        l.OnRmtCancel = text("RmtCancel");
        l.OnPacketRequeue = text("PacketRequeue");
        l.OnPacketDropped = text("PacketDropped");
        l.OnRxPacket = text("Rx");
        l.OnTxPacket = text("Tx");
    }

    void TearDown() override { m_link.reset(); }

    TnppPeer open(bool transparent = true) {
        m_link->TransparentCRC = transparent;
        m_link->OpenPort();
        return TnppPeer(m_pty, transparent);
    }

    // Brings the link up and waits until the link-start packet left the queue.
    TnppPeer up(bool transparent = true) {
        TnppPeer peer = open(transparent);
        EXPECT_FALSE(peer.bringUp().empty());
        EXPECT_TRUE(waitQueue(0));
        return peer;
    }

    bool waitQueue(int n) {
        for (int i = 0; i < 500; ++i) {
            if (m_link->TNPPQueue() == n) return true;
            std::this_thread::sleep_for(5ms);
        }
        return false;
    }

    // Moves the clock to just short of `t`: nothing may come; then to `t`:
    // `c` must come. The wait starts when the link last did something, so
    // callers first let the link settle (peer.silent).
    ::testing::AssertionResult arrivesAfter(char c, std::chrono::milliseconds t) {
        m_clock.advance(t - 500ms);
        const std::string early = m_pty.read(1, 30ms);
        if (!early.empty()) return ::testing::AssertionFailure() << "early " << showBytes(early);
        m_clock.advance(500ms);
        const std::string got = m_pty.read(1, 5s);
        if (got.size() == 1 && got[0] == c) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected " << showBytes(std::string(1, c)) << ", got "
                                             << (got.empty() ? std::string("nothing") : showBytes(got));
    }

    std::string idPage(const std::string& header, const std::string& idText, bool transparent = true) {
        std::string b = body(header, "B@" + idText);
        return b + peerCrcText(b, transparent);
    }

    TempDir m_dir;
    PtyPair m_pty;
    ManualClock m_clock;
    EventLog m_events;
    std::unique_ptr<TKORTNPP> m_link;
};

// A source address whose link-start CRC (raw) holds `byte`.
std::uint32_t sourceWithCrcByte(char byte, bool stx) {
    for (std::uint32_t s = 0; s <= 0xFFFF; ++s) {
        char hdr[16];
        std::snprintf(hdr, sizeof hdr, "000003%04X00", s);
        if (peerCrcText(body(hdr, "", stx), false).find(byte) != std::string::npos) return s;
    }
    return 0;
}

struct LinkStartCase {
    bool transparent, stx;
    int crcByte;  // a byte the raw CRC must hold (-1: source address 0)
};

class TnppLinkStart : public TnppLinkTest, public ::testing::WithParamInterface<LinkStartCase> {};

TEST_P(TnppLinkStart, PacketForEachCrcFormAndStx) {
    const auto c = GetParam();
    const std::uint32_t source = c.crcByte >= 0 ? sourceWithCrcByte(static_cast<char>(c.crcByte), c.stx) : 0;
    m_link->STXInit = c.stx;
    m_link->SourceAddress = source;
    char hdr[16];
    std::snprintf(hdr, sizeof hdr, "000003%04X00", source);
    const std::string b = body(hdr, "", c.stx);
    const std::string expected = b + peerCrcText(b, c.transparent);
    if (c.crcByte >= 0) {
        ASSERT_NE(peerCrcText(b, false).find(static_cast<char>(c.crcByte)), std::string::npos);
    }

    EXPECT_FALSE(m_link->SendIDPage(0, 3, "1", "x", ""));  // link not up yet
    TnppPeer peer = open(c.transparent);
    ASSERT_TRUE(peer.expect(ENQ));
    peer.send(EOT);
    EXPECT_EQ(showBytes(peer.readPacket()), showBytes(expected));
    peer.send(ACK);
    ASSERT_TRUE(m_events.waitFor("PacketSent: " + shown(expected)));
    EXPECT_TRUE(m_link->LinkUp());
    EXPECT_EQ(m_link->DPSerNum(), 0);
    const auto lines = m_events.lines();
    const std::vector<std::string> head(lines.begin(), lines.begin() + 6);
    EXPECT_EQ(head, (std::vector<std::string>{"PortOpened", "Tx: ENQ", "Rx: EOT", "LinkTest",
                                              "SendPacket: " + shown(expected), "Tx: " + shown(expected)}));
    EXPECT_TRUE(m_link->ClosePort());
    EXPECT_FALSE(m_link->LinkUp());
    EXPECT_EQ(m_events.lines().back(), "PortClosed");
}

// The last cases put "$", NUL and LF into the raw CRC: the whole packet must
// still go out, and the event text stays one line.
INSTANTIATE_TEST_SUITE_P(Forms, TnppLinkStart,
                         ::testing::Values(LinkStartCase{false, true, -1}, LinkStartCase{true, true, -1},
                                           LinkStartCase{false, false, -1}, LinkStartCase{true, false, -1},
                                           LinkStartCase{false, true, '$'}, LinkStartCase{false, true, '\0'},
                                           LinkStartCase{false, false, '\n'}),
                         [](const ::testing::TestParamInfo<LinkStartCase>& info) {
                             const auto& c = info.param;
                             std::string name = c.transparent ? "Transparent" : "Raw";
                             name += c.stx ? "Stx" : "NoStx";
                             if (c.crcByte >= 0) name += "CrcByte" + std::to_string(c.crcByte);
                             return name;
                         });

TEST_F(TnppLinkTest, OnePageExactPacketAndTheIdStaysOffTheWire) {
    m_link->SourceAddress = 2;
    TnppPeer peer = up();
    const std::string packet = body("000103000201", "B@12345     Hello") + "8B78";
    ASSERT_TRUE(m_link->SendIDPage(1, 3, "12345", "Hello", ""));
    EXPECT_EQ(m_link->Inertia(), 3);
    EXPECT_EQ(m_link->DPSerNum(), 1);
    EXPECT_EQ(showBytes(peer.readPacket()), showBytes(packet));
    peer.send(ACK);
    ASSERT_TRUE(m_events.waitFor("PacketSent: $" + packet));
    EXPECT_EQ(m_events.count("SendPacket: $" + packet), 1);

    ASSERT_TRUE(m_link->SendIDPage(1, 3, "12345", "Hello", "77"));
    const std::string second = idPage("000103000202", "12345     Hello");
    EXPECT_EQ(showBytes(peer.readPacket()), showBytes(second));
    peer.send(ACK);
    EXPECT_TRUE(m_events.waitFor("PacketSent: 77$" + second));
}

TEST_F(TnppLinkTest, RawCrcPageWithNulOrDollarGoesOutWhole) {
    // Texts whose raw CRC holds a NUL and a "$".
    TnppPeer peer = up(false);
    for (char byte : {'\0', '$', '\r'}) {
        std::string text;
        for (int i = 0;; ++i) {
            text = "msg" + std::to_string(i);
            if (peerCrcText(body("000003000001", "B@1         " + text), false).find(byte) != std::string::npos)
                break;
        }
        m_link->SetDPSerNum(0);
        ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", text, "id"));
        const std::string packet = idPage("000003000001", "1         " + text, false);
        EXPECT_EQ(showBytes(peer.readPacket()), showBytes(packet));
        peer.send(ACK);
        EXPECT_TRUE(m_events.waitFor("PacketSent: id$" + shown(packet)));
    }
}

TEST_F(TnppLinkTest, PeerRepliesToOnePage) {
    struct Case {
        const char* name;
        std::vector<char> replies;
        std::vector<std::string> events;  // after "SendPacket"
        int sendings;
    };
    const Case cases[] = {
        {"ack", {ACK}, {"PacketSent", "Rx: ACK"}, 1},
        {"nak then ack", {NAK, ACK}, {"CRCError", "Rx: NAK", "PacketSent", "Rx: ACK"}, 2},
        {"can", {CAN}, {"RmtCancel", "Rx: CAN"}, 1},
        // An EOT while the reply is awaited is a link test; the packet goes again.
        {"eot then ack", {EOT, ACK}, {"Rx: EOT", "LinkTest", "PacketSent", "Rx: ACK"}, 2},
    };
    TnppPeer peer = up();
    int serial = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = m_events.lines().size();
        ASSERT_TRUE(m_link->SendIDPage(0, 3, "555", "case", ""));
        char hdr[16];
        std::snprintf(hdr, sizeof hdr, "00000300000%X", ++serial);
        const std::string packet = idPage(hdr, "555       case");
        for (int i = 0; i < c.sendings; ++i) {
            EXPECT_EQ(showBytes(peer.readPacket()), showBytes(packet));
            peer.send(c.replies[static_cast<std::size_t>(i)]);
        }
        ASSERT_TRUE(waitQueue(0));
        EXPECT_TRUE(peer.silent(50ms));
        std::vector<std::string> got;
        const auto lines = m_events.lines();
        for (std::size_t i = before; i < lines.size(); ++i) {
            std::string line = lines[i];
            if (line.rfind("Tx: ", 0) == 0) continue;
            got.push_back(line.substr(0, line.find(": $")));
        }
        std::vector<std::string> expected{"SendPacket"};
        expected.insert(expected.end(), c.events.begin(), c.events.end());
        EXPECT_EQ(got, expected);
    }
}

TEST_F(TnppLinkTest, RetriesEndAfterTheLastReplyAndTheDroppedPageIsReported) {
    TnppPeer peer = up();
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "9", "nak", ""));
    const std::string packet = idPage("000003000001", "9         nak");
    for (int i = 0; i < 3; ++i) {  // Retrycount 3: the third NAK is awaited too
        EXPECT_EQ(showBytes(peer.readPacket()), showBytes(packet));
        peer.send(NAK);
    }
    ASSERT_TRUE(peer.expect(ENQ));  // link test before the page is given up
    peer.send(EOT);
    ASSERT_TRUE(m_events.waitFor("PacketDropped: $" + packet));
    EXPECT_EQ(m_events.count("CRCError: $" + packet), 3);
    EXPECT_TRUE(waitQueue(0));
    EXPECT_TRUE(m_link->LinkUp());
}

TEST_F(TnppLinkTest, RsHoldsTheOnlyPacketAndRotatesSeveral) {
    TnppPeer peer = up();
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "held", ""));
    const std::string held = idPage("000003000001", "1         held");
    EXPECT_EQ(peer.readPacket(), held);
    peer.send(RS);
    ASSERT_TRUE(m_events.waitFor("PacketRequeue: $" + held));
    EXPECT_TRUE(peer.silent(100ms));  // held while the clock stands
    EXPECT_TRUE(arrivesAfter(SOH, 10s));
    std::string rest = peer.readPacket();
    EXPECT_EQ(std::string(1, SOH) + rest, held);
    peer.send(ACK);
    ASSERT_TRUE(waitQueue(0));

    // Two queued: the RS'd one goes to the tail and the other goes first.
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "a", ""));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "b", ""));
    const std::string a = idPage("000003000002", "1         a");
    const std::string b = idPage("000003000003", "1         b");
    EXPECT_EQ(peer.readPacket(), a);
    peer.send(RS);
    EXPECT_EQ(peer.readPacket(), b);
    peer.send(ACK);
    EXPECT_EQ(peer.readPacket(), a);
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, SilenceEnqThenLinkErrorThenRecovery) {
    TnppPeer peer = up();
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "first", ""));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "second", ""));
    const std::string first = idPage("000003000001", "1         first");
    const std::string second = idPage("000003000002", "1         second");
    EXPECT_EQ(peer.readPacket(), first);
    EXPECT_TRUE(peer.silent(50ms));

    // No reply: ENQ after IdleRspTout; the peer answers EOT and the packet goes again.
    EXPECT_TRUE(arrivesAfter(ENQ, 10s));
    peer.send(EOT);
    EXPECT_EQ(peer.readPacket(), first);

    // Silent again: ENQ after IdleRspTout, then one more after ENQRspTout,
    // then the link is declared down (ENQRetries 2) and starts again.
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 10s));
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 5s));
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 5s));  // the link start's ENQ
    ASSERT_TRUE(m_events.waitFor("LinkError"));
    EXPECT_FALSE(m_link->LinkUp());
    EXPECT_FALSE(m_link->SendIDPage(0, 3, "1", "refused", ""));
    EXPECT_TRUE(m_events.waitFor("PacketDropped: $" + first));
    EXPECT_TRUE(m_events.waitFor("PacketDropped: $" + second));

    // The peer comes back: the link starts afresh and pages flow again.
    peer.send(EOT);
    const std::string linkStart = peer.readPacket();
    EXPECT_EQ(linkStart.substr(0, 13), std::string(1, SOH) + "000003000000");
    peer.send(ACK);
    ASSERT_TRUE(waitQueue(0));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "again", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         again"));
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, BusyPeriodsEndTheWaitWhenShorterThanIdle) {
    // BusyRspTout periods of BusyRspTout seconds each, then the packet goes again.
    m_link->BusyRspTout = 2;
    m_link->IdleRspTout = 100;
    m_link->Retrycount = 2;
    TnppPeer peer = up();
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "busy", ""));
    const std::string packet = idPage("000003000001", "1         busy");
    EXPECT_EQ(peer.readPacket(), packet);
    EXPECT_TRUE(peer.silent(50ms));
    m_clock.advance(2s);  // the first busy period
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(SOH, 2s));
    EXPECT_EQ(std::string(1, SOH) + peer.readPacket(), packet);
    // The second sending was the last: after its busy periods, a link test.
    EXPECT_TRUE(peer.silent(50ms));
    m_clock.advance(2s);
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 2s));
    peer.send(EOT);
    EXPECT_TRUE(m_events.waitFor("PacketDropped: $" + packet));
}

TEST_F(TnppLinkTest, KeepAliveAndPeerEnquiry) {
    m_link->KeepAliveTout = 5;
    TnppPeer peer = up();
    peer.send(ENQ);
    EXPECT_TRUE(peer.expect(EOT));
    EXPECT_TRUE(m_events.waitFor("Rx: ENQ"));

    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 5s));
    peer.send(EOT);
    ASSERT_TRUE(m_events.waitCount("LinkTest", 2));
    EXPECT_TRUE(m_link->LinkUp());
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "k", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         k"));
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, ReceivedPackets) {
    // ID pages go to a handler that answers ACK; capcode pages ("A") find no
    // handler and are refused.
    m_link->OnIdPage = [this](const std::string& p, char& rsp) {
        m_events.add("IdPage: " + p + " preset " + std::to_string(rsp));
        rsp = ACK;
    };
    struct Case {
        const char* name;
        std::string header, block;
        bool badCrc;
        char answer;
    };
    const Case cases[] = {
        {"bad crc", "000A03000101", "A@1         hi", true, NAK},
        {"type A without handler", "000A03000101", "A@1         hi", false, CAN},
        {"duplicate header", "000A03000101", "B@1         hi", false, ACK},
        {"inertia 01", "000A01000102", "B@1         hi", false, ACK},
        {"type J", "000A03000103", "J", false, CAN},
        {"header not hex", "000A0Z000104", "B@1", false, CAN},
        {"type B with handler", "000A03000105", "B@1         hi", false, ACK},
    };
    TnppPeer peer = up();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        peer.sendPacket(c.header, c.block, c.badCrc);
        EXPECT_TRUE(peer.expect(c.answer));
    }
    // Only the last reached the handler: inertia lowered, CRC as received, CAN preset.
    const std::string lowered = body("000A02000105", "B@1         hi");
    const std::string seen =
        "IdPage: " + lowered + peerCrcText(body("000A03000105", "B@1         hi"), true) + " preset 24";
    EXPECT_TRUE(m_events.waitFor(seen));
    int handled = 0;
    for (const auto& line : m_events.lines()) handled += line.rfind("IdPage: ", 0) == 0;
    EXPECT_EQ(handled, 1);

    // The peer's link start: ACK, and our serial numbers restart.
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "x", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         x"));
    peer.send(ACK);
    ASSERT_TRUE(waitQueue(0));
    peer.sendRaw(body("000003000000", "") + peerCrcText(body("000003000000", ""), true));
    EXPECT_TRUE(peer.expect(ACK));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "y", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         y"));
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, PacketCutShortIsAbandonedWithAnEnquiry) {
    TnppPeer peer = up();
    peer.sendRaw(std::string(1, SOH) + "000A0300");
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 2s));  // InterCharTime
    peer.send(EOT);
    EXPECT_TRUE(m_events.waitCount("LinkTest", 2));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "z", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         z"));
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, LinkLostWhileReceivingWithAPageQueuedStartsAgain) {
    // The link goes down inside a reception step, not inside a sending; the
    // queued page must not wait for a ready state nobody else can set.
    TnppPeer peer = up();
    peer.sendRaw(std::string(1, SOH) + "000A03");
    EXPECT_TRUE(peer.silent(50ms));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "queued", ""));
    const std::string queued = idPage("000003000001", "1         queued");
    EXPECT_TRUE(arrivesAfter(ENQ, 2s));  // inter-character time-out
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 5s));  // ENQRspTout
    EXPECT_TRUE(peer.silent(50ms));
    EXPECT_TRUE(arrivesAfter(ENQ, 5s));  // ENQRetries reached: the link start's ENQ
    ASSERT_TRUE(m_events.waitFor("LinkError"));
    EXPECT_TRUE(m_events.waitFor("PacketDropped: $" + queued));
    peer.send(EOT);
    EXPECT_EQ(peer.readPacket().substr(0, 13), std::string(1, SOH) + "000003000000");
    peer.send(ACK);
    ASSERT_TRUE(waitQueue(0));
    ASSERT_TRUE(m_link->SendIDPage(0, 3, "1", "after", ""));
    EXPECT_EQ(peer.readPacket(), idPage("000003000001", "1         after"));
    peer.send(ACK);
    EXPECT_TRUE(waitQueue(0));
}

TEST_F(TnppLinkTest, PagesRefusedOrShaped) {
    // Closed port.
    EXPECT_TRUE(m_link->ClosePort());
    EXPECT_EQ(m_events.count("PortClosed"), 0);
    EXPECT_FALSE(m_link->SendIDPage(0, 3, "1", "x", ""));

    up();
    struct Refused {
        std::uint32_t dest, inertia;
        std::string id;
    };
    const Refused refused[] = {{0x10000, 3, "1"}, {0, 0x100, "1"}, {0, 3, "12345678901"}};
    for (const auto& r : refused) {
        EXPECT_FALSE(m_link->SendIDPage(r.dest, r.inertia, r.id, "x", ""));
        EXPECT_EQ(m_link->DPSerNum(), 0);
        EXPECT_EQ(m_link->Inertia(), 3);
        EXPECT_EQ(m_link->TNPPQueue(), 0);
    }

    // The peer stays silent, so the queue keeps what is built: serial numbers
    // 1..255 then 1, the ID padded, the text cut to fit the packet.
    ASSERT_TRUE(m_link->SendIDPage(0xFFFF, 0xFF, "", std::string(5000, 'x'), ""));
    for (int i = 0; i < 255; ++i) ASSERT_TRUE(m_link->SendIDPage(1, 2, "1234567890", "t", ""));
    const auto file = m_dir / "queue.txt";
    m_link->SaveQueue(file);
    const std::string saved = readFile(file);
    std::vector<std::string> lines;
    for (std::size_t pos = 0, end; (end = saved.find("\r\n", pos)) != std::string::npos; pos = end + 2)
        lines.push_back(saved.substr(pos, end - pos));
    ASSERT_EQ(lines.size(), 256u);
    EXPECT_EQ(lines[0].size(), 1 + 4096u);  // "$" and a packet of exactly 4096
    EXPECT_EQ(lines[0].substr(0, 27), "$" + std::string(1, SOH) + "FFFFFF000001" + STX + "B@" + std::string(10, ' '));
    EXPECT_EQ(lines[1].substr(0, 14), "$" + std::string(1, SOH) + "000102000002");
    EXPECT_EQ(lines[254].substr(0, 14), "$" + std::string(1, SOH) + "0001020000FF");
    EXPECT_EQ(lines[255], "$" + idPage("000102000001", "1234567890t"));

    // LoadQueue reads such a file back.
    writeFile(file, "7$" + idPage("000003000009", "1         l") + "\r\n");
    m_link->LoadQueue(file);
    EXPECT_EQ(m_link->TNPPQueue(), 1);
}

TEST_F(TnppLinkTest, PortThatDoesNotOpenStartsNothing) {
    // COM1 is a plain file: it opens, but it is no terminal.
    std::filesystem::remove(m_dir / "COM1");
    writeFile(m_dir / "COM1", "");
    m_link->OpenPort();
    EXPECT_FALSE(m_link->Connected());
    EXPECT_FALSE(m_link->SendIDPage(0, 3, "1", "x", ""));
    EXPECT_TRUE(m_link->ClosePort());
    EXPECT_TRUE(m_events.lines().empty());
}

}  // namespace
}  // namespace nv::test
