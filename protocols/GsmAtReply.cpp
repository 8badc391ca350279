#include "protocols/GsmAtReply.h"

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

}  // namespace nv
