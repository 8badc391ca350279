// TKORAlpaPage in modem mode: the scripted Hayes modem on a pty, listed in
// Modems.ini of a temporary data directory.
#include <gtest/gtest.h>

#include <algorithm>

#include "foundation/FileUtil.h"
#include "protocols/KORAlphaPage.h"
#include "protocols/ModemConfig.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

constexpr char ACK = 0x06, EOT = 0x04, CR = 0x0D;

class TapModemTest : public ::testing::Test {
protected:
    // Fast enough for second-long waits, slow enough that the peer thread answers in time.
    ScaledClock m_clock{20};
    TempDir m_dir;
    PtyPair m_pty;
    std::vector<std::string> m_events;
    std::vector<std::string> m_fired;

    void SetUp() override {
        m_pty.holdSlave();
        writeFile(m_dir / "Modems.ini",
                  "[Line3]\r\nName=TestModem\r\nDevice=" + m_pty.slavePath() + "\r\nInit=ATZ\r\n");
        // Ptys here take only 8 bits without parity once set.
        writeConfig("system.mcf", "ATS7=33");
    }
    void writeConfig(const std::string& name, const std::string& extra) {
        ModemSettings s;
        s.dataBits = 8;
        s.parity = 'N';
        s.extraInit = extra;
        ASSERT_TRUE(writeModemConfigFile(m_dir / name, s));
    }
    std::unique_ptr<TKORAlpaPage> pager(int instance = 3) {
        auto p = std::make_unique<TKORAlpaPage>(m_dir.path(), m_clock);
        p->Name = "Outbound" + std::to_string(instance);
        p->LineInstance = instance;
        p->DevIdToInitialize = 3;
        p->PhoneNumber = "9,555-1234";
        p->Password = "pw";
        p->ModemSysConfig = (m_dir / "system.mcf").string();
        p->ModemAltConfig = (m_dir / "TestModem.mcf").string();
        p->ModemTermConfig = (m_dir / "Carrier.mcf").string();
        p->OnPageProgress = [this](TKORAlpaPage&, const std::string& msg, const std::string& type) {
            m_events.push_back(type + "|" + msg);
        };
        auto fire = [this](const char* name) { return [this, name](TKORAlpaPage&) { m_fired.push_back(name); }; };
        p->OnBusy = fire("Busy");
        p->OnLineBusy = fire("LineBusy");
        p->OnDisconnect = fire("Disconnect");
        p->OnConnection = fire("Connection");
        return p;
    }
    bool has(const std::string& e) const { return std::find(m_events.begin(), m_events.end(), e) != m_events.end(); }
    bool fired(const std::string& e) const { return std::find(m_fired.begin(), m_fired.end(), e) != m_fired.end(); }
};

TEST_F(TapModemTest, OnePageThroughTheModem) {
    TapScript tap;
    tap.loginReplies = {std::string{ACK, CR}};
    HayesModem modem(m_pty.master(), {"CONNECT 2400", true, "", tap});
    auto p = pager();
    ASSERT_TRUE(p->Dial());
    EXPECT_TRUE(fired("Connection"));
    ASSERT_TRUE(p->SendTextMessage("1234567", "Hello"));
    p->Hangup();
    EXPECT_FALSE(p->bConnected);
    EXPECT_TRUE(p->bDropped);
    const std::vector<std::string> golden = {
        "Connection Status|Dialing 9,555-1234",
        "Connection Status|Accessing Modem - TestModem Device ID: 3",
        "Connection Status|Connected",
        "Network Status|Logging On",
        "Network Status|Login Accepted, Waiting For Terminal",
        "Delivery Status|Sending Message To 1234567",
        "Delivery Status|Sending Block 1 of 1",
        "Delivery OK|Message Submitted For Processing",
        "Connection Status|Disconnecting...",
        "Connection Status|Disconnected",
    };
    EXPECT_EQ(m_events, golden);
    const auto cmds = modem.commands();
    EXPECT_EQ(cmds, (std::vector<std::string>{"AT", "ATZ", "ATS7=33", "ATDT9,5551234", "+++", "ATH0"}));
    EXPECT_TRUE(modem.loggedOut());
    EXPECT_NE(modem.online().find(std::string{EOT, CR}), std::string::npos);
}

TEST_F(TapModemTest, DialFailures) {
    struct Case {
        std::string result;
        const char* event;
    } cases[] = {{"BUSY", "Busy"}, {"NO CARRIER", "Disconnect"}, {"NO DIALTONE", "Disconnect"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.result);
        m_events.clear();
        m_fired.clear();
        HayesModem modem(m_pty.master(), {c.result, true, "", {}});
        auto p = pager();
        EXPECT_FALSE(p->Dial());
        EXPECT_TRUE(fired(c.event));
        EXPECT_FALSE(p->bConnected);
        EXPECT_TRUE(has("Connection Status|Disconnected"));
        EXPECT_FALSE(has("Connection Status|Connected"));
        EXPECT_EQ(modem.commands().back(), "ATH0");
    }
}

TEST_F(TapModemTest, SilentModemIsDroppedAfterSixtySeconds) {
    ScaledClock& fast = m_clock;
    HayesModem modem(m_pty.master(), {"", true, "", {}});
    TKORAlpaPage p(m_dir.path(), fast);
    p.LineInstance = 5;
    p.DevIdToInitialize = 3;
    p.PhoneNumber = "1";
    p.ModemSysConfig = (m_dir / "system.mcf").string();
    const auto start = fast.now();
    EXPECT_FALSE(p.Dial());
    EXPECT_GE(fast.now() - start, std::chrono::seconds(60));
    EXPECT_EQ(modem.commands().back(), "ATH0");
}

TEST_F(TapModemTest, DeviceHeldByAnotherProgram) {
    HayesModem modem(m_pty.master(), {});
    FileLock held(m_pty.slavePath(), FileLock::Mode::Exclusive);
    ASSERT_TRUE(held.locked());
    auto p = pager();
    EXPECT_FALSE(p->Dial());
    EXPECT_TRUE(fired("LineBusy"));
    EXPECT_TRUE(modem.commands().empty());
}

TEST_F(TapModemTest, ExactlyOneConfigurationFileApplies) {
    struct Case {
        const char* what;
        bool carrier, carrierCorrupt, modemFile;
        const char* sent;
    } cases[] = {
        {"carrier file first", true, false, true, "ATS7=11"},
        {"modem file next", false, false, true, "ATS7=22"},
        {"corrupt carrier file skipped", true, true, true, "ATS7=22"},
        {"system file last", false, false, false, "ATS7=33"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove(m_dir / "Carrier.mcf");
        std::filesystem::remove(m_dir / "TestModem.mcf");
        if (c.carrier) writeConfig("Carrier.mcf", "ATS7=11");
        if (c.carrierCorrupt) writeFile(m_dir / "Carrier.mcf", "\x10\0\0\0garbage");
        if (c.modemFile) writeConfig("TestModem.mcf", "ATS7=22");
        HayesModem modem(m_pty.master(), {"NO CARRIER", true, "", {}});
        auto p = pager();
        EXPECT_FALSE(p->Dial());
        const auto cmds = modem.commands();
        EXPECT_EQ(std::count_if(cmds.begin(), cmds.end(), [](const std::string& s) { return s.rfind("ATS7", 0) == 0; }),
                  1);
        EXPECT_NE(std::find(cmds.begin(), cmds.end(), c.sent), cmds.end());
    }
}

TEST_F(TapModemTest, LineSlots) {
    auto a = pager(4);
    a->InitTap();
    auto b = pager(4);
    try {
        b->InitTap();
        ADD_FAILURE() << "no raise";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "KORAlphaPage Instance 4 component already exists in this process.");
    }
    a.reset();
    EXPECT_TRUE(b->InitTap());
    EXPECT_TRUE(b->InitTap());  // again on its own slot

    auto bad = pager(17);
    EXPECT_THROW(
        {
            try {
                bad->InitTap();
            } catch (const std::runtime_error& e) {
                EXPECT_STREQ(e.what(), "TAPILine: Invalid Instance ID");
                throw;
            }
        },
        std::runtime_error);
    // Outside modem mode nothing is claimed.
    auto tcp = pager(6);
    tcp->DeviceOperationMode = opmaTCP;
    EXPECT_FALSE(tcp->InitTap());
    auto other = pager(6);
    EXPECT_TRUE(other->InitTap());
    EXPECT_EQ(other->NumDevs, 4);
}

}  // namespace
}  // namespace nv::test
