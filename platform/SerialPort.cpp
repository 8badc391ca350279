#include "platform/SerialPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "platform/SerialBaud.h"

namespace nv {
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

constexpr milliseconds kSlice{50};
constexpr char kXon = 17;
constexpr char kXoff = 19;
// Unix98 pty slaves (/dev/pts/N).
constexpr unsigned int kPtySlaveMajorFirst = 136;
constexpr unsigned int kPtySlaveMajorLast = 143;

// The <termios.h> constant for a speed, or 0 when it has none (14400, 56000).
speed_t speedConstant(int baud) {
    switch (baud) {
        case 110: return B110;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        default: return 0;
    }
}

std::string errnoText(const std::string& what) { return what + ": " + std::strerror(errno); }

void setError(std::string* error, const std::string& text) {
    if (error) *error = text;
}

int msLeft(steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

const char* parityName(SerialParity p) {
    switch (p) {
        case SerialParity::None: return "none";
        case SerialParity::Odd: return "odd";
        case SerialParity::Even: return "even";
        case SerialParity::Mark: return "mark";
        case SerialParity::Space: return "space";
    }
    return "?";
}

}  // namespace


fs::path comDevicePath(const fs::path& dataDir, int comNumber) {
    if (!dataDir.empty()) {
        fs::path mapped = dataDir / comPortName(comNumber);
        std::error_code ec;
        // A dangling link still names the device the operator meant.
        if (fs::exists(fs::symlink_status(mapped, ec))) return mapped;
    }
    return fs::path("/dev/ttyS" + std::to_string(comNumber - 1));
}

bool queryLineSettings(int fd, SerialSettings& out, std::string* error) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        setError(error, errnoText("tcgetattr"));
        return false;
    }
    SerialSettings s;
    s.baud = serialbaud::outputSpeed(fd);
    switch (t.c_cflag & CSIZE) {
        case CS5: s.dataBits = 5; break;
        case CS6: s.dataBits = 6; break;
        case CS7: s.dataBits = 7; break;
        default: s.dataBits = 8; break;
    }
    if (!(t.c_cflag & PARENB)) s.parity = SerialParity::None;
    else if (t.c_cflag & CMSPAR) s.parity = (t.c_cflag & PARODD) ? SerialParity::Mark : SerialParity::Space;
    else s.parity = (t.c_cflag & PARODD) ? SerialParity::Odd : SerialParity::Even;
    s.stopBits = (t.c_cflag & CSTOPB) ? SerialStopBits::Two : SerialStopBits::One;
    s.rtsCts = (t.c_cflag & CRTSCTS) != 0;
    s.xonXoff = (t.c_iflag & IXON) && (t.c_iflag & IXOFF) && t.c_cc[VSTART] == kXon &&
                t.c_cc[VSTOP] == kXoff;
    out = s;
    return true;
}

void buildLineTermios(const SerialSettings& s, termios& t) {
    ::cfmakeraw(&t);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= CLOCAL | CREAD;
    static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
    t.c_cflag |= kSizes[std::clamp(s.dataBits, 5, 8) - 5];
    switch (s.parity) {
        case SerialParity::None: break;
        case SerialParity::Odd: t.c_cflag |= PARENB | PARODD; break;
        case SerialParity::Even: t.c_cflag |= PARENB; break;
        case SerialParity::Mark: t.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case SerialParity::Space: t.c_cflag |= PARENB | CMSPAR; break;
    }
    if (s.stopBits == SerialStopBits::Two) t.c_cflag |= CSTOPB;
    if (s.rtsCts) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(IXON | IXOFF | IXANY);
    if (s.xonXoff) t.c_iflag |= IXON | IXOFF;
    t.c_cc[VSTART] = kXon;
    t.c_cc[VSTOP] = kXoff;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    speed_t constant = speedConstant(s.baud);
    if (constant != 0) {
        ::cfsetispeed(&t, constant);
        ::cfsetospeed(&t, constant);
    }
}

bool isPseudoTerminal(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    unsigned int m = major(st.st_rdev);
    return m >= kPtySlaveMajorFirst && m <= kPtySlaveMajorLast;
}

SerialPort::SerialPort() { m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC); }

SerialPort::~SerialPort() {
    close();
    if (m_wakeFd >= 0) ::close(m_wakeFd);
}

bool SerialPort::open(const fs::path& device, std::string* error) {
    std::lock_guard lk(m_mutex);
    if (m_fd >= 0) {
        setError(error, device.string() + " is already open");
        return false;
    }
    int fd = ::open(device.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setError(error, errno == EBUSY ? device.string() + " is in use"
                                       : errnoText("Cannot open " + device.string()));
        return false;
    }
    if (!::isatty(fd)) {
        setError(error, device.string() + " is not a serial device");
        ::close(fd);
        return false;
    }
    // Root ignores TIOCEXCL, so the flock is what keeps a second user out.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        setError(error, errno == EWOULDBLOCK ? device.string() + " is in use"
                                             : errnoText("flock " + device.string()));
        ::close(fd);
        return false;
    }
    ::ioctl(fd, TIOCEXCL);
    m_fd = fd;
    m_device = device;
    m_closing = false;
    uint64_t drained;
    while (::read(m_wakeFd, &drained, sizeof drained) > 0) {
    }
    m_cancelled.store(false);
    return true;
}

bool SerialPort::applySettings(const SerialSettings& s, std::string* error) {
    if (s.stopBits == SerialStopBits::OneAndHalf) {
        setError(error, "1.5 stop bits are not supported on this system");
        return false;
    }
    if (s.dataBits < 5 || s.dataBits > 8) {
        setError(error, std::to_string(s.dataBits) + " data bits are not supported");
        return false;
    }
    if (s.baud <= 0) {
        setError(error, "Invalid line speed " + std::to_string(s.baud));
        return false;
    }
    int fd;
    if (!beginIo(fd)) {
        setError(error, "The port is not open");
        return false;
    }
    bool ok = configure(fd, s, error);
    endIo();
    if (ok) {
        std::lock_guard lk(m_mutex);
        m_baud = s.baud;
    }
    return ok;
}

bool SerialPort::configure(int fd, const SerialSettings& s, std::string* error) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) {
        setError(error, errnoText("tcgetattr"));
        return false;
    }
    buildLineTermios(s, t);
    bool customSpeed = speedConstant(s.baud) == 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) {
        setError(error, errnoText("tcsetattr"));
        return false;
    }
    if (customSpeed && !serialbaud::setSpeed(fd, s.baud, error)) return false;
    int dtr = TIOCM_DTR;
    ::ioctl(fd, TIOCMBIS, &dtr);  // a pty has no modem lines; nothing to do then

    // tcsetattr succeeds when any part was taken; check each part.
    SerialSettings got;
    if (!queryLineSettings(fd, got, error)) return false;
    if (isPseudoTerminal(fd)) {
        got.dataBits = s.dataBits;
        got.parity = s.parity;
    }
    if (!(got == s)) {
        setError(error, "The line did not take the settings (asked " + std::to_string(s.baud) +
                            " baud, " + std::to_string(s.dataBits) + " data bits, parity " +
                            parityName(s.parity) + "; got " + std::to_string(got.baud) +
                            " baud, " + std::to_string(got.dataBits) + " data bits, parity " +
                            parityName(got.parity) + ")");
        return false;
    }
    return true;
}

void SerialPort::close() {
    std::unique_lock lk(m_mutex);
    if (m_fd < 0) return;
    if (m_closing) {
        m_idle.wait(lk, [this] { return m_fd < 0; });
        return;
    }
    m_closing = true;
    signalCancel();
    m_idle.wait(lk, [this] { return m_busy == 0; });
    // The exclusive flag outlives our descriptor when someone else holds the
    // tty open; clear it so the next open is not refused.
    ::ioctl(m_fd, TIOCNXCL);
    ::close(m_fd);
    m_fd = -1;
    m_closing = false;
    m_idle.notify_all();
}

bool SerialPort::isOpen() const {
    std::lock_guard lk(m_mutex);
    return m_fd >= 0 && !m_closing;
}

bool SerialPort::beginIo(int& fd) {
    std::lock_guard lk(m_mutex);
    if (m_fd < 0 || m_closing) return false;
    ++m_busy;
    fd = m_fd;
    return true;
}

void SerialPort::endIo() {
    std::lock_guard lk(m_mutex);
    if (--m_busy == 0) m_idle.notify_all();
}

bool SerialPort::setDtr(bool on) {
    int fd;
    if (!beginIo(fd)) return false;
    int bits = TIOCM_DTR;
    bool ok = ::ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
    endIo();
    return ok;
}

int SerialPort::carrierDetect() {
    int fd;
    if (!beginIo(fd)) return -1;
    int bits = 0;
    int result = ::ioctl(fd, TIOCMGET, &bits) == 0 ? ((bits & TIOCM_CAR) ? 1 : 0) : -1;
    endIo();
    return result;
}

std::string SerialPort::readAvailable(std::size_t maxBytes) {
    std::string out;
    int fd;
    if (maxBytes == 0 || !beginIo(fd)) return out;
    out.resize(maxBytes);
    ssize_t n = ::read(fd, out.data(), maxBytes);
    endIo();
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

SerialPort::WaitResult SerialPort::waitReadable(milliseconds timeout) {
    if (m_cancelled.load()) return WaitResult::Cancelled;
    int fd;
    if (!beginIo(fd)) return WaitResult::Closed;
    auto deadline = steady_clock::now() + timeout;
    pollfd p[2] = {{fd, POLLIN, 0}, {m_wakeFd, POLLIN, 0}};
    int r = ::poll(p, 2, msLeft(deadline));
    endIo();
    if (m_cancelled.load() || (r > 0 && (p[1].revents & POLLIN))) return WaitResult::Cancelled;
    if (r > 0 && (p[0].revents & POLLIN)) return WaitResult::Readable;
    if (r > 0) {
        // Hang-up or error without data: sit out the slice rather than spin.
        pollfd w{m_wakeFd, POLLIN, 0};
        ::poll(&w, 1, msLeft(deadline));
        if (m_cancelled.load()) return WaitResult::Cancelled;
    }
    return WaitResult::TimedOut;
}

bool SerialPort::writeAll(const char* data, std::size_t size, milliseconds timeout) {
    int fd;
    if (!beginIo(fd)) return false;
    auto deadline = steady_clock::now() + timeout;
    bool ok = true;
    std::size_t off = 0;
    while (ok && off < size) {
        if (m_cancelled.load()) {
            ok = false;
            break;
        }
        ssize_t n = ::write(fd, data + off, size - off);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            ok = false;
            break;
        }
        int left = msLeft(deadline);
        if (left == 0) {
            ok = false;
            break;
        }
        pollfd p[2] = {{fd, POLLOUT, 0}, {m_wakeFd, POLLIN, 0}};
        ::poll(p, 2, std::min(left, static_cast<int>(kSlice.count())));
    }
    // Done only when the bytes have left: with CTS low they stay queued.
    while (ok) {
        int queued = 0;
        if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) break;
        int left = msLeft(deadline);
        if (left == 0 || m_cancelled.load()) {
            ok = false;
            break;
        }
        pollfd w{m_wakeFd, POLLIN, 0};
        ::poll(&w, 1, std::min(left, 10));
    }
    if (!ok) ::tcflush(fd, TCOFLUSH);
    endIo();
    return ok;
}

milliseconds SerialPort::writeTimeoutFor(std::size_t size) const {
    int baud;
    {
        std::lock_guard lk(m_mutex);
        baud = m_baud > 0 ? m_baud : 9600;
    }
    // 11 bit times per character at worst (start, 8 data, parity, stop), twice over.
    long long transfer = static_cast<long long>(size) * 11 * 1000 / baud;
    return milliseconds(2000 + 2 * transfer);
}

void SerialPort::flushInput() {
    int fd;
    if (!beginIo(fd)) return;
    ::tcflush(fd, TCIFLUSH);
    endIo();
}

void SerialPort::signalCancel() {
    m_cancelled.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m_wakeFd, &one, sizeof one);
}

void SerialPort::cancel() { signalCancel(); }

void SerialPort::resetCancel() {
    m_cancelled.store(false);
    uint64_t drained;
    while (::read(m_wakeFd, &drained, sizeof drained) > 0) {
    }
}

bool SerialPort::cancelled() const { return m_cancelled.load(); }

bool SerialPort::currentSettings(SerialSettings& out, std::string* error) {
    int fd;
    if (!beginIo(fd)) {
        setError(error, "The port is not open");
        return false;
    }
    bool ok = queryLineSettings(fd, out, error);
    endIo();
    return ok;
}

}  // namespace nv
