#include "tests/peers/NpmSmppServer.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>

#include "tests/peers/LoopbackServer.h"

extern char** environ;

namespace nv::test {

namespace {

const std::string kScript = std::string(NV_SOURCE_DIR) + "/tests/peers/smpp_server.js";

void appendUtf8(std::string& out, unsigned code) {
    if (code < 0x100) {
        out += static_cast<char>(code);  // the script writes bytes as latin1
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

NpmSmppServer::NpmSmppServer(Options options) {
    std::vector<std::string> args{NV_NODE_EXECUTABLE, kScript, "--modules", NV_NPM_MODULES,
                                  "--bind-status", std::to_string(options.bindStatus),
                                  "--submit-status", std::to_string(options.submitStatus),
                                  "--query-state", std::to_string(options.queryState),
                                  "--id-prefix", options.idPrefix};
    if (!options.answerBind) args.push_back("--no-bind-answer");
    if (options.tls) {
        args.insert(args.end(), {"--key", options.tls->keyFile.string(), "--cert", options.tls->certFile.string()});
    }

    int out[2], in[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    if (::pipe2(in, O_CLOEXEC) != 0) {
        ::close(out[0]);
        ::close(out[1]);
        return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    m_in = in[1];
    m_out = out[0];
    if (rc != 0) return;
    m_pid = pid;

    // node starts slowly on a loaded machine; the port is its first line.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (m_lines.empty() && std::chrono::steady_clock::now() < until && m_out >= 0)
        pump(std::chrono::milliseconds(200));
    if (m_lines.empty()) return;
    std::string first = m_lines.front();
    m_lines.erase(m_lines.begin());
    if (!first.empty() && std::all_of(first.begin(), first.end(), [](char c) { return c >= '0' && c <= '9'; }))
        m_port = static_cast<std::uint16_t>(std::stoi(first));
}

NpmSmppServer::~NpmSmppServer() {
    if (m_in >= 0) ::close(m_in);
    if (m_pid > 0) {
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_out >= 0) ::close(m_out);
}

void NpmSmppServer::pump(std::chrono::milliseconds wait) {
    if (m_out < 0) return;
    int timeout = static_cast<int>(wait.count());
    while (true) {
        pollfd p{m_out, POLLIN, 0};
        if (::poll(&p, 1, timeout) <= 0) break;
        char buf[4096];
        ssize_t n = ::read(m_out, buf, sizeof buf);
        if (n <= 0) {
            ::close(m_out);
            m_out = -1;
            break;
        }
        m_buffer.append(buf, static_cast<std::size_t>(n));
        timeout = 0;
    }
    for (auto nl = m_buffer.find('\n'); nl != std::string::npos; nl = m_buffer.find('\n')) {
        m_lines.push_back(m_buffer.substr(0, nl));
        m_buffer.erase(0, nl + 1);
    }
}

std::vector<std::string> NpmSmppServer::records() {
    pump(std::chrono::milliseconds(0));
    return m_lines;
}

std::vector<std::string> NpmSmppServer::recordsWhen(
    const std::function<bool(const std::vector<std::string>&)>& done, std::chrono::milliseconds timeout) {
    auto until = std::chrono::steady_clock::now() + timeout;
    pump(std::chrono::milliseconds(0));
    while (!done(m_lines) && std::chrono::steady_clock::now() < until && m_out >= 0)
        pump(std::chrono::milliseconds(50));
    return m_lines;
}

std::vector<std::string> NpmSmppServer::pdus(const std::string& command) {
    std::vector<std::string> out;
    for (const auto& l : records())
        if (field(l, "command") == command) out.push_back(l);
    return out;
}

int NpmSmppServer::sessions() {
    auto all = records();
    return static_cast<int>(std::count_if(all.begin(), all.end(),
                                          [](const std::string& l) { return field(l, "event") == "session"; }));
}

std::string NpmSmppServer::field(const std::string& line, const std::string& name) {
    // The script writes flat objects, so a key is found by its quoted name and colon.
    std::string key = "\"" + name + "\":";
    auto at = line.find(key);
    if (at == std::string::npos) return {};
    std::size_t i = at + key.size();
    std::string out;
    if (i < line.size() && line[i] != '"') {
        while (i < line.size() && line[i] != ',' && line[i] != '}') out += line[i++];
        return out;
    }
    for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (line[i] != '\\' || i + 1 >= line.size()) {
            out += line[i];
            continue;
        }
        char e = line[++i];
        switch (e) {
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                unsigned code = 0;
                for (int k = 0; k < 4 && i + 1 < line.size(); ++k) code = code * 16 + hexDigit(line[++i]);
                appendUtf8(out, code);
                break;
            }
            default: out += e; break;  // \" \\ \/
        }
    }
    return out;
}

std::string NpmSmppServer::hexField(const std::string& line, const std::string& name) {
    std::string hex = field(line, name + "_hex");
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(hexDigit(hex[i]) * 16 + hexDigit(hex[i + 1]));
    return out;
}

}  // namespace nv::test
