// The CIMD2 client against a message centre that is not ours: the test centre
// Debian ships in kannel-extras.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "protocols/SmppClient.h"
#include "tests/peers/PeerNet.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

constexpr const char* kCentre = "/usr/lib/kannel/test/test_cimd2";

class RealCentre {
public:
    RealCentre() : m_port(test::freeLoopbackPort()) {
        m_pid = ::fork();
        if (m_pid == 0) {
            std::string port = std::to_string(m_port);
            ::execl(kCentre, kCentre, "--port", port.c_str(), "--user", "nvuser", "--password", "nvpass",
                    "--activity", "1", static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~RealCentre() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    std::uint16_t port() const { return m_port; }

    // Probing with a connection would use up the centre (it serves one client),
    // so look for its listening socket instead.
    bool waitListening() {
        char want[8];
        std::snprintf(want, sizeof want, ":%04X", m_port);
        for (int i = 0; i < 200; ++i) {
            std::ifstream tcp("/proc/net/tcp");
            std::string line;
            while (std::getline(tcp, line)) {
                std::istringstream fields(line);
                std::string slot, local, remote, state;
                fields >> slot >> local >> remote >> state;
                if (state == "0A" && local.size() > 5 && local.substr(local.size() - 5) == want) return true;
            }
            std::this_thread::sleep_for(25ms);
        }
        return false;
    }

private:
    std::uint16_t m_port;
    pid_t m_pid = -1;
};

SmppClient::Settings cimd2To(std::uint16_t port, const std::string& password) {
    SmppClient::Settings s;
    s.server = "127.0.0.1";
    s.port = port;
    s.userId = "nvuser";
    s.password = password;
    s.protocol = SmppClient::kCimd2;
    return s;
}

TEST(Cimd2RealCentre, LoginSubmitLogoutAndABadPassword) {
    if (!std::filesystem::exists(kCentre)) GTEST_SKIP() << "kannel-extras is not installed";
    RealCentre centre;
    ASSERT_TRUE(centre.waitListening());

    SmppClient good(cimd2To(centre.port(), "nvpass"));
    ASSERT_TRUE(good.connect(3s)) << good.lastError();
    std::string id;
    EXPECT_TRUE(good.sendMessage("5551234", "Hello from the gateway", id)) << good.lastError();
    good.disconnect();

    RealCentre other;
    ASSERT_TRUE(other.waitListening());
    SmppClient bad(cimd2To(other.port(), "wrong"));
    EXPECT_FALSE(bad.connect(3s));
    EXPECT_EQ(bad.lastError().rfind("CIMD2 error", 0), 0u) << bad.lastError();
    bad.disconnect();
}

}  // namespace
}  // namespace nv
