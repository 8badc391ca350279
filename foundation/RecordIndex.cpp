#include "foundation/RecordIndex.h"

#include <unistd.h>

#include <algorithm>

#include "foundation/DataFile.h"

namespace nv {

namespace {

// The folding equalsNoCase compares by: ASCII letters only, other bytes as they are.
std::string foldCase(std::string_view s) {
    std::string out(s);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return out;
}

std::int64_t nanoseconds(const timespec& ts) {
    return static_cast<std::int64_t>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

// More files than one process looks up in: a test run's temporary folders.
constexpr std::size_t kMaxIndexes = 16;

}  // namespace

FileStamp FileStamp::of(const struct stat& st) {
    return FileStamp{st.st_dev, st.st_ino, st.st_size, nanoseconds(st.st_mtim), nanoseconds(st.st_ctim)};
}

RecordIndex::~RecordIndex() {
    if (m_fd >= 0) ::close(m_fd);
}

void RecordIndex::add(std::uint32_t slot, const std::uint8_t* rec) {
    // emplace keeps the first record with a key: the first match in file order.
    m_names.emplace(foldCase(getTextField(rec, m_fields.nameOffset, m_fields.nameLength)), slot);
    if (m_fields.prefixLength == 0) return;
    std::string prefix = getTextField(rec, m_fields.prefixOffset, m_fields.prefixLength);
    m_longestPrefix = std::max(m_longestPrefix, prefix.size());
    m_prefixes.emplace(std::move(prefix), slot);
}

std::optional<std::uint32_t> RecordIndex::byName(std::string_view name) const {
    auto it = m_names.find(foldCase(name));
    if (it == m_names.end()) return std::nullopt;
    return it->second;
}

std::optional<std::uint32_t> RecordIndex::byPrefix(std::string_view key) const {
    // Every prefix of the key that some record carries is a match; the earliest record wins.
    std::optional<std::uint32_t> first;
    const std::size_t longest = std::min(key.size(), m_longestPrefix);
    for (std::size_t n = 0; n <= longest; ++n) {
        auto it = m_prefixes.find(key.substr(0, n));
        if (it != m_prefixes.end() && (!first || it->second < *first)) first = it->second;
    }
    return first;
}

RecordIndexCache::RecordIndexCache(Clock now) : m_now(std::move(now)) {
    if (!m_now) m_now = [] { return std::chrono::system_clock::now(); };
}

RecordIndexCache& RecordIndexCache::shared() {
    static RecordIndexCache cache;
    return cache;
}

bool RecordIndexCache::settled(const FileStamp& stamp) const {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::nanoseconds>(m_now().time_since_epoch()).count();
    const std::int64_t settle = std::chrono::duration_cast<std::chrono::nanoseconds>(kSettleTime).count();
    // The change time too: a file whose modification time was set back has just changed.
    return std::max(stamp.mtimeNs, stamp.ctimeNs) <= now - settle;
}

std::shared_ptr<const RecordIndex> RecordIndexCache::find(const std::string& key) const {
    std::lock_guard lock(m_mutex);
    auto it = m_indexes.find(key);
    return it == m_indexes.end() ? nullptr : it->second;
}

void RecordIndexCache::store(const std::string& key, std::shared_ptr<const RecordIndex> index) {
    std::lock_guard lock(m_mutex);
    if (m_indexes.size() >= kMaxIndexes && !m_indexes.contains(key)) m_indexes.clear();
    m_indexes[key] = std::move(index);
    ++m_builds;
}

void RecordIndexCache::forget(const std::string& key) {
    std::lock_guard lock(m_mutex);
    m_indexes.erase(key);
}

std::size_t RecordIndexCache::builds() const {
    std::lock_guard lock(m_mutex);
    return m_builds;
}

}  // namespace nv
