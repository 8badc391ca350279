#include "service/EngineLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <chrono>
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

EngineLog::EngineLog(fs::path dataDir, LocalClockFn now) : m_dataDir(std::move(dataDir)), m_now(std::move(now)) {
    if (!m_now) m_now = systemLocalNow;
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

bool appendAll(const fs::path& path, const std::string& data) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    std::size_t done = 0;
    bool ok = true;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            ok = false;
            break;
        }
        done += static_cast<std::size_t>(n);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    return ok;
}

}  // namespace

std::string EngineLog::write(const std::string& cleanedText) {
    std::string line = stamp(m_now()) + " - " + cleanedText;
    appendAll(resolveFileNoCase(m_dataDir, kLogFileName), line + "\r\n");
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
    if (!content.empty() && !appendAll(dir / archiveName(now), content)) return false;
    m_archivedDay = today;
    fs::remove(*log, ec);
    return true;
}

}  // namespace nv
