// A burst of SNPP pages through the engine's page workers, in process: the
// intake on a thread of its own (as the inbound reader), the engine's loop on
// the main thread, and an SNPP server on loopback that either never answers
// (each page ends with its Fail line at the greeting's time-out) or answers at
// once. Reports the peak thread count and resident memory of the process,
// the result lines and pages per second.
//
//   nv_page_burst silent|quick [pages] [workers]
//
// workers 0: a thread per page, no bound (how the workers ran before).
#include <poll.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "foundation/RecordAccess.h"
#include "foundation/Records.h"
#include "foundation/UserPrompt.h"
#include "service/SrvcMainFrm.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// One thread, poll over every connection: `quick` greets and answers each
// line at once; otherwise the server accepts and stays silent, closing its
// side when the client goes.
class SnppServer {
public:
    explicit SnppServer(bool quick) : m_quick(quick) {
        m_listen = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(m_listen, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(m_listen, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(m_listen, 4096) != 0) {
            std::perror("listen");
            std::exit(2);
        }
        socklen_t len = sizeof a;
        ::getsockname(m_listen, reinterpret_cast<sockaddr*>(&a), &len);
        m_port = ntohs(a.sin_port);
        m_thread = std::thread([this] { run(); });
    }
    ~SnppServer() {
        m_stop = true;
        m_thread.join();
        for (auto& [fd, buf] : m_conns) ::close(fd);
        ::close(m_listen);
    }
    std::uint16_t port() const { return m_port; }

private:
    void answer(int fd, std::string& buf) {
        for (std::size_t end; (end = buf.find("\r\n")) != std::string::npos;) {
            std::string verb = buf.substr(0, std::min(end, buf.find(' ')));
            for (auto& c : verb) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            buf.erase(0, end + 2);
            const char* reply = verb == "PAGE"   ? "250 Pager ID Accepted\r\n"
                                : verb == "MESS" ? "250 Message OK\r\n"
                                : verb == "SEND" ? "250 Message Sent Successfully\r\n"
                                : verb == "QUIT" ? "221 OK, Goodbye\r\n"
                                                 : "250 OK\r\n";
            (void)!::write(fd, reply, std::strlen(reply));
        }
    }
    void run() {
        while (!m_stop) {
            std::vector<pollfd> fds{{m_listen, POLLIN, 0}};
            for (auto& [fd, buf] : m_conns) fds.push_back({fd, POLLIN, 0});
            if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
            if (fds[0].revents & POLLIN) {
                int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
                if (fd >= 0) {
                    m_conns[fd];
                    if (m_quick) (void)!::write(fd, "220 SNPP Gateway Ready\r\n", 24);
                }
            }
            for (std::size_t i = 1; i < fds.size(); ++i) {
                if (!fds[i].revents) continue;
                char chunk[1024];
                const ssize_t n = ::read(fds[i].fd, chunk, sizeof chunk);
                if (n <= 0) {
                    ::close(fds[i].fd);
                    m_conns.erase(fds[i].fd);
                } else if (m_quick) {
                    auto& buf = m_conns[fds[i].fd];
                    buf.append(chunk, static_cast<std::size_t>(n));
                    answer(fds[i].fd, buf);
                }
            }
        }
    }

    bool m_quick;
    int m_listen = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::map<int, std::string> m_conns;
    std::thread m_thread;
};

long statusField(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string k = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.rfind(k, 0) == 0) return std::atol(line.c_str() + k.size());
    return 0;
}

void writeRecords(const fs::path& dir, std::uint16_t port) {
    nv::UnattendedPrompt prompt(nullptr);
    nv::RouteRec r;
    r.setRouteName("Default");
    r.setNPANXX("0000000000");
    r.setProvider("Burst");
    r.setSecProvider("NONE");
    r.setEnabled(1);
    nv::storeRecord(nv::RouteRec::kKind, dir, r.data(), nv::SlotRule::Append, prompt);
    nv::ProviderRec p;
    p.setCompanyName("Burst");
    p.setDeliveryType(nv::dtSnpp);
    p.setSNPPServer("127.0.0.1");
    p.setSNPPPort(std::to_string(port));
    p.setSNPPSecure(-1);
    p.setMsgLength(200);
    nv::storeRecord(nv::ProviderRec::kKind, dir, p.data(), nv::SlotRule::Append, prompt);
}

}  // namespace

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "quick";
    const int pages = argc > 2 ? std::atoi(argv[2]) : 10000;
    const long workers = argc > 3 ? std::atol(argv[3]) : static_cast<long>(nv::kMaxPageWorkers);

    std::string tmpl = (fs::temp_directory_path() / "nvburst.XXXXXX").string();
    const fs::path dir = ::mkdtemp(tmpl.data());
    SnppServer server(quick);
    writeRecords(dir, server.port());

    std::atomic<int> ok{0}, fail{0};
    nv::EventLoop loop;
    nv::EngineOptions o;
    o.dataDir = dir;
    o.startPause = o.stopPause = o.cancelPause = 0ms;
    o.snpp.connectWait = 1000ms;  // the silent server's pages end at this time-out
    o.pageWorkers = workers > 0 ? static_cast<std::size_t>(workers) : static_cast<std::size_t>(-1);
    // The written line carries its time stamp before the text.
    o.logEcho = [&](const std::string& line) {
        if (line.find("[SNPP Delivery OK]") != std::string::npos) ++ok;
        else if (line.find("[SNPP Delivery Fail]") != std::string::npos) ++fail;
    };
    auto engine = std::make_unique<nv::TNerivaleSvcMain>(loop, o);
    engine->StartServer();

    std::atomic<bool> sampling{true};
    std::atomic<long> peakThreads{0};
    std::thread sampler([&] {
        while (sampling) {
            peakThreads = std::max(peakThreads.load(), statusField("Threads"));
            std::this_thread::sleep_for(5ms);
        }
    });
    const auto t0 = std::chrono::steady_clock::now();
    std::atomic<int> accepted{0};
    std::thread intake([&] {
        for (int i = 0; i < pages; ++i) {
            bool submitted = false;
            engine->KORTap1MsgReceived(nullptr, "555" + std::to_string(1000000 + i), "burst page " + std::to_string(i),
                                       submitted);
            if (submitted) ++accepted;
        }
    });
    const auto bound = std::chrono::steady_clock::now() + 15min;
    while (ok + fail < pages && std::chrono::steady_clock::now() < bound) loop.pumpFor(20ms);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    intake.join();
    sampling = false;
    sampler.join();
    const long peakRssKb = statusField("VmHWM");
    engine.reset();
    std::error_code ec;
    fs::remove_all(dir, ec);

    std::printf("%s server, %d pages, workers %s: accepted %d, OK lines %d, Fail lines %d\n",
                quick ? "quick" : "silent", pages, workers > 0 ? std::to_string(workers).c_str() : "unbounded",
                accepted.load(), ok.load(), fail.load());
    std::printf("peak threads %ld, peak RSS %.1f MB, %.1f s, %.0f pages/s\n", peakThreads.load(), peakRssKb / 1024.0,
                seconds, pages / seconds);
    return ok + fail == pages ? 0 : 1;
}
