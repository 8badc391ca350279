#include "tests/peers/HttpPeer.h"

#include "foundation/FileUtil.h"
#include "tests/peers/PeerNet.h"

namespace nv::test {
namespace {

std::string trim(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n')) text.pop_back();
    std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first);
}

std::size_t contentLength(const std::string& head) {
    HttpRequest probe;
    probe.raw = head;
    std::string value = probe.header("Content-Length");
    return value.empty() ? 0 : static_cast<std::size_t>(std::stoul(value));
}

}  // namespace

std::string HttpRequest::header(const std::string& name) const {
    std::size_t pos = raw.find("\r\n");
    const std::size_t end = raw.find("\r\n\r\n");
    while (pos != std::string::npos && pos < end) {
        std::size_t next = raw.find("\r\n", pos + 2);
        std::string line = raw.substr(pos + 2, next - pos - 2);
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && equalsNoCase(line.substr(0, colon), name))
            return trim(line.substr(colon + 1));
        pos = next;
    }
    return {};
}

HttpPeer::HttpPeer(Tls tls) : m_tls(tls), m_listener("HttpPeer", [this](PeerStream& s) { serve(s); }) {}

HttpPeer::~HttpPeer() = default;

void HttpPeer::setReply(HttpReply reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_default = std::move(reply);
}

void HttpPeer::addReply(std::string marker, HttpReply reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_rules.emplace_back(std::move(marker), std::move(reply));
}

std::vector<HttpRequest> HttpPeer::requests() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

void HttpPeer::addQueryReply(std::string query, HttpReply reply) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_queryRules.emplace_back(std::move(query), std::move(reply));
}

std::string HttpRequest::query() const {
    const std::size_t end = requestLine.rfind(' ');
    const std::size_t mark = requestLine.find('?');
    if (mark == std::string::npos || end == std::string::npos || mark > end) return {};
    return requestLine.substr(mark + 1, end - mark - 1);
}

HttpReply HttpPeer::replyFor(const HttpRequest& request) const {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::string query = request.query();
    for (const auto& [q, reply] : m_queryRules)
        if (q == query) return reply;
    const std::string& body = request.body;
    for (const auto& [marker, reply] : m_rules)
        if (body.find(marker) != std::string::npos) return reply;
    return m_default;
}

void HttpPeer::serve(PeerStream& stream) {
    if (m_tls == Tls::On && !stream.startTls(selfSignedServerContext())) return;
    HttpRequest request;
    std::string head;
    if (!stream.readUntil("\r\n\r\n", head)) return;
    request.requestLine = head.substr(0, head.find("\r\n"));
    if (!stream.readExact(contentLength(head), request.body)) return;
    request.raw = head + request.body;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_requests.push_back(request);
    }
    if (request.requestLine.rfind("CONNECT ", 0) == 0) {
        std::string target = request.requestLine.substr(8);
        tunnel(stream, target.substr(0, target.find(' ')));
        return;
    }
    const HttpReply reply = replyFor(request);
    for (auto end = std::chrono::steady_clock::now() + reply.delay; std::chrono::steady_clock::now() < end;) {
        if (m_listener.stopping()) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stream.write("HTTP/1.1 " + std::to_string(reply.status) + " " + reply.reason + "\r\nContent-Type: " +
                 reply.contentType + "\r\nContent-Length: " + std::to_string(reply.body.size()) +
                 "\r\nConnection: close\r\n\r\n" + reply.body);
}

void HttpPeer::tunnel(PeerStream& client, const std::string& target) {
    const std::size_t colon = target.rfind(':');
    int fd = colon == std::string::npos ? -1 : connectLoopback(static_cast<std::uint16_t>(std::stoi(target.substr(colon + 1))));
    if (fd < 0) {
        client.write("HTTP/1.1 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n");
        return;
    }
    PeerStream server(fd, m_listener.stopping());
    client.write("HTTP/1.1 200 Connection established\r\n\r\n");
    for (;;) {
        std::string bytes;
        if (!client.readSome(bytes, std::chrono::milliseconds(20))) break;
        if (!bytes.empty() && !server.write(bytes)) break;
        if (!server.readSome(bytes, std::chrono::milliseconds(20))) break;
        if (!bytes.empty() && !client.write(bytes)) break;
    }
}

}  // namespace nv::test
