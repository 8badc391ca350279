#include "tests/peers/NetSnppServer.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace nv::test {

namespace {
const std::string kScript = std::string(NV_SOURCE_DIR) + "/tests/peers/snpp_server.pl";
}

bool NetSnppServer::available() {
    return std::system("perl -MNet::SNPP::Server -e 1 >/dev/null 2>&1") == 0;
}

NetSnppServer::NetSnppServer(int clients, const std::vector<std::string>& options) {
    int fds[2];
    if (::pipe(fds) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        ::close(fds[0]);
        ::close(fds[1]);
        std::vector<std::string> args{"perl", kScript, std::to_string(clients)};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        ::execvp("perl", argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    m_out = fds[0];
    std::string first = readLine(std::chrono::milliseconds(10000));
    if (first.rfind("PORT ", 0) == 0) m_port = static_cast<std::uint16_t>(std::stoi(first.substr(5)));
}

NetSnppServer::~NetSnppServer() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
}

std::string NetSnppServer::readLine(std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    while (true) {
        auto nl = m_buffer.find('\n');
        if (nl != std::string::npos) {
            std::string line = m_buffer.substr(0, nl);
            m_buffer.erase(0, nl + 1);
            return line;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || m_out < 0) return {};
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        char buf[512];
        ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0) return {};
        m_buffer.append(buf, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> NetSnppServer::pagesUntilDone(std::chrono::milliseconds timeout) {
    std::vector<std::string> pages;
    for (std::string line = readLine(timeout); !line.empty() && line != "DONE"; line = readLine(timeout))
        if (line.rfind("PAGE ", 0) == 0) pages.push_back(line.substr(5));
    return pages;
}

}  // namespace nv::test
