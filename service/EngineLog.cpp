#include "service/EngineLog.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdio>
#include <ctime>

#include "foundation/FileUtil.h"
#include "platform/DataDirectory.h"

namespace nv {
namespace fs = std::filesystem;

LocalDateTime systemLocalNow() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    ::localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

std::string EngineLog::cleanText(std::string text) {
    if (auto lf = text.find('\n'); lf != std::string::npos) text.erase(lf, 1);
    if (auto cr = text.find('\r'); cr != std::string::npos) text.erase(cr, 1);
    return text;
}

std::string EngineLog::stamp(const LocalDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d/%02d/%04d %02d:%02d:%02d", t.month, t.day, t.year, t.hour, t.minute,
                  t.second);
    return buf;
}

std::string EngineLog::archiveName(const LocalDateTime& t) {
    using namespace std::chrono;
    year_month_day ymd{year{t.year}, month{static_cast<unsigned>(t.month)}, day{static_cast<unsigned>(t.day)}};
    year_month_day before{sys_days{ymd} - days{1}};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02u_%02u_%02d.log", static_cast<unsigned>(before.month()),
                  static_cast<unsigned>(before.day()), static_cast<int>(before.year()) % 100);
    return buf;
}

namespace {

bool writeAll(int fd, const std::string& data) {
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

int openSpare() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

}  // namespace

EngineLog::EngineLog(fs::path dataDir, LocalClockFn now, LogSinkFn reportFailure)
    : m_dataDir(std::move(dataDir)), m_now(std::move(now)), m_reportFailure(std::move(reportFailure)) {
    if (!m_now) m_now = systemLocalNow;
    m_spare = openSpare();
}

EngineLog::~EngineLog() {
    if (m_spare >= 0) ::close(m_spare);
}

int EngineLog::openForAppend(const fs::path& path) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogFileMode);
    if (fd < 0 && (errno == EMFILE || errno == ENFILE) && m_spare >= 0) {
        // Every descriptor is taken: the one kept in reserve lets this line through.
        ::close(m_spare);
        m_spare = -1;
        fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, kLogFileMode);
    }
    return fd;
}

void EngineLog::report(const std::string& kind, int error, const fs::path& path) {
    // One report per kind of failure and reason: a full disk must not turn every
    // page into a syslog line.
    std::string text = "Unable To " + kind + " " + path.string() + ": " + std::strerror(error);
    if (!m_reported.insert(text).second) return;
    if (m_reportFailure) m_reportFailure(text + " (further failures of this kind are not reported)");
}

bool EngineLog::append(const fs::path& path, const std::string& data) {
    int fd = openForAppend(path);
    if (fd < 0) {
        report("Open", errno, path);
        return false;
    }
    struct stat st {};
    const bool sized = ::fstat(fd, &st) == 0;
    std::string out = data;
    // A line cut by an earlier failure that could not be taken back.
    if (m_lineOpen && sized && st.st_size > 0) out.insert(0, "\r\n");
    bool ok = writeAll(fd, out) && ::fsync(fd) == 0;
    int err = errno;
    if (!ok) {
        // Take back the part that was written; if that fails too, the next
        // write starts with a line end of its own.
        m_lineOpen = !(sized && ::ftruncate(fd, st.st_size) == 0);
    }
    if (::close(fd) != 0 && ok) {
        ok = false;
        err = errno;
    }
    if (m_spare < 0) m_spare = openSpare();
    if (!ok) {
        report("Write", err, path);
        return false;
    }
    m_lineOpen = false;
    m_reported.clear();
    return true;
}

std::string EngineLog::write(const std::string& cleanedText) {
    // Vertical tab and form feed break a line in many viewers: a blank each.
    // Other control bytes stay (replies and packets are logged as received).
    std::string text = cleanedText;
    for (char& c : text)
        if (c == '\v' || c == '\f') c = ' ';
    std::string line = stamp(m_now()) + " - " + text;
    append(resolveFileNoCase(m_dataDir, kLogFileName), line + "\r\n");
    return line;
}

bool EngineLog::archiveIfDue() {
    LocalDateTime now = m_now();
    if (now.hour != 0) return false;
    int today = now.year * 10000 + now.month * 100 + now.day;
    if (m_archivedDay == today) return false;

    auto log = findFileNoCase(m_dataDir, kLogFileName);
    if (!log) {
        m_archivedDay = today;  // nothing logged since the last archive
        return false;
    }
    std::error_code ec;
    fs::path dir = resolveFileNoCase(m_dataDir, kLogArchiveDirName);
    fs::create_directory(dir, ec);
    std::string content;
    if (!fs::is_directory(dir, ec) || !readWholeFile(*log, content)) return false;
    if (!content.empty() && !append(dir / archiveName(now), content)) return false;
    m_archivedDay = today;
    fs::remove(*log, ec);
    return true;
}

}  // namespace nv
