#pragma once
// A real SMPP centre for the tests: the npm `smpp` package's server, run by
// tests/peers/smpp_server.js under node as a child process on an ephemeral
// loopback port. It answers as the options say and reports every PDU it
// receives (and every connection) as one JSON line.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace nv::test {

struct TestCertificate;

class NpmSmppServer {
public:
    struct Options {
        std::uint32_t bindStatus = 0;    // command_status of bind_transmitter_resp
        std::uint32_t submitStatus = 0;  // command_status of submit_sm_resp
        bool answerBind = true;          // false: binds are read and never answered
        int queryState = 6;              // message_state of query_sm_resp
        std::string idPrefix = "id";     // submits get ids prefix1, prefix2, ...
        const TestCertificate* tls = nullptr;
    };

    explicit NpmSmppServer(Options options);
    NpmSmppServer() : NpmSmppServer(Options{}) {}
    ~NpmSmppServer();
    NpmSmppServer(const NpmSmppServer&) = delete;
    NpmSmppServer& operator=(const NpmSmppServer&) = delete;

    // 0 when the server did not come up.
    std::uint16_t port() const { return m_port; }

    // Every JSON line so far, in order.
    std::vector<std::string> records();
    // Polls the records until `done` holds for them or `timeout` passes; the records either way.
    std::vector<std::string> recordsWhen(const std::function<bool(const std::vector<std::string>&)>& done,
                                         std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // The records of one command ("bind_transmitter", "submit_sm", ...).
    std::vector<std::string> pdus(const std::string& command);
    // Connections accepted so far.
    int sessions();

    // A field of one JSON line: a string unescaped (\u00XX gives that byte) or
    // a number's text; empty when absent.
    static std::string field(const std::string& line, const std::string& name);
    // The bytes of a "<name>_hex" field.
    static std::string hexField(const std::string& line, const std::string& name);

private:
    // Reads what the pipe holds, waiting at most `wait` for the first byte.
    void pump(std::chrono::milliseconds wait);

    pid_t m_pid = -1;
    int m_out = -1;
    int m_in = -1;  // node's stdin; it ends when this closes
    std::string m_buffer;
    std::vector<std::string> m_lines;
    std::uint16_t m_port = 0;
};

}  // namespace nv::test
