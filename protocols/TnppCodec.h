#pragma once
// TNPP wire format: packet headers, ID-page and link-start packets, the CRC
// in raw and transparent form, and the checks made on a received packet.
// No I/O and no clock; the link (KORTNPP) drives these.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace nv {

enum class tPacketSize { ps1024, ps4096 };

namespace tnpp {

inline constexpr char SOH = 0x01;
inline constexpr char STX = 0x02;
inline constexpr char ETX = 0x03;
inline constexpr char EOT = 0x04;
inline constexpr char ENQ = 0x05;
inline constexpr char ACK = 0x06;
inline constexpr char NAK = 0x15;
inline constexpr char CAN = 0x18;
inline constexpr char RS = 0x1E;

inline constexpr std::size_t kHeaderDigits = 12;
inline constexpr std::size_t kIdLength = 10;
inline constexpr std::size_t kSerNumListSize = 64;

std::size_t packetLimit(tPacketSize size);
// Characters of the CRC on the wire: two raw bytes, or four hex digits.
std::size_t crcLength(bool transparent);

// The 12 header digits, "%4.4X%2.2X%4.4X%2.2X". A value wider than its field
// prints more digits, as the format does; headerFits tells beforehand.
std::string formatHeader(std::uint32_t dest, std::uint32_t inertia, std::uint32_t source, std::uint32_t serial);
bool headerFits(std::uint32_t dest, std::uint32_t inertia, std::uint32_t source, std::uint32_t serial);

// CRC-16 of `text` from 0: raw, two bytes low byte first; transparent, four
// upper-case hex digits, the low byte's first.
std::string GetCRC(std::string_view text, bool transparent);

// The ID field: padded with blanks to 10; an ID longer than 10 is refused
// (cutting it would page another subscriber's number).
std::optional<std::string> idField(std::string_view id);

// Longest text an ID page may carry so that the packet, framing and CRC
// included, stays within `size`.
std::size_t maxIdPageText(tPacketSize size, bool transparent);

// SOH header STX "B" "@" id text ETX CRC. `header` is the 12 digits.
std::string buildIdPagePacket(std::string_view header, std::string_view id10, std::string_view text, bool transparent);
// SOH header [STX] ETX CRC.
std::string buildLinkStartPacket(std::string_view header, bool stx, bool transparent);

// Received packets (SOH through the CRC).
bool crcMatches(std::string_view packet, bool transparent);
// The 12 header digits when all of them are hex digits.
std::optional<std::string> headerDigits(std::string_view packet);
// Inertia digits as a number (header already checked).
unsigned packetInertia(std::string_view packet);
// The packet with its inertia digits replaced by `inertia` (two hex digits).
std::string withInertia(std::string_view packet, unsigned inertia);
bool isLinkStartPacket(std::string_view packet);
// The block type: the character after STX (the 15th); 0 when too short.
char blockType(std::string_view packet);

// "ACK", "NAK", "CAN", "RS", or "Unknown" for any other reply character.
std::string replyName(char rsp);

// Event and log text of wire bytes: NUL, CR and LF (possible in a raw CRC)
// become <00>, <0D>, <0A> so a log line stays one line; all else is kept.
std::string logText(std::string_view bytes);

}  // namespace tnpp
}  // namespace nv
