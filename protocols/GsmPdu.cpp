#include "protocols/GsmPdu.h"

#include <array>
#include <cstdio>

#include "foundation/TextUtil.h"

namespace nv {
namespace {

constexpr int kNone = -1;
constexpr int kExt = 0x100;  // marks an extension code, sent after ESC

// Windows-1252 byte -> septet (or kExt | code, or kNone). Built from the
// default alphabet table of 3GPP TS 23.038 so that a page with "@" or "_" keeps
// them instead of arriving as "¡" or "§".
std::array<int, 256> buildAlphabet() {
    std::array<int, 256> t{};
    t.fill(kNone);
    for (int c = 0x20; c < 0x7F; ++c) t[c] = c;  // ASCII positions that agree
    t['\n'] = 0x0A;
    t['\r'] = 0x0D;
    // ASCII characters the alphabet keeps at other positions.
    t['@'] = 0x00;
    t['$'] = 0x02;
    t['_'] = 0x11;
    t['`'] = kNone;
    // Reached only through the escape.
    t['^'] = kExt | 0x14;
    t['{'] = kExt | 0x28;
    t['}'] = kExt | 0x29;
    t['\\'] = kExt | 0x2F;
    t['['] = kExt | 0x3C;
    t['~'] = kExt | 0x3D;
    t[']'] = kExt | 0x3E;
    t['|'] = kExt | 0x40;
    t[0x0C] = kExt | 0x0A;  // form feed
    t[0x80] = kExt | 0x65;  // euro sign
    // Latin-1 letters and signs of the alphabet.
    const std::pair<unsigned char, int> latin[] = {
        {0xA3, 0x01}, {0xA5, 0x03}, {0xE8, 0x04}, {0xE9, 0x05}, {0xF9, 0x06}, {0xEC, 0x07},
        {0xF2, 0x08}, {0xC7, 0x09}, {0xD8, 0x0B}, {0xF8, 0x0C}, {0xC5, 0x0E}, {0xE5, 0x0F},
        {0xC6, 0x1C}, {0xE6, 0x1D}, {0xDF, 0x1E}, {0xC9, 0x1F}, {0xA4, 0x24}, {0xA1, 0x40},
        {0xC4, 0x5B}, {0xD6, 0x5C}, {0xD1, 0x5D}, {0xDC, 0x5E}, {0xA7, 0x5F}, {0xBF, 0x60},
        {0xE4, 0x7B}, {0xF6, 0x7C}, {0xF1, 0x7D}, {0xFC, 0x7E}, {0xE0, 0x7F},
    };
    for (auto [c, s] : latin) t[c] = s;
    return t;
}

const std::array<int, 256>& alphabet() {
    static const std::array<int, 256> table = buildAlphabet();
    return table;
}

std::string hex2(unsigned v) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
    return buf;
}

std::string_view digitsOf(std::string_view number) {
    if (!number.empty() && number.front() == '+') number.remove_prefix(1);
    return number;
}


}  // namespace

std::string gsmSeptetsFromText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        int s = alphabet()[c];
        if (s == kNone) throw GsmPduError(kErrPdu8Bit);
        if (s & kExt) out += kGsmEscape;
        out += static_cast<char>(s & 0x7F);
    }
    return out;
}

std::size_t gsmSeptetCount(char c) {
    int s = alphabet()[static_cast<unsigned char>(c)];
    return s != kNone && (s & kExt) ? 2 : 1;
}

std::size_t PackSeptets(std::string_view septets, unsigned char* out, std::size_t outSize) {
    if (septets.size() > kMaxSeptets) throw GsmPduError(kErrPduTooLong);
    for (unsigned char c : septets)
        if (c > 0x7F) throw GsmPduError(kErrPdu8Bit);
    const std::size_t size = packedSize(septets.size());
    if (outSize < size) throw std::length_error("septet buffer too small");
    // A bit accumulator never needs a byte beyond the last one it fills; the
    // shift-and-or of the classic loop touched one more when n was a multiple of 8.
    unsigned acc = 0;
    int bits = 0;
    std::size_t o = 0;
    for (unsigned char c : septets) {
        acc |= static_cast<unsigned>(c) << bits;
        bits += 7;
        while (bits >= 8) {
            out[o++] = static_cast<unsigned char>(acc & 0xFF);
            acc >>= 8;
            bits -= 8;
        }
    }
    if (bits > 0) out[o++] = static_cast<unsigned char>(acc & 0xFF);
    return o;
}

std::string PackSeptets(std::string_view septets) {
    std::string out(packedSize(septets.size()), '\0');
    PackSeptets(septets, reinterpret_cast<unsigned char*>(out.data()), out.size());
    return out;
}

bool isValidSmsNumber(std::string_view number) {
    std::string_view d = digitsOf(number);
    if (d.empty() || d.size() > 20) return false;
    for (char c : d)
        if (c < '0' || c > '9') return false;
    return true;
}

std::string semiOctets(std::string_view digits) {
    std::string out;
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        if (i + 1 < digits.size()) {
            out += digits[i + 1];
            out += digits[i];
        } else {
            out += 'F';
            out += digits[i];
        }
    }
    return out;
}

std::string EncodeSubmitPDU(std::string_view smsCenter, std::string_view address,
                            std::string_view text) {
    if (!smsCenter.empty() && !isValidSmsNumber(smsCenter))
        throw std::invalid_argument("invalid service centre number");
    if (!isValidSmsNumber(address)) throw std::invalid_argument("invalid destination number");

    std::string pdu;
    std::string_view centre = digitsOf(smsCenter);
    if (centre.empty()) {
        pdu = "00";
    } else {
        // Octets of the digits plus one for the type; written in hex, which for
        // any E.164 centre (at most 9 octets) reads the same as decimal.
        pdu = hex2(static_cast<unsigned>((centre.size() + 1) / 2 + 1)) + "91" + semiOctets(centre);
    }
    pdu += "11";  // SMS-SUBMIT, relative validity period
    pdu += "00";  // message reference: the modem sets it
    std::string_view dest = digitsOf(address);
    // International only when the caller said so with "+"; a national number
    // sent as international reaches the wrong subscriber or none.
    const char* type = address.front() == '+' ? "91" : "81";
    pdu += hex2(static_cast<unsigned>(dest.size())) + type + semiOctets(dest);
    pdu += "00";  // protocol identifier
    pdu += "00";  // data coding: 7-bit default alphabet
    pdu += "AA";  // validity: 4 days
    const std::string septets = gsmSeptetsFromText(text);
    const std::string packed = PackSeptets(septets);
    pdu += hex2(static_cast<unsigned>(septets.size()));
    for (unsigned char b : packed) pdu += hex2(b);
    return pdu;
}

int submitPduLength(std::string_view pduHex) {
    int centre = 0;
    if (pduHex.size() >= 2) {
        int hi = hexDigitValue(pduHex[0]);
        int lo = hexDigitValue(pduHex[1]);
        if (hi >= 0 && lo >= 0) centre = hi * 16 + lo;
    }
    return static_cast<int>(pduHex.size() / 2) - centre - 1;
}

}  // namespace nv
