#include "tests/peers/FakeManager.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

#include "platform/LocalPipe.h"

namespace nv::test {

FakeManager::FakeManager(const std::filesystem::path& socketPath) : m_path(socketPath) {
    m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof(addr.sun_path) - 1);
    ::unlink(socketPath.c_str());
    if (m_listen < 0 || ::bind(m_listen, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(m_listen, 64) != 0 || ::pipe(m_wake) != 0)
        throw std::runtime_error("FakeManager: cannot listen on " + socketPath.string());
    m_thread = std::thread([this] { run(); });
}

FakeManager::~FakeManager() {
    char c = 'x';
    (void)!::write(m_wake[1], &c, 1);
    m_thread.join();
    ::close(m_listen);
    ::close(m_wake[0]);
    ::close(m_wake[1]);
    ::unlink(m_path.c_str());
}

void FakeManager::run() {
    for (;;) {
        pollfd p[2] = {{m_listen, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        if (::poll(p, 2, -1) < 0) continue;
        if (p[1].revents) return;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::string data;
        char buf[4096];
        for (;;) {
            pollfd r{fd, POLLIN, 0};
            if (::poll(&r, 1, 2000) <= 0) break;
            ssize_t n = ::read(fd, buf, sizeof buf);
            if (n <= 0) break;
            data.append(buf, static_cast<std::size_t>(n));
        }
        ::close(fd);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_messages.push_back(std::move(data));
        }
        m_cv.notify_all();
    }
}

std::vector<std::string> FakeManager::messages() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages;
}

std::size_t FakeManager::count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

std::optional<std::string> FakeManager::waitFor(const std::function<bool(const std::string&)>& match,
                                                std::chrono::milliseconds timeout, std::size_t from) {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::optional<std::string> found;
    m_cv.wait_for(lock, timeout, [&] {
        for (std::size_t i = from; i < m_messages.size(); ++i) {
            if (match(m_messages[i])) {
                found = m_messages[i];
                return true;
            }
        }
        return false;
    });
    return found;
}

bool FakeManager::waitForExact(const std::string& exact, std::chrono::milliseconds timeout, std::size_t from) {
    return waitFor([&](const std::string& m) { return m == exact; }, timeout, from).has_value();
}

bool sendCommand(const std::filesystem::path& socketPath, const std::string& text) {
    return sendLocalMessage(socketPath, text, std::chrono::milliseconds(1000), std::chrono::milliseconds(1000));
}

bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace nv::test
