#include "foundation/Encryp.h"

#include <random>

#include "foundation/TextUtil.h"

namespace nv {
namespace {

thread_local CipherSeedSource t_seedSource;

std::uint8_t drawSeed() {
    if (t_seedSource) return t_seedSource();
    thread_local std::mt19937 gen{std::random_device{}()};
    return static_cast<std::uint8_t>(std::uniform_int_distribution<int>(0, 255)(gen));
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

void appendHex(std::string& out, unsigned v) {
    out += kHexDigits[(v >> 4) & 0xF];
    out += kHexDigits[v & 0xF];
}


// The key repeats from its start: positions 1..k, then 1 again.
class KeyCycle {
public:
    explicit KeyCycle(std::string_view key) : m_key(key) {}
    unsigned next() {
        m_pos = m_pos < m_key.size() ? m_pos + 1 : 1;
        return static_cast<unsigned char>(m_key[m_pos - 1]);
    }

private:
    std::string_view m_key;
    std::size_t m_pos = 0;
};

std::string encrypt(std::string_view in, std::string_view key) {
    std::string out;
    out.reserve(2 * (in.size() + 1));
    unsigned b = drawSeed();
    appendHex(out, b);
    KeyCycle k(key);
    for (char ch : in) {
        b = ((b + static_cast<unsigned char>(ch)) % 255) ^ k.next();
        appendHex(out, b);
    }
    return out;
}

std::string decrypt(std::string_view in, std::string_view key) {
    std::string out;
    if (in.size() < 2) return out;
    int hi = hexDigitValue(in[0]), lo = hexDigitValue(in[1]);
    if (hi < 0 || lo < 0) return out;
    unsigned b = static_cast<unsigned>(hi * 16 + lo);
    KeyCycle k(key);
    // A lone last digit is ignored; a pair that is not hex ends the text.
    for (std::size_t i = 2; i + 1 < in.size(); i += 2) {
        hi = hexDigitValue(in[i]);
        lo = hexDigitValue(in[i + 1]);
        if (hi < 0 || lo < 0) break;
        unsigned c = static_cast<unsigned>(hi * 16 + lo);
        unsigned d = c ^ k.next();
        unsigned plain = d > b ? d - b : d + 255 - b;
        // 255 after a cipher byte 255 wraps to 0 in the sum; 0 is never a
        // character of the input, so it stands for 255.
        if (plain == 0) plain = 255;
        out += static_cast<char>(plain);
        b = c;
    }
    return out;
}

}  // namespace

void TZulEncryption::Execute() {
    std::string_view key = Key.empty() ? kDefaultKey : std::string_view(Key);
    if (Input.empty()) {
        Output.clear();
        return;
    }
    Output = Action == atEncryption ? encrypt(Input, key) : decrypt(Input, key);
}

std::string CipherString(std::string_view s, bool encrypt) {
    TZulEncryption z;
    z.Input = std::string(s);
    z.Action = encrypt ? atEncryption : atDecryption;
    z.Key = std::string(kPasswordCipherKey);
    z.Execute();
    return z.Output;
}

void setCipherSeedSource(CipherSeedSource source) { t_seedSource = std::move(source); }

}  // namespace nv
