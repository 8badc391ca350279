// TKORAlpaPage: the reply wait and the transports (TCP, the direct serial port,
// the modem call's stream), each read and written as a ByteStream.
#include "foundation/KORComCls.h"
#include "foundation/ReplyMatcher.h"
#include "platform/KORINetSocketHelper.h"
#include "platform/SerialPort.h"
#include "platform/TcpStream.h"
#include "protocols/KORAlphaPage.h"

namespace nv {

namespace {

constexpr std::size_t kReadChunk = 1000;
// Real-time slice in which a wait watches the line between its pauses.
constexpr std::chrono::milliseconds kReadSlice{5};

bool holdsMoreThanLineEnds(const std::string& s) {
    return s.find_first_not_of("\r\n") != std::string::npos;
}

}  // namespace

void TKORAlpaPage::openDirectPort() {
    const int n = static_cast<int>(ComPort) + 1;
    const std::string name = comPortName(n);
    status("Connecting to " + name, "Connection Status");
    std::string error;
    if (!m_direct->open(comDevicePath(m_dataDir, n), &error)) {
        if (ShowErrorDialogs) throw std::runtime_error("Error Opening COM Port");
        status("Unable To Open Port For " + name, "Connection Status");
        return;
    }
    try {
        OnConnectionInt();
    } catch (const std::exception&) {
        m_direct->close();
        bConnected = false;
        status("Error establishing connection!", "Connection Status");
    }
}

ByteStream* TKORAlpaPage::serialStream() {
    if (m_direct->isOpen()) return m_directBytes.get();
    return m_line ? m_line->stream() : nullptr;
}

ByteStream* TKORAlpaPage::lineStream() {
    if (m_attached) return m_attached;
    if (DeviceOperationMode == opmaTCP) return m_tcpBytes.get();
    return serialStream();
}

bool TKORAlpaPage::transportUp() {
    if (m_attached) return m_attached->up();
    switch (DeviceOperationMode) {
    case opmaTCP: return m_tcpBytes->up();
    // A modem call counts on a direct line while its stream exists.
    case opmaDirect: return m_direct->isOpen() || (m_line && m_line->stream());
    case opmaModem: return m_line && m_line->stream() && m_line->stream()->up();
    }
    return false;
}

// What has arrived, at most maxBytes, NUL bytes included; never blocks.
std::string TKORAlpaPage::readTransport(std::size_t maxBytes) {
    std::string out;
    if (!m_rx.empty()) {
        out = m_rx.substr(0, maxBytes);
        m_rx.erase(0, out.size());
        if (out.size() == maxBytes) return out;
        maxBytes -= out.size();
    }
    if (ByteStream* s = lineStream()) out += s->readAvailable(maxBytes);
    return out;
}

int TKORAlpaPage::cbInQue() {
    if (!bConnected) return 0;
    // Drained in chunks: a long burst must never jam the line.
    for (;;) {
        std::string got = readTransport(kReadChunk);
        if (got.empty()) break;
        m_rx += got;
        if (got.size() < kReadChunk) break;
    }
    return static_cast<int>(m_rx.size());
}

std::string TKORAlpaPage::Read(int wantedToRead) {
    if (!bConnected) return {};
    std::string out;
    if (wantedToRead <= 0) {
        cbInQue();
        out.swap(m_rx);
    } else {
        out = readTransport(static_cast<std::size_t>(wantedToRead));
    }
    // A NUL is noise on the line; the bytes after it are kept.
    std::erase(out, '\0');
    return out;
}

void TKORAlpaPage::FlushRXBuf() {
    if (!bConnected) return;
    m_rx.clear();
    while (!readTransport(kReadChunk).empty()) {
    }
}

bool TKORAlpaPage::Write(const std::string& sData) {
    if (!bConnected) return false;
    const auto limit = std::chrono::milliseconds(static_cast<long long>(Timeout) * 1000);
    // The serial transports only: over TCP SendString writes.
    ByteStream* s = m_attached ? m_attached : serialStream();
    const bool ok = s && s->writeAll(sData, limit);
    if (!ok && ShowErrorDialogs && bConnected) throw std::runtime_error("Timeout during write operation.");
    return ok || !bConnected;
}

bool TKORAlpaPage::SendString(const std::string& s) {
    if (!bConnected) return false;
    if (DeviceOperationMode == opmaTCP) {
        // Every byte goes out, or the send failed.
        const bool sent = lineStream()->writeAll(s, TcpStream::kDefaultWriteTimeout);
        pumpSleep(2);
        return sent;
    }
    return Write(s);
}

// Write time-outs follow Timeout; nothing else is kept per call.
void TKORAlpaPage::SetTimeout(std::uint32_t /*Value*/) {}

int TKORAlpaPage::WaitFor(const std::string& Match, std::string& Return, int wTime) {
    Return.clear();
    if (!bConnected) return -1;
    TInetTimeCounter counter(m_clock);
    counter.SetTimeOut(wTime);
    counter.TimerOn();
    ReplyMatcher matcher(Match);
    pump();
    pauseUnlessCancelled(750);
    Timeout = static_cast<std::uint32_t>(std::max(wTime, 0));
    while (!bDropped && bConnected && !counter.TimedOut() && !cancelled()) {
        pumpSleep(2);
        std::string got;
        try {
            // TCP reads bypass the bytes cbInQue kept, as they always did.
            got = DeviceOperationMode == opmaTCP ? lineStream()->readAvailable(TCustomIPClientHelper::kChunkSize)
                                                 : Read(0);
        } catch (const std::exception&) {
            break;
        }
        for (char c : got) {
            if (c == '\0') continue;
            Return += c;
            const int index = matcher.feed(c);
            if (index >= 0) return index;
        }
        if (got.empty()) {
            if (!transportUp()) {
                if (DeviceOperationMode != opmaModem) break;
                pump();  // the modem line reports the lost carrier
                continue;
            }
            if (ByteStream* s = lineStream()) s->waitReadable(kReadSlice);
        }
    }
    // A partial match left at the time-out counts only when it holds more than
    // line ends: a bare CR or LF lies inside "ACK CR" but is no acknowledgement.
    if (matcher.pending() && holdsMoreThanLineEnds(matcher.candidate())) return matcher.result();
    return -1;
}

}  // namespace nv
