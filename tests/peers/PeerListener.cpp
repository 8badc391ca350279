#include "tests/peers/PeerListener.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>
#include <utility>

namespace nv::test {

PeerListener::PeerListener(const std::string& owner, Handler handler) : m_handler(std::move(handler)) {
    m_listen = listenLoopback(m_port, SOCK_STREAM);
    if (m_listen < 0) throw std::runtime_error(owner + ": cannot listen");
    m_acceptor = std::thread([this] { acceptLoop(); });
}

PeerListener::~PeerListener() {
    m_stop = true;
    if (m_acceptor.joinable()) m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        workers.swap(m_workers);
    }
    for (std::thread& t : workers) t.join();
    ::close(m_listen);
}

void PeerListener::acceptLoop() {
    while (!m_stop) {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++m_accepted;
        std::lock_guard<std::mutex> lock(m_mutex);
        m_workers.emplace_back([this, fd] {
            PeerStream stream(fd, m_stop);
            m_handler(stream);
        });
    }
}

}  // namespace nv::test
