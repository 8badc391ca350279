#pragma once
// Windows-1252 <-> UTF-8. Engine text is Windows-1252 bytes (one byte, one
// character); only the edges that need Unicode convert. The five bytes the code
// page leaves undefined (0x81 0x8D 0x8F 0x90 0x9D) map to the C1 controls of the
// same value and back, so every byte string survives a round trip.
#include <string>
#include <string_view>

namespace nv {

std::string cp1252ToUtf8(std::string_view text);

// Characters that Windows-1252 cannot hold become '?'. So does each byte of a
// malformed sequence (truncated, overlong, a surrogate, beyond U+10FFFF): the
// lead byte gives one '?' and reading goes on with the next byte.
std::string utf8ToCp1252(std::string_view text);

// The code point a Windows-1252 byte stands for.
char32_t cp1252ToCodePoint(unsigned char c);

}  // namespace nv
