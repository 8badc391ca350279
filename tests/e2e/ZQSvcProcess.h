#pragma once
// Runs the ZQSvc program for a whole-program test: its own install file (through
// NERIVALE_CONF), its output in files, a signal, the exit status.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TestSupport.h"

extern char** environ;

namespace nv::test {

class ZQSvcProcess {
public:
    ZQSvcProcess(const std::filesystem::path& program, const std::filesystem::path& installFile,
                 const std::filesystem::path& outDir, const std::vector<std::string>& args = {}) {
        std::vector<std::string> env;
        for (char** e = environ; *e; ++e)
            if (std::strncmp(*e, "NERIVALE_CONF=", 14) != 0) env.emplace_back(*e);
        env.push_back("NERIVALE_CONF=" + installFile.string());
        std::vector<char*> envp;
        for (auto& e : env) envp.push_back(e.data());
        envp.push_back(nullptr);
        std::vector<std::string> argStore{program.string()};
        argStore.insert(argStore.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : argStore) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 1, (outDir / "stdout.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&fa, 2, (outDir / "stderr.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        int rc = posix_spawn(&m_pid, program.c_str(), &fa, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&fa);
        if (rc != 0) throw std::runtime_error("cannot start " + program.string());
    }
    ~ZQSvcProcess() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            int st = 0;
            ::waitpid(m_pid, &st, 0);
        }
    }
    ZQSvcProcess(const ZQSvcProcess&) = delete;
    ZQSvcProcess& operator=(const ZQSvcProcess&) = delete;

    void signal(int sig) { ::kill(m_pid, sig); }

    // The exit status once the program ended within `timeout`; -1 for a death by signal.
    std::optional<int> waitExit(std::chrono::milliseconds timeout) {
        auto until = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            int st = 0;
            pid_t r = ::waitpid(m_pid, &st, WNOHANG);
            if (r == m_pid) {
                m_exited = true;
                return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
            }
            if (std::chrono::steady_clock::now() >= until) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
};

// The install file of a run whose data directory is `dir` itself, plus `extra`
// lines of its [Nerivale] section ("Key=value\r\n" each).
inline void writeInstallFile(const std::filesystem::path& dir, const std::string& extra = {}) {
    writeFile(dir / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + dir.string() + "\r\n" + extra);
}

// Config.Dat's inbound port section: COM1 at 9600, 8,N,1, no flow control,
// blocks of up to 230 characters, long texts refused rather than cut.
inline constexpr const char* kInboundPortSection =
    "[Nerivale Port]\r\nEnabled=1\r\nComPort=0\r\nComSpeed=6\r\nDataSettings=1\r\nFlowCtrl=0\r\n"
    "Length=230\r\nTruncateMsgs=0\r\n";

}  // namespace nv::test
