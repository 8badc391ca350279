// The encoder line as a door: the engine's inbound host on a pseudo-terminal,
// bound as the inbound port thread binds it, fed PINs and frames no encoder
// would send.
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "foundation/ConfigFile.h"
#include "protocols/KORPelmora.h"
#include "service/InboundPort.h"
#include "service/PageIntake.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;
using test::fromHex;

// Real time run ten times faster, so the answer pause stays short.
class FastClock final : public Clock {
public:
    TimePoint now() const override { return m_start + (std::chrono::steady_clock::now() - m_start) * 10; }
    void sleepFor(std::chrono::milliseconds d) override {
        if (d.count() > 0) std::this_thread::sleep_for(std::chrono::microseconds(d.count() * 100));
    }

private:
    TimePoint m_start = std::chrono::steady_clock::now();
};

const std::string kSoh = fromHex("01"), kStx = fromHex("02"), kEtx = fromHex("03"), kEot = fromHex("04");
const std::string kAck = fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04");
std::string refusal(const std::string& code) { return fromHex("01 0F") + code + fromHex("04"); }
std::string frame(const std::string& pin, const std::string& text) {
    return kSoh + "A,1," + pin + "," + kStx + text + kEtx + kEot;
}

class EncoderDoor : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_symlink(pty.slavePath(), dir / "COM1"); }
    // The host goes first: its destruction drops the line and reports it
    // through handlers that use the members below.
    void TearDown() override { host.reset(); }

    void arm(int maxLength = 230, bool truncate = false) {
        host = std::make_unique<TKORPelmora>(dir.path(), clock);
        host->FPortName = "Nerivale Port";
        host->DeviceDirectAccess = true;
        host->ShowErrorDialog = false;
        host->SetComPort(TTapComPortNumber::pntCOM2);
        host->MaxMsgLength = maxLength;
        host->TurncateMsgs = truncate;
        PelmoraPortThread::bindHandlers(
            *host,
            [this](std::string t) {
                std::lock_guard lock(m_mutex);
                m_lines.push_back(std::move(t));
            },
            [this](const std::string*, const std::string& pin, const std::string& msg, bool& submitted) {
                std::lock_guard lock(m_mutex);
                m_pages.push_back(pin + "|" + msg);
                submitted = true;
            });
        host->SetWaitForCall(true);
        ASSERT_TRUE(test::waitUntil([&] { return has(kPort + "Direct Access Port COM1 Open!"); }, 10s));
    }
    bool has(const std::string& line) {
        std::lock_guard lock(m_mutex);
        return std::find(m_lines.begin(), m_lines.end(), line) != m_lines.end();
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(m_mutex);
        return m_lines;
    }
    std::vector<std::string> pages() {
        std::lock_guard lock(m_mutex);
        return m_pages;
    }
    std::string answer(std::size_t n) { return pty.read(n, 10s); }

    const std::string kPort = "[Nerivale Connection] Nerivale Port ";
    test::TempDir dir;
    test::PtyPair pty;
    FastClock clock;
    std::unique_ptr<TKORPelmora> host;
    std::mutex m_mutex;
    std::vector<std::string> m_lines, m_pages;
};

TEST_F(EncoderDoor, PinsTheIntakeCannotHoldAreRefusedWithInvalidCapcode) {
    arm();
    struct Case {
        const char* name;
        std::string pin;
        std::string shown;  // in the refusal's line
    } cases[] = {
        {"longer than its field", std::string(kMaxPinLength + 1, '5'), std::string(kPinShownInLog, '5') + "..."},
        // A forged log line: the CR LF pairs become blanks in a line of its own.
        {"line breaks", "12\r\n12/09/2026 12:00:00 - [System] forged", "12  12/09/2026 12:00..."},
        {"control character", std::string("12\x1b" "34"), "12 34"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wire = frame(c.pin, "Hi");
        pty.write(wire);
        // A refused block is echoed whole, then "03".
        EXPECT_EQ(test::toHex(answer(wire.size() + 5)), test::toHex(wire + refusal("03")));
        EXPECT_TRUE(has(kPort + "Envalid Pin Entered - " + c.shown)) << lines().back();
    }
    EXPECT_TRUE(pages().empty());
    for (const auto& line : lines()) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
        EXPECT_LT(line.size(), 200u);
    }

    // A PIN that fills its field exactly still goes through.
    const std::string full = frame(std::string(kMaxPinLength, '9'), "Hi");
    pty.write(full);
    EXPECT_EQ(test::toHex(answer(full.size() + kAck.size())), test::toHex(full + kAck));
    ASSERT_EQ(pages().size(), 1u);
    EXPECT_EQ(pages()[0], std::string(kMaxPinLength, '9') + "|Hi");
}

TEST_F(EncoderDoor, AnEndlessBlockIsAnsweredInputBufferOverflowAndReadingResumesAtTheNextSoh) {
    arm(230, true);
    const std::size_t cap = host->blockCap();
    EXPECT_EQ(cap, 230 + TKORPelmora::kBlockSlack);
    // An open frame whose text never ends, full of CR LF (each of which used to
    // make the whole block be looked at again).
    std::string flood = kSoh + "A,1,12345," + kStx;
    while (flood.size() <= cap + 1000) flood += "\r\n";
    pty.write(flood);
    EXPECT_EQ(test::toHex(answer(5)), test::toHex(refusal("04")));
    // The rest of that flood is skipped up to the next SOH; the frame after it is served.
    const std::string good = frame("4242", "after");
    pty.write(std::string(3000, 'x') + good);
    EXPECT_EQ(test::toHex(answer(good.size() + kAck.size())), test::toHex(good + kAck));
    ASSERT_EQ(pages().size(), 1u);
    EXPECT_EQ(pages()[0], "4242|after");
    EXPECT_TRUE(has(kPort + "Input Buffer Overflow"));

    // A 100 KB PIN is a block past the cap as well: never acknowledged, never cut.
    pty.write(frame(std::string(100 * 1024, '7'), "Hi") + good);
    EXPECT_EQ(test::toHex(answer(5)), test::toHex(refusal("04")));
    EXPECT_EQ(test::toHex(answer(good.size() + kAck.size())), test::toHex(good + kAck));
    ASSERT_EQ(pages().size(), 2u);
    EXPECT_EQ(pages()[1], "4242|after");
    EXPECT_EQ(pty.drain(200ms), "");

    // A frame of exactly the cap is still a frame.
    const std::string header = kSoh + "A,1,1," + kStx;
    const std::string atCap = header + std::string(cap - header.size() - 2, 'z') + kEtx + kEot;
    ASSERT_EQ(atCap.size(), cap);
    pty.write(atCap);
    EXPECT_EQ(test::toHex(answer(atCap.size() + kAck.size())), test::toHex(atCap + kAck));
}

TEST_F(EncoderDoor, WithoutALengthLimitTheBlockCapUsesTheAllowance) {
    // No line needed: the settings are changed only while no reading thread runs.
    TKORPelmora idle(dir.path(), clock);
    idle.MaxMsgLength = 0;
    EXPECT_EQ(idle.blockCap(), TKORPelmora::kUnlimitedTextAllowance + TKORPelmora::kBlockSlack);
    idle.MaxMsgLength = -5;
    EXPECT_EQ(idle.blockCap(), TKORPelmora::kUnlimitedTextAllowance + TKORPelmora::kBlockSlack);
}

TEST(EncoderDoorConfig, NegativeLengthIsTheDefaultWithOneLineZeroStaysNoLimit) {
    struct Case {
        std::string length;
        int expected;
        bool warned;
    } cases[] = {{"-1", 230, true}, {"-500", 230, true}, {"0", 0, false}, {"40", 40, false}};
    for (const auto& c : cases) {
        test::TempDir dir;
        test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=1\r\nLength=" + c.length + "\r\n");
        std::string warning;
        EXPECT_EQ(PelmoraPortThread::messageLength(PelmoraPortThread::readSection(dir.path()), warning), c.expected)
            << c.length;
        if (c.warned)
            EXPECT_EQ(warning, "[Nerivale Connection] [Nerivale Port] Length=" + c.length +
                                   " Is Negative, Using The Default 230");
        else
            EXPECT_EQ(warning, "") << c.length;
    }
}

}  // namespace
}  // namespace nv
