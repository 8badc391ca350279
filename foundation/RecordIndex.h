#pragma once
// Look-up index of one record file, and the cache that keeps one per file.
//
// An index holds, for each name (ASCII case folded, as the look-ups compare) and,
// for routes, each NPANXX text, the number of the first live record that carries
// it: memory grows with the distinct names and prefixes, never with the records
// themselves, which stay on disk. The look-ups in RecordAccess read the one record
// the index points to.
//
// An index is only as good as the file state it was built from. Its stamp
// (device, inode, size, modification and change times in nanoseconds) changes
// with any write, replace or truncation, except a write that falls in the same
// tick of the file system's clock as the one before. So a file changed within
// the last two seconds is never answered from an index: it is read whole.
#include <sys/stat.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace nv {

// One state of a file.
struct FileStamp {
    dev_t dev = 0;
    ino_t ino = 0;
    off_t size = 0;
    std::int64_t mtimeNs = 0;
    std::int64_t ctimeNs = 0;

    static FileStamp of(const struct stat& st);
    bool operator==(const FileStamp&) const = default;
};

// Where in a kind's record its look-up keys stand.
struct IndexFields {
    std::size_t nameOffset = 0;
    std::size_t nameLength = 0;
    std::size_t prefixOffset = 0;
    std::size_t prefixLength = 0;  // 0: the kind has no prefix look-up

    bool operator==(const IndexFields&) const = default;
};

class RecordIndex {
public:
    // Takes `fd` (open on the file at `path` in the state `stamp`, or -1), kept
    // open to read the records found, and closed with the index.
    RecordIndex(const IndexFields& fields, std::string path, const FileStamp& stamp, int fd)
        : m_fields(fields), m_path(std::move(path)), m_stamp(stamp), m_fd(fd) {}
    ~RecordIndex();
    RecordIndex(const RecordIndex&) = delete;
    RecordIndex& operator=(const RecordIndex&) = delete;

    // Called for each live record, in file order, while the index is built.
    void add(std::uint32_t slot, const std::uint8_t* rec);

    // Record number of the first live record whose name equals `name` ignoring case.
    std::optional<std::uint32_t> byName(std::string_view name) const;
    // Record number of the first live record whose prefix text (same case) begins
    // `key`; an empty prefix text begins every key.
    std::optional<std::uint32_t> byPrefix(std::string_view key) const;

    const IndexFields& fields() const { return m_fields; }
    // The file as found, in whatever case it is spelt.
    const std::string& path() const { return m_path; }
    const FileStamp& stamp() const { return m_stamp; }
    int fd() const { return m_fd; }

private:
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
    };
    using FirstSlots = std::unordered_map<std::string, std::uint32_t, TextHash, std::equal_to<>>;

    IndexFields m_fields;
    std::string m_path;
    FileStamp m_stamp;
    int m_fd = -1;
    FirstSlots m_names;
    FirstSlots m_prefixes;
    std::size_t m_longestPrefix = 0;
};

// The indexes of the record files a process looks things up in, by canonical path.
// Thread-safe: look-ups share an index, a rebuild replaces it.
class RecordIndexCache {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    // How long after its last change a file is trusted to its index.
    static constexpr std::chrono::seconds kSettleTime{2};

    // `now` is the wall clock unless a test fixes it.
    explicit RecordIndexCache(Clock now = {});

    // The cache the look-ups use unless told otherwise.
    static RecordIndexCache& shared();

    // False for a file changed within kSettleTime of now (or stamped in the future).
    bool settled(const FileStamp& stamp) const;
    // The index last stored under `key` (the file's canonical path), whatever
    // state of the file it was built from: the caller compares the stamps.
    std::shared_ptr<const RecordIndex> find(const std::string& key) const;
    void store(const std::string& key, std::shared_ptr<const RecordIndex> index);
    void forget(const std::string& key);

    // How many indexes have been stored; lets tests tell the indexed path was taken.
    std::size_t builds() const;

private:
    Clock m_now;
    mutable std::mutex m_mutex;
    std::unordered_map<std::string, std::shared_ptr<const RecordIndex>> m_indexes;
    std::size_t m_builds = 0;
};

}  // namespace nv
