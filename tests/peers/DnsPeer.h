#pragma once
// A tiny DNS responder on 127.0.0.1 (UDP, ephemeral port) for the MX tests:
// answers MX questions from its table, in the order records were added; a
// name it does not know gets NXDOMAIN, and it can be told to answer SERVFAIL.
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nv::test {

class DnsPeer {
public:
    DnsPeer();
    ~DnsPeer();
    DnsPeer(const DnsPeer&) = delete;
    DnsPeer& operator=(const DnsPeer&) = delete;

    std::uint16_t port() const { return m_port; }
    std::string address() const { return "127.0.0.1:" + std::to_string(m_port); }
    void addMx(const std::string& domain, int preference, const std::string& host);
    void addDomain(const std::string& domain);  // exists, but has no MX records
    void setServerFailure(bool on) { m_servfail = on; }
    int queries() const { return m_queries; }

private:
    void loop();
    std::string answer(const std::string& query);

    int m_fd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_servfail{false};
    std::atomic<int> m_queries{0};
    std::mutex m_mutex;
    std::map<std::string, std::vector<std::pair<int, std::string>>> m_zone;  // lower-case names
    std::thread m_thread;
};

}  // namespace nv::test
