#pragma once
// One TCP client stream, optionally over TLS: the TAP pager's TCP transport
// and the SNPP, SMPP and CIMD2 sessions use it.
//
// - connect() never waits longer than its time-out (a blocking connect waits
//   about two minutes on Linux).
// - readAvailable() returns what has arrived and never blocks.
// - writeAll() loops over short sends (MSG_NOSIGNAL: a peer reset must not
//   kill the process with SIGPIPE, also under TLS) until everything is out.
// - A peer close or an error clears connected().
//
// Threads: the stream belongs to one thread, except cancel(), which any thread
// may call: it wakes a connect, wait or write in progress and makes later ones
// fail at once until the next connect(). The owner then calls close().
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/ByteStream.h"

namespace nv {

struct TlsOptions {
    bool enabled = false;
    // Check the server's certificate against the system CA store (plus caFile
    // when given) and its name against serverName (or the host).
    bool verifyPeer = false;
    // Name sent for SNI; the host passed to connect() when empty.
    std::string serverName;
    // Extra trusted certificates (PEM), e.g. a test's self-signed one.
    std::string caFile;
};

class TcpStream {
public:
    static constexpr std::chrono::milliseconds kDefaultConnectTimeout{5000};
    static constexpr std::chrono::milliseconds kDefaultWriteTimeout{30000};

    TcpStream();
    ~TcpStream();
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;

    // Resolves host, connects within `timeout` (name look-up, TCP and TLS
    // handshake together) and returns true when connected. A stream already
    // open is closed first. The reason of a failure is in lastError().
    bool connect(const std::string& host, std::uint16_t port,
                 std::chrono::milliseconds timeout = kDefaultConnectTimeout,
                 const TlsOptions& tls = {});
    bool connected() const;
    bool isTls() const;

    // At most maxBytes of what has arrived; empty when nothing has (or not
    // connected). Never blocks. A peer close clears connected().
    std::string readAvailable(std::size_t maxBytes);
    // Waits until readAvailable() has something (or the peer closed), up to
    // `timeout`; false on time-out, cancel or when not connected.
    bool waitReadable(std::chrono::milliseconds timeout);
    // Sends every byte; the count sent (data.size() on success), or -1 when
    // nothing could be sent. Stops early on error, cancel or time-out and then
    // returns what was sent (connected() turns false on error).
    long writeAll(std::string_view data, std::chrono::milliseconds timeout = kDefaultWriteTimeout);

    // Any thread: wakes the owner's connect, wait or write (see above).
    void cancel();
    // The owner only, never while another thread is inside a call.
    void close();

    std::string lastError() const;
    // Bytes received and not read yet (for a plain stream exact; under TLS
    // the raw bytes waiting plus the decrypted ones buffered).
    std::size_t pendingBytes() const;
    // The local port of the connection (0 when not connected); for tests.
    std::uint16_t localPort() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m;
};

// A TcpStream as the dialogues' ByteStream; up() is connected(). The stream
// outlives the adapter, and cancel() and close() stay with the owner.
class TcpByteStream final : public ByteStream {
public:
    explicit TcpByteStream(TcpStream& tcp) : m_tcp(tcp) {}
    std::string readAvailable(std::size_t maxBytes) override { return m_tcp.readAvailable(maxBytes); }
    bool waitReadable(std::chrono::milliseconds timeout) override { return m_tcp.waitReadable(timeout); }
    // Nothing to send is a success, as no byte could be lost.
    bool writeAll(std::string_view data, std::chrono::milliseconds timeout) override {
        return data.empty() || m_tcp.writeAll(data, timeout) == static_cast<long>(data.size());
    }
    bool up() const override { return m_tcp.connected(); }
    TcpStream& tcp() { return m_tcp; }

private:
    TcpStream& m_tcp;
};

}  // namespace nv
