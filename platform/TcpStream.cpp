#include "platform/TcpStream.h"

#include "platform/HostLookup.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace nv {
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

constexpr int kSliceMs = 50;

int msLeft(steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when the
// peer has gone; this one sends with MSG_NOSIGNAL.
int bioWrite(BIO* b, const char* buf, int len) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n = ::send(fd, buf, static_cast<std::size_t>(len), MSG_NOSIGNAL);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_write(b);
    return static_cast<int>(n);
}

int bioRead(BIO* b, char* buf, int len) {
    int fd = static_cast<int>(reinterpret_cast<intptr_t>(BIO_get_data(b)));
    BIO_clear_retry_flags(b);
    ssize_t n = ::recv(fd, buf, static_cast<std::size_t>(len), 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) BIO_set_retry_read(b);
    return static_cast<int>(n);
}

long bioCtrl(BIO*, int cmd, long, void*) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bioCreate(BIO* b) {
    BIO_set_init(b, 1);
    return 1;
}

const BIO_METHOD* socketMethod() {
    static const BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "nv socket");
        BIO_meth_set_write(m, bioWrite);
        BIO_meth_set_read(m, bioRead);
        BIO_meth_set_ctrl(m, bioCtrl);
        BIO_meth_set_create(m, bioCreate);
        return m;
    }();
    return method;
}

std::string sslErrors() {
    std::string out;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!out.empty()) out += "; ";
        out += buf;
    }
    return out;
}

bool isIpLiteral(const std::string& host) {
    in6_addr a6;
    in_addr a4;
    return inet_pton(AF_INET, host.c_str(), &a4) == 1 || inet_pton(AF_INET6, host.c_str(), &a6) == 1;
}

}  // namespace

struct TcpStream::Impl {
    int fd = -1;
    int wakeFd = -1;
    std::atomic<bool> cancelled{false};
    std::atomic<bool> connected{false};
    SSL_CTX* ctx = nullptr;
    SSL* ssl = nullptr;
    std::string lastError;

    // Polls fd for `events` and the cancel eventfd; 1 ready, 0 time-out, -1 cancelled.
    int waitFor(short events, int timeoutMs) {
        if (cancelled.load()) return -1;
        pollfd p[2] = {{fd, events, 0}, {wakeFd, POLLIN, 0}};
        int r = ::poll(p, 2, timeoutMs);
        if (cancelled.load() || (r > 0 && (p[1].revents & POLLIN))) return -1;
        return r > 0 && p[0].revents != 0 ? 1 : 0;
    }

    bool connectTcp(const std::string& host, std::uint16_t port, steady_clock::time_point deadline);
    bool handshake(const std::string& host, const TlsOptions& tls, steady_clock::time_point deadline);
    void release();
};

void TcpStream::Impl::release() {
    if (ssl) {
        // One non-blocking close_notify; a peer that has gone is no reason to wait.
        if (connected.load()) SSL_shutdown(ssl);
        SSL_free(ssl);
        ssl = nullptr;
    }
    if (ctx) {
        SSL_CTX_free(ctx);
        ctx = nullptr;
    }
    if (fd >= 0) ::close(fd);
    fd = -1;
    connected.store(false);
}

bool TcpStream::Impl::connectTcp(const std::string& host, std::uint16_t port,
                                 steady_clock::time_point deadline) {
    std::string service = std::to_string(port);
    AddressList list;
    if (!lookUpHost(host, service, deadline, cancelled, list, lastError)) return false;
    lastError = "Cannot connect to " + host + ":" + service;
    for (const addrinfo* a = list.first(); a; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            int w = 0;
            while ((w = waitFor(POLLOUT, std::min(msLeft(deadline), kSliceMs))) == 0 && msLeft(deadline) > 0) {
            }
            int err = 0;
            socklen_t len = sizeof err;
            if (w == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 && err == 0) r = 0;
            else if (w == 1) errno = err;
            else errno = w < 0 ? ECANCELED : ETIMEDOUT;
        }
        if (r == 0) return true;
        lastError = "Cannot connect to " + host + ":" + service + ": " + std::strerror(errno);
        ::close(fd);
        fd = -1;
        if (cancelled.load() || msLeft(deadline) == 0) break;
    }
    return false;
}

bool TcpStream::Impl::handshake(const std::string& host, const TlsOptions& tls,
                                steady_clock::time_point deadline) {
    ERR_clear_error();
    ctx = SSL_CTX_new(TLS_client_method());
    if (!ctx) {
        lastError = "TLS set-up failed: " + sslErrors();
        return false;
    }
    SSL_CTX_set_mode(ctx, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    std::string name = tls.serverName.empty() ? host : tls.serverName;
    if (tls.verifyPeer) {
        SSL_CTX_set_default_verify_paths(ctx);
        if (!tls.caFile.empty() && SSL_CTX_load_verify_locations(ctx, tls.caFile.c_str(), nullptr) != 1) {
            lastError = "Cannot load " + tls.caFile + ": " + sslErrors();
            return false;
        }
        SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
    }
    ssl = SSL_new(ctx);
    BIO* bio = BIO_new(socketMethod());
    if (!ssl || !bio) {
        BIO_free(bio);
        lastError = "TLS set-up failed: " + sslErrors();
        return false;
    }
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<intptr_t>(fd)));
    SSL_set_bio(ssl, bio, bio);
    if (!isIpLiteral(name)) SSL_set_tlsext_host_name(ssl, name.c_str());
    if (tls.verifyPeer) {
        if (isIpLiteral(name)) X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), name.c_str());
        else SSL_set1_host(ssl, name.c_str());
    }
    for (;;) {
        int r = SSL_connect(ssl);
        if (r == 1) return true;
        int err = SSL_get_error(ssl, r);
        short events = err == SSL_ERROR_WANT_READ ? POLLIN : err == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
        if (events == 0) {
            long verify = SSL_get_verify_result(ssl);
            lastError = "TLS handshake with " + name + " failed";
            if (verify != X509_V_OK) lastError += std::string(": ") + X509_verify_cert_error_string(verify);
            std::string detail = sslErrors();
            if (!detail.empty()) lastError += ": " + detail;
            return false;
        }
        int left = msLeft(deadline);
        int w = left > 0 ? waitFor(events, std::min(left, kSliceMs)) : 0;
        if (w < 0 || (w == 0 && msLeft(deadline) == 0)) {
            lastError = std::string("TLS handshake with ") + name + (w < 0 ? " cancelled" : " timed out");
            return false;
        }
    }
}

TcpStream::TcpStream() : m(std::make_unique<Impl>()) {
    m->wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

TcpStream::~TcpStream() {
    m->release();
    if (m->wakeFd >= 0) ::close(m->wakeFd);
}

bool TcpStream::connect(const std::string& host, std::uint16_t port, milliseconds timeout,
                        const TlsOptions& tls) {
    m->release();
    m->cancelled.store(false);
    uint64_t drained;
    while (::read(m->wakeFd, &drained, sizeof drained) > 0) {
    }
    auto deadline = steady_clock::now() + timeout;
    if (!m->connectTcp(host, port, deadline) || (tls.enabled && !m->handshake(host, tls, deadline))) {
        m->release();
        return false;
    }
    m->lastError.clear();
    m->connected.store(true);
    return true;
}

bool TcpStream::connected() const { return m->connected.load(); }

bool TcpStream::isTls() const { return m->ssl != nullptr; }

std::string TcpStream::readAvailable(std::size_t maxBytes) {
    std::string out;
    if (!m->connected.load() || maxBytes == 0) return out;
    out.resize(maxBytes);
    std::size_t got = 0;
    while (got < maxBytes) {
        int want = static_cast<int>(std::min<std::size_t>(maxBytes - got, 1 << 20));
        if (m->ssl) {
            ERR_clear_error();
            int n = SSL_read(m->ssl, out.data() + got, want);
            if (n > 0) {
                got += static_cast<std::size_t>(n);
                continue;
            }
            int err = SSL_get_error(m->ssl, n);
            if (err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) {
                m->lastError = err == SSL_ERROR_ZERO_RETURN ? "Connection closed by peer" : "TLS read failed: " + sslErrors();
                m->connected.store(false);
            }
            break;
        }
        ssize_t n = ::recv(m->fd, out.data() + got, static_cast<std::size_t>(want), MSG_DONTWAIT);
        if (n > 0) {
            got += static_cast<std::size_t>(n);
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            m->lastError = n == 0 ? "Connection closed by peer" : std::string("Receive failed: ") + std::strerror(errno);
            m->connected.store(false);
        }
        break;
    }
    out.resize(got);
    return out;
}

bool TcpStream::waitReadable(milliseconds timeout) {
    if (!m->connected.load()) return false;
    if (m->ssl && SSL_pending(m->ssl) > 0) return true;
    auto deadline = steady_clock::now() + timeout;
    for (;;) {
        int w = m->waitFor(POLLIN, std::min(msLeft(deadline), kSliceMs));
        if (w != 0) return w > 0;
        if (msLeft(deadline) == 0) return false;
    }
}

long TcpStream::writeAll(std::string_view data, milliseconds timeout) {
    if (data.empty()) return 0;
    if (!m->connected.load()) return -1;
    auto deadline = steady_clock::now() + timeout;
    std::size_t sent = 0;
    while (sent < data.size()) {
        short events = POLLOUT;
        std::size_t rest = data.size() - sent;
        int chunk = static_cast<int>(std::min<std::size_t>(rest, 1 << 20));
        if (m->ssl) {
            ERR_clear_error();
            int n = SSL_write(m->ssl, data.data() + sent, chunk);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            int err = SSL_get_error(m->ssl, n);
            if (err == SSL_ERROR_WANT_READ) events = POLLIN;
            else if (err != SSL_ERROR_WANT_WRITE) {
                m->lastError = "TLS write failed: " + sslErrors();
                m->connected.store(false);
                break;
            }
        } else {
            ssize_t n = ::send(m->fd, data.data() + sent, static_cast<std::size_t>(chunk),
                               MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                sent += static_cast<std::size_t>(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                m->lastError = std::string("Send failed: ") + std::strerror(errno);
                m->connected.store(false);
                break;
            }
        }
        int left = msLeft(deadline);
        if (left == 0 || m->waitFor(events, std::min(left, kSliceMs)) < 0) {
            m->lastError = left == 0 ? "Send timed out" : "Send cancelled";
            break;
        }
    }
    return sent > 0 ? static_cast<long>(sent) : -1;
}

void TcpStream::cancel() {
    m->cancelled.store(true);
    uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(m->wakeFd, &one, sizeof one);
}

void TcpStream::close() { m->release(); }

std::string TcpStream::lastError() const { return m->lastError; }

std::size_t TcpStream::pendingBytes() const {
    if (m->fd < 0) return 0;
    int n = 0;
    if (::ioctl(m->fd, FIONREAD, &n) != 0 || n < 0) n = 0;
    return static_cast<std::size_t>(n) + (m->ssl ? static_cast<std::size_t>(SSL_pending(m->ssl)) : 0);
}

std::uint16_t TcpStream::localPort() const {
    if (m->fd < 0) return 0;
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    if (::getsockname(m->fd, reinterpret_cast<sockaddr*>(&ss), &len) != 0) return 0;
    if (ss.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&ss)->sin_port);
    if (ss.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6*>(&ss)->sin6_port);
    return 0;
}

}  // namespace nv
