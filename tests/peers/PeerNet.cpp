#include "tests/peers/PeerNet.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>
#include <sys/socket.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include <mutex>
#include <stdexcept>

namespace nv::test {

int listenLoopback(std::uint16_t& port, int type) {
    int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 16) != 0) ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

int connectLoopback(std::uint16_t port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

std::uint16_t freeLoopbackPort() {
    std::uint16_t port = 0;
    int fd = listenLoopback(port, SOCK_STREAM);
    if (fd < 0) throw std::runtime_error("no free loopback port");
    ::close(fd);
    return port;
}

namespace {

SSL_CTX* makeContext() {
    EVP_PKEY* key = EVP_EC_gen("P-256");
    X509* cert = X509_new();
    if (!key || !cert) return nullptr;
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400L * 365);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("localhost"), -1,
                               -1, 0);
    X509_set_issuer_name(cert, name);
    X509_sign(cert, key, EVP_sha256());
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    X509_free(cert);
    EVP_PKEY_free(key);
    return ctx;
}

}  // namespace

SSL_CTX* selfSignedServerContext() {
    static SSL_CTX* ctx = makeContext();  // kept for the whole test program
    return ctx;
}

// Non-blocking, so a stop request never waits behind a read or a write.
PeerStream::PeerStream(int fd, const std::atomic<bool>& stop) : m_fd(fd), m_stop(stop) {
    ::fcntl(m_fd, F_SETFL, ::fcntl(m_fd, F_GETFL) | O_NONBLOCK);
}

PeerStream::~PeerStream() {
    if (m_ssl) {
        SSL_shutdown(m_ssl);
        SSL_free(m_ssl);
    }
    if (m_fd >= 0) ::close(m_fd);
}

bool PeerStream::startTls(SSL_CTX* ctx) {
    m_ssl = SSL_new(ctx);
    SSL_set_fd(m_ssl, m_fd);
    m_buffer.clear();
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
        int rc = SSL_accept(m_ssl);
        if (rc == 1) return true;
        int err = SSL_get_error(m_ssl, rc);
        if ((err != SSL_ERROR_WANT_READ && err != SSL_ERROR_WANT_WRITE) || m_stop ||
            std::chrono::steady_clock::now() > end)
            break;
        pollfd p{m_fd, static_cast<short>(err == SSL_ERROR_WANT_READ ? POLLIN : POLLOUT), 0};
        ::poll(&p, 1, 50);
    }
    SSL_free(m_ssl);
    m_ssl = nullptr;
    m_closed = true;
    return false;
}

bool PeerStream::waitReadable(std::chrono::milliseconds wait) {
    if (m_ssl && SSL_pending(m_ssl) > 0) return true;
    const auto end = std::chrono::steady_clock::now() + wait;
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) > 0) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
    }
    return false;
}

bool PeerStream::readMore(std::chrono::steady_clock::time_point deadline) {
    while (!m_stop && !m_closed) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !waitReadable(left)) return false;
        char buf[4096];
        long n = m_ssl ? SSL_read(m_ssl, buf, sizeof buf) : ::read(m_fd, buf, sizeof buf);
        if (n > 0) {
            m_buffer.append(buf, static_cast<std::size_t>(n));
            return true;
        }
        const bool again = m_ssl ? SSL_get_error(m_ssl, static_cast<int>(n)) == SSL_ERROR_WANT_READ
                                 : (n < 0 && (errno == EAGAIN || errno == EINTR));
        if (!again) m_closed = true;
    }
    return false;
}

bool PeerStream::readSome(std::string& out, std::chrono::milliseconds wait) {
    out.clear();
    if (m_buffer.empty() && !readMore(std::chrono::steady_clock::now() + wait)) return !m_closed && !m_stop;
    out.swap(m_buffer);
    return true;
}

bool PeerStream::readUntil(const std::string& delimiter, std::string& out, std::chrono::milliseconds idle) {
    for (;;) {
        std::size_t pos = m_buffer.find(delimiter);
        if (pos != std::string::npos) {
            out = m_buffer.substr(0, pos + delimiter.size());
            m_buffer.erase(0, pos + delimiter.size());
            return true;
        }
        if (!readMore(std::chrono::steady_clock::now() + idle)) return false;
    }
}

bool PeerStream::readExact(std::size_t n, std::string& out, std::chrono::milliseconds idle) {
    while (m_buffer.size() < n)
        if (!readMore(std::chrono::steady_clock::now() + idle)) return false;
    out = m_buffer.substr(0, n);
    m_buffer.erase(0, n);
    return true;
}

bool PeerStream::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        long n = m_ssl ? SSL_write(m_ssl, bytes.data() + done, static_cast<int>(bytes.size() - done))
                       : ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            bool again = m_ssl ? SSL_get_error(m_ssl, static_cast<int>(n)) == SSL_ERROR_WANT_WRITE ||
                                     SSL_get_error(m_ssl, static_cast<int>(n)) == SSL_ERROR_WANT_READ
                               : (errno == EAGAIN || errno == EINTR);
            if (!again || m_stop) return false;
            pollfd p{m_fd, POLLOUT, 0};
            ::poll(&p, 1, 50);
            continue;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

std::string base64Encode(const std::string& bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<int>(bytes.size()));
    out.resize(n < 0 ? 0 : static_cast<std::size_t>(n));
    return out;
}

std::string base64Decode(const std::string& text) {
    std::string out(3 * (text.size() / 4) + 3, '\0');
    int n = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                            reinterpret_cast<const unsigned char*>(text.data()), static_cast<int>(text.size()));
    if (n < 0) return {};
    std::size_t len = static_cast<std::size_t>(n);
    if (text.size() >= 1 && text[text.size() - 1] == '=') --len;
    if (text.size() >= 2 && text[text.size() - 2] == '=') --len;
    out.resize(len);
    return out;
}

}  // namespace nv::test
