#include <gtest/gtest.h>

#include "tests/peers/TnppPeer.h"

namespace nv::test {

std::uint16_t peerCrc(std::string_view bytes) {
    std::uint16_t crc = 0;
    for (unsigned char b : bytes) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = (crc & 1) ? static_cast<std::uint16_t>((crc >> 1) ^ 0xA001) : crc >> 1;
    }
    return crc;
}

std::string peerCrcText(std::string_view bytes, bool transparent) {
    const std::uint16_t crc = peerCrc(bytes);
    std::string raw{static_cast<char>(crc & 0xFF), static_cast<char>(crc >> 8)};
    if (!transparent) return raw;
    std::string hex = toHex(raw);  // "LL HH"
    return hex.substr(0, 2) + hex.substr(3, 2);
}

std::string showBytes(std::string_view bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char buf[8];
            std::snprintf(buf, sizeof buf, "<%02X>", c);
            out += buf;
        }
    }
    return out;
}

char TnppPeer::next() {
    std::string got = m_pty.read(1, m_wait);
    return got.empty() ? '\0' : got[0];
}

std::string TnppPeer::readPacket() {
    std::string p = m_pty.readUntil(std::string(1, ETX), m_wait);
    if (p.empty() || p.back() != ETX) return {};
    const std::size_t n = m_transparent ? 4 : 2;
    std::string crc = m_pty.read(n, m_wait);
    if (crc.size() != n) return {};
    return p + crc;
}

::testing::AssertionResult TnppPeer::expect(char c) {
    std::string got = m_pty.read(1, m_wait);
    if (got.size() == 1 && got[0] == c) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "expected " << showBytes(std::string(1, c)) << ", got "
                                         << (got.empty() ? std::string("nothing") : showBytes(got));
}

::testing::AssertionResult TnppPeer::silent(std::chrono::milliseconds quiet) {
    std::string got = m_pty.read(1, quiet);
    if (got.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "unexpected " << showBytes(got);
}

std::string TnppPeer::packet(const std::string& header, const std::string& block, bool badCrc) const {
    std::string p = std::string(1, SOH) + header + std::string(1, STX) + block + std::string(1, ETX);
    std::string crc = peerCrcText(p, m_transparent);
    if (badCrc) crc[0] = static_cast<char>(crc[0] == '0' ? '1' : '0');
    return p + crc;
}

void TnppPeer::sendPacket(const std::string& header, const std::string& block, bool badCrc) {
    m_pty.write(packet(header, block, badCrc));
}

std::string TnppPeer::bringUp() {
    if (!expect(ENQ)) return {};
    send(EOT);
    std::string p = readPacket();
    if (!p.empty()) send(ACK);
    return p;
}

}  // namespace nv::test
