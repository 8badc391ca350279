#pragma once
// Log.Dat and its daily archive. Only the engine thread calls this.
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <string>

namespace nv {

// Local civil time, as the wall clock gives it.
struct LocalDateTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
};

using LocalClockFn = std::function<LocalDateTime()>;
// Receives one text: a log line to echo, or a failure to report.
using LogSinkFn = std::function<void(const std::string&)>;

// Log.Dat and its archives hold PINs and texts: owner and group only, like Config.Dat.
inline constexpr unsigned kLogFileMode = 0640;
// The system's local time.
LocalDateTime systemLocalNow();

class EngineLog {
public:
    // `reportFailure` gets one text per kind of failed write (open or write, by
    // its reason) until a write succeeds again.
    EngineLog(std::filesystem::path dataDir, LocalClockFn now, LogSinkFn reportFailure = {});
    ~EngineLog();
    EngineLog(const EngineLog&) = delete;
    EngineLog& operator=(const EngineLog&) = delete;

    // A log text loses its first LF and then its first CR; later breaks stay.
    static std::string cleanText(std::string text);
    // "MM/DD/YYYY HH:MM:SS": one fixed rendering of the local date and time.
    static std::string stamp(const LocalDateTime& t);
    // "mm_dd_yy.log" of the day before `t`.
    static std::string archiveName(const LocalDateTime& t);

    // Appends stamp " - " text CR LF to Log.Dat (created 0640 when missing) and
    // returns the line without CR LF. Vertical tabs and form feeds become
    // blanks. A failed write is reported and takes back what it wrote, so
    // the next line starts on a line of its own; at the descriptor limit the log
    // uses the descriptor it keeps in reserve.
    std::string write(const std::string& cleanedText);

    // The hour-00 archive. It runs once per date: a later firing in the same
    // night finds the date done, so the archive keeps the whole previous day. The
    // copy appends to an archive that already exists (a restart during hour 00)
    // and is retried at the next firing when it failed. True when Log.Dat was
    // archived by this call.
    bool archiveIfDue();

private:
    bool append(const std::filesystem::path& path, const std::string& data);
    void report(const std::string& kind, int error, const std::filesystem::path& path);
    int openForAppend(const std::filesystem::path& path);

    std::filesystem::path m_dataDir;
    LocalClockFn m_now;
    LogSinkFn m_reportFailure;
    std::optional<int> m_archivedDay;  // year*10000 + month*100 + day
    std::set<std::string> m_reported;  // kinds of failure reported since the last good write
    bool m_lineOpen = false;           // a failed write may have left part of a line
    int m_spare = -1;                  // kept open, given up to open Log.Dat at the descriptor limit
};

}  // namespace nv
