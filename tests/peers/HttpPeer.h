#pragma once
// A loopback HTTP/1.1 server for the WCTP tests: records every request's bytes
// and answers with a canned reply (status, body, optional delay). With TLS on
// it presents a self-signed certificate. It also serves as a forward proxy: a
// request in absolute form is answered like any other (and recorded with its
// Proxy-Authorization), a CONNECT is tunnelled to 127.0.0.1:<port asked for>.
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/PeerListener.h"

namespace nv::test {

struct HttpReply {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::string contentType = "text/xml";
    std::chrono::milliseconds delay{0};
};

struct HttpRequest {
    std::string raw;          // request line, headers and body as received
    std::string requestLine;  // without CR LF
    std::string body;
    // The request target's query string (after "?", before the blank); empty when none.
    std::string query() const;
    // Value of the first header `name` (any case), trimmed; empty when absent.
    std::string header(const std::string& name) const;
};

class HttpPeer {
public:
    enum class Tls { Off, On };
    explicit HttpPeer(Tls tls = Tls::Off);
    ~HttpPeer();
    HttpPeer(const HttpPeer&) = delete;
    HttpPeer& operator=(const HttpPeer&) = delete;

    std::uint16_t port() const { return m_listener.port(); }
    void setReply(HttpReply reply);
    // Requests whose body holds `marker` get `reply` instead of the default.
    void addReply(std::string marker, HttpReply reply);
    // Requests whose target's query string (after "?") is exactly `query` get `reply`.
    void addQueryReply(std::string query, HttpReply reply);
    std::vector<HttpRequest> requests() const;
    // TCP connections accepted (TLS handshakes that failed included).
    int connections() const { return m_listener.accepted(); }

private:
    void serve(PeerStream& stream);
    HttpReply replyFor(const HttpRequest& request) const;
    void tunnel(PeerStream& client, const std::string& target);

    Tls m_tls;
    mutable std::mutex m_mutex;
    HttpReply m_default;
    std::vector<std::pair<std::string, HttpReply>> m_rules;
    std::vector<std::pair<std::string, HttpReply>> m_queryRules;
    std::vector<HttpRequest> m_requests;
    PeerListener m_listener;  // last: its threads end before the rest goes
};

}  // namespace nv::test
