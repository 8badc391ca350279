// The TAP dialogue of TKORAlpaPage against the scripted terminal, over loopback
// TCP and over a pty standing in for the direct serial line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "protocols/KORAlphaPage.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, LF = 0x0A, CR = 0x0D, NAK = 0x15, ESC = 0x1B,
               RS = 0x1E;

std::string S(std::initializer_list<char> cs) { return std::string(cs); }

// Three parts at MsgLength 26.
const std::string kThreeParts = "aaaa bbbb cccc dddd eeee ffff";

std::string block(const std::string& body) {
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    sum &= 0xFFF;
    std::string out = body;
    out += static_cast<char>('0' + ((sum >> 8) & 15));
    out += static_cast<char>('0' + ((sum >> 4) & 15));
    out += static_cast<char>('0' + (sum & 15));
    return out + S({CR});
}

struct Recorder {
    std::vector<std::string> events;  // "caption|text"
    void attach(TKORAlpaPage& p) {
        p.OnPageProgress = [this](TKORAlpaPage&, const std::string& msg, const std::string& type) {
            events.push_back(type + "|" + msg);
        };
    }
    bool has(const std::string& e) const { return std::find(events.begin(), events.end(), e) != events.end(); }
    bool hasText(const std::string& text) const {
        return std::any_of(events.begin(), events.end(),
                           [&](const std::string& e) { return e.substr(e.find('|') + 1) == text; });
    }
};

class TapPagerTest : public ::testing::Test {
protected:
    ScaledClock m_clock{20};
    TempDir m_dir;

    std::unique_ptr<TKORAlpaPage> tcpPager(const TapTerminal& term, Recorder& rec) {
        auto p = std::make_unique<TKORAlpaPage>(m_dir.path(), m_clock);
        p->DeviceOperationMode = opmaTCP;
        p->TAPIPAddress = "127.0.0.1";
        p->TAPIPPort = std::to_string(term.port());
        p->Password = "pw";
        rec.attach(*p);
        return p;
    }
};

TEST_F(TapPagerTest, OnePageOverTcpExactBytes) {
    TapTerminal term = TapTerminal::onTcp({});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    ASSERT_TRUE(pager->Dial());
    EXPECT_TRUE(pager->bConnected);
    ASSERT_TRUE(pager->SendTextMessage("1234567", "Hello\r\nWorld"));
    EXPECT_EQ(pager->MsgsSubmited, 1);
    EXPECT_EQ(pager->MsgsSentThisCall, 1);
    EXPECT_EQ(pager->SendResult, "Message Submitted For Processing");
    EXPECT_TRUE(pager->Hangup());
    EXPECT_FALSE(pager->bConnected);
    for (int i = 0; i < 200 && !term.peerClosed(); ++i) m_clock.sleepFor(std::chrono::milliseconds(100));

    // CR, login, one block; over TCP no EOT at logout.
    const std::string expected = S({CR}) + S({ESC}) + "PG1pw" + S({CR}) +
                                 block(S({STX}) + "1234567" + S({CR}) + "Hello\nWorld" + S({CR, ETX}));
    EXPECT_EQ(toHex(term.received()), toHex(expected));
    const std::vector<std::string> golden = {
        "Connection Status|Connected",        "Network Status|Logging On",
        "Network Status|Login Accepted",      "Delivery Status|Sending Message To 1234567",
        "Delivery Status|Sending Block 1 of 1", "Delivery OK|Message Submitted For Processing",
    };
    EXPECT_EQ(rec.events, golden);
}

TEST_F(TapPagerTest, SplitMessageGoesOutLabelledPartByPart) {
    TapTerminal term = TapTerminal::onTcp({});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    pager->MsgLength = 26;  // window 10 with marks
    ASSERT_TRUE(pager->Dial());
    ASSERT_TRUE(pager->SendTextMessage("77", kThreeParts));
    EXPECT_EQ(pager->MsgsSubmited, 3);
    const std::string got = term.received();
    EXPECT_NE(got.find(S({STX}) + "77" + S({CR}) + "(1 of 3)  aaaa bbbb (CONT.)" + S({CR, ETX})), std::string::npos);
    EXPECT_NE(got.find(S({STX}) + "77" + S({CR}) + "(2 of 3)  cccc dddd (CONT.)" + S({CR, ETX})), std::string::npos);
    EXPECT_NE(got.find(S({STX}) + "77" + S({CR}) + "(3 of 3)  eeee ffff (END)" + S({CR, ETX})), std::string::npos);
    EXPECT_TRUE(rec.has("Delivery Status|Sending Block 3 of 3"));

    // Reverse order: the last part goes out first, each keeping its own label.
    pager->SendReverseOrder = true;
    ASSERT_TRUE(pager->SendTextMessage("88", kThreeParts));
    const std::string again = term.received();
    const auto third = again.find(S({STX}) + "88" + S({CR}) + "(3 of 3)");
    const auto first = again.find(S({STX}) + "88" + S({CR}) + "(1 of 3)");
    ASSERT_NE(third, std::string::npos);
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(third, first);
    EXPECT_EQ(pager->MsgsSentThisCall, 6);
}

struct Behaviour {
    const char* name;
    TapScript script;
    bool dialed;
    bool sent;
    std::string event;  // "caption|text" that must appear
    bool connectedAfter;
};

TEST_F(TapPagerTest, TerminalBehavioursOverTcp) {
    const std::string nakLogin = S({NAK, CR});
    const Behaviour cases[] = {
        {"ACK", {true, {}, {S({ACK, CR})}}, true, true, "Delivery OK|Message Submitted For Processing", true},
        {"LF ACK", {true, {}, {S({LF, ACK, CR})}}, true, true, "Delivery OK|Message Submitted For Processing", true},
        // Cut off before its CR, then silence: the partial CR ACK counts at the time-out.
        {"CR ACK then silence", {true, {}, {S({CR, ACK})}}, true, true,
         "Delivery OK|Message Submitted For Processing", true},
        // A text line and silence: the bare CR left over is no acknowledgement.
        {"text CR then silence", {true, {}, {"Queued" + S({CR})}}, true, false,
         "Delivery Fail|Error: Queued" + S({CR}), true},
        {"NAK x3", {true, {}, {S({NAK, CR})}}, true, false, "Delivery Fail|To Many Errors, Disconnecting", true},
        {"RS", {true, {}, {S({RS, CR})}}, true, false, "Delivery Fail|Invalid PIN Number", true},
        {"CR RS CR", {true, {}, {S({CR, RS, CR})}}, true, false, "Delivery Fail|Invalid PIN Number", true},
        {"ESC EOT", {true, {}, {S({ESC, EOT, CR})}}, true, false, "Delivery Fail|Paging Terminal Disconnected",
         false},
        {"silence", {true, {}, {""}}, true, false, "Delivery Fail|Error: No or Uknown Response From Terminal",
         true},
        {"login NAK then ACK", {true, {nakLogin, S({ACK, CR})}, {}}, true, true,
         "Network Error|ReLogin Requested - 1", true},
        {"login ESC EOT", {true, {S({ESC, EOT, CR})}, {}}, false, false, "Network Status|Login Denied", false},
        {"login silence", {true, {""}, {}}, false, false, "Network Error|Login Failed", false},
        {"login NAK x4", {true, {nakLogin}, {}}, false, false, "Network Error|Login Failed", false},
        {"no ID=", {false, {}, {}}, false, false, "Network Error|No Response From Paging Network", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TapTerminal term = TapTerminal::onTcp(c.script);
        Recorder rec;
        auto pager = tcpPager(term, rec);
        ASSERT_EQ(pager->Dial(), c.dialed);
        bool sent = false;
        if (c.dialed) sent = pager->SendTextMessage("55", "Test");
        EXPECT_EQ(sent, c.sent);
        EXPECT_TRUE(rec.has(c.event)) << ::testing::PrintToString(rec.events);
        EXPECT_EQ(pager->bConnected, c.connectedAfter);
        if (std::string(c.name) == "NAK x3") {
            EXPECT_EQ(term.blocksSeen(), 3);
            EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(),
                                 "Delivery Error|Error: Checksum Error-Retransmitting"),
                      3);
        }
        if (std::string(c.name) == "login NAK then ACK") {
            EXPECT_TRUE(rec.has("Network Status|Login Accepted, Waiting For Terminal"));
        }
        pager->Hangup();
    }
}

// Checksum errors count for the whole part: three NAKs end it even when they
// fall on different blocks; a new part starts at none.
TEST_F(TapPagerTest, ChecksumErrorsCountPerPart) {
    const std::string nak = S({NAK, CR}), ack = S({ACK, CR});
    const std::string twoBlocks(300, 'x');  // one part of two blocks
    struct Case {
        const char* name;
        std::string message;
        int msgLength;
        std::vector<std::string> replies;
        bool sent;
        int blocks;
        int naks;
    } cases[] = {
        {"one block, three NAKs", "Test", 0, {nak, nak, nak}, false, 3, 3},
        {"two NAKs on the first block, one on the second", twoBlocks, 0, {nak, nak, ack, nak, ack}, false, 4, 3},
        {"one NAK on each block", twoBlocks, 0, {nak, ack, nak, ack}, true, 4, 2},
        {"two NAKs on each of three parts", kThreeParts, 26, {nak, nak, ack, nak, nak, ack, nak, nak, ack}, true, 9,
         6},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TapTerminal term = TapTerminal::onTcp({true, {}, c.replies});
        Recorder rec;
        auto pager = tcpPager(term, rec);
        pager->MsgLength = c.msgLength;
        ASSERT_TRUE(pager->Dial());
        EXPECT_EQ(pager->SendTextMessage("55", c.message), c.sent);
        EXPECT_EQ(term.blocksSeen(), c.blocks);
        EXPECT_EQ(std::count(rec.events.begin(), rec.events.end(),
                             "Delivery Error|Error: Checksum Error-Retransmitting"),
                  c.naks);
        EXPECT_EQ(rec.has("Delivery Fail|To Many Errors, Disconnecting"), !c.sent);
        EXPECT_TRUE(pager->bConnected);  // the call stays up either way
        pager->Hangup();
    }
}

TEST_F(TapPagerTest, EightBitOnlyMessageGoesOutAsAnEmptyPart) {
    TapTerminal term = TapTerminal::onTcp({});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    ASSERT_TRUE(pager->Dial());
    EXPECT_TRUE(pager->SendTextMessage("55", "\xe9\xe8\xfc"));
    EXPECT_NE(term.received().find(block(S({STX}) + "55" + S({CR, CR, ETX}))), std::string::npos);
}

TEST_F(TapPagerTest, RefusedLoginIsFalseEvenWithDialogs) {
    TapTerminal term = TapTerminal::onTcp({true, {S({ESC, EOT, CR})}, {}});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    pager->ShowErrorDialogs = true;
    EXPECT_FALSE(pager->Dial());
    EXPECT_TRUE(rec.has("Network Status|Login Denied"));
    EXPECT_FALSE(pager->bConnected);
}

TEST_F(TapPagerTest, ErrorPolicyRaisesOnlyWhenDialogsAreShown) {
    TapTerminal term = TapTerminal::onTcp({true, {}, {S({RS, CR})}});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    ASSERT_TRUE(pager->Dial());
    pager->ShowErrorDialogs = true;
    try {
        pager->SendTextMessage("55", "x");
        ADD_FAILURE() << "no raise";
    } catch (const EPageError& e) {
        EXPECT_EQ(e.ident(), 4);
        EXPECT_STREQ(e.what(), "Invalid ID Or Bad Link!");
    }
    // Message-building errors raise whatever the switch says.
    pager->ShowErrorDialogs = false;
    EXPECT_THROW(pager->SendTextMessage("", "x"), EPageError);
    pager->NumericOnly = true;
    try {
        pager->SendTextMessage("55", "no digits");
        ADD_FAILURE() << "no raise";
    } catch (const EPageError& e) {
        EXPECT_EQ(e.ident(), 8);
    }
    EXPECT_TRUE(rec.has("Delivery Error|No Message To Send!"));
    EXPECT_FALSE(pager->bConnected);  // the empty message hung up first
}

TEST_F(TapPagerTest, MessagesPerCallQuota) {
    TapTerminal term = TapTerminal::onTcp({});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    pager->MaxMessagesPerCall = 2;
    pager->MsgLength = 26;
    ASSERT_TRUE(pager->Dial());
    // A fresh call sends a message longer than the whole quota anyway.
    EXPECT_TRUE(pager->SendTextMessage("1", kThreeParts));
    EXPECT_EQ(pager->MsgsSentThisCall, 3);
    EXPECT_EQ(pager->LastSendOutcome, SendOutcome::Sent);
    // The used call refuses the next one, sends nothing and asks for a redial.
    const int blocks = term.blocksSeen();
    EXPECT_FALSE(pager->SendTextMessage("1", "x"));
    EXPECT_EQ(pager->LastSendOutcome, SendOutcome::CallQuotaUsed);
    EXPECT_EQ(pager->ErrorStr, "Message Exceeds Msgs Per Call.");
    EXPECT_EQ(pager->MsgsSubmited, 0);
    EXPECT_EQ(term.blocksSeen(), blocks);
    EXPECT_TRUE(pager->Dial());
    EXPECT_TRUE(pager->SendTextMessage("1", "x"));
}

TEST_F(TapPagerTest, DeliveryQueryGoesOutAlone) {
    // The last part carries the confirm marker; its ACK reports an ID, the
    // query that follows is answered as delivered.
    const std::string withId = "Msg 4711 send successful - queued" + S({ACK, CR});
    const std::string delivered = "Msg 4711 query successful - message has been delivered" + S({ACK, CR});
    TapTerminal term = TapTerminal::onTcp({true, {}, {S({ACK, CR}), S({ACK, CR}), withId, delivered}});
    Recorder rec;
    auto pager = tcpPager(term, rec);
    pager->MsgLength = 26;
    pager->SMSType = stNextel;
    pager->ETAPCommand = dcConfirm;
    ASSERT_TRUE(pager->Dial());
    EXPECT_TRUE(pager->SendTextMessage("9", kThreeParts));
    EXPECT_EQ(pager->MsgsSubmited, 3);
    EXPECT_EQ(pager->MsgsSentThisCall, 3);
    EXPECT_EQ(pager->ETapMsgID, "4711");
    EXPECT_EQ(term.blocksSeen(), 4);
    const std::string got = term.received();
    EXPECT_NE(got.find(S({STX}) + "9" + S({CR}) + ")#*&(Q4711" + S({CR, ETX})), std::string::npos);
    // Every part went out once.
    for (const char* part : {"(1 of 3)  aaaa", "(2 of 3)  cccc", "(3 of 3)  eeee ffff (END))#*&(C"}) {
        const auto first = got.find(part);
        ASSERT_NE(first, std::string::npos) << part;
        EXPECT_EQ(got.find(part, first + 1), std::string::npos) << part;
    }
    EXPECT_TRUE(rec.has("Delivery Status|Checking Delivery Status..."));
}

TEST(TapPagerUnit, DefaultsIdentsAndIdleBehaviour) {
    TKORAlpaPage p;
    EXPECT_EQ(p.DevIdToInitialize, 0xFFFFFFFFu);
    EXPECT_EQ(p.MsgLength, 140);
    EXPECT_EQ(p.Timeout, 20u);
    EXPECT_EQ(p.TAPIPPort, "443");
    EXPECT_EQ(p.ComPort, pnaCOM2);
    EXPECT_EQ(p.ComPortSpeed, bra1200);
    EXPECT_EQ(p.ComPortDataBits, dba7BITS);
    EXPECT_EQ(p.ComPortParity, ptaEVEN);
    EXPECT_EQ(p.ComPortStopBits, sba1BITS);
    EXPECT_EQ(p.ComPortHwHandshaking, hhaRTSCTS);
    EXPECT_TRUE(p.DisplayMsgBreaks);
    EXPECT_TRUE(p.UseModem);
    EXPECT_TRUE(p.bDropped);
    EXPECT_FALSE(p.bConnected);
    for (int ident : {7, 11, 14, 19, 27, -1}) EXPECT_EQ(EPageError::CreateRes(ident).what(), std::string("Unknown Error!"));
    EXPECT_STREQ(EPageError::CreateRes(2).what(), "Logon Denyed!");
    EXPECT_STREQ(EPageError::CreateRes(26).what(), "No Message ID Entered!");

    EXPECT_FALSE(p.SendTextMessage("1", "x"));
    EXPECT_EQ(p.MsgsSubmited, 0);
    EXPECT_TRUE(p.Hangup());
    std::string r;
    EXPECT_EQ(p.WaitFor("ID=", r, 5), -1);

    p.UseModem = false;
    EXPECT_TRUE(p.Dial());
    EXPECT_FALSE(p.bConnected);
}

TEST(TapPagerUnit, DialChecksNeedANumberOrAnAddress) {
    struct Case {
        TAOpMode mode;
        std::string address, port, text;
    } cases[] = {
        {opmaModem, "", "", "Connection Error|No Provider Number Found!"},
        {opmaTCP, "", "1", "Connection Error|Destination TAP IP Not Found"},
        {opmaTCP, "127.0.0.1", "", "Connection Error|Destination TAP IP Port Not Found"},
    };
    for (const auto& c : cases) {
        TKORAlpaPage p;
        Recorder rec;
        rec.attach(p);
        p.DeviceOperationMode = c.mode;
        p.TAPIPAddress = c.address;
        p.TAPIPPort = c.port;
        EXPECT_FALSE(p.Dial());
        EXPECT_TRUE(rec.has(c.text)) << c.text;
    }
}

// ------------------------------------------------------------ direct serial

class TapDirectTest : public TapPagerTest {
protected:
    PtyPair m_pty;
    void SetUp() override {
        std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM2");
        m_pty.holdSlave();
    }
    std::unique_ptr<TKORAlpaPage> directPager(Recorder& rec) {
        auto p = std::make_unique<TKORAlpaPage>(m_dir.path(), m_clock);
        p->DeviceOperationMode = opmaDirect;
        p->Password = "pw";
        // Ptys here take only 8 bits without parity once set.
        p->ComPortDataBits = dba8BITS;
        p->ComPortParity = ptaNONE;
        rec.attach(*p);
        return p;
    }
};

TEST_F(TapDirectTest, OnePageWithLogout) {
    TapTerminal term = TapTerminal::onFd(m_pty.master(), {});
    Recorder rec;
    auto pager = directPager(rec);
    ASSERT_TRUE(pager->Dial());
    EXPECT_TRUE(rec.has("Connection Status|Connecting to COM2"));
    ASSERT_TRUE(pager->SendTextMessage("1234567", "Hi"));
    pager->Hangup();
    EXPECT_FALSE(pager->bConnected);
    EXPECT_TRUE(pager->bDropped);
    EXPECT_TRUE(rec.has("Connection Status|Disconnecting..."));
    EXPECT_TRUE(rec.has("Connection Status|Disconnected"));
    for (int i = 0; i < 100 && !term.loggedOut(); ++i) m_clock.sleepFor(std::chrono::milliseconds(100));
    const std::string expected = S({CR}) + S({ESC}) + "PG1pw" + S({CR}) +
                                 block(S({STX}) + "1234567" + S({CR}) + "Hi" + S({CR, ETX})) + S({EOT, CR});
    EXPECT_EQ(toHex(term.received()), toHex(expected));
}

TEST_F(TapDirectTest, LoginFailuresHangUpSilently) {
    const TapScript scripts[] = {{true, {S({ESC, EOT, CR})}, {}}, {false, {}, {}}};
    for (const auto& script : scripts) {
        TapTerminal term = TapTerminal::onFd(m_pty.master(), script);
        Recorder rec;
        auto pager = directPager(rec);
        EXPECT_FALSE(pager->Dial());
        EXPECT_FALSE(pager->bConnected);
        EXPECT_TRUE(rec.has("Connection Status|Disconnected")) << ::testing::PrintToString(rec.events);
        // Over a serial line the failure texts are not reported.
        EXPECT_FALSE(rec.hasText("Login Denied"));
        EXPECT_FALSE(rec.hasText("No Response From Paging Network"));
        EXPECT_FALSE(rec.hasText("Login Failed"));
    }
}

TEST_F(TapDirectTest, MissingPortIsReported) {
    Recorder rec;
    auto pager = directPager(rec);
    pager->ComPort = pnaCOM9;
    writeFile(m_dir / "COM9", "not a tty");
    EXPECT_FALSE(pager->Dial());
    EXPECT_TRUE(rec.has("Connection Status|Unable To Open Port For COM9"));
}

}  // namespace
}  // namespace nv::test
