#pragma once
// The accepting half of the scripted loopback peers that talk over a
// PeerStream (HTTP, SMTP): a listener on 127.0.0.1 with an ephemeral port and
// a thread per accepted connection. Going away stops every stream's waits and
// joins the threads, so a peer declares its listener last: the handlers end
// before the state they record into goes.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/PeerNet.h"

namespace nv::test {

class PeerListener {
public:
    using Handler = std::function<void(PeerStream&)>;

    // `owner` names the peer in the error thrown when it cannot listen.
    PeerListener(const std::string& owner, Handler handler);
    ~PeerListener();
    PeerListener(const PeerListener&) = delete;
    PeerListener& operator=(const PeerListener&) = delete;

    std::uint16_t port() const { return m_port; }
    // TCP connections accepted (TLS handshakes that failed included).
    int accepted() const { return m_accepted; }
    // Set once the listener goes away; a peer's own waits (a delayed reply,
    // a tunnel's far end) end on it too.
    const std::atomic<bool>& stopping() const { return m_stop; }

private:
    void acceptLoop();

    Handler m_handler;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_accepted{0};
    std::mutex m_mutex;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

}  // namespace nv::test
