#include "tests/peers/DnsPeer.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <stdexcept>

#include "tests/peers/PeerNet.h"

namespace nv::test {
namespace {

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

std::string u16(int v) { return {static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)}; }

std::string encodeName(const std::string& name) {
    std::string out;
    std::size_t pos = 0;
    while (pos < name.size()) {
        std::size_t dot = name.find('.', pos);
        if (dot == std::string::npos) dot = name.size();
        out += static_cast<char>(dot - pos);
        out += name.substr(pos, dot - pos);
        pos = dot + 1;
    }
    return out + '\0';
}

}  // namespace

DnsPeer::DnsPeer() {
    m_fd = listenLoopback(m_port, SOCK_DGRAM);
    if (m_fd < 0) throw std::runtime_error("DnsPeer: cannot bind");
    m_thread = std::thread([this] { loop(); });
}

DnsPeer::~DnsPeer() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    ::close(m_fd);
}

void DnsPeer::addMx(const std::string& domain, int preference, const std::string& host) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_zone[lower(domain)].emplace_back(preference, host);
}

void DnsPeer::addDomain(const std::string& domain) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_zone[lower(domain)];
}

void DnsPeer::loop() {
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 50) <= 0) continue;
        char buf[512];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        ssize_t n = ::recvfrom(m_fd, buf, sizeof buf, 0, reinterpret_cast<sockaddr*>(&from), &len);
        if (n < 12) continue;
        ++m_queries;
        std::string reply = answer(std::string(buf, static_cast<std::size_t>(n)));
        if (!reply.empty())
            ::sendto(m_fd, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&from), len);
    }
}

std::string DnsPeer::answer(const std::string& query) {
    // Question: labels from offset 12, then type and class.
    std::string name;
    std::size_t pos = 12;
    while (pos < query.size() && query[pos] != 0) {
        const std::size_t n = static_cast<unsigned char>(query[pos]);
        if (pos + 1 + n > query.size()) return {};
        if (!name.empty()) name += '.';
        name += query.substr(pos + 1, n);
        pos += 1 + n;
    }
    if (pos + 5 > query.size()) return {};
    const std::string question = query.substr(12, pos + 5 - 12);
    const int qtype = (static_cast<unsigned char>(query[pos + 1]) << 8) | static_cast<unsigned char>(query[pos + 2]);

    std::vector<std::pair<int, std::string>> records;
    int rcode = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        auto it = m_zone.find(lower(name));
        if (m_servfail) rcode = 2;
        else if (it == m_zone.end()) rcode = 3;
        else if (qtype == 15) records = it->second;
    }
    std::string reply = query.substr(0, 2);                 // id
    reply += static_cast<char>(0x81 | (query[2] & 0x01));  // response, recursion desired echoed
    reply += static_cast<char>(0x80 | rcode);              // recursion available
    reply += u16(1) + u16(static_cast<int>(records.size())) + u16(0) + u16(0);
    reply += question;
    for (const auto& [preference, host] : records) {
        const std::string rdata = u16(preference) + encodeName(host);
        reply += std::string("\xC0\x0C", 2) + u16(15) + u16(1) + std::string("\0\0\x0E\x10", 4) +
                 u16(static_cast<int>(rdata.size())) + rdata;
    }
    return reply;
}

}  // namespace nv::test
