#include "platform/PipeMessage.h"

#include "foundation/FileUtil.h"

namespace nv {

PipeMessage PipeMessage::parse(std::string_view text) {
    PipeMessage msg;
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        char c = text[i];
        if (c == '\r' || c == '\n') {
            msg.m_lines.emplace_back(text.substr(start, i - start));
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            start = ++i;
            continue;
        }
        ++i;
    }
    if (start < text.size()) msg.m_lines.emplace_back(text.substr(start));
    return msg;
}

namespace {

const std::string* findLine(const std::vector<std::string>& lines, std::string_view name,
                            std::size_t& eq) {
    for (const auto& line : lines) {
        std::size_t pos = line.find('=');
        if (pos == std::string::npos) continue;
        if (equalsNoCase(std::string_view(line).substr(0, pos), name)) {
            eq = pos;
            return &line;
        }
    }
    return nullptr;
}

}  // namespace

std::string PipeMessage::value(std::string_view name) const {
    std::size_t eq = 0;
    const std::string* line = findLine(m_lines, name, eq);
    return line ? line->substr(eq + 1) : std::string();
}

bool PipeMessage::has(std::string_view name) const {
    std::size_t eq = 0;
    return findLine(m_lines, name, eq) != nullptr;
}

std::string buildPipeMessage(const PipeFields& fields, bool finalCrLf) {
    std::string out;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) out += "\r\n";
        out += fields[i].first;
        out += '=';
        out += fields[i].second;
    }
    if (finalCrLf && !fields.empty()) out += "\r\n";
    return out;
}

}  // namespace nv
