// The port tester's side of the encoder protocol: its frame, the reading of
// the encoder's reply, and one frame's dialogue on a pseudo-terminal.
#include <gtest/gtest.h>

#include <thread>

#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"
#include "protocols/EncoderProbe.h"
#include "tests/peers/EncoderPeer.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::EncoderPeer;
using test::fromHex;
using test::toHex;
using Outcome = encoder::AnswerReader::Outcome;

TEST(TesterFrameTest, BytesOfTheFrame) {
    EXPECT_EQ(toHex(encoder::testerFrame("1234", "Hi\r\n")), toHex(fromHex("01 41 31 31 32 33 34 02 48 69 0D 0A 03 04")));
    // An empty recipient and an empty message still make a frame.
    EXPECT_EQ(toHex(encoder::testerFrame("", "")), toHex(fromHex("01 41 31 02 03 04")));
}

TEST(AnswerReaderTest, ReplyAfterTheEcho) {
    const std::string echo = fromHex("01 41 31 31 32 33 34 02 48 69 0D 0A 03 04");
    struct Case {
        const char* name;
        std::string wire;
        Outcome outcome;
        std::string code;
    };
    const Case cases[] = {
        {"ack", echo + fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04"), Outcome::Accepted, ""},
        {"ack with line end", echo + fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04 0D 0A"), Outcome::Accepted, ""},
        {"nak", echo + fromHex("01 15") + "03" + fromHex("04"), Outcome::Refused, "03"},
        {"error byte", echo + fromHex("01 0F") + "06" + fromHex("04"), Outcome::Refused, "06"},
        {"code with blanks and controls", echo + fromHex("01 15 20") + "08" + fromHex("0D 0A 04"), Outcome::Refused, "08"},
        {"unknown code", echo + fromHex("01 15") + "99" + fromHex("04"), Outcome::Refused, "99"},
        {"no echo", fromHex("01 15") + "01" + fromHex("04"), Outcome::Refused, "01"},
        // The echo alone holds CR LF and EOT and is no answer.
        {"echo only", echo, Outcome::Pending, ""},
        {"reply not ended", echo + fromHex("01 06") + "V8.01", Outcome::Pending, ""},
    };
    for (const auto& c : cases) {
        encoder::AnswerReader whole;
        EXPECT_EQ(whole.feed(c.wire), c.outcome) << c.name;
        EXPECT_EQ(whole.code(), c.code) << c.name;
        // Byte by byte, as a slow line delivers it.
        encoder::AnswerReader split;
        Outcome last = Outcome::Pending;
        for (char b : c.wire) last = split.feed(std::string(1, b));
        EXPECT_EQ(last, c.outcome) << c.name << " (split)";
        EXPECT_EQ(split.code(), c.code) << c.name << " (split)";
    }
}

TEST(AnswerReaderTest, FirstReplyDecides) {
    encoder::AnswerReader r;
    EXPECT_EQ(r.feed(fromHex("01 06 04 01 15") + "03" + fromHex("04")), Outcome::Accepted);
    EXPECT_EQ(r.feed(fromHex("01 15") + "03" + fromHex("04")), Outcome::Accepted);
    EXPECT_EQ(r.code(), "");
}

class EncoderProbeTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_symlink(pty.slavePath(), dir / "COM3");
        port.SetComPort(pnCOM3);
        ASSERT_TRUE(port.Connect()) << port.LastError();
    }

    test::TempDir dir;
    test::PtyPair pty;
    TKORCom32 port{dir.path()};
};

TEST_F(EncoderProbeTest, OutcomeComesFromTheReplyNotTheEcho) {
    EncoderPeer encoder(pty);
    encoder.script({EncoderPeer::ack(), EncoderPeer::nak("03"), EncoderPeer::refused("06")});
    const std::string frame = encoder::testerFrame("1234", "Hi\r\n");
    ProbeResult r = probeEncoder(port, frame, 10s);
    EXPECT_EQ(r.kind, ProbeResult::Kind::Accepted);
    r = probeEncoder(port, frame, 10s);
    EXPECT_EQ(r.kind, ProbeResult::Kind::Refused);
    EXPECT_EQ(r.code, "03");
    r = probeEncoder(port, frame, 10s);
    EXPECT_EQ(r.kind, ProbeResult::Kind::Refused);
    EXPECT_EQ(r.code, "06");
    EXPECT_EQ(encoder.frames(), std::vector<std::string>(3, frame));
}

TEST_F(EncoderProbeTest, SilenceAfterTheEchoIsNoResponse) {
    EncoderPeer encoder(pty);
    encoder.script({""});
    ManualClock clock;  // the 30 s pass at once
    ProbeResult r = probeEncoder(port, encoder::testerFrame("5678", "Hi\r\n"), kProbeAnswerWait, clock);
    EXPECT_EQ(r.kind, ProbeResult::Kind::NoResponse);
}

TEST_F(EncoderProbeTest, StaleInputIsDiscardedBeforeTheFrame) {
    // A late refusal for an earlier frame is already waiting on the line.
    pty.write(EncoderPeer::nak("03"));
    pty.write("noise");
    std::this_thread::sleep_for(100ms);
    EncoderPeer encoder(pty);
    ProbeResult r = probeEncoder(port, encoder::testerFrame("1234", "Hi\r\n"), 10s);
    EXPECT_EQ(r.kind, ProbeResult::Kind::Accepted);
}

TEST_F(EncoderProbeTest, DisconnectEndsTheWait) {
    EncoderPeer encoder(pty);
    encoder.script({""});
    ProbeResult r;
    std::thread waiter([&] { r = probeEncoder(port, encoder::testerFrame("1234", "Hi\r\n")); });
    ASSERT_TRUE(encoder.waitFrames(1, 10s));
    port.Disconnect();
    waiter.join();
    EXPECT_EQ(r.kind, ProbeResult::Kind::Cancelled);
    EXPECT_EQ(probeEncoder(port, "x").kind, ProbeResult::Kind::Cancelled);
}

}  // namespace
}  // namespace nv
