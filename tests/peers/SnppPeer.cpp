#include "tests/peers/SnppPeer.h"

#include <algorithm>
#include <cctype>
#include <thread>

namespace nv::test {

using namespace std::chrono_literals;

SnppPeer::SnppPeer(Script script, const TestCertificate* tls) : m_script(std::move(script)) {
    m_server = std::make_unique<LoopbackServer>([this](PeerConnection& c) { serve(c); }, tls);
}

SnppPeer::~SnppPeer() { m_server->stop(); }

std::uint16_t SnppPeer::port() const { return m_server->port(); }

int SnppPeer::connections() const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_raw.size());
}

std::string SnppPeer::raw(int n) const {
    std::lock_guard lock(m_mutex);
    return n >= 1 && n <= static_cast<int>(m_raw.size()) ? m_raw[n - 1] : std::string();
}

std::vector<std::string> SnppPeer::lines(int n) const {
    std::vector<std::string> out;
    std::string all = raw(n);
    std::size_t pos = 0;
    while (pos < all.size()) {
        auto end = all.find("\r\n", pos);
        if (end == std::string::npos) {
            out.push_back(all.substr(pos));
            break;
        }
        out.push_back(all.substr(pos, end - pos));
        pos = end + 2;
    }
    return out;
}

bool SnppPeer::waitClosed(int n, std::chrono::milliseconds timeout) const {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        {
            std::lock_guard lock(m_mutex);
            if (n >= 1 && n <= static_cast<int>(m_closed.size()) && m_closed[n - 1]) return true;
        }
        std::this_thread::sleep_for(5ms);
    }
    return false;
}

std::string SnppPeer::serverName(int n) const {
    std::lock_guard lock(m_mutex);
    return n >= 1 && n <= static_cast<int>(m_names.size()) ? m_names[n - 1] : std::string();
}

void SnppPeer::serve(PeerConnection& c) {
    int index = 0;
    {
        std::lock_guard lock(m_mutex);
        m_raw.emplace_back();
        m_closed.push_back(false);
        m_names.push_back(c.serverName());
        index = static_cast<int>(m_raw.size());
    }
    auto record = [&](const std::string& bytes) {
        std::lock_guard lock(m_mutex);
        m_raw[index - 1] += bytes;
    };
    auto finish = [&] {
        std::lock_guard lock(m_mutex);
        m_closed[index - 1] = true;
    };
    if (!m_script.greet) {
        std::string rest = c.drain(10s);
        record(rest);
        finish();
        return;
    }
    c.send(m_script.greeting + "\r\n");
    bool twoWay = false;
    std::string pending;
    while (true) {
        std::string got = c.recvUntil("\r\n", 10s);
        if (got.empty()) break;
        record(got);
        pending += got;
        auto end = pending.find("\r\n");
        if (end == std::string::npos) continue;
        std::string line = pending.substr(0, end);
        pending.erase(0, end + 2);
        std::string verb = line.substr(0, line.find(' '));
        std::transform(verb.begin(), verb.end(), verb.begin(), [](unsigned char ch) { return std::toupper(ch); });
        std::string reply = "500 Command Not Implemented";
        auto special = m_script.perConnection.find(index);
        if (special != m_script.perConnection.end() && special->second.count(verb))
            reply = special->second.at(verb);
        else if (verb == "SEND" && twoWay)
            reply = m_script.twoWaySend;
        else if (m_script.replies.count(verb))
            reply = m_script.replies.at(verb);
        if (verb == "2WAY" && reply.rfind("250", 0) == 0) twoWay = true;
        if (!reply.empty()) c.send(reply + "\r\n");
        if (verb == "QUIT") break;
    }
    c.waitClosed(2s);
    finish();
}

}  // namespace nv::test
