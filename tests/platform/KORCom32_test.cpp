#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <future>
#include <thread>

#include "foundation/Win1252.h"
#include "platform/KORCom32.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr auto kPeerWait = 5s;
const std::string kEcho = "\x01" "A1234\x02Hello\x03\x04";

// COM2 of a temporary data directory is a pty; the test drives the far side.
// Waits count seconds on a ManualClock, so a 5-second time-out passes when the
// test advances the clock.
class KORCom32Test : public ::testing::Test {
protected:
    KORCom32Test() {
        std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM2");
        // Opened before the component takes the line exclusively: lets the test
        // see that bytes have reached the line and keeps the master alive.
        m_view = ::open(m_pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    }
    ~KORCom32Test() override {
        m_com.Disconnect();
        if (m_view >= 0) ::close(m_view);
    }

    // The far side writes; returns once the bytes are waiting on the line.
    void peerWrites(const std::string& bytes) {
        m_pty.write(bytes);
        pollfd p{m_view, POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
    }

    // Runs a wait on its own thread. With `advance`, the clock moves a second
    // every few milliseconds until the wait ends (once `gate` holds, when
    // given); without, the wait must end on its own. Either way a stuck wait
    // is ended by Disconnect and fails.
    template <typename F>
    auto runWait(F wait, bool advance, std::function<bool()> gate = {}) {
        auto f = std::async(std::launch::async, wait);
        auto end = steady_clock::now() + kPeerWait;
        while (f.wait_for(5ms) != std::future_status::ready) {
            if (steady_clock::now() > end) {
                ADD_FAILURE() << "wait did not end";
                m_com.Disconnect();
                break;
            }
            if (advance && (!gate || gate())) m_clock.advance(1s);
        }
        return f.get();
    }

    TempDir m_dir;
    PtyPair m_pty;
    int m_view = -1;
    ManualClock m_clock;
    TKORCom32 m_com{m_dir.path(), m_clock};
};

TEST_F(KORCom32Test, DefaultsOfEveryProperty) {
    EXPECT_EQ(m_com.ComPort(), pnCOM2);
    EXPECT_EQ(m_com.ComPortSpeed(), br9600);
    EXPECT_EQ(m_com.ComPortDataBits(), db8BITS);
    EXPECT_EQ(m_com.ComPortStopBits(), sb1BITS);
    EXPECT_EQ(m_com.ComPortParity(), ptNONE);
    EXPECT_EQ(m_com.ComPortHwHandshaking(), hhNONE);
    EXPECT_EQ(m_com.ComPortSwHandshaking(), shNONE);
    EXPECT_EQ(m_com.ComPortInBufSize(), 2048);
    EXPECT_EQ(m_com.ComPortOutBufSize(), 2048);
    EXPECT_EQ(m_com.ComPortPollingDelay(), 100);
    EXPECT_EQ(m_com.Events(), 0);
    EXPECT_FALSE(m_com.Connected());
    EXPECT_EQ(m_com.DevicePath(), m_dir / "COM2");
}

TEST_F(KORCom32Test, NotConnectedCallsReturnAtOnce) {
    std::string ret = "stale";
    EXPECT_EQ(m_com.WaitFor("OK", ret, 0), -2);
    EXPECT_EQ(ret, "");
    EXPECT_EQ(m_com.CmdWaitFor("AT\r", "OK", ret, 0), -2);
    EXPECT_FALSE(m_com.SendString("AT"));
    EXPECT_FALSE(m_com.ModemCmd("AT", 0));
    EXPECT_EQ(m_com.ReadBuffer(), "");
    EXPECT_EQ(m_com.GetRXData(0), "");
}

TEST_F(KORCom32Test, ModemCmdSendsTheCommandWithCrLf) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    auto modem = std::async(std::launch::async, [&] {
        std::string got = m_pty.read(4, kPeerWait);
        m_pty.write("\r\nOK\r\n");
        return got;
    });
    EXPECT_TRUE(runWait([&] { return m_com.ModemCmd("AT", 5); }, false));
    EXPECT_EQ(toHex(modem.get()), "41 54 0D 0A");
}

TEST_F(KORCom32Test, ModemCmdIsFalseWhenTheModemAnswersError) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    std::atomic<bool> answered{false};
    auto modem = std::async(std::launch::async, [&] {
        m_pty.read(4, kPeerWait);
        m_pty.write("\r\nERROR\r\n");
        answered.store(true);
    });
    EXPECT_FALSE(runWait([&] { return m_com.ModemCmd("AT", 5); }, true, [&] { return answered.load(); }));
}

TEST_F(KORCom32Test, SendStringWritesWindows1252Bytes) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    EXPECT_TRUE(m_com.SendString(utf8ToCp1252("é€")));
    EXPECT_EQ(toHex(m_pty.read(2, kPeerWait)), "E9 80");
}

struct WaitCase {
    const char* name;
    std::string match;
    std::string arrives;  // waiting on the line before the wait starts
    int wTime;
    bool endsByTimeOut;
    int result;
    std::string ret;
    std::string left;  // what the next read returns
};

const WaitCase kWaitCases[] = {
    {"OkAtTheK", "OK|ERROR", "\r\nOK\r\n", 5, false, 0, "\r\nOK", "\r\n"},
    {"Error", "OK|ERROR", "ERROR", 5, false, 1, "ERROR", ""},
    {"Silence", "OK|ERROR", "", 5, true, -1, "", ""},
    {"PartialAtTimeOut", "OK|ERROR", "O", 5, true, 0, "O", ""},
    {"OOKOnlyAfterTimeOut", "OK|ERROR", "OOK", 5, true, 0, "OOK", ""},
    {"EncoderAcknowledgement", "\x04\x01\x06|\x04\x01\x0F", kEcho + "\x01\x06V8.01,00,1,1,1A\x04", 2, false,
     0, kEcho + "\x01\x06", "V8.01,00,1,1,1A\x04"},
    {"EncoderErrorKeepsItsCode", "\x04\x01\x06|\x04\x01\x0F", kEcho + "\x01\x0F" "08\x04", 2, false, 1,
     kEcho + "\x01\x0F", "08\x04"},
    {"NulBytesTakePart", std::string("\0\x01", 2) + "|OK", std::string("x\0\x01y", 4), 5, false, 0,
     std::string("x\0\x01", 3), "y"},
};

class KORCom32WaitFor : public KORCom32Test, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(KORCom32WaitFor, Table) {
    const WaitCase& tc = GetParam();
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    if (!tc.arrives.empty()) peerWrites(tc.arrives);
    std::string ret;
    Clock::Duration took{};
    int result = runWait(
        [&] {
            auto start = m_clock.now();
            int r = m_com.WaitFor(tc.match, ret, tc.wTime);
            took = m_clock.now() - start;
            return r;
        },
        tc.endsByTimeOut);
    EXPECT_EQ(result, tc.result);
    EXPECT_EQ(toHex(ret), toHex(tc.ret));
    if (tc.endsByTimeOut) {
        EXPECT_GE(took, std::chrono::seconds(tc.wTime));
    } else {
        EXPECT_EQ(took, Clock::Duration::zero());
    }
    EXPECT_EQ(toHex(m_com.ReadBuffer()), toHex(tc.left));
}

INSTANTIATE_TEST_SUITE_P(Cases, KORCom32WaitFor, ::testing::ValuesIn(kWaitCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The engine's encoder dialogue: the error code follows the error reply in
// the same read and must still be there for the second wait.
TEST_F(KORCom32Test, SecondWaitFindsTheBytesLeftByTheFirst) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    peerWrites(kEcho + "\x01\x0F" "08\x04");
    std::string first, second;
    EXPECT_EQ(m_com.WaitFor("\x04\x01\x06|\x04\x01\x0F", first, 2), 1);
    EXPECT_EQ(m_com.WaitFor("\x04", second, 2), 0);
    EXPECT_EQ(second, "08\x04");
}

TEST_F(KORCom32Test, DisconnectFromAnotherThreadEndsAWaitWithoutLimit) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    std::string ret;
    auto waiting = std::async(std::launch::async, [&] { return m_com.WaitFor("OK", ret, 0); });
    std::this_thread::sleep_for(30ms);
    m_com.Disconnect();
    ASSERT_EQ(waiting.wait_for(kPeerWait), std::future_status::ready);
    EXPECT_EQ(waiting.get(), -1);
    EXPECT_FALSE(m_com.Connected());
}

// With the far side not reading (as with CTS held low) a send must not hold
// its caller for ever: Disconnect ends it with False.
TEST_F(KORCom32Test, DisconnectEndsASendThatCannotGetThrough) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    auto sending = std::async(std::launch::async, [&] { return m_com.SendString(std::string(4 << 20, 'x')); });
    std::this_thread::sleep_for(30ms);
    m_com.Disconnect();
    ASSERT_EQ(sending.wait_for(kPeerWait), std::future_status::ready);
    EXPECT_FALSE(sending.get());
}

TEST_F(KORCom32Test, SecondConnectToTheSameDeviceFails) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    EXPECT_TRUE(m_com.Connect());  // already open: True
    TKORCom32 other(m_dir.path(), m_clock);
    EXPECT_FALSE(other.Connect());
    EXPECT_NE(other.LastError().find("COM2"), std::string::npos) << other.LastError();
    EXPECT_NE(other.LastError().find("in use"), std::string::npos) << other.LastError();
    m_com.Disconnect();
    EXPECT_TRUE(other.Connect()) << other.LastError();
}

TEST_F(KORCom32Test, ConnectFailsWhenTheLineRefusesItsSettings) {
    m_com.SetComPortStopBits(sb1HALFBITS);
    EXPECT_FALSE(m_com.Connect());
    EXPECT_FALSE(m_com.Connected());
    EXPECT_NE(m_com.LastError().find("1.5 stop bits"), std::string::npos) << m_com.LastError();
    std::string ret;
    EXPECT_EQ(m_com.WaitFor("OK", ret, 1), -2);
}

TEST_F(KORCom32Test, ComPortChangesOnlyWhileClosedAndSettingsApplyAtOnce) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    m_com.SetComPort(pnCOM3);
    EXPECT_EQ(m_com.ComPort(), pnCOM2);
    m_com.SetComPortSpeed(br14400);
    SerialSettings seen;
    ASSERT_TRUE(queryLineSettings(m_view, seen));
    EXPECT_EQ(seen.baud, 14400);
    m_com.Disconnect();
    m_com.SetComPort(pnCOM3);
    EXPECT_EQ(m_com.ComPort(), pnCOM3);
    EXPECT_EQ(m_com.DevicePath(), std::filesystem::path("/dev/ttyS2"));
}

TEST_F(KORCom32Test, ReadsKeepNulBytesAndClampTheCount) {
    m_com.SetComPortInBufSize(4);
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    peerWrites(std::string("A\0B\0C\0D\0", 8));
    EXPECT_EQ(toHex(m_com.ReadBufLen(1000)), "41 00 42 00");
    EXPECT_EQ(toHex(m_com.ReadBufLen(2)), "43 00");
    EXPECT_EQ(toHex(m_com.ReadBuffer()), "44 00");
    EXPECT_EQ(m_com.ReadBuffer(), "");
}

TEST_F(KORCom32Test, FlushRXBufDropsBytesKeptFromAWait) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    peerWrites("OKstale");
    std::string ret;
    ASSERT_EQ(m_com.WaitFor("OK", ret, 5), 0);
    m_com.FlushRXBuf();
    EXPECT_EQ(m_com.ReadBuffer(), "");
}

TEST_F(KORCom32Test, CmdWaitForKeepsControlCharactersOutOfReturn) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    auto modem = std::async(std::launch::async, [&] {
        std::string got = m_pty.read(4, kPeerWait);
        m_pty.write("\r\nOK\r\n");
        return got;
    });
    std::string ret;
    EXPECT_EQ(runWait([&] { return m_com.CmdWaitFor("ATI\r", "\r\nOK", ret, 5); }, false), 0);
    EXPECT_EQ(modem.get(), "ATI\r");
    EXPECT_EQ(ret, "OK");
}

TEST_F(KORCom32Test, ReadStringAndFramedReply) {
    ASSERT_TRUE(m_com.Connect()) << m_com.LastError();
    peerWrites("xxOKyy");
    EXPECT_EQ(m_com.ReadString(5), "xxOK");
    EXPECT_EQ(m_com.ReadBuffer(), "yy");
    peerWrites("\x02" "abc\x03\r");
    EXPECT_EQ(m_com.GetRXData(5), "\x02" "abc\x03\r");
}

TEST_F(KORCom32Test, PortListNamesTheComNumbersWhoseDeviceExists) {
    std::filesystem::create_symlink(m_pty.slavePath(), m_dir / "COM7");
    auto list = m_com.GetComPortList();
    EXPECT_NE(std::find(list.begin(), list.end(), "COM2"), list.end());
    EXPECT_NE(std::find(list.begin(), list.end(), "COM7"), list.end());
    for (const auto& name : list) EXPECT_TRUE(std::filesystem::exists(comDevicePath(m_dir.path(), std::stoi(name.substr(3)))));
}

}  // namespace
}  // namespace nv::test
