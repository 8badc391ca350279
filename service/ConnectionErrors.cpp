#include "service/ConnectionErrors.h"

#include <algorithm>

#include "foundation/FileUtil.h"

namespace nv {

std::string ConnectionErrors::cleanKey(const std::string& key) {
    std::string out;
    for (char c : key)
        if (c != '=' && c != ' ' && c != '\r' && c != '\n') out += c;
    return out;
}

// Last to first, as the entries were searched before.
std::vector<std::pair<std::string, int>>::iterator ConnectionErrors::find(const std::string& key) {
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (equalsNoCase(it->first, key)) return std::next(it).base();
    return m_entries.end();
}

bool ConnectionErrors::AddConnectionError(const std::string& key) {
    std::string k = cleanKey(key);
    std::lock_guard<std::mutex> g(m_lock);
    auto it = find(k);
    if (it == m_entries.end()) {
        m_entries.emplace_back(k, 1);
        return true;
    }
    if (it->second + 1 < 3) {
        ++it->second;
        return true;
    }
    m_entries.erase(it);
    return false;
}

void ConnectionErrors::ClearConnectionError(const std::string& key) {
    std::string k = cleanKey(key);
    std::lock_guard<std::mutex> g(m_lock);
    auto it = find(k);
    if (it != m_entries.end()) m_entries.erase(it);
}

int ConnectionErrors::count(const std::string& key) const {
    std::string k = cleanKey(key);
    std::lock_guard<std::mutex> g(m_lock);
    for (const auto& e : m_entries)
        if (equalsNoCase(e.first, k)) return e.second;
    return 0;
}

std::size_t ConnectionErrors::size() const {
    std::lock_guard<std::mutex> g(m_lock);
    return m_entries.size();
}

std::string ConnectionErrors::pageKey(const TQueueRec& page) { return "Page" + std::to_string(page.Serial); }
std::string ConnectionErrors::primaryKey(const TQueueRec& page) { return "Pri" + std::to_string(page.Serial); }
std::string ConnectionErrors::secondaryKey(const TQueueRec& page) { return "Sec" + std::to_string(page.Serial); }

void ConnectionErrors::forgetPage(const TQueueRec& page) {
    ClearConnectionError(pageKey(page));
    ClearConnectionError(primaryKey(page));
    ClearConnectionError(secondaryKey(page));
}

}  // namespace nv
