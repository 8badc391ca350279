#include "protocols/ModemConfig.h"

#include <cctype>
#include <cstdint>

#include "foundation/FileUtil.h"

namespace nv {

namespace {

constexpr std::uint32_t kStringFormatAscii = 1;

void putU32(std::string& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::uint32_t getU32(std::string_view s, std::size_t off) {
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[off + i])) << (8 * i);
    return v;
}

std::string parityName(char p) {
    switch (p) {
    case 'N': case 'O': case 'E': case 'M': case 'S': return std::string(1, p);
    default: return "E";
    }
}

const char* flowName(ModemFlow f) {
    switch (f) {
    case ModemFlow::None: return "None";
    case ModemFlow::XonXoff: return "XonXoff";
    case ModemFlow::Both: return "Both";
    case ModemFlow::RtsCts: break;
    }
    return "RtsCts";
}

bool parseInt(std::string_view v, int& out) {
    if (v.empty() || v.size() > 9) return false;
    int n = 0;
    for (char c : v) {
        if (c < '0' || c > '9') return false;
        n = n * 10 + (c - '0');
    }
    out = n;
    return true;
}

// One key; false for a value that makes the block unreadable.
bool applyKey(ModemSettings& s, std::string_view key, std::string_view v) {
    int n = 0;
    if (equalsNoCase(key, "Speed")) return parseInt(v, s.speed) && s.speed > 0;
    if (equalsNoCase(key, "DataBits")) return parseInt(v, s.dataBits) && s.dataBits >= 5 && s.dataBits <= 8;
    if (equalsNoCase(key, "StopBits")) return parseInt(v, s.stopBits) && (s.stopBits == 1 || s.stopBits == 2);
    if (equalsNoCase(key, "Parity")) {
        const char p = v.size() == 1 ? static_cast<char>(std::toupper(static_cast<unsigned char>(v[0]))) : '?';
        if (std::string_view("NOEMS").find(p) == std::string_view::npos) return false;
        s.parity = p;
        return true;
    }
    if (equalsNoCase(key, "Flow")) {
        for (ModemFlow f : {ModemFlow::None, ModemFlow::RtsCts, ModemFlow::XonXoff, ModemFlow::Both})
            if (equalsNoCase(v, flowName(f))) { s.flow = f; return true; }
        return false;
    }
    if (equalsNoCase(key, "ExtraInit")) { s.extraInit = std::string(v); return true; }
    if (equalsNoCase(key, "Dial")) {
        if (equalsNoCase(v, "Tone")) s.pulseDial = false;
        else if (equalsNoCase(v, "Pulse")) s.pulseDial = true;
        else return false;
        return true;
    }
    if (equalsNoCase(key, "BlindDial")) { if (!parseInt(v, n)) return false; s.blindDial = n != 0; return true; }
    if (equalsNoCase(key, "DialTimeout")) return parseInt(v, s.dialTimeout);
    return true;  // keys of later versions are skipped
}

}  // namespace

std::string encodeModemConfig(const ModemSettings& s) {
    std::string block = std::string(kMcfMagic) + " " + std::to_string(kMcfVersion) + "\r\n";
    auto line = [&](const char* k, const std::string& v) { block += std::string(k) + "=" + v + "\r\n"; };
    line("Speed", std::to_string(s.speed));
    line("DataBits", std::to_string(s.dataBits));
    line("Parity", parityName(s.parity));
    line("StopBits", std::to_string(s.stopBits));
    line("Flow", flowName(s.flow));
    line("ExtraInit", s.extraInit);
    line("Dial", s.pulseDial ? "Pulse" : "Tone");
    line("BlindDial", s.blindDial ? "1" : "0");
    line("DialTimeout", std::to_string(s.dialTimeout));
    const auto total = static_cast<std::uint32_t>(kMcfHeaderSize + block.size());
    std::string out;
    putU32(out, total);
    putU32(out, total);
    putU32(out, total);
    putU32(out, kStringFormatAscii);
    putU32(out, static_cast<std::uint32_t>(block.size()));
    putU32(out, static_cast<std::uint32_t>(kMcfHeaderSize));
    return out + block;
}

std::optional<ModemSettings> decodeModemConfig(std::string_view file) {
    if (file.size() < kMcfHeaderSize) return std::nullopt;
    const std::uint32_t size = getU32(file, 16);
    if (size > file.size() - kMcfHeaderSize) return std::nullopt;
    std::string_view block = file.substr(kMcfHeaderSize, size);
    ModemSettings s;
    bool first = true;
    while (!block.empty()) {
        std::size_t nl = block.find('\n');
        std::string_view ln = block.substr(0, nl);
        block = nl == std::string_view::npos ? std::string_view{} : block.substr(nl + 1);
        if (!ln.empty() && ln.back() == '\r') ln.remove_suffix(1);
        if (first) {
            if (ln != std::string(kMcfMagic) + " " + std::to_string(kMcfVersion)) return std::nullopt;
            first = false;
            continue;
        }
        if (ln.empty()) continue;
        std::size_t eq = ln.find('=');
        if (eq == std::string_view::npos) return std::nullopt;
        if (!applyKey(s, ln.substr(0, eq), ln.substr(eq + 1))) return std::nullopt;
    }
    if (first) return std::nullopt;
    return s;
}

std::optional<ModemSettings> readModemConfigFile(const std::filesystem::path& path) {
    std::string data;
    if (!readWholeFile(path, data)) return std::nullopt;
    return decodeModemConfig(data);
}

bool writeModemConfigFile(const std::filesystem::path& path, const ModemSettings& settings) {
    return writeFileAtomic(path, encodeModemConfig(settings));
}

bool ensureSystemModemConfig(const std::filesystem::path& dataDir) {
    if (findFileNoCase(dataDir, kSystemModemConfigName)) return true;
    return writeModemConfigFile(dataDir / kSystemModemConfigName, ModemSettings{});
}

}  // namespace nv
