#pragma once
// An SNPP line client for one connection (RFC 1861 commands, level 3 two-way
// included): connect and read the greeting, send one command line, read one
// reply line, QUIT and close. Plain TCP or TLS from the start of the
// connection, or any ByteStream already open (attach: a scripted peer in tests
// and fuzz targets). It reads and writes only through the ByteStream. It knows
// nothing of pages, parts or logs: SnppSession drives it.
//
// Threads: one thread drives a client; the cancel test it is given may look at
// flags that any thread sets, and ends every wait at its next slice.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"
#include "platform/TcpStream.h"

namespace nv {

class SnppClient {
public:
    enum class Result {
        Ok,
        TimedOut,   // nothing (or no whole line) within the time
        Cancelled,  // the cancel test said so
        Failed,     // refused, unreachable, TLS failure, a refusing greeting, peer closed
    };
    using CancelTest = std::function<bool()>;

    // A reply line longer than this is handed over cut, so a peer that never
    // sends a line end cannot make the client hold unbounded text.
    static constexpr std::size_t kMaxLine = 4096;

    explicit SnppClient(Clock& clock = steadyClock());
    ~SnppClient();
    SnppClient(const SnppClient&) = delete;
    SnppClient& operator=(const SnppClient&) = delete;

    void setCancelTest(CancelTest cancelled) { m_cancelled = std::move(cancelled); }

    // TCP (and TLS when tls.enabled) connect plus the greeting, all within
    // `timeout`. Ok for a 2xx greeting; Failed for a refused host or a 4xx/5xx
    // greeting (lastError() holds the reason or the greeting line).
    Result connect(const std::string& host, std::uint16_t port, const TlsOptions& tls,
                   std::chrono::milliseconds timeout);
    // The same on a stream that is already open (the greeting within `timeout`).
    // The stream stays the caller's and must outlive the client's use of it.
    Result attach(ByteStream& stream, std::chrono::milliseconds timeout);
    bool connected() const;
    const std::string& greeting() const { return m_greeting; }

    // Sends `line` and CR LF; CR and LF inside `line` are dropped, so one call is
    // always one command. False when not connected or the write failed.
    bool sendCommand(std::string_view line);
    // One reply line without its line end. Failed when the peer closed before a
    // whole line came.
    Result readReply(std::string& line, std::chrono::milliseconds timeout);

    // QUIT with up to `quitWait` for its reply when a session was greeted, then
    // close. Safe to repeat.
    void disconnect(std::chrono::milliseconds quitWait);

    const std::string& lastError() const { return m_error; }

private:
    bool cancelled() const { return m_cancelled && m_cancelled(); }
    // A whole line from m_in, if one is there.
    bool takeLine(std::string& line);
    // Reads the greeting on m_stream and keeps the session when it is a 2xx.
    Result greet(Clock::TimePoint deadline);
    bool streamUp() const { return m_stream && m_stream->up(); }
    // Ends the use of the stream (and closes the TCP stream when it is ours).
    void closeStream();

    Clock& m_clock;
    TcpStream m_tcp;
    TcpByteStream m_tcpBytes{m_tcp};
    ByteStream* m_stream = nullptr;  // m_tcpBytes or an attached stream; null when closed
    CancelTest m_cancelled;
    std::string m_in;
    std::string m_greeting;
    std::string m_error;
    bool m_greeted = false;
};

}  // namespace nv
