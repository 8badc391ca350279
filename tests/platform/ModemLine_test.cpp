#include "platform/ModemLine.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/FileUtil.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

bool contains(const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
}

TEST(ModemListFile, ReadsLinesByStableId) {
    TempDir dir;
    writeFile(dir / "Modems.ini",
              "[Line7]\r\nName=Courier\r\nDevice=/dev/serial/by-id/usb-modem\r\nInit=ATZ | AT&F1E0\r\n"
              "Hangup=ATH\r\n[Line2]\r\nName=Second\r\nDevice=/dev/ttyS1\r\n[Other]\r\nName=ignored\r\n");
    ModemList list = ModemList::load(dir / "Modems.ini");
    ASSERT_EQ(list.entries().size(), 2u);
    EXPECT_EQ(list.numDevs(), 8);
    const ModemEntry* e = list.find(7);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->name, "Courier");
    EXPECT_EQ(e->device, "/dev/serial/by-id/usb-modem");
    EXPECT_EQ(e->init, (std::vector<std::string>{"ATZ", "AT&F1E0"}));
    EXPECT_FALSE(e->hangupByDtr);
    ASSERT_TRUE(list.find(2));
    EXPECT_EQ(list.find(2)->init, ModemList::defaultInit());
    EXPECT_TRUE(list.find(2)->hangupByDtr);
    EXPECT_FALSE(list.find(0));
    EXPECT_EQ(ModemList::load(dir / "missing.ini").numDevs(), 0);
}

TEST(LineSlots, ClaimAndRelease) {
    LineSlotTable t;
    int a = 0, b = 0;
    EXPECT_EQ(t.claim(-1, &a), LineSlotTable::Claim::InvalidInstance);
    EXPECT_EQ(t.claim(17, &a), LineSlotTable::Claim::InvalidInstance);
    EXPECT_EQ(t.claim(16, &a), LineSlotTable::Claim::Ok);
    EXPECT_EQ(t.claim(4, &a), LineSlotTable::Claim::Ok);
    EXPECT_EQ(t.claim(4, &a), LineSlotTable::Claim::Ok);  // its own slot again
    EXPECT_EQ(t.claim(4, &b), LineSlotTable::Claim::Held);
    t.release(4, &b);  // not the holder: nothing changes
    EXPECT_EQ(t.holder(4), &a);
    t.release(4, &a);
    EXPECT_EQ(t.claim(4, &b), LineSlotTable::Claim::Ok);
    EXPECT_EQ(t.holder(17), nullptr);
}

class ModemLineTest : public ::testing::Test {
protected:
    ScaledClock m_clock{20};
    PtyPair m_pty;
    ModemList m_list;
    std::vector<LineMessage> m_got;

    void SetUp() override {
        m_pty.holdSlave();
        ModemEntry e;
        e.id = 1;
        e.name = "Pty";
        e.device = m_pty.slavePath();
        e.init = {"ATZ", "ATE0V1"};
        m_list.add(e);
    }
    // Ptys here take only 8 bits without parity once set.
    static ModemSettings eightBits() {
        ModemSettings s;
        s.dataBits = 8;
        s.parity = 'N';
        return s;
    }
    // Pumps until a call state arrives (or the real time is over).
    std::uint32_t pumpUntilState(ModemLine& line, int realMs = 3000) {
        for (int i = 0; i < realMs / 5; ++i) {
            std::uint32_t state = 0;
            line.pump([&](const LineMessage& m) {
                m_got.push_back(m);
                if (m.kind == LineMessage::Kind::CallState) state = m.callState;
            });
            if (state) return state;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return 0;
    }
};

TEST_F(ModemLineTest, DialResultsBecomeCallStates) {
    struct Case {
        std::string result;
        std::uint32_t state;
    } cases[] = {
        {"CONNECT 9600/ARQ", LINECALLSTATE_CONNECTED},
        {"BUSY", LINECALLSTATE_BUSY},
        {"NO CARRIER", LINECALLSTATE_DISCONNECTED},
        {"NO DIALTONE", LINECALLSTATE_DISCONNECTED},
        {"NO ANSWER", LINECALLSTATE_DISCONNECTED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        HayesModem modem(m_pty.master(), {c.result, true, "", {}});
        ModemLine line(m_list, m_clock);
        line.setDevConfig(eightBits());
        ASSERT_EQ(line.open(1), 0);
        m_got.clear();
        const std::int32_t id = line.makeCall("9, 555-1234");
        ASSERT_GT(id, 0);
        EXPECT_EQ(pumpUntilState(line), c.state);
        // The request is always answered, before the call state.
        ASSERT_FALSE(m_got.empty());
        EXPECT_EQ(m_got.front().kind, LineMessage::Kind::Reply);
        EXPECT_EQ(m_got.front().requestId, id);
        EXPECT_EQ(m_got.front().result, 0);
        EXPECT_EQ(modem.commands(), (std::vector<std::string>{"ATZ", "ATE0V1", "ATDT9,5551234"}));
        EXPECT_EQ(line.stream() != nullptr, c.state == LINECALLSTATE_CONNECTED);
        line.close();
    }
}

TEST_F(ModemLineTest, ConfigurationAddsItsCommandsAfterTheBaseInit) {
    HayesModem modem(m_pty.master(), {});
    ModemLine line(m_list, m_clock);
    ModemSettings s = eightBits();
    s.extraInit = "S7=11";
    s.blindDial = true;
    s.dialTimeout = 40;
    s.pulseDial = true;
    line.setDevConfig(s);
    ASSERT_EQ(line.open(1), 0);
    line.makeCall("123");
    EXPECT_EQ(pumpUntilState(line), LINECALLSTATE_CONNECTED);
    EXPECT_EQ(modem.commands(),
              (std::vector<std::string>{"ATZ", "ATE0V1", "ATX3", "ATS7=40", "ATS7=11", "ATDP123"}));
}

TEST_F(ModemLineTest, InitErrorAnswersTheRequestWithFailure) {
    HayesModem modem(m_pty.master(), {"CONNECT", true, "ATE0", {}});
    ModemLine line(m_list, m_clock);
    line.setDevConfig(eightBits());
    ASSERT_EQ(line.open(1), 0);
    const std::int32_t id = line.makeCall("1");
    for (int i = 0; i < 600 && m_got.empty(); ++i) {
        line.pump([&](const LineMessage& m) { m_got.push_back(m); });
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(m_got.size(), 1u);
    EXPECT_EQ(m_got[0].requestId, id);
    EXPECT_EQ(m_got[0].result, LINEERR_OPERATIONFAILED);
    EXPECT_FALSE(contains(modem.commands(), "ATDT1"));
}

TEST_F(ModemLineTest, ConnectedCallCarriesDataAndHangsUpWithEscape) {
    HayesModem modem(m_pty.master(), {});
    ModemLine line(m_list, m_clock);
    line.setDevConfig(eightBits());
    ASSERT_EQ(line.open(1), 0);
    line.makeCall("1");
    ASSERT_EQ(pumpUntilState(line), LINECALLSTATE_CONNECTED);
    ModemStream* s = line.stream();
    ASSERT_TRUE(s);
    ASSERT_TRUE(s->writeAll("\r", std::chrono::seconds(1)));
    std::string got;
    for (int i = 0; i < 400 && got.find("ID=") == std::string::npos; ++i) {
        s->waitReadable(std::chrono::milliseconds(5));
        got += s->readAvailable(100);
    }
    EXPECT_EQ(got, "ID=");
    m_got.clear();
    const std::int32_t id = line.drop();
    EXPECT_EQ(pumpUntilState(line), LINECALLSTATE_IDLE);
    EXPECT_EQ(m_got.front().requestId, id);
    const auto cmds = modem.commands();
    ASSERT_GE(cmds.size(), 2u);
    EXPECT_EQ(cmds[cmds.size() - 2], "+++");
    EXPECT_EQ(cmds.back(), "ATH0");
}

TEST_F(ModemLineTest, CarrierLossIsSeenThroughTheStream) {
    HayesModem modem(m_pty.master(), {});
    ModemLine line(m_list, m_clock);
    line.setDevConfig(eightBits());
    ASSERT_EQ(line.open(1), 0);
    line.makeCall("1");
    ASSERT_EQ(pumpUntilState(line), LINECALLSTATE_CONNECTED);
    modem.dropCarrier();
    std::string data;
    for (int i = 0; i < 400 && line.stream() && line.stream()->up(); ++i) {
        line.stream()->waitReadable(std::chrono::milliseconds(5));
        data += line.stream()->readAvailable(100);
    }
    EXPECT_NE(data.find("NO CARRIER"), std::string::npos);
    EXPECT_EQ(pumpUntilState(line), LINECALLSTATE_DISCONNECTED);
}

TEST_F(ModemLineTest, RingIsOfferedAndAnswered) {
    HayesModem modem(m_pty.master(), {"CONNECT 9600", true, "", {}});
    ModemLine line(m_list, m_clock);
    line.setDevConfig(eightBits());
    ASSERT_EQ(line.open(1), 0);
    EXPECT_LT(line.answer(), 0);  // nothing offered yet
    modem.ring();
    ASSERT_EQ(pumpUntilState(line), LINECALLSTATE_OFFERING);
    m_got.clear();
    const std::int32_t id = line.answer();
    ASSERT_GT(id, 0);
    EXPECT_EQ(pumpUntilState(line), LINECALLSTATE_CONNECTED);
    EXPECT_EQ(m_got.front().requestId, id);
    EXPECT_EQ(modem.commands().back(), "ATA");
    EXPECT_TRUE(line.stream());
}

TEST_F(ModemLineTest, VerifyUsableLineCodes) {
    ModemList list = m_list;
    ModemEntry gone;
    gone.id = 2;
    gone.device = "/nonexistent/modem";
    list.add(gone);
    {
        ModemLine line(list, m_clock);
        line.setDevConfig(eightBits());
        EXPECT_EQ(line.verifyUsableLine(9), 1u);
        EXPECT_EQ(line.verifyUsableLine(2), 1u);
        EXPECT_EQ(line.open(9), LINEERR_BADDEVICEID);
        EXPECT_EQ(line.open(2), LINEERR_NODEVICE);
    }
    {
        HayesModem dead(m_pty.master(), {"", false, "", {}});
        ModemLine line(list, m_clock);
        line.setDevConfig(eightBits());
        EXPECT_EQ(line.verifyUsableLine(1), 6u);
    }
    {
        HayesModem modem(m_pty.master(), {});
        ModemLine line(list, m_clock);
        line.setDevConfig(eightBits());
        EXPECT_EQ(line.verifyUsableLine(1), 0u);
        // Another holder of the device's lock.
        FileLock held(m_pty.slavePath(), FileLock::Mode::Exclusive);
        ASSERT_TRUE(held.locked());
        EXPECT_EQ(line.verifyUsableLine(1), 5u);
        EXPECT_EQ(line.open(1), LINEERR_ALLOCATED);
    }
}

}  // namespace
}  // namespace nv::test
