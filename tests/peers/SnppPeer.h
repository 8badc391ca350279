#pragma once
// A scripted SNPP server on loopback (plain or TLS): greets, answers each
// command line from a table by its verb, and records every line of every
// connection as received, so tests can assert the exact dialogue.
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "tests/peers/LoopbackServer.h"

namespace nv::test {

class SnppPeer {
public:
    struct Script {
        std::string greeting = "220 SNPP Gateway Ready";
        bool greet = true;  // false: accept and stay silent
        // Replies by upper-case verb. A verb mapped to "" gets no reply at all.
        std::map<std::string, std::string> replies{
            {"LOGI", "250 Login OK"},
            {"COVE", "250 Alternate Coverage Selected"},
            {"2WAY", "250 OK, Beginning 2-Way Transaction"},
            {"PAGE", "250 Pager ID Accepted"},
            {"MESS", "250 Message OK"},
            {"SEND", "250 Message Sent Successfully"},
            {"MSTA", "960 ABC123 XYZ Delivered"},
            {"QUIT", "221 OK, Goodbye"},
        };
        // SEND's reply once 2WAY was accepted on the connection.
        std::string twoWaySend = "960 ABC123 XYZ OK, Message QUEUED for Delivery";
        // Replies that differ on connection n (1-based): verb -> reply.
        std::map<int, std::map<std::string, std::string>> perConnection;
    };

    explicit SnppPeer(Script script, const TestCertificate* tls = nullptr);
    ~SnppPeer();

    std::uint16_t port() const;
    int connections() const;
    // The lines of connection n (1-based) without CR LF, in order.
    std::vector<std::string> lines(int n) const;
    // Every byte connection n sent, CR LF included.
    std::string raw(int n) const;
    // Waits until connection n has been closed by the client.
    bool waitClosed(int n, std::chrono::milliseconds timeout) const;
    std::string serverName(int n) const;

private:
    void serve(PeerConnection& c);

    Script m_script;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_raw;
    std::vector<bool> m_closed;
    std::vector<std::string> m_names;
    std::unique_ptr<LoopbackServer> m_server;
};

}  // namespace nv::test
