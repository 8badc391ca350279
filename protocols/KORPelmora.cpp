// TKORPelmora: properties, arming and the reading thread, direct mode, port I/O.
#include "protocols/KORPelmora.h"

#include <pthread.h>

#include <algorithm>
#include <array>
#include <system_error>

#include "foundation/ReplyMatcher.h"
#include "platform/SerialPort.h"
#include "protocols/EncoderFrame.h"

namespace nv {

namespace {

constexpr const char* kConnectingTo = "Connecting to ";
constexpr const char* kErrorEstablishing = "Error establishing connection!";
constexpr const char* kPortShuttingDown = "Comport Error, Port Shutting Down";
constexpr const char* kBrokenRead = "Connection has been broken during read.";
constexpr const char* kWriteTimeout = "Timeout during write operation.";
constexpr const char* kWriteError = "Error to writing to com port.";

constexpr int kReopenPauseMs = 3000;
constexpr int kSliceMs = 50;

struct CommErrorRow {
    std::uint32_t flag;
    const char* text;
};
constexpr std::array<CommErrorRow, 11> kCommErrors{{
    {0x0001,
     "An input buffer overflow has occurred. There is either no room in the input buffer, or a character was "
     "received after the end-of-file (EOF) character."},
    {0x0002, "A character-buffer overrun has occurred. The next character is lost."},
    {0x0004, "The hardware detected a parity error."},
    {0x0008, "The hardware detected a framing error."},
    {0x0010, "The hardware detected a break condition."},
    {0x0100, "The application tried to transmit a character, but the output buffer was full."},
    {0x0200, "Windows 95 only: A time-out occurred on a parallel device."},
    {0x0400, "An I/O error occurred during communications with the device."},
    {0x0800, "Windows 95 only: A parallel device is not selected."},
    {0x1000, "Windows 95 only: A parallel device signaled that it is out of paper."},
    {0x8000,
     "The requested mode is not supported, or the hFile parameter is invalid. If this value is specified, it is "
     "the only valid error."},
}};

SerialParity parityOf(TTapComPortParity p) {
    switch (p) {
    case pttODD: return SerialParity::Odd;
    case pttEVEN: return SerialParity::Even;
    case pttMARK: return SerialParity::Mark;
    case pttSPACE: return SerialParity::Space;
    default: return SerialParity::None;
    }
}

SerialStopBits stopBitsOf(TTapComPortStopBits s) {
    switch (s) {
    case sbt1HALFBITS: return SerialStopBits::OneAndHalf;
    case sbt2BITS: return SerialStopBits::Two;
    default: return SerialStopBits::One;
    }
}

}  // namespace

// The open port or call stream of the current connection, as the receive loop
// sees it. `failed` turns true once the far end is gone (hang-up, EOF, EIO).
class TKORPelmora::Channel {
public:
    virtual ~Channel() = default;
    virtual std::string read(std::size_t maxBytes, bool& failed) = 0;
    virtual bool waitReadable(std::chrono::milliseconds timeout) = 0;
    virtual bool write(const std::string& bytes, std::chrono::milliseconds timeout) = 0;
    virtual void flush() = 0;
};

namespace {

class DirectChannel final : public TKORPelmora::Channel {
public:
    explicit DirectChannel(SerialPort& port) : m_port(port) {}
    std::string read(std::size_t maxBytes, bool& failed) override {
        std::string got = m_port.readAvailable(maxBytes);
        if (!got.empty()) return got;
        // Readable with nothing to read: hung up (a closed pty master, an
        // unplugged adapter) or closed under us.
        if (!m_port.isOpen()) {
            failed = true;
        } else if (m_port.waitReadable(std::chrono::milliseconds(0)) == SerialPort::WaitResult::Readable) {
            got = m_port.readAvailable(maxBytes);
            if (got.empty()) failed = true;
        }
        return got;
    }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        return m_port.waitReadable(timeout) == SerialPort::WaitResult::Readable;
    }
    bool write(const std::string& bytes, std::chrono::milliseconds timeout) override {
        return m_port.writeAll(bytes.data(), bytes.size(), std::max(timeout, m_port.writeTimeoutFor(bytes.size())));
    }
    void flush() override { m_port.flushInput(); }

private:
    SerialPort& m_port;
};

class ModemChannel final : public TKORPelmora::Channel {
public:
    explicit ModemChannel(ModemStream& stream) : m_stream(stream) {}
    std::string read(std::size_t maxBytes, bool& failed) override {
        std::string got = m_stream.readAvailable(maxBytes);
        if (got.empty() && !m_stream.up()) failed = true;
        return got;
    }
    bool waitReadable(std::chrono::milliseconds timeout) override { return m_stream.waitReadable(timeout); }
    bool write(const std::string& bytes, std::chrono::milliseconds timeout) override {
        return m_stream.writeAll(bytes, timeout);
    }
    void flush() override { m_stream.flushInput(); }

private:
    ModemStream& m_stream;
};

}  // namespace

TKORPelmora::TKORPelmora(std::filesystem::path dataDir, Clock& clock)
    : m_dataDir(std::move(dataDir)), m_clock(clock), m_port(std::make_unique<SerialPort>()) {
    std::error_code ec;
    FLogDir = std::filesystem::current_path(ec).string();
}

TKORPelmora::~TKORPelmora() {
    // Nothing re-arms a host on its way out; the thread is joined before any
    // member goes.
    m_destroying.store(true);
    try {
        SetWaitForCall(false);
        Drop();
        Close();
    } catch (...) {
    }
    releaseSlot();
}

// ------------------------------------------------------------- properties

TTapComPortNumber TKORPelmora::ComPort() const {
    std::lock_guard lock(m_settingsMutex);
    return m_comPort;
}

void TKORPelmora::SetComPort(TTapComPortNumber value) {
    std::lock_guard lock(m_settingsMutex);
    if (!m_connected.load()) m_comPort = value;
}

#define NV_PELMORA_LINE_SETTING(Type, Getter, Setter, member) \
    Type TKORPelmora::Getter() const {                        \
        std::lock_guard lock(m_settingsMutex);                \
        return member;                                        \
    }                                                         \
    void TKORPelmora::Setter(Type value) {                    \
        {                                                     \
            std::lock_guard lock(m_settingsMutex);            \
            member = value;                                   \
        }                                                     \
        ApplyComSettings();                                   \
    }
NV_PELMORA_LINE_SETTING(TTapComPortBaudRate, ComPortSpeed, SetComPortSpeed, m_speed)
NV_PELMORA_LINE_SETTING(TTapComPortDataBits, ComPortDataBits, SetComPortDataBits, m_dataBits)
NV_PELMORA_LINE_SETTING(TTapComPortStopBits, ComPortStopBits, SetComPortStopBits, m_stopBits)
NV_PELMORA_LINE_SETTING(TTapComPortParity, ComPortParity, SetComPortParity, m_parity)
NV_PELMORA_LINE_SETTING(TTapComPortHwHandshaking, ComPortHwHandshaking, SetComPortHwHandshaking, m_hw)
NV_PELMORA_LINE_SETTING(TTapComPortSwHandshaking, ComPortSwHandshaking, SetComPortSwHandshaking, m_sw)
#undef NV_PELMORA_LINE_SETTING

// Only while the direct port is connected; the settings are applied at once.
bool TKORPelmora::ApplyComSettings() {
    if (!m_connected.load() || !DeviceDirectAccess || !m_port->isOpen()) return false;
    SerialSettings s;
    {
        std::lock_guard lock(m_settingsMutex);
        s.baud = baudFromSpeedIndex(m_speed);
        s.dataBits = static_cast<int>(m_dataBits) + 5;
        s.parity = parityOf(m_parity);
        s.stopBits = stopBitsOf(m_stopBits);
        s.rtsCts = m_hw == hhtRTSCTS;
        s.xonXoff = m_sw == shtXONXOFF;
    }
    return m_port->applySettings(s);
}

// ------------------------------------------------------------ life cycle

bool TKORPelmora::onReadingThread() const { return m_readerId.load() == std::this_thread::get_id(); }

void TKORPelmora::SetWaitForCall(bool value) {
    if (value) {
        if (m_destroying.load()) return;
        std::lock_guard lock(m_armMutex);
        if (m_armed.load()) return;
        if (DAThread.joinable()) {
            if (onReadingThread()) return;  // the old thread is still on its way out
            DAThread.join();
        }
        m_armed.store(true);
        m_active.store(true);
        DAThread.start([this] { threadBody(); });
        return;
    }
    if (onReadingThread()) {
        m_armed.store(false);
        return;
    }
    std::lock_guard lock(m_armMutex);
    m_armed.store(false);
    m_port->cancel();  // wakes a wait in progress at once
    DAThread.requestStop();
    DAThread.join();
}

void TKORPelmora::threadBody() {
    m_readerId.store(std::this_thread::get_id());
    std::string name = "DAThread" + std::to_string(LineInstance);
    ::pthread_setname_np(::pthread_self(), name.substr(0, 15).c_str());
    // Nothing leaves this thread as an exception: the host stays as it is and
    // the owner still joins it.
    try {
        if (DeviceDirectAccess)
            DirectAccessThreadRun();
        else
            serveLine();
    } catch (...) {
    }
    try {
        closeChannel();
        m_connected.store(false);
        reportClosed();
    } catch (...) {
    }
    m_readerId.store(std::thread::id{});
}

// One thread for the life of the arming: open, serve, close; after the
// connection ends (drop, port gone, failed open) wait 3 s and open again.
void TKORPelmora::DirectAccessThreadRun() {
    while (m_armed.load()) {
        Open();
        closeChannel();
        m_connected.store(false);
        if (!m_armed.load()) break;
        pause(kReopenPauseMs);
    }
}

bool TKORPelmora::Open() {
    if (!DeviceDirectAccess) return openLine();
    bDropped.store(false);
    OpenComPort();
    return m_connected.load();
}

void TKORPelmora::OpenComPort() {
    const int number = static_cast<int>(ComPort());
    const bool report = m_reportFailure;
    if (report) progress(kConnectingTo + comPortName(number));
    bool opened = m_port->open(comDevicePath(m_dataDir, number));
    if (opened) {
        m_channel = std::make_unique<DirectChannel>(*m_port);
        // The connection step runs the whole connection.
        if (OnConnectionInt()) return;
        closeChannel();
    }
    // An outage is reported once, not at every retry.
    if (report) progress(kErrorEstablishing);
    m_reportFailure = false;
}

bool TKORPelmora::OnConnectionInt() {
    if (m_connected.load()) return true;
    m_connected.store(true);
    if (DeviceDirectAccess && !ApplyComSettings()) {
        m_connected.store(false);
        return false;
    }
    m_reportFailure = true;
    m_pending.clear();
    if (m_armed.load()) ServeLink();
    return true;
}

void TKORPelmora::openModemChannel(ModemStream& stream) {
    m_pending.clear();
    m_channel = std::make_unique<ModemChannel>(stream);
}

void TKORPelmora::closeChannel() {
    m_channel.reset();
    m_pending.clear();
    if (DeviceDirectAccess) m_port->close();
}

void TKORPelmora::reportClosed() {
    if (m_active.exchange(false) && OnClose) OnClose(*this);
}

bool TKORPelmora::Drop() {
    m_connected.store(false);
    bDropped.store(true);
    if (!onReadingThread()) {
        // The reading thread owns the port: wake it, it closes.
        m_port->cancel();
    } else if (!DeviceDirectAccess && m_line) {
        if (m_line->stream()) m_line->drop();
        m_channel.reset();
    }
    // Every drop is reported, also one after the far end already went (a
    // direct line whose peer closed is no longer marked connected here).
    if (OnDropCall) {
        try {
            OnDropCall(*this);
        } catch (...) {
        }
    }
    return false;
}

void TKORPelmora::Close() {
    if (onReadingThread()) {
        closeChannel();
        m_connected.store(false);
        reportClosed();
        return;
    }
    SetWaitForCall(false);
    m_connected.store(false);
    reportClosed();
}

bool TKORPelmora::pause(int ms) {
    sleepUnless(m_clock, std::chrono::milliseconds(ms), [this] { return !m_armed.load(); },
                std::chrono::milliseconds(kSliceMs));
    return m_armed.load();
}

void TKORPelmora::progress(const std::string& text) {
    if (OnTapiProgress) OnTapiProgress(*this, text);
}

void TKORPelmora::error(const std::string& text) {
    if (OnError) OnError(*this, text);
}

// --------------------------------------------------------------- port I/O

bool TKORPelmora::connectionLive() const {
    return m_connected.load() && !bDropped.load() && m_armed.load() && m_channel;
}

int TKORPelmora::cbInQue() {
    if (!m_connected.load() || !m_channel) return 0;
    if (m_pending.size() < kReadChunk) {
        bool failed = false;
        m_pending += m_channel->read(kReadChunk - m_pending.size(), failed);
        if (failed && m_pending.empty()) throw EPelmoraError(kBrokenRead);
    }
    return static_cast<int>(m_pending.size());
}

// At most kReadChunk bytes per call: more waiting is simply left for the next
// read, never a failure. NUL bytes are dropped, the rest is kept.
std::string TKORPelmora::Read(int wantedToRead) {
    if (!m_armed.load()) return {};
    std::string out;
    try {
        const int waiting = cbInQue();
        int count = wantedToRead > 0 ? std::min(wantedToRead, waiting) : waiting;
        out = m_pending.substr(0, static_cast<std::size_t>(count));
        m_pending.erase(0, out.size());
    } catch (const std::exception&) {
        // The far end is gone: this connection ends; the reading thread
        // opens the port again while armed. A call's end is the line's to
        // report.
        if (DeviceDirectAccess) error(kPortShuttingDown);
        m_connected.store(false);
        return {};
    }
    out.erase(std::remove(out.begin(), out.end(), '\0'), out.end());
    return out;
}

bool TKORPelmora::Write(const std::string& sData) {
    if (sData.empty() || !m_channel) return false;
    try {
        if (!m_channel->write(sData, std::chrono::seconds(Timeout())))
            throw EPelmoraError(m_connected.load() ? kWriteTimeout : kWriteError);
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool TKORPelmora::SendString(const std::string& s) {
    if (!m_connected.load()) return false;
    std::string bytes = s;
    if (!bytes.empty() && bytes.front() == '\0') bytes.erase(0, 1);
    bool ok = Write(bytes);
    m_clock.sleepFor(std::chrono::milliseconds(2));
    return ok;
}

void TKORPelmora::FlushRXBuf() {
    if (!m_connected.load() || !m_channel) return;
    m_pending.clear();
    m_channel->flush();
}

int TKORPelmora::WaitFor(const std::string& Match, std::string& Return, int wTime) {
    Return.clear();
    if (!m_connected.load() || !m_channel) return -1;
    SetTimeout(static_cast<std::uint32_t>(std::max(wTime, 0)));
    ReplyMatcher matcher(Match);
    int matched = -1;
    feedUntil(wTime, [&](char c) {
        Return += c;
        matched = matcher.feed(c);
        return matched >= 0;
    });
    return matched >= 0 ? matched : matcher.result();
}

// Feeds the line's bytes to `take` until it says done or `wTime` seconds pass
// without a byte; the bytes after the one that ended it belong to the next read.
bool TKORPelmora::feedUntil(int wTime, const std::function<bool(char)>& take) {
    const auto silence = std::chrono::seconds(wTime);
    auto deadline = m_clock.now() + silence;
    while (connectionLive() && m_clock.now() < deadline) {
        if (m_pending.empty() && !m_channel->waitReadable(std::chrono::milliseconds(kSliceMs))) continue;
        std::string got = Read(0);
        if (got.empty()) continue;
        deadline = m_clock.now() + silence;
        for (std::size_t i = 0; i < got.size(); ++i) {
            if (take(got[i])) {
                m_pending.insert(0, got, i + 1, std::string::npos);
                return true;
            }
        }
    }
    return false;
}

std::size_t TKORPelmora::blockCap() const {
    const std::size_t text = MaxMsgLength > 0 ? static_cast<std::size_t>(MaxMsgLength) : kUnlimitedTextAllowance;
    return text + kBlockSlack;
}

TKORPelmora::BlockRead TKORPelmora::ReadBlock(std::string& block, int wTime, std::size_t cap) {
    block.clear();
    if (!m_connected.load() || !m_channel) return BlockRead::None;
    SetTimeout(static_cast<std::uint32_t>(std::max(wTime, 0)));
    encoder::BlockScanner scanner;
    BlockRead result = BlockRead::None;
    feedUntil(wTime, [&](char c) {
        if (m_resync) {
            if (c != encoder::SOH) return false;
            m_resync = false;
        }
        block += c;
        if (scanner.feed(c)) {
            result = BlockRead::Block;
        } else if (block.size() > cap) {
            m_resync = true;
            result = BlockRead::Overflow;
        }
        return result != BlockRead::None;
    });
    return result;
}

std::string TKORPelmora::CommErrorToStr(std::uint32_t errorWord) {
    for (const auto& row : kCommErrors)
        if (row.flag == errorWord) return row.text;
    return {};
}

}  // namespace nv
