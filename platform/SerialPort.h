#pragma once
// Our serial port on termios, used by the serial component (TKORCom32), the TAP
// pager's direct mode and the inbound host.
//
// - Exclusive: TIOCEXCL and flock(LOCK_EX|LOCK_NB), so a second open of the
//   same device fails even for root (root ignores TIOCEXCL).
// - Raw line (no echo, no CR/LF translation, no canonical mode), CLOCAL|CREAD,
//   DTR on, non-blocking reads (VMIN=0, VTIME=0).
// - Mark and space parity through CMSPAR; 14400 and 56000 baud through
//   termios2/BOTHER; 1.5 stop bits do not exist here and are refused.
// - Writes have a time-out, so CTS held low cannot block a sender for ever.
//
// Threads: one object may be used from several threads. Reads, waits and
// writes may run on any thread; cancel() wakes every wait and write at once
// (eventfd) until the next open. close() may come from any thread: it cancels,
// waits for the I/O calls in progress to leave, and only then closes the
// descriptor, so no read ever lands on a closed or reused fd.
#include "foundation/SpeedIndex.h"
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

#include <termios.h>

#include "platform/ByteStream.h"

namespace nv {

enum class SerialParity { None, Odd, Even, Mark, Space };
enum class SerialStopBits { One, OneAndHalf, Two };

struct SerialSettings {
    int baud = 9600;
    int dataBits = 8;  // 5..8
    SerialParity parity = SerialParity::None;
    SerialStopBits stopBits = SerialStopBits::One;
    bool rtsCts = false;
    bool xonXoff = false;  // XON 17, XOFF 19, both directions

    bool operator==(const SerialSettings&) const = default;
};

// COM n is <dataDir>/COMn when that path exists (a symlink to /dev/ttyUSB0, a
// pty in tests), else /dev/ttyS<n-1>.
std::filesystem::path comDevicePath(const std::filesystem::path& dataDir, int comNumber);

// The termios flags for `settings` on top of `t` (raw mode, CLOCAL|CREAD,
// framing, flow control, XON 17/XOFF 19, VMIN=0/VTIME=0, the speed when
// <termios.h> has a constant for it). Split out so the framing can be checked
// where the far side cannot show it (a pseudo-terminal always reports 8N).
void buildLineTermios(const SerialSettings& settings, termios& t);
// True for a pseudo-terminal slave: it carries bytes without framing, so
// data bits and parity never show in its settings.
bool isPseudoTerminal(int fd);

// The line settings of an open terminal as tcgetattr (and TCGETS2 for the
// speed) report them; false when fd is no terminal. The speed is the output
// speed in baud.
bool queryLineSettings(int fd, SerialSettings& out, std::string* error = nullptr);

class SerialPort {
public:
    enum class WaitResult { Readable, TimedOut, Cancelled, Closed };

    SerialPort();
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Opens the device exclusively, raw, non-blocking. False with a reason in
    // *error (e.g. "COM port in use") when it cannot.
    bool open(const std::filesystem::path& device, std::string* error = nullptr);
    // Applies and verifies the settings; false (port left open) when the line
    // does not take them.
    bool applySettings(const SerialSettings& settings, std::string* error = nullptr);
    void close();
    bool isOpen() const;
    const std::filesystem::path& device() const { return m_device; }

    // What has arrived now, at most maxBytes; never blocks. Empty when nothing
    // arrived, on error, or when closed. Every byte, NUL included.
    std::string readAvailable(std::size_t maxBytes);
    // Waits until bytes can be read, the time is over, cancel() or close().
    WaitResult waitReadable(std::chrono::milliseconds timeout);
    // Writes every byte within `timeout` and waits for the output queue to
    // drain; false on time-out (the unsent rest is discarded), error, cancel
    // or when closed.
    bool writeAll(const char* data, std::size_t size, std::chrono::milliseconds timeout);
    // A write time-out that fits `size` bytes at the current speed.
    std::chrono::milliseconds writeTimeoutFor(std::size_t size) const;

    // Discards what the driver holds for reading.
    void flushInput();
    // Any thread: ends waits and writes in progress and makes later ones
    // return at once, until the next open() or resetCancel().
    void cancel();
    void resetCancel();
    bool cancelled() const;

    // Modem control. setDtr is false when the device has no such line (a pty);
    // carrierDetect is 1 with carrier, 0 without, -1 when the device cannot tell.
    bool setDtr(bool on);
    int carrierDetect();

    // The settings the line holds now (see queryLineSettings).
    bool currentSettings(SerialSettings& out, std::string* error = nullptr);

private:
    bool beginIo(int& fd);
    void endIo();
    bool configure(int fd, const SerialSettings& settings, std::string* error);
    void signalCancel();

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_fd = -1;
    int m_wakeFd = -1;  // eventfd: readable while cancelled
    int m_busy = 0;     // I/O calls in progress on m_fd
    bool m_closing = false;
    std::atomic<bool> m_cancelled{false};
    int m_baud = 9600;
    std::filesystem::path m_device;
};

// A SerialPort as the dialogues' ByteStream: up() while the port is open
// (a direct line has no carrier to lose). The port outlives the adapter.
class SerialByteStream final : public ByteStream {
public:
    explicit SerialByteStream(SerialPort& port) : m_port(port) {}
    std::string readAvailable(std::size_t maxBytes) override { return m_port.readAvailable(maxBytes); }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        return m_port.waitReadable(timeout) == SerialPort::WaitResult::Readable;
    }
    bool writeAll(std::string_view data, std::chrono::milliseconds timeout) override {
        return m_port.writeAll(data.data(), data.size(), timeout);
    }
    bool up() const override { return m_port.isOpen(); }
    SerialPort& port() { return m_port; }

private:
    SerialPort& m_port;
};

}  // namespace nv
