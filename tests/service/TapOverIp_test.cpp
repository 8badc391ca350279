// TAP over TCP for the engine against the scripted TAP terminal on loopback,
// and the engine's TAP handler lines.
#include <gtest/gtest.h>

#include <mutex>

#include "protocols/KORAlphaPage.h"
#include "service/TapOverIpSender.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/TapTerminal.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, CR = 0x0D, ESC = 0x1B;

std::string S(std::initializer_list<char> cs) { return std::string(cs); }

std::string block(const std::string& body) {
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    std::string out = body;
    for (int shift : {8, 4, 0}) out += static_cast<char>('0' + ((sum >> shift) & 15));
    return out + S({CR});
}

struct Lines {
    std::mutex m;
    std::vector<std::string> all;
    TapLogFn fn() {
        return [this](const std::string& l) {
            std::lock_guard lk(m);
            all.push_back(l);
        };
    }
};

class TapOverIpTest : public ::testing::Test {
protected:
    TapOverIpPage page(std::uint16_t port, const std::string& message) {
        TapOverIpPage p;
        p.address = "127.0.0.1";
        p.port = std::to_string(port);
        p.PIN = "1234567";
        p.password = "pw";
        p.message = message;
        p.partLength = 80;
        return p;
    }
    void waitClosed(const TapTerminal& term) {
        for (int i = 0; i < 200 && !term.peerClosed(); ++i) m_clock.sleepFor(std::chrono::milliseconds(100));
    }
    ScaledClock m_clock{20};
    TempDir m_dir;
    Lines m_lines;
};

TEST_F(TapOverIpTest, OnePageGoesOutAndTheLinkIsDroppedWithoutEot) {
    TapTerminal term = TapTerminal::onTcp({});
    ASSERT_TRUE(sendTapOverIp(page(term.port(), "Hello"), m_dir.path(), m_clock, m_lines.fn()));
    waitClosed(term);
    EXPECT_TRUE(term.peerClosed());
    const std::string expected = S({CR}) + S({ESC}) + "PG1pw" + S({CR}) +
                                 block(S({STX}) + "1234567" + S({CR}) + "Hello" + S({CR, ETX}));
    EXPECT_EQ(toHex(term.received()), toHex(expected));
    EXPECT_EQ(term.received().find(S({EOT})), std::string::npos);
    // Delivery events are the caller's to log; the rest name the pager's port.
    EXPECT_EQ(m_lines.all, (std::vector<std::string>{
                               "[TAP Connection Status] TAP Over IP Connected",
                               "[TAP Network Status] TAP Over IP Logging On",
                               "[TAP Network Status] TAP Over IP Login Accepted",
                           }));
}

TEST_F(TapOverIpTest, RefusedConnectionIsAFailure) {
    EXPECT_FALSE(sendTapOverIp(page(freeLoopbackPort(), "Hello"), m_dir.path(), m_clock, m_lines.fn()));
    for (const auto& l : m_lines.all) EXPECT_EQ(l.find("Login Accepted"), std::string::npos) << l;
}

TEST_F(TapOverIpTest, NextelMarkerLosesItsOwnOpening) {
    TapTerminal term = TapTerminal::onTcp({});
    ASSERT_TRUE(sendTapOverIp(page(term.port(), "(No) call(N)#*&("), m_dir.path(), m_clock, m_lines.fn()));
    waitClosed(term);
    EXPECT_NE(term.received().find(S({CR}) + "(No) call)#*&(" + S({CR, ETX})), std::string::npos)
        << toHex(term.received());
}

TEST(TapMarkers, TypeAndTextByMarker) {
    struct Case {
        std::string in, out;
        int type;
    } cases[] = {
        {"plain", "plain", stNone},
        {"text)#*&(", "text)#*&(", stAldiscon},
        {"text(N)#*&(", "text)#*&(", stNextel},
        // Only the "(N" that opens the marker goes.
        {"(No (N)#*&(", "(No )#*&(", stNextel},
        {"(N plain", "(N plain", stNone},
    };
    for (const auto& c : cases) {
        std::string text = c.in;
        EXPECT_EQ(applyTapSmsMarkers(text), c.type) << c.in;
        EXPECT_EQ(text, c.out) << c.in;
    }
}

TEST(TapHandlers, LinesByEvent) {
    TKORAlpaPage pager;
    pager.FPortName = "Modem 1";
    Lines lines;
    bindTapEvents(pager, lines.fn());
    pager.OnPageProgress(pager, "Connected", "Connection Status");
    pager.OnPageProgress(pager, "Message Submitted For Processing", "Delivery OK");
    pager.OnPageProgress(pager, "Sending Block 1 of 1", "Delivery Status");
    pager.OnPageProgress(pager, "Login Denied", "Network Status");
    pager.OnBusy(pager);
    pager.OnLineBusy(pager);
    pager.OnUnexpectedClose(pager);
    EXPECT_EQ(lines.all, (std::vector<std::string>{
                             "[TAP Connection Status] Modem 1 Connected",
                             "[TAP Network Status] Modem 1 Login Denied",
                             "[Dial-up Connection] Modem 1 Dialed Number Busy",
                             "[Dial-up Connection] Modem 1 Port In Use By Another Application!",
                             "[Dial-up Connection]Modem 1 Port Has Been Unexpectedly Closed!",
                         }));
}

}  // namespace
}  // namespace nv::test
