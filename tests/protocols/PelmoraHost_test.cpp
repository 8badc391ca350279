// The inbound host in direct mode on a pseudo-terminal: frames in, events,
// echo and replies out; arming, the port going away and coming back.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/SerialPort.h"
#include "protocols/KORPelmora.h"
#include "protocols/ModemConfig.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::fromHex;

// Real time run ten times faster: the 500 ms answer pause, the 10 s block
// silence and the 3 s reopen pause stay short while the peer gets real time.
class FastClock final : public Clock {
public:
    explicit FastClock(int factor = 10) : m_factor(factor) {}
    TimePoint now() const override { return m_start + (std::chrono::steady_clock::now() - m_start) * m_factor; }
    void sleepFor(std::chrono::milliseconds d) override {
        if (d.count() > 0) std::this_thread::sleep_for(std::chrono::microseconds(d.count() * 1000 / m_factor));
    }

private:
    int m_factor;
    TimePoint m_start = std::chrono::steady_clock::now();
};

const std::string kSoh = fromHex("01"), kStx = fromHex("02"), kEtx = fromHex("03"), kEot = fromHex("04");
const std::string kCrLf = fromHex("0D 0A");
const std::string kAck = fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04");
std::string refusal(const std::string& code) { return fromHex("01 0F") + code + fromHex("04"); }
std::string frame(const std::string& header, const std::string& text) {
    return kSoh + header + kStx + text + kEtx + kEot;
}

struct Page {
    std::string pin, msg, raw;
};

// Everything the host reports, in order, from its reading thread.
class Recorder {
public:
    void bind(TKORPelmora& host) {
        host.OnTapiProgress = [this](TKORPelmora&, const std::string& m) { add(m); };
        host.OnError = [this](TKORPelmora&, const std::string& m) { add("error: " + m); };
        host.OnClose = [this](TKORPelmora&) { add("close"); };
        host.OnDropCall = [this](TKORPelmora&) { add("drop"); };
        host.OnMsgReceived = [this](TKORPelmora& s, const std::string& pin, const std::string& msg, std::string&,
                                    bool& submitted) {
            std::lock_guard lock(m_mutex);
            m_pages.push_back({pin, msg, s.FRawQJData});
            submitted = m_submit;
        };
    }
    void setSubmit(bool on) { m_submit = on; }
    void note(const std::string& t) { add(t); }
    std::vector<std::string> texts() {
        std::lock_guard lock(m_mutex);
        return m_texts;
    }
    std::vector<Page> pages() {
        std::lock_guard lock(m_mutex);
        return m_pages;
    }
    std::size_t count(const std::string& text) {
        std::lock_guard lock(m_mutex);
        return static_cast<std::size_t>(std::count(m_texts.begin(), m_texts.end(), text));
    }
    bool waitFor(const std::string& text, std::size_t times = 1) {
        return test::waitUntil([&] { return count(text) >= times; }, 10s);
    }

private:
    void add(const std::string& t) {
        std::lock_guard lock(m_mutex);
        m_texts.push_back(t);
    }
    std::mutex m_mutex;
    std::vector<std::string> m_texts;
    std::vector<Page> m_pages;
    std::atomic<bool> m_submit{true};
};

class PelmoraHostTest : public ::testing::Test {
protected:
    void SetUp() override { link(*pty); }
    void TearDown() override { host.reset(); }

    void link(test::PtyPair& p) {
        std::filesystem::remove(dir / "COM1");
        std::filesystem::create_symlink(p.slavePath(), dir / "COM1");
    }
    // A direct-mode host on COM1, armed; returns once the port is served.
    void arm(const std::function<void(TKORPelmora&)>& setup = {}) {
        host = std::make_unique<TKORPelmora>(dir.path(), clock);
        host->DeviceDirectAccess = true;
        host->ShowErrorDialog = false;
        host->SetComPort(TTapComPortNumber::pntCOM2);
        rec.bind(*host);
        if (setup) setup(*host);
        const std::size_t served = rec.count("Direct Access Port COM1 Open!");
        host->SetWaitForCall(true);
        ASSERT_TRUE(rec.waitFor("Direct Access Port COM1 Open!", served + 1));
    }
    // Writes `bytes` in pieces of the given sizes (the rest in one), with a gap.
    void send(const std::string& bytes, const std::vector<std::size_t>& pieces = {}) {
        std::size_t at = 0;
        for (std::size_t n : pieces) {
            if (at >= bytes.size()) break;
            pty->write(bytes.substr(at, n));
            at += n;
            std::this_thread::sleep_for(5ms);
        }
        if (at < bytes.size()) pty->write(bytes.substr(at));
    }
    std::string answer(std::size_t size) { return pty->read(size, 10s); }
    std::string extra() { return pty->drain(200ms); }

    test::TempDir dir;
    std::unique_ptr<test::PtyPair> pty = std::make_unique<test::PtyPair>();
    FastClock clock;
    Recorder rec;
    std::unique_ptr<TKORPelmora> host;
};

TEST_F(PelmoraHostTest, EngineFrameIsDeliveredAndAcknowledgedHoweverItIsCut) {
    const std::string wire = kSoh + "A,1,12345," + kStx + "Hello" + kEtx + kEot + kCrLf;
    const std::string echo = wire.substr(0, wire.size() - 2);
    const std::vector<std::vector<std::size_t>> cuts = {
        {}, {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}, {11, 7}, {19}, {20}};
    arm();
    for (std::size_t i = 0; i < cuts.size(); ++i) {
        SCOPED_TRACE(i);
        send(wire, cuts[i]);
        EXPECT_EQ(test::toHex(answer(echo.size() + kAck.size())), test::toHex(echo + kAck));
        ASSERT_TRUE(test::waitUntil([&] { return rec.pages().size() == i + 1; }, 5s));
        const Page p = rec.pages().back();
        EXPECT_EQ(p.pin, "12345");
        EXPECT_EQ(p.msg, "Hello");
        EXPECT_EQ(test::toHex(p.raw), test::toHex(echo));
    }
    // The CR LF after each EOT is the frame's line end: never answered.
    EXPECT_EQ(extra(), "");
    const auto texts = rec.texts();
    const std::vector<std::string> first(texts.begin(), texts.begin() + 5);
    EXPECT_EQ(first, (std::vector<std::string>{"Connecting to COM1", "Direct Access Port COM1 Open!",
                                               "Verifing Account", "Block Received",
                                               "Msg. Submitted For Processing - 12345,Hello"}));
}

struct RefusalCase {
    const char* name;
    std::string wire;
    int maxLength;
    bool truncate;
    bool acceptPin;
    bool submit;
    std::string reply;     // after the echo of the whole block
    std::string progress;  // the last progress text, "" for none
    const char* delivered; // the message the handler got, null: not called
};

TEST_F(PelmoraHostTest, RefusedFramesAndLengthRules) {
    const std::string text300(300, 'm');
    const RefusalCase cases[] = {
        {"type 1", frame("1,1,12345,", "Hi"), 512, true, true, true, refusal("01"), "Envalid Message Type - 1",
         nullptr},
        {"type 2", frame("2,1,12345,", "Hi"), 512, true, true, true, refusal("01"), "Envalid Message Type - 2",
         nullptr},
        {"type 4", frame("4A12345", "Hi"), 512, true, true, true, refusal("01"), "Envalid Message Type - 4",
         nullptr},
        {"pin refused", frame("A,1,12345,", "Hi"), 512, true, false, true, refusal("03"),
         "Envalid Pin Entered - 12345", nullptr},
        {"noise before SOH", "X" + frame("A,1,12345,", "Hi"), 512, true, true, true, refusal("08"), "", nullptr},
        {"not taken", frame("A,1,12345,", "Hi"), 512, true, true, false, refusal("08"),
         "Msg. Processing Error - 12345,Hi", "Hi"},
        {"too long, no truncation", frame("A,1,12345,", "Hello\r\n!"), 6, false, true, true, refusal("08"),
         "Msg. Message Rejected (To Long) - 12345,Hello!", nullptr},
        {"no STX", kSoh + "A,1,12345," + kEtx + kEot, 512, true, true, true, refusal("08"), "", nullptr},
        {"no recipient", frame("A,1,", "Hi"), 512, true, true, true, refusal("08"), "", nullptr},
        {"no ETX", kSoh + "A,1,12345," + kStx + "Hi" + kEot, 512, true, true, true, refusal("08"),
         "Verifing Account", nullptr},
        {"truncated", frame("A,1,12345,", text300), 230, true, true, true, kAck,
         "Msg. Submitted For Processing - 12345," + std::string(230, 'm'), nullptr},
        {"no limit", frame("A,1,12345,", text300), 0, false, true, true, kAck,
         "Msg. Submitted For Processing - 12345," + text300, nullptr},
        {"limit 0 truncates all", frame("N,1,12345,", "Hi"), 0, true, true, true, kAck,
         "Msg. Submitted For Processing - 12345,", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        arm([&](TKORPelmora& h) {
            h.MaxMsgLength = c.maxLength;
            h.TurncateMsgs = c.truncate;
            h.OnAccountVerify = [&](TKORPelmora&, const std::string&, bool& accept) { accept = c.acceptPin; };
        });
        rec.setSubmit(c.submit);
        const std::size_t before = rec.pages().size();
        send(c.wire);
        EXPECT_EQ(test::toHex(answer(c.wire.size() + c.reply.size())), test::toHex(c.wire + c.reply));
        if (!c.progress.empty()) {
            EXPECT_EQ(rec.texts().back(), c.progress);
        }
        const auto pages = rec.pages();
        if (c.delivered) {
            ASSERT_EQ(pages.size(), before + 1);
            EXPECT_EQ(pages.back().msg, c.delivered);
        } else if (c.reply != kAck) {
            EXPECT_EQ(pages.size(), before);
        }
        host.reset();
        rec.setSubmit(true);
    }
}

TEST_F(PelmoraHostTest, TwoFramesInOneWriteAreBothAnswered) {
    arm();
    const std::string one = frame("A,1,111,", "first"), two = frame("A,1,222,", "second");
    send(one + kCrLf + two + kCrLf);
    EXPECT_EQ(test::toHex(answer(one.size() + kAck.size() + two.size() + kAck.size())),
              test::toHex(one + kAck + two + kAck));
    EXPECT_EQ(extra(), "");
    ASSERT_EQ(rec.pages().size(), 2u);
    EXPECT_EQ(rec.pages()[0].pin, "111");
    EXPECT_EQ(rec.pages()[1].msg, "second");
}

TEST_F(PelmoraHostTest, MultiLineTextArrivesWhole) {
    arm();
    // As the port tester frames it: every line of the text ends in CR LF.
    const std::string wire = kSoh + "A1" + "4242" + kStx + "line one\r\nline two\r\n" + kEtx + kEot;
    send(wire, {14, 10});
    EXPECT_EQ(test::toHex(answer(wire.size() + kAck.size())), test::toHex(wire + kAck));
    ASSERT_EQ(rec.pages().size(), 1u);
    EXPECT_EQ(rec.pages()[0].msg, "line oneline two");
    EXPECT_EQ(rec.pages()[0].raw, wire);
}

TEST_F(PelmoraHostTest, FrameEndingInCrLfGetsCrLfAfterTheReply) {
    arm();
    const std::string wire = kSoh + "A1" + "99" + kStx + "Hi" + kEtx + kCrLf;
    send(wire);
    const std::string expected = wire.substr(0, wire.size() - 2) + kAck + kCrLf;
    EXPECT_EQ(test::toHex(answer(expected.size())), test::toHex(expected));
}

TEST_F(PelmoraHostTest, NulBytesAndLongFramesAreReadWhole) {
    arm([](TKORPelmora& h) {
        h.MaxMsgLength = 0;
        h.TurncateMsgs = false;
    });
    const std::string text(1500, 'L');
    const std::string wire = frame("A,1,7,", "ab" + fromHex("00") + "c" + text);
    send(wire);
    std::string withoutNul = wire;
    withoutNul.erase(withoutNul.find('\0'), 1);
    EXPECT_EQ(answer(withoutNul.size() + kAck.size()), withoutNul + kAck);
    ASSERT_EQ(rec.pages().size(), 1u);
    EXPECT_EQ(rec.pages()[0].msg, "abc" + text);
}

TEST_F(PelmoraHostTest, ThirdBadBlockInARowIsReportedAndServingGoesOn) {
    arm();
    for (int i = 0; i < 3; ++i) {
        send("junk\r\n");
        EXPECT_EQ(answer(6 + 5), "junk\r\n" + refusal("08"));
    }
    EXPECT_EQ(rec.count("Disconnected - To Many Errors"), 1u);
    // What arrives during the pause after the third is flushed: send until
    // the frame is answered.
    const std::string good = frame("A,1,5,", "ok");
    std::string got;
    for (int i = 0; i < 20 && got.empty(); ++i) {
        send(good);
        got = pty->read(good.size() + kAck.size(), 500ms);
    }
    EXPECT_EQ(got, good + kAck);
}

TEST_F(PelmoraHostTest, ArmingTwiceDoesNothingAndDisarmingWaitsForClose) {
    arm();
    host->SetWaitForCall(true);
    host->SetWaitForCall(false);
    // Disarming returned only after the reading thread closed the port.
    EXPECT_EQ(rec.texts().back(), "close");
    EXPECT_EQ(rec.count("Connecting to COM1"), 1u);
    EXPECT_FALSE(host->WaitForCall());
    host->Close();
    EXPECT_EQ(rec.count("close"), 1u);
}

TEST_F(PelmoraHostTest, PortThatGoesAwayIsOpenedAgainWhenItComesBack) {
    arm();
    // The link first names nothing, so a reused pty number is never opened.
    std::filesystem::remove(dir / "COM1");
    std::filesystem::create_symlink(dir / "gone", dir / "COM1");
    pty.reset();  // the peer closes its end
    ASSERT_TRUE(rec.waitFor("error: Comport Error, Port Shutting Down"));
    ASSERT_TRUE(rec.waitFor("Error establishing connection!"));
    // The connection that ended is reported dropped, once, after the error.
    {
        const auto texts = rec.texts();
        const auto err = std::find(texts.begin(), texts.end(), "error: Comport Error, Port Shutting Down");
        EXPECT_EQ(std::count(texts.begin(), texts.end(), "drop"), 1);
        EXPECT_NE(std::find(err, texts.end(), "drop"), texts.end());
    }
    pty = std::make_unique<test::PtyPair>();
    link(*pty);
    ASSERT_TRUE(rec.waitFor("Direct Access Port COM1 Open!", 2));
    // One line for the outage, however many retries it took.
    EXPECT_EQ(rec.count("Error establishing connection!"), 1u);
    EXPECT_EQ(rec.count("close"), 0u);
    const std::string wire = frame("A,1,12345,", "back");
    send(wire);
    EXPECT_EQ(answer(wire.size() + kAck.size()), wire + kAck);
}

TEST_F(PelmoraHostTest, DestroyingAnArmedHostDisarmsDropsAndCloses) {
    arm();
    EXPECT_EQ(rec.count("drop"), 0u);
    host.reset();
    EXPECT_EQ(rec.count("close"), 1u);
    EXPECT_EQ(rec.count("drop"), 1u);
}

TEST_F(PelmoraHostTest, PortMissingAtStartComesUpLater) {
    // A link to nothing: never the machine's own ttyS0.
    std::filesystem::remove(dir / "COM1");
    std::filesystem::create_symlink(dir / "none", dir / "COM1");
    host = std::make_unique<TKORPelmora>(dir.path(), clock);
    host->DeviceDirectAccess = true;
    rec.bind(*host);
    host->SetWaitForCall(true);
    ASSERT_TRUE(rec.waitFor("Error establishing connection!"));
    link(*pty);
    ASSERT_TRUE(rec.waitFor("Direct Access Port COM1 Open!"));
    EXPECT_EQ(rec.texts()[0], "Connecting to COM1");
}

TEST_F(PelmoraHostTest, LineSettingsFollowWhileConnectedButThePortDoesNot) {
    // Opened before the host makes the line exclusive.
    int fd = ::open(pty->slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    arm([](TKORPelmora& h) { h.SetComPortSpeed(brt1200); });
    SerialSettings s;
    ASSERT_TRUE(queryLineSettings(fd, s));
    EXPECT_EQ(s.baud, 1200);
    host->SetComPortSpeed(brt19200);
    ASSERT_TRUE(queryLineSettings(fd, s));
    EXPECT_EQ(s.baud, 19200);
    host->SetComPort(TTapComPortNumber::pntCOM4);
    EXPECT_EQ(host->ComPort(), TTapComPortNumber::pntCOM2);
    ::close(fd);
}

TEST(PelmoraHostUnitTest, SlotsAndTexts) {
    test::TempDir dir;
    ManualClock clock;
    TKORPelmora direct(dir.path(), clock);
    direct.DeviceDirectAccess = true;
    direct.InitTap();  // claims nothing
    EXPECT_EQ(direct.NumDevs, 0);

    TKORPelmora first(dir.path(), clock), second(dir.path(), clock), outOfRange(dir.path(), clock);
    first.ShowErrorDialog = second.ShowErrorDialog = outOfRange.ShowErrorDialog = false;
    first.InitTap();
    try {
        second.InitTap();
        ADD_FAILURE() << "slot 0 taken twice";
    } catch (const EPelmoraError& e) {
        EXPECT_STREQ(e.what(), "TAPILine0 component already exists in this process.");
    }
    outOfRange.LineInstance = 17;
    try {
        outOfRange.InitTap();
        ADD_FAILURE() << "slot 17 claimed";
    } catch (const EPelmoraError& e) {
        EXPECT_STREQ(e.what(), "TAPILine: Invalid Line ID");
    }

    EXPECT_EQ(TKORPelmora::CommErrorToStr(0x0004), "The hardware detected a parity error.");
    EXPECT_EQ(TKORPelmora::CommErrorToStr(0x0400), "An I/O error occurred during communications with the device.");
    EXPECT_EQ(TKORPelmora::CommErrorToStr(0x0004 | 0x0008), "");
    EXPECT_EQ(TKORPelmora::usableLineText(5),
              "Inbound Usable Line: \r\nLine is already in use by a non-TAPI app or\r\nanother Service Provider.");
    EXPECT_EQ(TKORPelmora::usableLineText(0), "");
}

}  // namespace
}  // namespace nv

namespace nv {
namespace {

// A Hayes modem on the far end of a pty: answers AT commands, connects on
// ATA, and keeps what the host sends once connected.
class ScriptedModem {
public:
    explicit ScriptedModem(test::PtyPair& pty) : m_pty(pty), m_thread([this] { run(); }) {}
    ~ScriptedModem() {
        m_stop.store(true);
        m_thread.join();
    }
    std::string data() {
        std::lock_guard lock(m_mutex);
        return m_data;
    }
    std::vector<std::string> commands() {
        std::lock_guard lock(m_mutex);
        return m_commands;
    }
    // The caller hangs up: back to commands.
    void hangUp() {
        std::lock_guard lock(m_mutex);
        m_pty.write("\r\nNO CARRIER\r\n");
        m_online = false;
    }

private:
    void run() {
        std::string line;
        while (!m_stop.load()) {
            std::string got = m_pty.drain(10ms);
            std::lock_guard lock(m_mutex);
            for (char c : got) {
                if (m_online) {
                    m_data += c;
                    continue;
                }
                if (c != '\r') {
                    line += c;
                    continue;
                }
                m_commands.push_back(line);
                if (line == "ATA") {
                    m_pty.write("\r\nCONNECT 9600\r\n");
                    m_online = true;
                } else {
                    m_pty.write("\r\nOK\r\n");
                }
                line.clear();
            }
        }
    }

    test::PtyPair& m_pty;
    std::mutex m_mutex;
    std::string m_data;
    std::vector<std::string> m_commands;
    bool m_online = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

TEST(PelmoraModemTest, AnswersTheRingServesTheCallAndWaitsAgainAfterItEnds) {
    test::TempDir dir;
    test::PtyPair pty;
    test::writeFile(dir / "Modems.ini", "[Line0]\r\nName=Inbound\r\nDevice=" + pty.slavePath() + "\r\n");
    ScriptedModem modem(pty);
    // Slower than the direct tests: the call is hung up after its block wait
    // of silence, which must outlast the resends below.
    FastClock clock(2);
    Recorder rec;
    TKORPelmora host(dir.path(), clock);
    host.ShowErrorDialog = false;
    host.DevIdToInitialize = 0;
    // 8N1: a pty refuses other framings once it has been closed and opened again.
    ModemSettings eightN1;
    eightN1.dataBits = 8;
    eightN1.parity = 'N';
    eightN1.flow = ModemFlow::None;
    ASSERT_TRUE(writeModemConfigFile(dir / "Inbound.mcf", eightN1));
    host.ModemAltConfig = (dir / "Inbound.mcf").string();
    rec.bind(host);
    host.OnOpen = [&](TKORPelmora&) { rec.note("open"); };
    host.OnCallOffering = [&](TKORPelmora&) { rec.note("offering"); };
    host.OnCallAnswering = [&](TKORPelmora&) { rec.note("answering"); };
    host.OnConnection = [&](TKORPelmora&) { rec.note("connection"); };
    host.OnDisconnect = [&](TKORPelmora&) { rec.note("disconnect"); };
    host.InitTap();
    EXPECT_EQ(host.NumDevs, 1);
    host.SetWaitForCall(true);
    ASSERT_TRUE(rec.waitFor("open")) << ::testing::PrintToString(rec.texts());

    pty.write("\r\nRING\r\n");
    ASSERT_TRUE(test::waitUntil([&] { return !modem.commands().empty() && modem.commands().back() == "ATA"; }, 10s));
    // What arrives before the host serves the call is discarded with the
    // modem's own lines: send until the frame is answered.
    const std::string wire = frame("A,1,12345,", "Hello") + kCrLf;
    const std::string expected = wire.substr(0, wire.size() - 2) + kAck;
    for (int i = 0; i < 10 && modem.data().empty(); ++i) {
        pty.write(wire);
        test::waitUntil([&] { return !modem.data().empty(); }, 1s);
    }
    ASSERT_TRUE(test::waitUntil([&] { return modem.data().size() >= expected.size(); }, 10s));
    EXPECT_EQ(test::toHex(modem.data().substr(0, expected.size())), test::toHex(expected));
    ASSERT_GE(rec.pages().size(), 1u);
    EXPECT_EQ(rec.pages()[0].pin, "12345");

    // The caller hangs up: the line is opened again and waits for the next call.
    modem.hangUp();
    ASSERT_TRUE(rec.waitFor("open", 2)) << ::testing::PrintToString(rec.texts());
    const auto texts = rec.texts();
    auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
    EXPECT_LT(at("open"), at("offering"));
    EXPECT_LT(at("offering"), at("answering"));
    EXPECT_LT(at("answering"), at("Verifing Account"));
    EXPECT_LT(at("Msg. Submitted For Processing - 12345,Hello"), at("connection"));
    EXPECT_LT(at("connection"), at("disconnect"));
    EXPECT_EQ(rec.count("Direct Access Port COM1 Open!"), 0u);
    EXPECT_EQ(rec.count("error: Comport Error, Port Shutting Down"), 0u);
    host.SetWaitForCall(false);
    EXPECT_EQ(rec.texts().back(), "close");
}

}  // namespace
}  // namespace nv
