// The engine's SMS pages: the cut into labelled parts, the modem's start-up
// status, and SendSMSPage against the scripted GSM modem on a pseudo-terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "protocols/KORSMSMsg.h"
#include "service/SmsSender.h"
#include "tests/peers/GsmModem.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {
using namespace std::chrono_literals;

// Words of five letters and a blank: "w0001 w0002 ...", `n` characters.
std::string words(std::size_t n) {
    std::string s;
    for (int i = 1; s.size() < n; ++i) {
        char w[16];
        std::snprintf(w, sizeof w, "w%04d ", i % 10000);
        s += w;
    }
    return s.substr(0, n);
}

TEST(SmsSplit, EveryPartFitsOneSmsWithItsLabel) {
    struct Case {
        std::string what;
        std::string text;
        std::size_t parts;
    } cases[] = {
        {"short", "Hello", 1},
        {"158 is still one part", words(158), 1},
        {"159 is cut", words(159), 2},
        {"300 characters", words(300), 3},
        {"no blank: cut at 136", std::string(400, 'x'), 3},
        // Cut once at 132, the rest of 150 would be a last part of 166 with
        // "(2 of 2)  " and " (END)": it is cut again.
        {"last part too long with its label", words(282), 3},
        {"twenty parts at most", words(5000), 20},
    };
    for (const auto& c : cases) {
        const auto parts = splitSmsPage(c.text);
        ASSERT_EQ(parts.size(), c.parts) << c.what;
        const int n = static_cast<int>(parts.size());
        std::string joined;
        for (int i = 1; i <= n; ++i) {
            std::string part = parts[i - 1];
            EXPECT_LE(labelSmsPart(i, n, part).size(), 160u) << c.what << " part " << i;
            if (n == 1) {
                EXPECT_EQ(part, c.text) << c.what;
                continue;
            }
            // A page cut off after its twentieth part ends on a continuation.
            const bool cutOff = n == kSmsPageMaxParts;
            const std::string mark = i < n || cutOff ? "  (CONT.)" : " (END)";
            ASSERT_GE(part.size(), mark.size());
            EXPECT_EQ(part.substr(part.size() - mark.size()), mark) << c.what << " part " << i;
            joined += part.substr(0, part.size() - mark.size());
        }
        if (n > 1) {
            EXPECT_EQ(c.text.substr(0, joined.size()), joined) << c.what;
        }
        if (n > 1 && n < kSmsPageMaxParts) {
            EXPECT_EQ(joined, c.text) << c.what;
        }
    }
    // The cut is after the last blank of the first 136 characters.
    EXPECT_EQ(splitSmsPage(words(300))[0], words(132) + "  (CONT.)");
    EXPECT_EQ(labelSmsPart(2, 3, "x"), "(2 of 3)  x");
    EXPECT_EQ(labelSmsPart(1, 1, "x"), "x");
}

TEST(SmsStatus, TextByRegistration) {
    struct Case {
        bool opened;
        std::uint8_t reg;
        std::string text;
    } cases[] = {
        {false, srRegistered, "SMS Gateway Off-Line, Unable To Open Port"},
        {true, srIdle, "SMS Gateway Off-Line, No Service"},
        {true, srRegistered, "SMS Gateway On-Line with Net"},
        {true, srScanning, "SMS Gateway Off-Line, Scanning"},
        {true, srDenied, "SMS Gateway Off-Line, Scanning"},
        {true, srUnknown, "SMS Gateway Off-Line, Unknown"},
        {true, srRoaming, "SMS Gateway On-Line Roaming with Net"},
    };
    for (const auto& c : cases) EXPECT_EQ(smsGatewayStatus(c.opened, c.reg, "Net"), c.text) << int(c.reg);
}

class SmsSenderTest : public ::testing::Test {
protected:
    void config(const std::string& sms) { writeFile(dir / "Config.Dat", "[SMS]\r\n" + sms); }

    // The modem on COM3 as the engine opens it at start; the status text.
    std::string open(const GsmModemScript& script, int mode = 0) {
        peer = std::make_unique<GsmModem>(script);
        std::filesystem::create_symlink(peer->devicePath(), dir / "COM3");
        modem = std::make_unique<TKORSMSMessaging>(dir.path());
        GsmTimings t;
        t.partPause = 0ms;
        modem->setTimings(t);
        SmsSection s;
        s.Enabled = true;
        s.COMPort = 2;
        s.Mode = mode;
        return openSmsModem(*modem, s, log());
    }
    SmsLogFn log() {
        return [this](const std::string& l) {
            std::lock_guard lk(mutex);
            lines.push_back(l);
        };
    }
    void clearLog() {
        std::lock_guard lk(mutex);
        lines.clear();
    }
    std::vector<std::string> logged() {
        std::lock_guard lk(mutex);
        return lines;
    }
    bool send(const SmsPageArgs& args, std::string& reply) {
        SmsPageSender sender(modem.get(), dir.path(), log(),
                             [this](std::chrono::milliseconds d) { pauses.push_back(d.count()); });
        return sender.send(args, reply);
    }

    TempDir dir;
    std::unique_ptr<GsmModem> peer;
    std::unique_ptr<TKORSMSMessaging> modem;
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<long> pauses;
};

TEST_F(SmsSenderTest, ModemOpensWithItsRegistrationLine) {
    GsmModemScript script;
    script.creg = {"0,5"};
    script.network = "Vodafone";
    EXPECT_EQ(open(script), "SMS Gateway On-Line Roaming with Vodafone");
    EXPECT_FALSE(modem->EnableRXMsgs());
    EXPECT_EQ(modem->SendMode(), smText);
    auto l = logged();
    ASSERT_FALSE(l.empty());
    EXPECT_EQ(l.front(), "[SMS Status]Modem Init");
}

TEST_F(SmsSenderTest, ModemThatDoesNotOpen) {
    TKORSMSMessaging none(dir.path());
    SmsSection s;
    s.Enabled = true;
    s.COMPort = 7;  // no COM8 here
    s.Mode = 1;
    EXPECT_EQ(openSmsModem(none, s, log()), "SMS Gateway Off-Line, Unable To Open Port");
    EXPECT_EQ(none.SendMode(), smPDU);
}

TEST_F(SmsSenderTest, LongPageGoesAsThreeLabelledMessages) {
    config("Enabled=1\r\nCOMPort=2\r\n");
    open({});
    const std::string text = words(300);
    const auto parts = splitSmsPage(text);
    for (bool reverse : {false, true}) {
        peer->clearReceived();
        clearLog();
        pauses.clear();
        std::string reply;
        ASSERT_TRUE(send({"+4479", "0711", text, 0, reverse}, reply)) << reply;
        std::vector<std::string> want, wantLines;
        for (int k = 0; k < 3; ++k) {
            const int i = reverse ? 3 - k : k + 1;
            want.push_back(labelSmsPart(i, 3, parts[i - 1]));
            wantLines.push_back("[SMS Delivery Status] Sending Block " + std::to_string(i) + " of 3");
        }
        ASSERT_TRUE(peer->waitReceived(want.back(), 5s));
        EXPECT_EQ(peer->bodies(), want) << reverse;
        EXPECT_EQ(logged(), wantLines) << reverse;
        EXPECT_EQ(pauses, (std::vector<long>{1500, 1500, 1500}));
    }
}

TEST_F(SmsSenderTest, RefusedPagesSayWhy) {
    struct Case {
        std::string what;
        std::string config;
        bool openModem;
        std::string message;
        std::string reply;
        std::vector<std::string> lines;
    } cases[] = {
        {"switched off", "Enabled=0\r\nCOMPort=2\r\n", true, "Hi", kSmsNotEnabled, {}},
        {"no section", "", true, "Hi", kSmsNotEnabled, {}},
        {"empty message", "Enabled=1\r\n", true, "", "No Message To Send!",
         {"[SMS Connection Error] Error Sending Message ID: +4479 PIN: 0711 Msg: No Message To Send!"}},
        // The port named is [SMS]'s own, not the provider's byte.
        {"modem not open", "Enabled=1\r\nCOMPort=2\r\n", false, "Hi", "SMS COM3: Not Open!", {}},
    };
    for (const auto& c : cases) {
        config(c.config);
        if (c.openModem && !modem) open({});
        clearLog();
        TKORSMSMessaging closed(dir.path());
        SmsPageSender sender(c.openModem ? modem.get() : &closed, dir.path(), log(), [](std::chrono::milliseconds) {});
        std::string reply;
        EXPECT_FALSE(sender.send({"+4479", "0711", c.message, 0, false}, reply)) << c.what;
        EXPECT_EQ(reply, c.reply) << c.what;
        EXPECT_EQ(logged(), c.lines) << c.what;
    }
    EXPECT_TRUE(peer->bodies().empty());
}

TEST_F(SmsSenderTest, RejectedPartStopsThePage) {
    config("Enabled=1\r\n");
    GsmModemScript script;
    script.submit = GsmModemScript::Submit::CmsError;
    open(script);
    clearLog();
    std::string reply;
    EXPECT_FALSE(send({"", "0711", words(300), 0, false}, reply));
    EXPECT_NE(reply.find("+CMS ERROR"), std::string::npos) << reply;
    EXPECT_EQ(peer->bodies().size(), 1u);
    EXPECT_EQ(logged(), (std::vector<std::string>{"[SMS Delivery Status] Sending Block 1 of 3"}));
}

}  // namespace
}  // namespace nv::test
