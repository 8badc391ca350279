#pragma once
// A TCP server for tests on 127.0.0.1 and an ephemeral port, plain or TLS,
// plus a self-signed certificate maker and a port that never answers. Used by
// the TCP stream tests and by the SNPP, SMPP and TAP-over-TCP tests.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;

namespace nv::test {

struct TestCertificate {
    std::filesystem::path certFile;  // PEM; also serves as the CA file of a client
    std::filesystem::path keyFile;   // PEM
};

// A self-signed certificate for "localhost" and 127.0.0.1, made with the
// OpenSSL API into `dir`.
TestCertificate makeSelfSignedCertificate(const std::filesystem::path& dir,
                                          const std::string& commonName = "localhost");

// One accepted connection as the server sees it. Every call has a time-out
// and ends early when the server stops.
class PeerConnection {
public:
    PeerConnection(int fd, SSL* ssl, const std::atomic<bool>& stopping);
    ~PeerConnection();
    PeerConnection(const PeerConnection&) = delete;
    PeerConnection& operator=(const PeerConnection&) = delete;

    bool send(std::string_view bytes);
    // Until n bytes arrived, the peer closed or the time ran out.
    std::string recv(std::size_t n, std::chrono::milliseconds timeout);
    // Until `needle` was seen (everything read is returned) or the time ran out.
    std::string recvUntil(const std::string& needle, std::chrono::milliseconds timeout);
    // Whatever arrives before `quiet` passes without a byte.
    std::string drain(std::chrono::milliseconds quiet);
    // True once the client has closed its side (within `timeout`).
    bool waitClosed(std::chrono::milliseconds timeout);
    void close();
    // The name the client sent for SNI (TLS only).
    std::string serverName() const;
    bool peerClosed() const { return m_peerClosed; }

private:
    // 1 data, 0 time-out, -1 closed or error.
    int readSome(std::string& out, std::size_t max, std::chrono::steady_clock::time_point deadline);

    int m_fd;
    SSL* m_ssl;
    const std::atomic<bool>& m_stopping;
    bool m_peerClosed = false;
};

class LoopbackServer {
public:
    using Handler = std::function<void(PeerConnection&)>;

    // Every accepted connection runs `handler` on a thread of its own; the
    // connection is closed when the handler returns. With `tls`, the TLS
    // handshake runs first (a failed one never reaches the handler).
    explicit LoopbackServer(Handler handler, const TestCertificate* tls = nullptr);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    std::uint16_t port() const { return m_port; }
    int acceptedCount() const { return m_accepted.load(); }
    // Stops accepting, ends the handlers' waits and joins every thread.
    void stop();

private:
    void acceptLoop();
    void serve(int fd);

    Handler m_handler;
    SSL_CTX* m_ctx = nullptr;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stopping{false};
    std::atomic<int> m_accepted{0};
    std::thread m_acceptThread;
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
};

// A loopback port whose connection requests go unanswered: a listener whose
// accept queue is full, so the kernel drops further SYNs.
class UnansweredPort {
public:
    UnansweredPort();
    ~UnansweredPort();
    UnansweredPort(const UnansweredPort&) = delete;
    UnansweredPort& operator=(const UnansweredPort&) = delete;
    std::uint16_t port() const { return m_port; }

private:
    int m_listenFd = -1;
    std::vector<int> m_fillers;
    std::uint16_t m_port = 0;
};

}  // namespace nv::test
