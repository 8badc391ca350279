#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <future>
#include <thread>

#include "platform/SerialPort.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;

// A second descriptor on the slave, opened before the port takes it
// exclusively: it sees the line settings as the tty holds them.
class SlaveView {
public:
    explicit SlaveView(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
    ~SlaveView() {
        if (m_fd >= 0) ::close(m_fd);
    }
    int fd() const { return m_fd; }

private:
    int m_fd;
};

struct LineCase {
    const char* name;
    SerialSettings settings;
    tcflag_t size;    // CSIZE bits expected
    tcflag_t parity;  // PARENB, PARODD and CMSPAR bits expected
};

const LineCase kLineCases[] = {
    {"9600_8N1", {9600, 8, SerialParity::None, SerialStopBits::One, false, false}, CS8, 0},
    {"110_7E1", {110, 7, SerialParity::Even, SerialStopBits::One, false, false}, CS7, PARENB},
    {"14400_8N1_termios2", {14400, 8, SerialParity::None, SerialStopBits::One, false, false}, CS8, 0},
    {"56000_8O2_termios2", {56000, 8, SerialParity::Odd, SerialStopBits::Two, false, false}, CS8, PARENB | PARODD},
    {"115200_5M1_RtsCts", {115200, 5, SerialParity::Mark, SerialStopBits::One, true, false}, CS5,
     PARENB | PARODD | CMSPAR},
    {"300_6S2_XonXoff", {300, 6, SerialParity::Space, SerialStopBits::Two, false, true}, CS6, PARENB | CMSPAR},
    {"57600_8N1_both_flow_controls", {57600, 8, SerialParity::None, SerialStopBits::One, true, true}, CS8, 0},
};

class SerialLineSettings : public ::testing::TestWithParam<LineCase> {};

// Speed, stop bits, flow control and the raw mode as the far side's tcgetattr
// sees them. A pseudo-terminal carries bytes without framing and always shows
// 8 data bits without parity, so the framing is checked on the flags the port
// sets.
TEST_P(SerialLineSettings, FarSideSeesThemOnARawLine) {
    const LineCase& tc = GetParam();
    PtyPair pty;
    SlaveView view(pty.slavePath());
    ASSERT_GE(view.fd(), 0);
    SerialPort port;
    std::string error;
    ASSERT_TRUE(port.open(pty.slavePath(), &error)) << error;
    ASSERT_TRUE(port.applySettings(tc.settings, &error)) << error;

    SerialSettings seen;
    ASSERT_TRUE(queryLineSettings(view.fd(), seen, &error)) << error;
    EXPECT_EQ(seen.baud, tc.settings.baud);
    EXPECT_EQ(seen.stopBits, tc.settings.stopBits);
    EXPECT_EQ(seen.rtsCts, tc.settings.rtsCts);
    EXPECT_EQ(seen.xonXoff, tc.settings.xonXoff);

    termios t{};
    ASSERT_EQ(::tcgetattr(view.fd(), &t), 0);
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u);
    EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    if (tc.settings.xonXoff) {
        EXPECT_EQ(t.c_cc[VSTART], 17);
        EXPECT_EQ(t.c_cc[VSTOP], 19);
    }

    termios built{};
    buildLineTermios(tc.settings, built);
    EXPECT_EQ(built.c_cflag & CSIZE, tc.size);
    EXPECT_EQ(built.c_cflag & (PARENB | PARODD | CMSPAR), tc.parity);
}

INSTANTIATE_TEST_SUITE_P(Table, SerialLineSettings, ::testing::ValuesIn(kLineCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPort, RefusesOneAndAHalfStopBitsClearly) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    SerialSettings s;
    s.stopBits = SerialStopBits::OneAndHalf;
    std::string error;
    EXPECT_FALSE(port.applySettings(s, &error));
    EXPECT_NE(error.find("1.5 stop bits"), std::string::npos) << error;
}

TEST(SerialPort, ModemControlOfAPseudoTerminalIsUnknownAndOfAClosedPortRefused) {
    PtyPair pty;
    SerialPort port;
    EXPECT_FALSE(port.setDtr(false));
    EXPECT_EQ(port.carrierDetect(), -1);
    ASSERT_TRUE(port.open(pty.slavePath()));
    // A pty has no modem lines: the hang-up must fall back to the escape sequence.
    EXPECT_FALSE(port.setDtr(false));
    EXPECT_EQ(port.carrierDetect(), -1);
}

TEST(SerialPort, SecondOpenOfTheSameDeviceFailsUntilTheFirstCloses) {
    PtyPair pty;
    SerialPort first, second;
    std::string error;
    ASSERT_TRUE(first.open(pty.slavePath(), &error)) << error;
    EXPECT_FALSE(second.open(pty.slavePath(), &error));
    EXPECT_NE(error.find("in use"), std::string::npos) << error;
    first.close();
    EXPECT_TRUE(second.open(pty.slavePath(), &error)) << error;
}

TEST(SerialPort, ReadsEveryByteIncludingNulsInBothDirections) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applySettings(SerialSettings{}));
    const std::string bytes("\x00\xFF\r\n\x11\x13\x00", 7);
    ASSERT_TRUE(port.writeAll(bytes.data(), bytes.size(), 2s));
    EXPECT_EQ(toHex(pty.read(bytes.size(), 5s)), toHex(bytes));

    pty.write(bytes);
    std::string got;
    while (got.size() < bytes.size() && port.waitReadable(5s) == SerialPort::WaitResult::Readable)
        got += port.readAvailable(64);
    EXPECT_EQ(toHex(got), toHex(bytes));
    EXPECT_EQ(port.readAvailable(64), "");
}

TEST(SerialPort, WriteNobodyTakesEndsAtItsTimeOut) {
    PtyPair pty;  // nobody reads the far side, so the line fills up
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applySettings(SerialSettings{}));
    std::string big(4 * 1024 * 1024, 'x');
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(port.writeAll(big.data(), big.size(), 200ms));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s);
}

TEST(SerialPort, CloseFromAnotherThreadWakesAWaitAndAWrite) {
    PtyPair pty;
    SerialPort port;
    ASSERT_TRUE(port.open(pty.slavePath()));
    ASSERT_TRUE(port.applySettings(SerialSettings{}));
    auto waiting = std::async(std::launch::async, [&] { return port.waitReadable(60s); });
    auto writing = std::async(std::launch::async, [&] {
        std::string big(4 * 1024 * 1024, 'x');
        return port.writeAll(big.data(), big.size(), 60s);
    });
    std::this_thread::sleep_for(50ms);
    port.close();
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(writing.wait_for(5s), std::future_status::ready);
    auto r = waiting.get();
    EXPECT_TRUE(r == SerialPort::WaitResult::Cancelled || r == SerialPort::WaitResult::Closed);
    EXPECT_FALSE(writing.get());
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.readAvailable(10), "");
}

TEST(SerialPort, SpeedIndexTable) {
    const int speeds[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
    for (int i = 0; i < kSpeedIndexCount; ++i) {
        EXPECT_EQ(baudFromSpeedIndex(i), speeds[i]);
        EXPECT_EQ(speedIndexFromBaud(speeds[i]), i);
    }
    EXPECT_EQ(baudFromSpeedIndex(13), 0);
    EXPECT_EQ(baudFromSpeedIndex(-1), 0);
    EXPECT_EQ(speedIndexFromBaud(250000), -1);
}

TEST(SerialPort, ComMapPrefersTheDataDirectoryLink) {
    TempDir dir;
    std::filesystem::create_symlink("/dev/ttyUSB7", dir / "COM3");
    EXPECT_EQ(comDevicePath(dir.path(), 3), dir / "COM3");
    EXPECT_EQ(comDevicePath(dir.path(), 4), std::filesystem::path("/dev/ttyS3"));
    EXPECT_EQ(comDevicePath({}, 1), std::filesystem::path("/dev/ttyS0"));
    EXPECT_EQ(comPortName(12), "COM12");
}

}  // namespace
}  // namespace nv::test
