#include "service/EncoderSender.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "foundation/Clock.h"
#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

const std::string kBlock = "\x01" "A1,5551234\x02Hello\x03\x04";
const std::string kBlockCrLf = kBlock + "\r\n";
// A refusal's text is the encoder frame codec's.
std::string encoderErrorText(const std::string& code, const std::string& cleaned) {
    return encoder::refusalText(code, cleaned);
}

const std::string kAck = "\x01\x06" "V8.01,00,1,1,1A\x04";

// COM7 of a temporary data directory is a pty; a scripted encoder answers on
// the far side. The port's waits count seconds on a ManualClock that only the
// silence cases move.
class EncoderSenderTest : public ::testing::Test {
protected:
    EncoderSenderTest() {
        std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM7");
        m_pty.holdSlave();
        m_port.SetComPort(pnCOM7);
    }
    ~EncoderSenderTest() override { m_port.Disconnect(); }

    // Sends `block`; the encoder reads it whole and writes `answer`. With
    // `advance`, the clock then moves a second every few milliseconds.
    EncoderResult exchange(const std::string& block, const std::string& answer, bool advance) {
        auto f = std::async(std::launch::async, [&] { return sendToEncoder(m_port, m_lock, block, "Hello"); });
        m_received = m_pty.read(block.size(), 5s);
        if (!answer.empty()) m_pty.write(answer);
        auto end = std::chrono::steady_clock::now() + 5s;
        while (f.wait_for(5ms) != std::future_status::ready) {
            if (std::chrono::steady_clock::now() > end) {
                ADD_FAILURE() << "the sender did not return";
                m_port.Disconnect();
                break;
            }
            if (advance) m_clock.advance(1s);
        }
        return f.get();
    }

    test::TempDir m_dir;
    test::PtyPair m_pty;
    ManualClock m_clock;
    TKORCom32 m_port{m_dir.path(), m_clock};
    std::mutex m_lock;
    std::string m_received;
};

TEST_F(EncoderSenderTest, AnswersOfTheEncoder) {
    using K = EncoderResult::Kind;
    struct Case {
        const char* name;
        std::string block;
        std::string answer;
        bool silent;  // nothing more comes: the 2 s pass on the clock
        K kind;
        std::string reply;
    } cases[] = {
        {"echo and ACK", kBlock, kBlock + kAck, false, K::Delivered, kBlock.substr(2) + "\x01\x06"},
        {"error 03", kBlock, kBlock + "\x01\x0F" "03\x04", false, K::Refused, "Invalid Capcode"},
        {"error 08", kBlock, kBlock + "\x01\x0F" "08\x04", false, K::Refused, "Invalid Command Format"},
        {"error outside the table: the cleaned text", kBlock, kBlock + "\x01\x0F" "99\x04", false, K::Refused, "Hello"},
        {"error code not a number: the cleaned text", kBlock, kBlock + "\x01\x0F" "0x\x04", false, K::Refused, "Hello"},
        {"code without its EOT: the code still counts", kBlock, kBlock + "\x01\x0F" "03", true, K::Refused,
         "Invalid Capcode"},
        {"silence: delivered", kBlock, "", true, K::Delivered, ""},
        {"echo only: delivered", kBlock, kBlock, true, K::Delivered, kBlock.substr(2)},
        // A refused block is echoed whole, its CR LF included.
        {"refusal after an echo with CR LF", kBlockCrLf, kBlockCrLf + "\x01\x0F" "03\x04", false, K::Refused,
         "Invalid Capcode"},
        {"echo with CR LF, then silence: delivered", kBlockCrLf, kBlockCrLf, true, K::Delivered, kBlockCrLf.substr(2)},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(m_port.Connect()) << m_port.LastError();
        EncoderResult r = exchange(c.block, c.answer, c.silent);
        EXPECT_EQ(m_received, c.block) << c.name;  // the raw block, nothing added
        EXPECT_EQ(r.kind, c.kind) << c.name;
        EXPECT_EQ(test::toHex(r.reply), test::toHex(c.reply)) << c.name;
        m_port.Disconnect();
        m_pty.drain(10ms);
    }
}

TEST_F(EncoderSenderTest, PortNotOpenIsAFailure) {
    EncoderResult r = sendToEncoder(m_port, m_lock, kBlock, "Hello");
    EXPECT_EQ(r.kind, EncoderResult::Kind::PortClosed);
    EXPECT_EQ(r.reply, kEncoderPortClosed);
    EXPECT_EQ(m_pty.drain(20ms), "");
}

TEST(EncoderErrorText, CodesAndFallback) {
    struct Case {
        std::string code;
        std::string text;
    } cases[] = {
        {"01", "Invalid Message Type"}, {"02", "Invalid Data Rate"},      {"03", "Invalid Capcode"},
        {"3", "Invalid Capcode"},       {"04", "Input Buffer Overflow"}, {"05", "Paging Buffer Overflow"},
        {"06", "Invalid Setup/Status Command"}, {"07", "EEPROM Write Error"}, {"08", "Invalid Command Format"},
        {"00", "msg"}, {"09", "msg"}, {"", "msg"}, {"A3", "msg"}, {"-3", "msg"},
    };
    for (const auto& c : cases) EXPECT_EQ(encoderErrorText(c.code, "msg"), c.text) << c.code;
}

}  // namespace
}  // namespace nv
