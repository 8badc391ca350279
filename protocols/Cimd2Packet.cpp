#include "protocols/Cimd2Packet.h"

#include <cstdio>
#include <cstdlib>

namespace nv::cimd2 {

std::optional<std::string> Packet::param(int code) const {
    for (const auto& [c, v] : params)
        if (c == code) return v;
    return std::nullopt;
}

std::string checksum(std::string_view bytes) {
    unsigned sum = 0;
    for (char c : bytes) sum = (sum + static_cast<unsigned char>(c)) & 0xFF;
    char out[3];
    std::snprintf(out, sizeof out, "%02X", sum);
    return out;
}

std::string encode(const Packet& packet) {
    char head[40];
    std::snprintf(head, sizeof head, "%02d:%03d", packet.operation % 100, packet.number % 1000);
    std::string out;
    out += kStx;
    out += head;
    out += kTab;
    for (const auto& [code, value] : packet.params) {
        char p[16];
        std::snprintf(p, sizeof p, "%03d:", code % 1000);
        out += p;
        out += value;
        out += kTab;
    }
    out += checksum(out);
    out += kEtx;
    return out;
}

namespace {

// Operation codes, packet numbers and parameter codes are at most three digits
// on the wire. A longer number used to overflow the int and could wrap onto a
// real operation ("4294967347" read as 51, a login response); anything above
// the bound now makes the packet malformed.
constexpr int kMaxNumber = 999;

bool parseNumber(std::string_view text, int& out) {
    if (text.empty()) return false;
    int v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
        if (v > kMaxNumber) return false;
    }
    out = v;
    return true;
}

bool isHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

Parse takePacket(std::string& buffer, Packet& out) {
    std::size_t stx = buffer.find(kStx);
    if (stx == std::string::npos) {
        buffer.clear();
        return Parse::NeedMore;
    }
    buffer.erase(0, stx);
    std::size_t etx = buffer.find(kEtx);
    if (etx == std::string::npos) return buffer.size() > 64 * 1024 ? (buffer.clear(), Parse::Invalid) : Parse::NeedMore;
    std::string raw = buffer.substr(0, etx);  // STX .. before ETX
    buffer.erase(0, etx + 1);

    std::size_t lastTab = raw.rfind(kTab);
    if (lastTab == std::string::npos) return Parse::Invalid;
    std::string tail = raw.substr(lastTab + 1);
    if (tail.size() == 2 && isHex(tail[0]) && isHex(tail[1])) {
        std::string want = checksum(std::string_view(raw).substr(0, lastTab + 1));
        if (std::strtol(tail.c_str(), nullptr, 16) != std::strtol(want.c_str(), nullptr, 16)) return Parse::Invalid;
    } else if (!tail.empty()) {
        return Parse::Invalid;
    }

    Packet p;
    // Between STX and the last TAB, both left out.
    std::string_view body = std::string_view(raw).substr(1, lastTab - 1);
    std::size_t pos = 0;
    bool first = true;
    while (pos <= body.size()) {
        std::size_t tab = body.find(kTab, pos);
        std::string_view field = body.substr(pos, tab == std::string_view::npos ? std::string_view::npos : tab - pos);
        std::size_t colon = field.find(':');
        if (colon == std::string_view::npos) return Parse::Invalid;
        int code = 0;
        if (first) {
            if (!parseNumber(field.substr(0, colon), p.operation) || !parseNumber(field.substr(colon + 1), p.number))
                return Parse::Invalid;
            first = false;
        } else {
            if (!parseNumber(field.substr(0, colon), code)) return Parse::Invalid;
            p.params.emplace_back(code, std::string(field.substr(colon + 1)));
        }
        if (tab == std::string_view::npos) break;
        pos = tab + 1;
    }
    out = std::move(p);
    return Parse::Complete;
}

std::string encodeUserData(std::string_view text) {
    std::string out;
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        const char* combo = nullptr;
        switch (c) {
            case '@': combo = "_Oa"; break;
            case '_': combo = "_--"; break;
            case 0xA3: combo = "_L-"; break;  // £
            case 0xA5: combo = "_Y-"; break;  // ¥
            case 0xA7: combo = "_SS"; break;  // §
            case 0xA1: combo = "_!!"; break;  // ¡
            case 0xBF: combo = "_??"; break;  // ¿
            case 0xE8: combo = "_e`"; break;
            case 0xE9: combo = "_e'"; break;
            case 0xF9: combo = "_u`"; break;
            case 0xEC: combo = "_i`"; break;
            case 0xF2: combo = "_o`"; break;
            case 0xE0: combo = "_a`"; break;
            case 0xC7: combo = "_C,"; break;
            case 0xD8: combo = "_O/"; break;
            case 0xF8: combo = "_o/"; break;
            case 0xC5: combo = "_A*"; break;
            case 0xE5: combo = "_a*"; break;
            case 0xC6: combo = "_AE"; break;
            case 0xE6: combo = "_ae"; break;
            case 0xDF: combo = "_ss"; break;
            case 0xC9: combo = "_E'"; break;
            case 0xC4: combo = "_A\""; break;
            case 0xD6: combo = "_O\""; break;
            case 0xD1: combo = "_N~"; break;
            case 0xDC: combo = "_U\""; break;
            case 0xE4: combo = "_a\""; break;
            case 0xF6: combo = "_o\""; break;
            case 0xF1: combo = "_n~"; break;
            case 0xFC: combo = "_u\""; break;
            default: break;
        }
        if (combo) out += combo;
        else if (c < 0x20 || c == 0x7F) out += ' ';
        else if (c >= 0x80) out += '?';
        else out += ch;
    }
    return out;
}

int statusToSmppState(int s) {
    switch (s) {
        case 1: return 1;
        case 2: return 3;
        case 3: return 5;
        case 4: return 2;
        case 5: return 1;
        case 6: return 5;
        case 7:
        case 8:
        case 9: return 4;
        default: return 7;
    }
}

}  // namespace nv::cimd2
