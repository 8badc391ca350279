#include "foundation/ReplyMatcher.h"

namespace nv {

ReplyMatcher::ReplyMatcher(std::string_view match) {
    if (match.size() > kMaxMatchLength) match = match.substr(0, kMaxMatchLength);
    std::size_t start = 0;
    for (;;) {
        std::size_t bar = match.find('|', start);
        if (bar == std::string_view::npos) {
            m_alternatives.emplace_back(match.substr(start));
            break;
        }
        m_alternatives.emplace_back(match.substr(start, bar - start));
        start = bar + 1;
    }
}

int ReplyMatcher::feed(char c) {
    m_pending = false;
    m_candidate += c;
    for (std::size_t i = 0; i < m_alternatives.size(); ++i) {
        const std::string& alt = m_alternatives[i];
        if (alt.find(m_candidate) == std::string::npos) continue;
        m_pending = true;
        m_index = static_cast<int>(i);
        if (alt.size() == m_candidate.size()) return m_index;
        return -1;
    }
    m_candidate.clear();
    return -1;
}

void ReplyMatcher::reset() {
    m_candidate.clear();
    m_pending = false;
    m_index = 0;
}

}  // namespace nv
