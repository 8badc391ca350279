#pragma once
// Debian's Net::SNPP::Server (libnet-snpp-perl), run by tests/peers/snpp_server.pl
// as a child process on an ephemeral loopback port.
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

namespace nv::test {

class NetSnppServer {
public:
    // True when perl and Net::SNPP::Server are installed.
    static bool available();

    // Serves `clients` connections, then ends. Options as the script takes them.
    NetSnppServer(int clients, const std::vector<std::string>& options = {});
    ~NetSnppServer();
    NetSnppServer(const NetSnppServer&) = delete;
    NetSnppServer& operator=(const NetSnppServer&) = delete;

    std::uint16_t port() const { return m_port; }
    // "PAGE <id>;<message>" lines printed so far, up to the script's end or `timeout`.
    std::vector<std::string> pagesUntilDone(std::chrono::milliseconds timeout);

private:
    std::string readLine(std::chrono::milliseconds timeout);

    pid_t m_pid = -1;
    int m_out = -1;
    std::string m_buffer;
    std::uint16_t m_port = 0;
};

}  // namespace nv::test
