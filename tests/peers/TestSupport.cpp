#include "tests/peers/TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace nv::test {
namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string tmpl = (fs::temp_directory_path() / "nvtest.XXXXXX").string();
    if (!::mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    m_path = tmpl;
}

TempDir::~TempDir() {
    std::error_code ec;
    fs::remove_all(m_path, ec);
}

PtyPair::PtyPair() {
    int slave = -1;
    char name[256] = {};
    if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
        throw std::runtime_error("openpty failed");
    termios t{};
    ::tcgetattr(m_master, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(m_master, TCSANOW, &t);
    ::tcgetattr(slave, &t);
    ::cfmakeraw(&t);
    ::tcsetattr(slave, TCSANOW, &t);
    ::close(slave);
    m_slavePath = name;
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    ::fcntl(m_master, F_SETFD, FD_CLOEXEC);
}

PtyPair::~PtyPair() {
    releaseSlave();
    if (m_master >= 0) ::close(m_master);
}

void PtyPair::holdSlave() {
    if (m_slaveHold < 0) m_slaveHold = ::open(m_slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
}

void PtyPair::releaseSlave() {
    if (m_slaveHold >= 0) ::close(m_slaveHold);
    m_slaveHold = -1;
}

void PtyPair::write(const std::string& bytes) {
    std::size_t off = 0;
    while (off < bytes.size()) {
        ssize_t n = ::write(m_master, bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
        } else {
            pollfd p{m_master, POLLOUT, 0};
            ::poll(&p, 1, 50);
        }
    }
}

std::string PtyPair::read(std::size_t n, std::chrono::milliseconds timeout) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.size() < n) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[4096];
        ssize_t r = ::read(m_master, buf, std::min(sizeof buf, n - out.size()));
        if (r > 0) out.append(buf, static_cast<std::size_t>(r));
        else if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR)) {
            // EIO while nobody holds the slave open; wait and retry.
            ::usleep(10000);
        }
    }
    return out;
}

std::string PtyPair::readUntil(const std::string& needle, std::chrono::milliseconds timeout) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (out.find(needle) == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        out += read(1, left);
    }
    return out;
}

std::string PtyPair::drain(std::chrono::milliseconds quiet) {
    std::string out;
    for (;;) {
        std::string got = read(4096, quiet);
        if (got.empty()) break;
        out += got;
    }
    return out;
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string fromHex(const std::string& hex) {
    std::string out;
    int hi = -1;
    for (char c : hex) {
        int v;
        if (c >= '0' && c <= '9') v = c - '0';
        else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
        else continue;
        if (hi < 0) hi = v;
        else {
            out += static_cast<char>(hi * 16 + v);
            hi = -1;
        }
    }
    return out;
}

std::string toHex(const std::string& bytes) {
    static const char* d = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

}  // namespace nv::test
