#pragma once
// A scripted TNPP peer on the far end of a pseudo-terminal. It knows the wire
// format from the protocol's description and computes its own CRC (bitwise,
// not the link's table), so the link's bytes are checked against an
// independent generator.
#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "tests/peers/TestSupport.h"

namespace nv::test {

std::uint16_t peerCrc(std::string_view bytes);
// Two raw bytes low first, or their four hex digits.
std::string peerCrcText(std::string_view bytes, bool transparent);

class TnppPeer {
public:
    static constexpr char SOH = 0x01, STX = 0x02, ETX = 0x03, EOT = 0x04, ENQ = 0x05, ACK = 0x06,
                          NAK = 0x15, CAN = 0x18, RS = 0x1E;

    explicit TnppPeer(PtyPair& pty, bool transparent, std::chrono::milliseconds wait = std::chrono::seconds(5))
        : m_pty(pty), m_transparent(transparent), m_wait(wait) {}

    // The next byte from the link (0 on time-out, which no test expects).
    char next();
    // The next packet, SOH through ETX and its CRC; empty on time-out.
    std::string readPacket();
    // Reads the next byte and checks it is `c`; false with a message otherwise.
    ::testing::AssertionResult expect(char c);
    // Nothing at all arrives within `quiet`.
    ::testing::AssertionResult silent(std::chrono::milliseconds quiet);

    void send(char c) { m_pty.write(std::string(1, c)); }
    void sendRaw(const std::string& bytes) { m_pty.write(bytes); }
    // SOH header STX block ETX and a CRC (spoilt when `badCrc`).
    void sendPacket(const std::string& header, const std::string& block, bool badCrc = false);
    std::string packet(const std::string& header, const std::string& block, bool badCrc = false) const;

    // ENQ in, EOT out, the link-start packet in (returned), ACK out.
    std::string bringUp();

    PtyPair& pty() { return m_pty; }

private:
    PtyPair& m_pty;
    bool m_transparent;
    std::chrono::milliseconds m_wait;
};

// Printable form of wire bytes for failure messages.
std::string showBytes(std::string_view bytes);

}  // namespace nv::test
