#pragma once
// File helpers shared by the record files, Config.Dat and the log. Files made on
// Windows may be spelt in any case (PROVIDER.DAT), so look-ups of existing files
// ignore case; new files get the one canonical spelling the caller passes.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace nv {

bool equalsNoCase(std::string_view a, std::string_view b);

// The existing entry of `dir` whose name equals `name` without regard to case
// (an exact match wins), or nothing.
std::optional<std::filesystem::path> findFileNoCase(const std::filesystem::path& dir,
                                                    std::string_view name);

// The existing spelling if there is one, else dir/name.
std::filesystem::path resolveFileNoCase(const std::filesystem::path& dir, std::string_view name);

bool readWholeFile(const std::filesystem::path& path, std::string& out);

// Replaces `path` with `data` so a reader sees the old file or the new one, never
// half of either: temporary file in the same folder, fsync, rename, fsync of the
// folder. An existing file keeps its mode and group; a new one gets `newMode`.
bool writeFileAtomic(const std::filesystem::path& path, std::string_view data,
                     mode_t newMode = 0644, std::string* error = nullptr);

// Who a written file belongs to and its permission bits.
struct FileOwnership {
    mode_t mode = 0644;
    uid_t uid = static_cast<uid_t>(-1);
    gid_t gid = static_cast<gid_t>(-1);
};
// The same, but the new file takes `owner`'s mode, owner and group whatever
// was there before. A process that may not give a file away (not root) keeps
// itself as owner and sets the group where it may.
bool writeFileAtomic(const std::filesystem::path& path, std::string_view data, const FileOwnership& owner,
                     std::string* error = nullptr);

// Advisory whole-file lock (flock) on its own descriptor; released on destruction.
// Processes that share the data files take it around read-modify-write sequences.
class FileLock {
public:
    enum class Mode { Shared, Exclusive };
    FileLock() = default;
    // Opens (creating it if asked) and blocks until the lock is held.
    FileLock(const std::filesystem::path& path, Mode mode, bool create = false);
    ~FileLock();
    FileLock(FileLock&& other) noexcept;
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    bool locked() const { return m_fd >= 0; }
    int fd() const { return m_fd; }
    void release();

private:
    int m_fd = -1;
};

}  // namespace nv
