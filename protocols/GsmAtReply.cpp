#include "protocols/GsmAtReply.h"

#include <charconv>

namespace nv {
namespace {

constexpr char kCtrlZ = 0x1A;

std::string withoutCtrlZ(std::string_view s) {
    std::string out;
    for (char c : s)
        if (c != kCtrlZ) out += c;
    return out;
}

std::string_view trimRight(std::string_view s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

}  // namespace

GsmAtReply::GsmAtReply(std::string_view sent, bool wantPrompt) : m_wantPrompt(wantPrompt) {
    std::string clean = withoutCtrlZ(sent);
    std::string line;
    for (char c : clean) {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) m_echo.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    if (!line.empty()) m_echo.push_back(line);
}

bool GsmAtReply::isErrorLine(std::string_view line) {
    line = trimRight(line);
    return line == "ERROR" || line.starts_with("+CMS ERROR:") || line.starts_with("+CME ERROR:");
}

GsmAtReply::Final GsmAtReply::feed(std::string_view bytes) {
    if (m_final != Final::None) {
        m_buffer.append(bytes);
        return m_final;
    }
    m_buffer.append(bytes);
    for (;;) {
        std::size_t end = m_buffer.find_first_of("\r\n");
        if (end == std::string::npos) break;
        std::string line = m_buffer.substr(0, end);
        std::size_t skip = end + 1;
        if (m_buffer[end] == '\r' && skip < m_buffer.size() && m_buffer[skip] == '\n') ++skip;
        m_buffer.erase(0, skip);
        takeLine(std::move(line));
        if (m_final != Final::None) return m_final;
    }
    // The prompt has no line end after it: "\r\n> ".
    if (m_wantPrompt && m_buffer.starts_with("> ")) {
        m_final = Final::Prompt;
        m_finalLine = "> ";
        m_buffer.erase(0, 2);
    }
    return m_final;
}

void GsmAtReply::takeLine(std::string raw) {
    std::string line = withoutCtrlZ(raw);
    if (trimRight(line).empty()) return;
    if (m_echoNext < m_echo.size()) {
        // Some modems put "> " before each echoed line of a text.
        std::string_view bare = line;
        if (bare.starts_with("> ")) bare.remove_prefix(2);
        if (bare == m_echo[m_echoNext] || line == m_echo[m_echoNext]) {
            ++m_echoNext;
            return;
        }
        // The answer has begun: nothing later is echo.
        m_echoNext = m_echo.size();
    }
    std::string_view t = trimRight(line);
    if (t == "OK") {
        m_final = Final::Ok;
        m_finalLine = std::string(t);
    } else if (isErrorLine(t)) {
        m_final = Final::Error;
        m_finalLine = std::string(t);
    } else {
        m_lines.push_back(std::move(line));
    }
}

std::string GsmAtReply::text() const {
    std::string out;
    for (const auto& l : m_lines) out += l;
    return out;
}

std::string atTrim(std::string_view s) {
    std::size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) return {};
    std::size_t e = s.find_last_not_of(" \t\r\n");
    return std::string(s.substr(b, e - b + 1));
}

std::string atIdentity(std::string_view reply, bool blankRule) {
    std::string s = atTrim(reply);
    if (blankRule) {
        std::size_t blank = s.find(' ');
        if (blank != std::string::npos) s = atTrim(std::string_view(s).substr(blank + 1));
    }
    return s;
}

int atNumber(std::string_view s, int fallback) {
    int v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || ec != std::errc() || p != s.data() + s.size()) return fallback;
    return v;
}

int atRegistration(std::string_view reply) {
    std::string s = atTrim(reply);
    std::size_t p = s.find("+CREG:");
    if (p != std::string::npos) s = atTrim(std::string_view(s).substr(p + 6));
    std::size_t comma = s.find(',');
    if (comma != std::string::npos) s.erase(0, comma + 1);
    return atNumber(atTrim(std::string_view(s).substr(0, s.find(','))), -1);
}

int atMessageReference(const std::vector<std::string>& lines) {
    for (const auto& l : lines) {
        std::size_t p = l.find("+CMGS:");
        if (p == std::string::npos) continue;
        std::string_view s = std::string_view(l).substr(p + 6);
        return atNumber(atTrim(s.substr(0, s.find("OK"))), 0);
    }
    return 0;
}

std::vector<std::string> atQuotedFields(std::string_view s) {
    std::vector<std::string> out;
    std::size_t a = 0;
    while ((a = s.find('"', a)) != std::string_view::npos) {
        std::size_t b = s.find('"', a + 1);
        if (b == std::string_view::npos) break;
        out.emplace_back(s.substr(a + 1, b - a - 1));
        a = b + 1;
    }
    return out;
}

}  // namespace nv
