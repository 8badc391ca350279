#include "tests/peers/SmppCentre.h"

#include <chrono>
#include <cstdio>

namespace nv::test {
namespace {

using namespace std::chrono_literals;

std::uint32_t u32(const std::string& s, std::size_t at) {
    return (std::uint32_t(static_cast<unsigned char>(s[at])) << 24) |
           (std::uint32_t(static_cast<unsigned char>(s[at + 1])) << 16) |
           (std::uint32_t(static_cast<unsigned char>(s[at + 2])) << 8) |
           std::uint32_t(static_cast<unsigned char>(s[at + 3]));
}

std::string be32(std::uint32_t v) {
    std::string out;
    for (int sh = 24; sh >= 0; sh -= 8) out += static_cast<char>((v >> sh) & 0xFF);
    return out;
}

constexpr std::uint32_t kBind = 0x00000002, kQuery = 0x00000003, kSubmit = 0x00000004, kUnbind = 0x00000006,
                        kEnquire = 0x00000015, kResp = 0x80000000;

// Skips `count` C-Octet strings from `pos`.
std::size_t skipCStrings(const std::string& body, std::size_t pos, int count) {
    for (int i = 0; i < count && pos < body.size(); ++i) {
        std::size_t nul = body.find('\0', pos);
        pos = nul == std::string::npos ? body.size() : nul + 1;
    }
    return pos;
}

}  // namespace

std::string SmppCentre::pdu(std::uint32_t id, std::uint32_t status, std::uint32_t seq, const std::string& body) {
    return be32(static_cast<std::uint32_t>(16 + body.size())) + be32(id) + be32(status) + be32(seq) + body;
}

std::string SmppCentre::submitDestination(const std::string& body) {
    // service_type, source ton, npi, source_addr, dest ton, npi, destination_addr
    std::size_t pos = skipCStrings(body, 0, 1) + 2;
    pos = skipCStrings(body, pos, 1) + 2;
    std::size_t nul = body.find('\0', pos);
    return body.substr(pos, nul - pos);
}

std::string SmppCentre::submitText(const std::string& body) {
    std::size_t pos = skipCStrings(body, 0, 1) + 2;
    pos = skipCStrings(body, pos, 1) + 2;
    pos = skipCStrings(body, pos, 1) + 3;  // destination, esm_class, protocol_id, priority
    pos = skipCStrings(body, pos, 2) + 4;  // schedule, validity, 4 one-octet fields
    if (pos >= body.size()) return {};
    std::size_t len = static_cast<unsigned char>(body[pos]);
    return body.substr(pos + 1, len);
}

void SmppCentre::serve(PeerConnection& c) {
    for (;;) {
        std::string head = c.recv(16, 3s);
        if (head.size() < 16) return;
        std::string body = c.recv(u32(head, 0) - 16, 3s);
        SmppRecord r{u32(head, 4), u32(head, 8), u32(head, 12), body};
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(r);
        }
        switch (r.commandId) {
            case kBind:
                if (!answerBind) {
                    c.drain(5s);
                    return;
                }
                c.send(pdu(kBind | kResp, bindStatus, r.sequence, std::string("SMSC\0", 5)));
                break;
            case kSubmit: {
                if (enquireBeforeSubmitResp) {
                    c.send(pdu(kEnquire, 0, 900));
                    std::string resp = c.recv(16, 3s);
                    if (resp.size() == 16) {
                        std::lock_guard lock(m_mutex);
                        m_received.push_back({u32(resp, 4), u32(resp, 8), u32(resp, 12), {}});
                    }
                }
                std::string id;
                {
                    std::lock_guard lock(m_mutex);
                    id = "MSG" + std::to_string(++m_submits);
                }
                c.send(pdu(kSubmit | kResp, submitStatus, r.sequence,
                           submitStatus ? std::string() : id + std::string("\0", 1)));
                break;
            }
            case kQuery: {
                std::string id = r.body.substr(0, r.body.find('\0'));
                c.send(pdu(kQuery | kResp, 0, r.sequence,
                           id + std::string("\0\0", 2) + static_cast<char>(queryState) + std::string("\0", 1)));
                break;
            }
            case kUnbind:
                c.send(pdu(kUnbind | kResp, 0, r.sequence));
                return;
            default:
                break;
        }
    }
}

std::vector<SmppRecord> SmppCentre::received() {
    std::lock_guard lock(m_mutex);
    return m_received;
}

namespace {

std::string cimdPacket(int op, int number, const std::vector<std::pair<int, std::string>>& params) {
    char head[40];
    std::snprintf(head, sizeof head, "\x02%02d:%03d\t", op, number);
    std::string out = head;
    for (const auto& [code, value] : params) {
        char p[16];
        std::snprintf(p, sizeof p, "%03d:", code);
        out += p + value + "\t";
    }
    unsigned sum = 0;
    for (unsigned char ch : out) sum += ch;
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", sum & 0xFF);
    return out + cs + "\x03";
}

}  // namespace

void Cimd2Centre::serve(PeerConnection& c) {
    for (;;) {
        std::string raw = c.recvUntil("\x03", 3s);
        std::size_t stx = raw.find('\x02');
        if (raw.empty() || raw.back() != '\x03' || stx == std::string::npos) return;
        std::string body = raw.substr(stx + 1, raw.size() - stx - 2);
        Seen seen;
        std::size_t pos = 0;
        bool first = true;
        while (pos < body.size()) {
            std::size_t tab = body.find('\t', pos);
            if (tab == std::string::npos) break;  // the checksum
            std::string field = body.substr(pos, tab - pos);
            std::size_t colon = field.find(':');
            if (first) {
                seen.operation = std::stoi(field.substr(0, colon));
                seen.number = std::stoi(field.substr(colon + 1));
                first = false;
            } else {
                seen.params[std::stoi(field.substr(0, colon))] = field.substr(colon + 1);
            }
            pos = tab + 1;
        }
        {
            std::lock_guard lock(m_mutex);
            m_received.push_back(seen);
        }
        std::vector<std::pair<int, std::string>> params;
        if (seen.operation == 1 && seen.params[11] != password) params = {{900, "100"}, {901, "Invalid login"}};
        if (seen.operation == 3) {
            std::lock_guard lock(m_mutex);
            char ts[32];
            std::snprintf(ts, sizeof ts, "2612101200%02d", ++m_submits);
            params = {{21, seen.params[21]}, {60, ts}};
        }
        if (seen.operation == 4) params = {{21, seen.params[21]}, {61, statusCode}};
        c.send(cimdPacket(seen.operation + 50, seen.number, params));
        if (seen.operation == 2) return;
    }
}

std::vector<Cimd2Centre::Seen> Cimd2Centre::received() {
    std::lock_guard lock(m_mutex);
    return m_received;
}

}  // namespace nv::test
