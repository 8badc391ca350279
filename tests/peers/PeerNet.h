#pragma once
// Socket and TLS plumbing for the scripted loopback peers (HTTP, SMTP, DNS):
// listening sockets on 127.0.0.1 with an ephemeral port, a connection that can
// switch to TLS in the middle (STARTTLS), and a self-signed server certificate
// made in memory.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace nv::test {

// Bound to 127.0.0.1 on an ephemeral port (stored into `port`); -1 on failure.
int listenLoopback(std::uint16_t& port, int type);
// Connected TCP socket to 127.0.0.1:port, or -1.
int connectLoopback(std::uint16_t port);
// A TCP port on 127.0.0.1 that nothing listens on when this returns (bound,
// then closed): a connection to it is refused, a server started next can take it.
std::uint16_t freeLoopbackPort();

// Server context with a self-signed certificate for "localhost", made once.
SSL_CTX* selfSignedServerContext();

class PeerStream {
public:
    PeerStream(int fd, const std::atomic<bool>& stop);
    ~PeerStream();
    PeerStream(const PeerStream&) = delete;
    PeerStream& operator=(const PeerStream&) = delete;

    int fd() const { return m_fd; }
    bool tls() const { return m_ssl != nullptr; }
    bool startTls(SSL_CTX* ctx);

    // Reads until `delimiter` (returned with it) or failure/idle time-out/stop.
    bool readUntil(const std::string& delimiter, std::string& out,
                   std::chrono::milliseconds idle = std::chrono::seconds(10));
    bool readExact(std::size_t n, std::string& out, std::chrono::milliseconds idle = std::chrono::seconds(10));
    // Whatever is available now (waits up to `wait` for something); empty on close.
    bool readSome(std::string& out, std::chrono::milliseconds wait);
    bool write(const std::string& bytes);

private:
    bool waitReadable(std::chrono::milliseconds wait);
    // Appends what arrives to m_buffer; false on close, stop or the deadline.
    bool readMore(std::chrono::steady_clock::time_point deadline);
    int m_fd;
    SSL* m_ssl = nullptr;
    const std::atomic<bool>& m_stop;
    std::string m_buffer;
    bool m_closed = false;
};

std::string base64Decode(const std::string& text);
std::string base64Encode(const std::string& bytes);

}  // namespace nv::test
