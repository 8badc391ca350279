#include "platform/KORCom32.h"

#include <algorithm>
#include <system_error>

#include "foundation/KORComCls.h"
#include "foundation/ReplyMatcher.h"

namespace nv {
namespace fs = std::filesystem;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds kWaitSlice{50};
constexpr milliseconds kFrameLead{750};
constexpr char kETX = '\x03';

}  // namespace

TKORCom32::TKORCom32(fs::path dataDir, Clock& clock) : m_clock(clock), m_dataDir(std::move(dataDir)) {}

TKORCom32::~TKORCom32() { Disconnect(); }

void TKORCom32::SetDataDir(const fs::path& dataDir) {
    std::lock_guard lk(m_stateMutex);
    m_dataDir = dataDir;
}

fs::path TKORCom32::DevicePath() const {
    std::lock_guard lk(m_stateMutex);
    return comDevicePath(m_dataDir, static_cast<int>(m_comPort) + 1);
}

// --- properties ---

void TKORCom32::SetComPort(TComPortNumber value) {
    std::lock_guard lk(m_stateMutex);
    // The open port stays what it is; the number counts from the next Connect.
    if (m_port.isOpen() || value >= kComPortCount) return;
    m_comPort = value;
}

#define NV_LINE_SETTER(Name, Type, field)                                              \
    void TKORCom32::Name(Type value) {                                                 \
        std::lock_guard lk(m_stateMutex);                                              \
        field = value;                                                                 \
        if (m_port.isOpen()) applyLineSettingsLocked();                                \
    }

NV_LINE_SETTER(SetComPortSpeed, TComPortBaudRate, m_speed)
NV_LINE_SETTER(SetComPortDataBits, TComPortDataBits, m_dataBits)
NV_LINE_SETTER(SetComPortStopBits, TComPortStopBits, m_stopBits)
NV_LINE_SETTER(SetComPortParity, TComPortParity, m_parity)
NV_LINE_SETTER(SetComPortHwHandshaking, TComPortHwHandshaking, m_hw)
NV_LINE_SETTER(SetComPortSwHandshaking, TComPortSwHandshaking, m_sw)
NV_LINE_SETTER(SetComPortInBufSize, std::uint16_t, m_inBufSize)
NV_LINE_SETTER(SetComPortOutBufSize, std::uint16_t, m_outBufSize)
#undef NV_LINE_SETTER

void TKORCom32::SetComPortPollingDelay(std::uint16_t value) {
    std::lock_guard lk(m_stateMutex);
    m_pollingDelay = value;
}

SerialSettings TKORCom32::lineSettings() const {
    SerialSettings s;
    s.baud = baudFromSpeedIndex(m_speed);
    s.dataBits = 5 + static_cast<int>(m_dataBits);
    static constexpr SerialParity kParity[] = {SerialParity::None, SerialParity::Odd, SerialParity::Even,
                                               SerialParity::Mark, SerialParity::Space};
    s.parity = m_parity <= ptSPACE ? kParity[m_parity] : SerialParity::None;
    static constexpr SerialStopBits kStop[] = {SerialStopBits::One, SerialStopBits::OneAndHalf,
                                               SerialStopBits::Two};
    s.stopBits = m_stopBits <= sb2BITS ? kStop[m_stopBits] : SerialStopBits::One;
    s.rtsCts = m_hw == hhRTSCTS;
    s.xonXoff = m_sw == shXONXOFF;
    return s;
}

bool TKORCom32::applyLineSettingsLocked() {
    std::string error;
    if (m_port.applySettings(lineSettings(), &error)) return true;
    m_lastError = comPortName(static_cast<int>(m_comPort) + 1) + ": " + error;
    return false;
}

std::size_t TKORCom32::readChunkSize() const {
    std::lock_guard lk(m_stateMutex);
    return std::max<std::size_t>(1, m_inBufSize);
}

// --- open and close ---

bool TKORCom32::Connect() {
    m_cancel.store(false);
    std::lock_guard lk(m_stateMutex);
    if (m_port.isOpen()) return true;
    int number = static_cast<int>(m_comPort) + 1;
    fs::path device = comDevicePath(m_dataDir, number);
    m_readingData = 2;
    std::string error;
    if (!m_port.open(device, &error)) {
        m_lastError = comPortName(number) + ": " + error;
        return false;
    }
    // A line that does not take its settings is no use to anybody.
    if (!applyLineSettingsLocked()) {
        m_port.close();
        return false;
    }
    m_lastError.clear();
    {
        std::lock_guard rx(m_rxMutex);
        m_kept.clear();
    }
    return true;
}

void TKORCom32::Disconnect() {
    if (!m_port.isOpen()) return;
    m_cancel.store(true);
    // Wakes every wait and write, then closes once they have left the descriptor.
    m_port.close();
}

bool TKORCom32::Connected() const { return m_port.isOpen(); }

std::string TKORCom32::LastError() const {
    std::lock_guard lk(m_stateMutex);
    return m_lastError;
}

// --- sending ---

bool TKORCom32::SendData(const void* DataPtr, int DataSize) {
    if (!m_port.isOpen() || DataSize < 0 || (DataSize > 0 && !DataPtr)) return false;
    if (DataSize == 0) return true;
    std::lock_guard lk(m_writeMutex);
    auto size = static_cast<std::size_t>(DataSize);
    return m_port.writeAll(static_cast<const char*>(DataPtr), size, m_port.writeTimeoutFor(size));
}

bool TKORCom32::SendString(std::string_view s) { return SendData(s.data(), static_cast<int>(s.size())); }

// --- reading ---

std::string TKORCom32::takeBytes(std::size_t maxBytes) {
    {
        std::lock_guard lk(m_rxMutex);
        if (!m_kept.empty()) {
            std::size_t n = std::min(maxBytes, m_kept.size());
            std::string out = m_kept.substr(0, n);
            m_kept.erase(0, n);
            return out;
        }
    }
    return m_port.readAvailable(maxBytes);
}

void TKORCom32::keepBytes(std::string_view bytes) {
    if (bytes.empty()) return;
    std::lock_guard lk(m_rxMutex);
    m_kept.insert(0, bytes);
}

bool TKORCom32::waitSlice() {
    if (cancelled()) return false;
    {
        std::lock_guard lk(m_rxMutex);
        if (!m_kept.empty()) return true;
    }
    auto r = m_port.waitReadable(kWaitSlice);
    return r == SerialPort::WaitResult::Readable || r == SerialPort::WaitResult::TimedOut;
}

std::string TKORCom32::ReadBuffer() { return takeBytes(readChunkSize()); }

std::string TKORCom32::ReadBufLen(int Count) {
    if (Count <= 0) return {};
    return takeBytes(std::min(static_cast<std::size_t>(Count), readChunkSize()));
}

void TKORCom32::FlushRXBuf() {
    std::lock_guard lk(m_rxMutex);
    m_kept.clear();
}

// --- waits ---

int TKORCom32::waitCore(std::string_view Match, std::string& Return, int wTime, bool printableOnly) {
    ReplyMatcher matcher(Match);
    TTimeCounter counter(m_clock);
    counter.SetTimeOut(wTime);
    // wTime 0: no limit; the wait ends on a match or on Disconnect.
    if (wTime != 0) counter.TimerOn();
    std::size_t chunkSize = readChunkSize();
    while (!cancelled()) {
        std::string chunk = takeBytes(chunkSize);
        for (std::size_t i = 0; i < chunk.size(); ++i) {
            if (cancelled()) return matcher.result();
            char c = chunk[i];
            int index = matcher.feed(c);
            if (!printableOnly || static_cast<unsigned char>(c) > 31) Return += c;
            if (index >= 0) {
                // The encoder's error code often shares the read with its reply.
                keepBytes(std::string_view(chunk).substr(i + 1));
                return index;
            }
        }
        if (wTime != 0 && counter.TimedOut()) break;
        if (chunk.empty() && !waitSlice()) break;
    }
    return matcher.result();
}

int TKORCom32::WaitFor(std::string_view Match, std::string& Return, int wTime) {
    Return.clear();
    if (!m_port.isOpen()) return -2;
    return waitCore(Match, Return, wTime, false);
}

int TKORCom32::CmdWaitFor(std::string_view Command, std::string_view Match, std::string& Return, int wTime) {
    Return.clear();
    // Without this test a wait with no limit on a closed port would never end.
    if (!m_port.isOpen()) return -2;
    if (!Command.empty()) SendString(Command);
    return waitCore(Match, Return, wTime, true);
}

bool TKORCom32::ModemCmd(std::string_view Cmd, int wTime) {
    std::string line(Cmd);
    line += "\r\n";
    if (!SendString(line)) return false;
    std::string reply;
    return WaitFor("OK", reply, wTime) >= 0;
}

bool TKORCom32::pause(milliseconds d) {
    return sleepUnless(m_clock, d, [this] { return cancelled(); }, kWaitSlice);
}

bool TKORCom32::WaitTime(int wTime) {
    TTimeCounter counter(m_clock);
    counter.SetTimeOut(wTime);
    counter.TimerOn();
    while (!cancelled() && !counter.TimedOut()) m_clock.sleepFor(kWaitSlice);
    return true;
}

std::string TKORCom32::ReadString(int wTime) {
    if (!m_port.isOpen()) return {};
    TTimeCounter counter(m_clock);
    counter.SetTimeOut(wTime);
    counter.TimerOn();
    std::string text;
    std::size_t chunkSize = readChunkSize();
    while (!cancelled()) {
        std::string chunk = takeBytes(chunkSize);
        std::size_t from = text.size() > 0 ? text.size() - 1 : 0;
        text += chunk;
        std::size_t ok = text.find("OK", from);
        if (ok != std::string::npos) {
            keepBytes(std::string_view(text).substr(ok + 2));
            text.resize(ok + 2);
            return text;
        }
        if (counter.TimedOut()) break;
        if (chunk.empty() && !waitSlice()) break;
    }
    return {};
}

std::string TKORCom32::GetRXData(int wTime) {
    std::string result;
    if (!m_port.isOpen() || !pause(kFrameLead)) return result;
    TTimeCounter counter(m_clock);
    counter.SetTimeOut(wTime);
    counter.TimerOn();
    do {
        std::string chunk = ReadBuffer();
        if (!chunk.empty()) {
            result += chunk;
            if (result.find(kETX) != std::string::npos && result.back() == '\r') return result;
        } else if (!waitSlice()) {
            break;
        }
    } while (m_port.isOpen() && !counter.TimedOut());
    return result;
}

std::vector<std::string> TKORCom32::GetComPortList() const {
    fs::path dataDir;
    {
        std::lock_guard lk(m_stateMutex);
        dataDir = m_dataDir;
    }
    std::vector<std::string> list;
    for (int n = 1; n <= kComPortCount; ++n) {
        std::error_code ec;
        if (fs::exists(comDevicePath(dataDir, n), ec)) list.push_back(comPortName(n));
    }
    return list;
}

void TKORCom32::PollTick() {
    if (!m_port.isOpen()) return;
    {
        std::lock_guard lk(m_stateMutex);
        if (m_readingData > 0) {
            --m_readingData;
            return;
        }
        m_readingData = 1;  // read on every second tick
    }
    if (!OnReceiveData) return;
    std::string data = ReadBuffer();
    if (!data.empty()) OnReceiveData(*this, data.data(), static_cast<int>(data.size()));
    // The Windows version read back the mask it had set, so the watched set is what fires.
    TCommEvents watched = m_events.load();
    if (OnCommEvent && watched != 0) OnCommEvent(*this, watched);
}

// --- Com32ByteStream ---

std::string Com32ByteStream::readAvailable(std::size_t maxBytes) {
    if (maxBytes == 0) return {};
    return m_com.takeBytes(std::min(maxBytes, m_com.readChunkSize()));
}

bool Com32ByteStream::waitReadable(std::chrono::milliseconds timeout) {
    if (m_com.cancelled()) return false;
    {
        std::lock_guard lk(m_com.m_rxMutex);
        if (!m_com.m_kept.empty()) return true;
    }
    return m_com.m_port.waitReadable(timeout) == SerialPort::WaitResult::Readable;
}

bool Com32ByteStream::writeAll(std::string_view data, std::chrono::milliseconds /*timeout*/) {
    if (data.size() > static_cast<std::size_t>(INT32_MAX)) return false;
    return m_com.SendData(data.data(), static_cast<int>(data.size()));
}

}  // namespace nv
