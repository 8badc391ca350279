#include "tests/peers/LoopbackServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace nv::test {
using std::chrono::milliseconds;
using std::chrono::steady_clock;

namespace {

constexpr int kSliceMs = 20;

int msLeft(steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<milliseconds>(deadline - steady_clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

void addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (!ext) throw std::runtime_error("certificate extension failed");
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

void writePem(const std::filesystem::path& path, const std::function<int(FILE*)>& write) {
    FILE* f = std::fopen(path.c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + path.string());
    int ok = write(f);
    std::fclose(f);
    if (ok != 1) throw std::runtime_error("PEM write failed: " + path.string());
}

int listenLoopback(int backlog, std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        throw std::runtime_error("listen on 127.0.0.1 failed");
    }
    port = ntohs(addr.sin_port);
    return fd;
}

}  // namespace

TestCertificate makeSelfSignedCertificate(const std::filesystem::path& dir, const std::string& commonName) {
    EVP_PKEY* key = EVP_EC_gen("prime256v1");
    X509* cert = X509_new();
    if (!key || !cert) throw std::runtime_error("key generation failed");
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 30);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(commonName.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    addExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    std::string san = "DNS:" + commonName + ",IP:127.0.0.1";
    addExtension(cert, NID_subject_alt_name, san.c_str());
    if (X509_sign(cert, key, EVP_sha256()) == 0) throw std::runtime_error("certificate signing failed");
    TestCertificate out{dir / "cert.pem", dir / "key.pem"};
    writePem(out.certFile, [&](FILE* f) { return PEM_write_X509(f, cert); });
    writePem(out.keyFile, [&](FILE* f) { return PEM_write_PrivateKey(f, key, nullptr, nullptr, 0, nullptr, nullptr); });
    X509_free(cert);
    EVP_PKEY_free(key);
    return out;
}

// --- PeerConnection ---

PeerConnection::PeerConnection(int fd, SSL* ssl, const std::atomic<bool>& stopping)
    : m_fd(fd), m_ssl(ssl), m_stopping(stopping) {}

PeerConnection::~PeerConnection() { close(); }

void PeerConnection::close() {
    if (m_ssl) {
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
        m_ssl = nullptr;
    }
    if (m_fd >= 0) ::close(m_fd);
    m_fd = -1;
}

bool PeerConnection::send(std::string_view bytes) {
    if (m_fd < 0) return false;
    std::size_t off = 0;
    auto deadline = steady_clock::now() + std::chrono::seconds(10);
    while (off < bytes.size()) {
        if (m_stopping.load() || msLeft(deadline) == 0) return false;
        short events = POLLOUT;
        if (m_ssl) {
            int n = SSL_write(m_ssl, bytes.data() + off, static_cast<int>(bytes.size() - off));
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                continue;
            }
            int err = SSL_get_error(m_ssl, n);
            if (err == SSL_ERROR_WANT_READ) events = POLLIN;
            else if (err != SSL_ERROR_WANT_WRITE) return false;
        } else {
            ssize_t n = ::send(m_fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
            if (n > 0) {
                off += static_cast<std::size_t>(n);
                continue;
            }
            if (errno != EAGAIN && errno != EINTR) return false;
        }
        pollfd p{m_fd, events, 0};
        ::poll(&p, 1, kSliceMs);
    }
    return true;
}

int PeerConnection::readSome(std::string& out, std::size_t max, steady_clock::time_point deadline) {
    char buf[16384];
    std::size_t want = std::min(max, sizeof buf);
    for (;;) {
        if (m_fd < 0 || m_peerClosed) return -1;
        short events = POLLIN;
        if (m_ssl) {
            int n = SSL_read(m_ssl, buf, static_cast<int>(want));
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
                return 1;
            }
            int err = SSL_get_error(m_ssl, n);
            if (err == SSL_ERROR_WANT_WRITE) events = POLLOUT;
            else if (err != SSL_ERROR_WANT_READ) {
                m_peerClosed = true;
                return -1;
            }
        } else {
            ssize_t n = ::recv(m_fd, buf, want, MSG_DONTWAIT);
            if (n > 0) {
                out.append(buf, static_cast<std::size_t>(n));
                return 1;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
                m_peerClosed = true;
                return -1;
            }
        }
        int left = msLeft(deadline);
        if (left == 0 || m_stopping.load()) return 0;
        pollfd p{m_fd, events, 0};
        ::poll(&p, 1, std::min(left, kSliceMs));
    }
}

std::string PeerConnection::recv(std::size_t n, milliseconds timeout) {
    std::string out;
    auto deadline = steady_clock::now() + timeout;
    while (out.size() < n && readSome(out, n - out.size(), deadline) > 0) {
    }
    return out;
}

std::string PeerConnection::recvUntil(const std::string& needle, milliseconds timeout) {
    std::string out;
    auto deadline = steady_clock::now() + timeout;
    while (out.find(needle) == std::string::npos && readSome(out, 1, deadline) > 0) {
    }
    return out;
}

std::string PeerConnection::drain(milliseconds quiet) {
    std::string out;
    while (readSome(out, 65536, steady_clock::now() + quiet) > 0) {
    }
    return out;
}

bool PeerConnection::waitClosed(milliseconds timeout) {
    std::string ignored;
    auto deadline = steady_clock::now() + timeout;
    while (readSome(ignored, 65536, deadline) > 0) {
    }
    return m_peerClosed;
}

std::string PeerConnection::serverName() const {
    if (!m_ssl) return {};
    const char* name = SSL_get_servername(m_ssl, TLSEXT_NAMETYPE_host_name);
    return name ? name : "";
}

// --- LoopbackServer ---

LoopbackServer::LoopbackServer(Handler handler, const TestCertificate* tls) : m_handler(std::move(handler)) {
    if (tls) {
        m_ctx = SSL_CTX_new(TLS_server_method());
        if (!m_ctx || SSL_CTX_use_certificate_file(m_ctx, tls->certFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(m_ctx, tls->keyFile.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("TLS server set-up failed");
    }
    m_listenFd = listenLoopback(16, m_port);
    m_acceptThread = std::thread([this] { acceptLoop(); });
}

LoopbackServer::~LoopbackServer() {
    stop();
    if (m_ctx) SSL_CTX_free(m_ctx);
}

void LoopbackServer::stop() {
    m_stopping.store(true);
    if (m_acceptThread.joinable()) m_acceptThread.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard lk(m_mutex);
        workers.swap(m_workers);
    }
    for (auto& t : workers) t.join();
    if (m_listenFd >= 0) ::close(m_listenFd);
    m_listenFd = -1;
}

void LoopbackServer::acceptLoop() {
    while (!m_stopping.load()) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) <= 0) continue;
        int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) continue;
        m_accepted.fetch_add(1);
        std::lock_guard lk(m_mutex);
        m_workers.emplace_back([this, fd] { serve(fd); });
    }
}

void LoopbackServer::serve(int fd) {
    SSL* ssl = nullptr;
    if (m_ctx) {
        ssl = SSL_new(m_ctx);
        SSL_set_fd(ssl, fd);
        auto deadline = steady_clock::now() + std::chrono::seconds(10);
        for (;;) {
            int r = SSL_accept(ssl);
            if (r == 1) break;
            int err = SSL_get_error(ssl, r);
            short events = err == SSL_ERROR_WANT_READ ? POLLIN : err == SSL_ERROR_WANT_WRITE ? POLLOUT : 0;
            if (events == 0 || m_stopping.load() || msLeft(deadline) == 0) {
                SSL_free(ssl);
                ERR_clear_error();
                ::close(fd);
                return;
            }
            pollfd p{fd, events, 0};
            ::poll(&p, 1, kSliceMs);
        }
    }
    PeerConnection conn(fd, ssl, m_stopping);
    m_handler(conn);
}

// --- UnansweredPort ---

UnansweredPort::UnansweredPort() {
    m_listenFd = listenLoopback(0, m_port);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(m_port);
    // Fill the accept queue until a connection request stays unanswered.
    for (int i = 0; i < 32; ++i) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        int r = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        if (r != 0 && errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, 300) == 0) {
                ::close(fd);
                return;
            }
        }
        m_fillers.push_back(fd);
    }
    throw std::runtime_error("could not fill the accept queue");
}

UnansweredPort::~UnansweredPort() {
    for (int fd : m_fillers) ::close(fd);
    if (m_listenFd >= 0) ::close(m_listenFd);
}

}  // namespace nv::test
