#include "protocols/KORSMSMsg.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>

#include "protocols/GsmPdu.h"
#include "tests/peers/GsmModem.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {
using namespace std::chrono_literals;
using Submit = GsmModemScript::Submit;

const std::string kInitText =
    "ATZ\r\nAT\r\nAT+CPMS=\"SM\",\"SM\"\r\nAT+CMGF=1\r\n"
    "AT+CGMI\r\nAT+CGMR\r\nAT+CGMM\r\nAT+CGSN\r\nAT+CSMS?\r\nAT+CREG?\r\n";
const std::string kCops = "AT+COPS=3,0;+COPS?\r\n";
const std::string kSubmitted = "Message Submitted For Processing";

// Time-outs for tests where silence is the point; a modem that answers is
// never waited on for long whatever they are.
GsmTimings shortTimings() {
    GsmTimings t;
    t.command = 300ms;
    t.prompt = 300ms;
    t.textSubmit = 300ms;
    t.pduSubmit = 300ms;
    t.partPause = 0ms;
    t.statusPause = 0ms;
    t.rxLine = 300ms;
    return t;
}

class KORSMSMsgTest : public ::testing::Test {
protected:
    void start(const GsmModemScript& script, tSendMode mode = smText) {
        modem = std::make_unique<GsmModem>(script);
        std::filesystem::create_symlink(modem->devicePath(), dir / "COM1");
        sms = std::make_unique<TKORSMSMessaging>(dir.path());
        sms->SetComPort(pnCOM1);
        sms->SetSendMode(mode);
        GsmTimings t;
        t.partPause = 0ms;
        t.statusPause = 0ms;
        sms->setTimings(t);
        sms->OnStatus = [this](TKORSMSMessaging&, tStatusType type, const std::string& msg) {
            std::lock_guard lock(mutex);
            statuses.push_back((type == stError ? "E:" : "S:") + msg);
        };
    }
    // Opens and forgets what initialisation sent.
    void openReady(const GsmModemScript& script, tSendMode mode = smText) {
        start(script, mode);
        ASSERT_TRUE(sms->OpenPort());
        modem->clearReceived();
    }
    std::vector<std::string> statusList() {
        std::lock_guard lock(mutex);
        return statuses;
    }

    TempDir dir;
    std::unique_ptr<GsmModem> modem;
    std::unique_ptr<TKORSMSMessaging> sms;
    std::mutex mutex;
    std::vector<std::string> statuses;
};

TEST_F(KORSMSMsgTest, InitialisationBytesAndFields) {
    struct Case {
        bool echo;
        tSendMode mode;
    };
    for (Case c : {Case{false, smText}, Case{true, smText}, Case{false, smPDU}}) {
        SCOPED_TRACE(std::string(c.echo ? "echo " : "") + (c.mode == smPDU ? "pdu" : "text"));
        GsmModemScript script;
        script.echo = c.echo;
        script.manufacturer = "NOKIA";  // holds "OK"
        start(script, c.mode);
        ASSERT_TRUE(sms->OpenPort());
        std::string expected = kInitText + kCops;
        if (c.mode == smPDU) expected.replace(expected.find("AT+CMGF=1"), 9, "AT+CMGF=0");
        EXPECT_EQ(modem->received(), expected);
        EXPECT_EQ(sms->Manufacture(), "NOKIA");
        EXPECT_EQ(sms->PhoneVersion(), "641b09gg.Q2406B");
        EXPECT_EQ(sms->PhoneModel(), "900E  1800");
        EXPECT_EQ(sms->PhoneIMEI(), "123456789012345");
        EXPECT_EQ(sms->SysReg(), srRegistered);
        EXPECT_EQ(sms->NetworkName(), "Vodafone");
        EXPECT_EQ(sms->MsgSvcSupported(), (1 << msMT) | (1 << msMO) | (1 << msBM));
        EXPECT_TRUE(sms->ThreadStarted());
        const std::string modeStatus = c.mode == smPDU ? "S:Set To PDU Mode" : "S:Set To Text Mode";
        EXPECT_EQ(statusList(), (std::vector<std::string>{
                                    "S:Modem Init", modeStatus, "S:Getting Modem Manufacture",
                                    "S:Getting Modem Version", "S:Getting Modem Model", "S:Getting Modem IMEI",
                                    "S:Getting Modem Supported Messaging",
                                    "S:Getting Modem Registration Status", "S:Getting Network",
                                    "S:Modem Init Done"}));
        EXPECT_TRUE(sms->ClosePort());
        EXPECT_FALSE(sms->Connected());
        sms.reset();
        std::filesystem::remove(dir / "COM1");
        statuses.clear();
    }
}

TEST_F(KORSMSMsgTest, RegistrationStates) {
    struct Case {
        std::string creg;
        tSysReg state;
        bool asksNetwork;
    };
    const Case cases[] = {
        {"0,1", srRegistered, true}, {"0,5", srRoaming, true},   {"0,2", srScanning, false},
        {"0,3", srDenied, false},    {"0,0", srIdle, false},     {"garbage", srUnknown, false},
        {"0,7", srUnknown, false},   {"ERROR", srUnknown, false}, {"2,1,\"1A2B\",\"0012\"", srRegistered, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.creg);
        GsmModemScript script;
        script.creg = {c.creg};
        start(script);
        // A modem quirk never stops the start.
        ASSERT_TRUE(sms->OpenPort());
        EXPECT_EQ(sms->SysReg(), c.state);
        EXPECT_EQ(modem->received().find(kCops) != std::string::npos, c.asksNetwork);
        if (!c.asksNetwork) {
            EXPECT_EQ(sms->NetworkName(), "Unknown");
        }
        sms.reset();
        std::filesystem::remove(dir / "COM1");
    }
}

TEST_F(KORSMSMsgTest, OpensAtEverySpeed) {
    // 14400 and 56000 have no Bxxx constant; the serial layer sets them as
    // arbitrary speeds.
    for (TComPortBaudRate speed : {br9600, br14400, br56000, br115200}) {
        SCOPED_TRACE(static_cast<int>(speed));
        start({});
        sms->SetComPortSpeed(speed);
        EXPECT_EQ(sms->ComPortStopBits(), sb2BITS);
        EXPECT_TRUE(sms->OpenPort()) << sms->LastError();
        sms.reset();
        std::filesystem::remove(dir / "COM1");
    }
}

TEST_F(KORSMSMsgTest, SilentModemFailsOpen) {
    GsmModemScript script;
    script.silent = true;
    start(script);
    sms->setTimings(shortTimings());
    EXPECT_FALSE(sms->OpenPort());
    EXPECT_FALSE(sms->Connected());
    EXPECT_EQ(statusList(), (std::vector<std::string>{"S:Modem Init", "E:No Responce From Modem"}));
    EXPECT_TRUE(modem->waitReceived("ATZ\r\n", 5s));
    EXPECT_EQ(modem->received(), "ATZ\r\n");
}

TEST_F(KORSMSMsgTest, InitFailuresByStep) {
    struct Case {
        std::string refused;
        tSendMode mode;
        bool opens;
        std::string error;
    };
    const Case cases[] = {
        {"AT+CPMS=\"SM\",\"SM\"", smText, true, "E:Unable To Set Sim Write Using Default Storage"},
        {"AT+CMGF=1", smText, false, "E:Setting Text Mode"},
        {"AT+CMGF=0", smPDU, false, "E:Setting PDU Mode"},
        {"AT", smText, false, "E:No Responce From Modem"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.refused);
        GsmModemScript script;
        script.refuse = {c.refused};
        start(script, c.mode);
        EXPECT_EQ(sms->OpenPort(), c.opens);
        EXPECT_EQ(sms->Connected(), c.opens);
        auto st = statusList();
        EXPECT_NE(std::find(st.begin(), st.end(), c.error), st.end());
        sms.reset();
        std::filesystem::remove(dir / "COM1");
        statuses.clear();
    }
}

TEST_F(KORSMSMsgTest, TextPartBytes) {
    struct Case {
        std::string centre, charset, bytes;
    };
    const Case cases[] = {
        {"", "", "AT\r\nAT+CPAS\r\nAT\r\nAT+CMGF=1\r\nAT+CMGS=\"+4912345\"\r\nhello\x1A"},
        {"+4917", "GSM",
         "AT\r\nAT+CPAS\r\nAT\r\nAT+CMGF=1\r\nAT+CSCA=\"+4917\"\r\nAT+CSCS=\"GSM\"\r\n"
         "AT+CMGS=\"+4912345\"\r\nhello\x1A"},
    };
    openReady({});
    for (const auto& c : cases) {
        modem->clearReceived();
        std::string rsp;
        EXPECT_EQ(sms->SendSMSTextMode(c.centre, "+4912345", "hello", c.charset, false, rsp), 12);
        EXPECT_EQ(rsp, kSubmitted);
        EXPECT_EQ(modem->received(), c.bytes);
        EXPECT_EQ(sms->RXComState(), TKORSMSMessaging::csReady);
    }
}

TEST_F(KORSMSMsgTest, AnswerWithoutReferenceIsZero) {
    GsmModemScript script;
    script.submit = Submit::OkWithoutReference;
    openReady(script);
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), 0);
    EXPECT_EQ(rsp, kSubmitted);
    EXPECT_EQ(sms->SendSMSPDUMode("", "+4912345", "hi", false, rsp, true), 0);
    EXPECT_EQ(rsp, kSubmitted);
}

TEST_F(KORSMSMsgTest, PduPartBytes) {
    openReady({}, smPDU);
    std::string rsp;
    EXPECT_EQ(sms->SendSMSPDUMode("+4917", "+4912345", "hello", false, rsp, true), 12);
    EXPECT_EQ(rsp, kSubmitted);
    EXPECT_EQ(modem->received(),
              "AT\r\nAT+CPAS\r\nAT+CMGF=0\r\nAT+CSCA=\"+4917\"\r\n"
              "AT+CMGS=17\r0391947111000791942143F50000AA05E8329BFD06\x1A"
              "AT\r\nAT+CMGF=0\r\n");
}

TEST_F(KORSMSMsgTest, ReadyPduIsSentWhole) {
    openReady({}, smPDU);
    // Longer than one SMS of text: it must not be cut or marked.
    std::string pdu = "0011000791942143F50000AA" + std::string(180, '0');
    std::string rsp;
    EXPECT_EQ(sms->SendSMSPDUMode("", "+4912345", pdu, false, rsp, false), 12);
    EXPECT_EQ(modem->bodies(), std::vector<std::string>{pdu});
    EXPECT_NE(modem->received().find("AT+CMGS=101\r"), std::string::npos);
}

TEST_F(KORSMSMsgTest, RejectedPartFailsAtOnce) {
    struct Case {
        tSendMode mode;
        Submit submit;
        bool echo;
        std::string rsp;
    };
    const Case cases[] = {
        {smText, Submit::CmsError, false, "Error Receiving Messenge Send OK! >+CMS ERROR: 500"},
        {smText, Submit::Error, true, "Error Receiving Messenge Send OK! >ERROR"},
        {smPDU, Submit::CmsError, false, "+CMS ERROR: 500"},
        {smPDU, Submit::Error, true, "ERROR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rsp);
        GsmModemScript script;
        script.echo = c.echo;
        script.submit = c.submit;
        openReady(script, c.mode);
        // Time-outs far longer than the test may take: only reading the
        // rejection as final ends the part in time.
        GsmTimings t;
        t.textSubmit = t.pduSubmit = 120s;
        sms->setTimings(t);
        auto begin = std::chrono::steady_clock::now();
        std::string rsp;
        int r = c.mode == smText ? sms->SendSMSTextMode("", "+4912345", "hello", "", false, rsp)
                                 : sms->SendSMSPDUMode("", "+4912345", "hello", false, rsp, true);
        EXPECT_EQ(r, -1);
        EXPECT_EQ(rsp, c.rsp);
        EXPECT_LT(std::chrono::steady_clock::now() - begin, 60s);
        sms.reset();
        std::filesystem::remove(dir / "COM1");
    }
}

TEST_F(KORSMSMsgTest, EchoedTextHoldingOkIsNoSuccess) {
    GsmModemScript script;
    script.echo = true;
    script.submit = Submit::Silence;
    openReady(script);
    sms->setTimings(shortTimings());
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "OK call me", "", false, rsp), -1);
    EXPECT_EQ(rsp, "Error Receiving Messenge Send OK! >");
    EXPECT_TRUE(modem->waitReceived("OK call me\x1A", 5s));
    EXPECT_EQ(modem->bodies(), std::vector<std::string>{"OK call me"});

    // The same text with the modem's answer behind the echo succeeds, as does
    // a text that is nothing but "OK".
    script.submit = Submit::Ok;
    modem->setScript(script);
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "OK call me", "", false, rsp), 12);
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "OK", "", false, rsp), 12);
    EXPECT_EQ(rsp, kSubmitted);
}

TEST_F(KORSMSMsgTest, PromptRefusedOrMissing) {
    GsmModemScript script;
    script.promptRefused = true;
    openReady(script);
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), -1);
    EXPECT_EQ(rsp, "Error Receiveing \">\" AT Command!");
    EXPECT_TRUE(modem->bodies().empty());
}

TEST_F(KORSMSMsgTest, ModemStatusBeforeSending) {
    struct Case {
        std::vector<std::string> cpas;
        int result;
        std::size_t asks;
    };
    const Case cases[] = {
        {{"2", "ERROR", "0"}, 12, 3},
        {{"ERROR"}, -1, TKORSMSMessaging::kStatusTries},
        {{"4"}, -1, TKORSMSMessaging::kStatusTries},
    };
    for (const auto& c : cases) {
        GsmModemScript script;
        script.cpas = c.cpas;
        openReady(script);
        std::string rsp;
        EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), c.result);
        EXPECT_EQ(rsp, c.result < 0 ? "No Responce From Modem" : kSubmitted);
        std::string got = modem->received();
        std::size_t asks = 0;
        for (std::size_t p = 0; (p = got.find("AT+CPAS\r\n", p)) != std::string::npos; ++p) ++asks;
        EXPECT_EQ(asks, c.asks);
        sms.reset();
        std::filesystem::remove(dir / "COM1");
    }
}

TEST_F(KORSMSMsgTest, RegistrationAskedAgainBeforeRefusing) {
    GsmModemScript script;
    script.creg = {"0,2", "0,1"};
    openReady(script);
    EXPECT_EQ(sms->SysReg(), srScanning);
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), 12);
    EXPECT_EQ(sms->SysReg(), srRegistered);
    EXPECT_TRUE(modem->received().starts_with("AT+CREG?\r\nAT\r\n"));
}

TEST_F(KORSMSMsgTest, RefusalsBeforeAnythingIsSent) {
    struct Case {
        std::string creg;
        bool noRoaming;
        std::string address, centre, charset, message;
        std::string rsp, sent;
    };
    const Case cases[] = {
        {"0,2", false, "+4912345", "", "", "hi", "No Service", "AT+CREG?\r\n"},
        {"0,5", true, "+4912345", "", "", "hi", "Roaming Not Alowed", ""},
        {"0,1", false, "+49\"\r\nAT+CMGD=1", "", "", "hi", "Error Sending Message: Invalid Destination Number!", ""},
        {"0,1", false, "12 34", "", "", "hi", "Error Sending Message: Invalid Destination Number!", ""},
        {"0,1", false, "+4912345", "+49\"", "", "hi", "Error Sending Message: Invalid SMS Center Number!", ""},
        {"0,1", false, "+4912345", "", "GSM\"\r", "hi", "Error Sending Message: Invalid Character Set!", ""},
        {"0,1", false, "+4912345", "", "", "", "No Message To Send!", ""},
        {"0,1", false, "+4912345", "", "", "\x1A\x1B", "No Message To Send!", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rsp + " " + c.address);
        GsmModemScript script;
        script.creg = {c.creg};
        openReady(script);
        sms->SetNoRoaming(c.noRoaming);
        std::string rsp;
        EXPECT_EQ(sms->SendSMSTextMode(c.centre, c.address, c.message, c.charset, false, rsp), -1);
        EXPECT_EQ(rsp, c.rsp);
        EXPECT_EQ(modem->received(), c.sent);
        sms.reset();
        std::filesystem::remove(dir / "COM1");
    }
}

TEST_F(KORSMSMsgTest, NotConnected) {
    start({});
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), -1);
    EXPECT_EQ(rsp, "SMS Modem Not Connected");
    EXPECT_EQ(sms->SendSMSPDUMode("", "+4912345", "hi", false, rsp, true), -1);
    EXPECT_EQ(rsp, "SMS Modem Not Connected");
    EXPECT_EQ(sms->DeleteSimMsg(1), -1);
}

TEST_F(KORSMSMsgTest, ControlCharactersLeaveTheText) {
    openReady({});
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "a\x1A" "b\x1B" "c", "", false, rsp), 12);
    EXPECT_EQ(modem->bodies(), std::vector<std::string>{"abc"});
}

TEST_F(KORSMSMsgTest, PduTextErrors) {
    struct Case {
        std::string text, rsp;
    };
    const Case cases[] = {
        {"caf\xB5", "Error Sending Message: Input string contains 8-bit data!"},
        {"tab\there", "Error Sending Message: Input string contains 8-bit data!"},
    };
    openReady({}, smPDU);
    for (const auto& c : cases) {
        modem->clearReceived();
        std::string rsp;
        EXPECT_EQ(sms->SendSMSPDUMode("", "+4912345", c.text, false, rsp, true), -1);
        EXPECT_EQ(rsp, c.rsp);
        // Nothing reached AT+CMGS, and the modem is put back in PDU mode.
        EXPECT_EQ(modem->received(), "AT\r\nAT+CPAS\r\nAT+CMGF=0\r\nAT\r\nAT+CMGF=0\r\n");
    }
}

TEST_F(KORSMSMsgTest, PduPartsCountSeptets) {
    // 100 brackets are 200 septets: two PDUs, each within one SMS.
    openReady({}, smPDU);
    std::string rsp;
    EXPECT_EQ(sms->SendSMSPDUMode("", "+4912345", std::string(100, '['), false, rsp, true), 12);
    const auto bodies = modem->bodies();
    ASSERT_EQ(bodies.size(), 2u);
    EXPECT_EQ(bodies[0], EncodeSubmitPDU("", "+4912345", std::string(75, '[') + "  (CONT.)"));
    EXPECT_EQ(bodies[1], EncodeSubmitPDU("", "+4912345", std::string(25, '[') + " (END)"));
}

TEST(SplitSmsMessage, Cuts) {
    // 161 characters, the only blank at position 100.
    auto two = splitSmsMessage(std::string(99, 'a') + " " + std::string(61, 'b'));
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0], std::string(99, 'a') + " " + "  (CONT.)");
    EXPECT_EQ(two[1], std::string(61, 'b') + " (END)");

    EXPECT_EQ(splitSmsMessage(std::string(160, 'x')), std::vector<std::string>{std::string(160, 'x')});

    auto many = splitSmsMessage(std::string(3500, 'x'));
    ASSERT_EQ(many.size(), 20u);
    for (const auto& p : many) EXPECT_EQ(p, std::string(151, 'x') + "  (CONT.)");

    // Every part fits one SMS with its mark; the last may fill 154 + " (END)".
    auto last = splitSmsMessage(std::string(151 + 154, 'y'));
    ASSERT_EQ(last.size(), 2u);
    EXPECT_EQ(last[1], std::string(154, 'y') + " (END)");
    auto three = splitSmsMessage(std::string(151 + 155, 'y'));
    ASSERT_EQ(three.size(), 3u);
    EXPECT_EQ(three[2], std::string(4, 'y') + " (END)");
    for (const auto& p : three) EXPECT_LE(p.size(), 160u);

    // Counted in septets, escaped characters take two.
    EXPECT_EQ(splitSmsMessage(std::string(100, '['), false).size(), 1u);
    EXPECT_EQ(splitSmsMessage(std::string(100, '['), true),
              (std::vector<std::string>{std::string(75, '[') + "  (CONT.)", std::string(25, '[') + " (END)"}));
    EXPECT_EQ(splitSmsMessage(std::string(80, '{'), true), std::vector<std::string>{std::string(80, '{')});
}

TEST_F(KORSMSMsgTest, PartsInReverseOrder) {
    GsmModemScript script;
    script.messageRefStep = 1;
    openReady(script);
    std::string msg = std::string(100, 'a') + " " + std::string(100, 'b');
    std::string rsp;
    // The result is the reference of the part sent last: the first part.
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", msg, "", true, rsp), 13);
    EXPECT_EQ(modem->bodies(),
              (std::vector<std::string>{std::string(100, 'b') + " (END)", std::string(100, 'a') + "   (CONT.)"}));
}

// A message of several parts pauses after each of them, the last too; a
// single part does not pause. The clock moves only by those pauses, so an
// hour of pause is counted exactly and passes at once.
TEST_F(KORSMSMsgTest, PauseAfterEveryPartOfASplitMessage) {
    modem = std::make_unique<GsmModem>(GsmModemScript{});
    std::filesystem::create_symlink(modem->devicePath(), dir / "COM1");
    ManualClock clock;
    auto gsm = std::make_unique<TKORSMSMessaging>(dir.path(), clock);
    gsm->SetComPort(pnCOM1);
    GsmTimings t;
    t.partPause = std::chrono::hours(1);
    t.statusPause = 0ms;
    gsm->setTimings(t);
    ASSERT_TRUE(gsm->OpenPort());
    struct Case {
        std::string message;
        int pauses;
    } cases[] = {{"one part", 0}, {std::string(100, 'a') + " " + std::string(100, 'b'), 2}};
    for (const auto& c : cases) {
        std::string rsp;
        const auto before = clock.now();
        EXPECT_GE(gsm->SendSMSTextMode("", "+4912345", c.message, "", false, rsp), 0) << rsp;
        EXPECT_EQ(std::chrono::duration_cast<std::chrono::hours>(clock.now() - before).count(), c.pauses)
            << c.message.size();
    }
    gsm->ClosePort();
}

TEST_F(KORSMSMsgTest, TwoSendersKeepTheirDialoguesWhole) {
    openReady({});
    auto dialogue = [](const std::string& number, const std::string& text) {
        return "AT\r\nAT+CPAS\r\nAT\r\nAT+CMGF=1\r\nAT+CMGS=\"" + number + "\"\r\n" + text + "\x1A";
    };
    // Two parts for the first sender, one for the second.
    const std::string textA = std::string(155, 'a') + " tail a";
    const std::string textB = "only b";
    int ra = 0, rb = 0;
    std::string rspA, rspB;
    std::thread ta([&] { ra = sms->SendSMSTextMode("", "+111", textA, "", false, rspA); });
    std::thread tb([&] { rb = sms->SendSMSTextMode("", "+222", textB, "", false, rspB); });
    ta.join();
    tb.join();
    EXPECT_EQ(ra, 12);
    EXPECT_EQ(rb, 12);
    const std::string a = dialogue("+111", std::string(151, 'a') + "  (CONT.)") + dialogue("+111", "aaaa tail a (END)");
    const std::string b = dialogue("+222", textB);
    const std::string got = modem->received();
    EXPECT_TRUE(got == a + b || got == b + a) << toHex(got);
}

TEST_F(KORSMSMsgTest, ReceivesIncomingMessages) {
    start({});
    sms->SetEnableRXMsgs(true);
    std::mutex m;
    std::condition_variable cv;
    std::vector<std::vector<std::string>> got;
    std::atomic<int> opened{0}, closed{0};
    sms->OnPortOpen = [&](TKORSMSMessaging&) { ++opened; };
    sms->OnPortClosed = [&](TKORSMSMessaging&) { ++closed; };
    sms->OnRxMsg = [&](TKORSMSMessaging&, const std::string& from, const std::string& stamp, const std::string& text) {
        std::lock_guard lock(m);
        got.push_back({from, stamp, text});
        cv.notify_all();
    };
    ASSERT_TRUE(sms->OpenPort());
    EXPECT_NE(modem->received().find("AT+CMGF=1\r\nAT+CSMS=0\r\nAT+CNMI=2,2,0,0,0\r\n"), std::string::npos);
    EXPECT_EQ(opened, 1);
    // With and without the quoted alpha field; header and text in one write.
    modem->sendUnsolicited(
        "\r\n+CMT: \"+4912345\",\"\",\"24/01/02,10:00:00+04\"\r\nHello | there\r\n"
        "\r\n+CMT: \"+4967\",,\"24/01/03,11:00:00+04\"\r\r\nSecond\r\n");
    {
        std::unique_lock lock(m);
        ASSERT_TRUE(cv.wait_for(lock, 10s, [&] { return got.size() >= 2; }));
    }
    EXPECT_EQ(got[0], (std::vector<std::string>{"+4912345", "24/01/02,10:00:00+04", "Hello | there"}));
    EXPECT_EQ(got[1], (std::vector<std::string>{"+4967", "24/01/03,11:00:00+04", "Second"}));
    EXPECT_TRUE(sms->ClosePort());
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(sms->ThreadStarted());
}

TEST_F(KORSMSMsgTest, ReopensAfterClose) {
    openReady({});
    EXPECT_TRUE(sms->ClosePort());
    EXPECT_FALSE(sms->ThreadStarted());
    std::string rsp;
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), -1);
    EXPECT_EQ(rsp, "SMS Modem Not Connected");
    // A port dropped under the component (not through ClosePort) reopens too.
    ASSERT_TRUE(sms->OpenPort());
    sms->Disconnect();
    ASSERT_TRUE(sms->OpenPort());
    EXPECT_TRUE(sms->ThreadStarted());
    EXPECT_EQ(sms->SendSMSTextMode("", "+4912345", "hi", "", false, rsp), 12);
}

TEST_F(KORSMSMsgTest, DeleteSimMsg) {
    GsmModemScript script;
    openReady(script);
    EXPECT_EQ(sms->DeleteSimMsg(3), 0);
    EXPECT_EQ(modem->received(), "AT+CMGD=3\r\n");
    script.refuse = {"AT+CMGD=4"};
    modem->setScript(script);
    EXPECT_EQ(sms->DeleteSimMsg(4), -1);
    EXPECT_EQ(sms->SendSimMsg(), 0);
    EXPECT_EQ(sms->GetSimMsgs(mltAll), "");
}

}  // namespace
}  // namespace nv::test
