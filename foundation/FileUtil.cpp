#include "foundation/FileUtil.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>

namespace nv {
namespace fs = std::filesystem;

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
        if (x != y) return false;
    }
    return true;
}

std::optional<fs::path> findFileNoCase(const fs::path& dir, std::string_view name) {
    std::error_code ec;
    fs::path exact = dir / std::string(name);
    if (fs::exists(exact, ec)) return exact;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        if (equalsNoCase(it->path().filename().string(), name)) return it->path();
    }
    return std::nullopt;
}

fs::path resolveFileNoCase(const fs::path& dir, std::string_view name) {
    if (auto found = findFileNoCase(dir, name)) return *found;
    return dir / std::string(name);
}

bool readWholeFile(const fs::path& path, std::string& out) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    out = ss.str();
    return true;
}

namespace {

std::string errnoText(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

bool writeAll(int fd, std::string_view data) {
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

namespace {

// Temporary file, `prepare` on its descriptor (mode, owner), data, fsync,
// rename over `path`, fsync of the folder.
bool replaceFile(const fs::path& path, std::string_view data, mode_t createMode,
                 const std::function<bool(int)>& prepare, std::string* error) {
    static std::atomic<unsigned> counter{0};
    fs::path dir = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    std::string tmp = (dir / ("." + path.filename().string() + ".tmp." + std::to_string(::getpid()) +
                              "." + std::to_string(counter++)))
                          .string();
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, createMode);
    if (fd < 0) {
        if (error) *error = errnoText("cannot create " + tmp);
        return false;
    }
    bool ok = prepare(fd);
    if (ok) ok = writeAll(fd, data);
    if (ok) ok = ::fsync(fd) == 0;
    if (!ok && error) *error = errnoText("cannot write " + tmp);
    ::close(fd);
    if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
        if (error) *error = errnoText("cannot replace " + path.string());
        ok = false;
    }
    if (!ok) {
        ::unlink(tmp.c_str());
        return false;
    }
    int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

}  // namespace

bool writeFileAtomic(const fs::path& path, std::string_view data, mode_t newMode, std::string* error) {
    struct stat st {};
    const bool existed = ::stat(path.c_str(), &st) == 0;
    return replaceFile(
        path, data, existed ? (st.st_mode & 07777) : newMode,
        [&](int fd) {
            if (!existed) return ::fchmod(fd, newMode) == 0;
            // Keep the replaced file's permissions and group; the umask must not widen or narrow them.
            if (::fchmod(fd, st.st_mode & 07777) != 0) return false;
            return ::fchown(fd, static_cast<uid_t>(-1), st.st_gid) == 0 || errno == EPERM;
        },
        error);
}

bool writeFileAtomic(const fs::path& path, std::string_view data, const FileOwnership& owner, std::string* error) {
    return replaceFile(
        path, data, owner.mode & 07777,
        [&](int fd) {
            if (::fchown(fd, owner.uid, owner.gid) != 0) {
                if (errno != EPERM) return false;
                if (::fchown(fd, static_cast<uid_t>(-1), owner.gid) != 0 && errno != EPERM) return false;
            }
            // After the owner: a change of owner clears the set-id bits.
            return ::fchmod(fd, owner.mode & 07777) == 0;
        },
        error);
}

FileLock::FileLock(const fs::path& path, Mode mode, bool create) {
    int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT : 0);
    m_fd = ::open(path.c_str(), flags, 0644);
    if (m_fd < 0) m_fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_fd < 0) return;
    int op = mode == Mode::Exclusive ? LOCK_EX : LOCK_SH;
    while (::flock(m_fd, op) != 0) {
        if (errno == EINTR) continue;
        ::close(m_fd);
        m_fd = -1;
        return;
    }
}

FileLock::~FileLock() { release(); }

FileLock::FileLock(FileLock&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

void FileLock::release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace nv
