#include "protocols/SnppClient.h"

#include <algorithm>

namespace nv {
namespace {

constexpr auto kSlice = std::chrono::milliseconds(20);
constexpr auto kWriteTimeout = std::chrono::milliseconds(20000);

bool mentionsTimeOut(const std::string& error) { return error.find("timed out") != std::string::npos; }

}  // namespace

SnppClient::SnppClient(Clock& clock) : m_clock(clock) {}

SnppClient::~SnppClient() { m_tcp.close(); }

bool SnppClient::connected() const { return streamUp(); }

bool SnppClient::takeLine(std::string& line) {
    auto lf = m_in.find('\n');
    if (lf == std::string::npos) {
        if (m_in.size() < kMaxLine) return false;
        line = m_in.substr(0, kMaxLine);
        m_in.erase(0, kMaxLine);
        return true;
    }
    line = m_in.substr(0, lf);
    m_in.erase(0, lf + 1);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

SnppClient::Result SnppClient::connect(const std::string& host, std::uint16_t port, const TlsOptions& tls,
                                       std::chrono::milliseconds timeout) {
    disconnect(std::chrono::milliseconds(0));
    m_error.clear();
    m_greeting.clear();
    auto deadline = m_clock.now() + timeout;
    if (cancelled()) return Result::Cancelled;
    if (!m_tcp.connect(host, port, timeout, tls)) {
        m_error = m_tcp.lastError();
        m_tcp.close();
        if (cancelled()) return Result::Cancelled;
        return mentionsTimeOut(m_error) ? Result::TimedOut : Result::Failed;
    }
    m_stream = &m_tcpBytes;
    return greet(deadline);
}

SnppClient::Result SnppClient::attach(ByteStream& stream, std::chrono::milliseconds timeout) {
    disconnect(std::chrono::milliseconds(0));
    m_error.clear();
    m_greeting.clear();
    auto deadline = m_clock.now() + timeout;
    if (cancelled()) return Result::Cancelled;
    m_stream = &stream;
    return greet(deadline);
}

SnppClient::Result SnppClient::greet(Clock::TimePoint deadline) {
    // "Connected" is the greeting, not the TCP connect: a host that accepts
    // and never greets has not answered.
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - m_clock.now());
    Result r = readReply(m_greeting, std::max(left, std::chrono::milliseconds(0)));
    if (r != Result::Ok) {
        closeStream();
        return r;
    }
    if (m_greeting.empty() || m_greeting[0] != '2') {
        m_error = m_greeting;
        closeStream();
        return Result::Failed;
    }
    m_greeted = true;
    return Result::Ok;
}

void SnppClient::closeStream() {
    // An attached stream stays open: it is its owner's.
    m_tcp.close();
    m_stream = nullptr;
}

bool SnppClient::sendCommand(std::string_view line) {
    if (!streamUp()) {
        m_error = "Not connected";
        return false;
    }
    std::string out;
    out.reserve(line.size() + 2);
    for (char c : line)
        if (c != '\r' && c != '\n') out += c;
    out += "\r\n";
    if (!m_stream->writeAll(out, kWriteTimeout)) {
        m_error = m_stream == &m_tcpBytes ? m_tcp.lastError() : std::string("Connection closed by host");
        return false;
    }
    return true;
}

SnppClient::Result SnppClient::readReply(std::string& line, std::chrono::milliseconds timeout) {
    line.clear();
    auto deadline = m_clock.now() + timeout;
    while (true) {
        if (takeLine(line)) return Result::Ok;
        if (cancelled()) return Result::Cancelled;
        std::string got = m_stream ? m_stream->readAvailable(kMaxLine) : std::string();
        if (!got.empty()) {
            m_in += got;
            continue;
        }
        if (!streamUp()) {
            m_error = "Connection closed by host";
            return Result::Failed;
        }
        if (m_clock.now() >= deadline) {
            m_error = "No reply from host";
            return Result::TimedOut;
        }
        m_stream->waitReadable(kSlice);
    }
}

void SnppClient::disconnect(std::chrono::milliseconds quitWait) {
    if (m_greeted && streamUp() && quitWait.count() > 0 && sendCommand("QUIT")) {
        std::string bye;
        readReply(bye, quitWait);
    }
    m_greeted = false;
    m_in.clear();
    closeStream();
}

}  // namespace nv
