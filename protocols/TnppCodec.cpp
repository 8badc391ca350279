#include "protocols/TnppCodec.h"

#include <cstdio>

#include "protocols/CRC16.h"

namespace nv::tnpp {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

std::string hex(std::uint32_t value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*X", width, static_cast<unsigned>(value));
    return buf;
}

bool isHexDigit(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

unsigned hexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return static_cast<unsigned>(c - 'a' + 10);
}

// Header digits follow the SOH: destination 1-4, inertia 5-6, source 7-10,
// serial 11-12.
constexpr std::size_t kInertiaPos = 5;

}  // namespace

std::size_t packetLimit(tPacketSize size) { return size == tPacketSize::ps1024 ? 1024 : 4096; }

std::size_t crcLength(bool transparent) { return transparent ? 4 : 2; }

std::string formatHeader(std::uint32_t dest, std::uint32_t inertia, std::uint32_t source, std::uint32_t serial) {
    return hex(dest, 4) + hex(inertia, 2) + hex(source, 4) + hex(serial, 2);
}

bool headerFits(std::uint32_t dest, std::uint32_t inertia, std::uint32_t source, std::uint32_t serial) {
    return dest <= 0xFFFF && inertia <= 0xFF && source <= 0xFFFF && serial <= 0xFF;
}

std::string GetCRC(std::string_view text, bool transparent) {
    const std::uint16_t crc = crc16(text);
    const auto lo = static_cast<unsigned char>(crc & 0xFF);
    const auto hi = static_cast<unsigned char>(crc >> 8);
    if (!transparent) return std::string{static_cast<char>(lo), static_cast<char>(hi)};
    return std::string{kHex[lo >> 4], kHex[lo & 15], kHex[hi >> 4], kHex[hi & 15]};
}

std::optional<std::string> idField(std::string_view id) {
    if (id.size() > kIdLength) return std::nullopt;
    std::string out(id);
    out.resize(kIdLength, ' ');
    return out;
}

std::size_t maxIdPageText(tPacketSize size, bool transparent) {
    // SOH, 12 header digits, STX, "B@", the ID, ETX, CRC.
    const std::size_t overhead = 1 + kHeaderDigits + 1 + 2 + kIdLength + 1 + crcLength(transparent);
    return packetLimit(size) - overhead;
}

std::string buildIdPagePacket(std::string_view header, std::string_view id10, std::string_view text, bool transparent) {
    std::string p;
    p.reserve(1 + header.size() + 4 + id10.size() + text.size() + 1 + 4);
    p += SOH;
    p += header;
    p += STX;
    p += "B@";
    p += id10;
    p += text;
    p += ETX;
    p += GetCRC(p, transparent);
    return p;
}

std::string buildLinkStartPacket(std::string_view header, bool stx, bool transparent) {
    std::string p;
    p += SOH;
    p += header;
    if (stx) p += STX;
    p += ETX;
    p += GetCRC(p, transparent);
    return p;
}

bool crcMatches(std::string_view packet, bool transparent) {
    const std::size_t n = crcLength(transparent);
    if (packet.size() < n) return false;
    const auto data = packet.substr(0, packet.size() - n);
    return GetCRC(data, transparent) == packet.substr(packet.size() - n);
}

std::optional<std::string> headerDigits(std::string_view packet) {
    if (packet.size() < 1 + kHeaderDigits) return std::nullopt;
    auto digits = packet.substr(1, kHeaderDigits);
    for (char c : digits)
        if (!isHexDigit(c)) return std::nullopt;
    return std::string(digits);
}

unsigned packetInertia(std::string_view packet) {
    return hexValue(packet[kInertiaPos]) * 16 + hexValue(packet[kInertiaPos + 1]);
}

std::string withInertia(std::string_view packet, unsigned inertia) {
    std::string out(packet);
    out.replace(kInertiaPos, 2, hex(inertia & 0xFF, 2));
    return out;
}

bool isLinkStartPacket(std::string_view packet) { return packet.substr(1, 4) == "0000"; }

char blockType(std::string_view packet) { return packet.size() > 14 ? packet[14] : '\0'; }

std::string replyName(char rsp) {
    switch (rsp) {
        case ACK: return "ACK";
        case NAK: return "NAK";
        case CAN: return "CAN";
        case RS: return "RS";
        default: return "Unknown";
    }
}

std::string logText(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (char c : bytes) {
        if (c == '\0' || c == '\r' || c == '\n') {
            out += '<';
            out += kHex[static_cast<unsigned char>(c) >> 4];
            out += kHex[static_cast<unsigned char>(c) & 15];
            out += '>';
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace nv::tnpp
