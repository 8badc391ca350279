#pragma once
// Log.Dat and its daily archive. Only the engine thread calls this.
#include <filesystem>
#include <functional>
#include <optional>
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
// The system's local time.
LocalDateTime systemLocalNow();

class EngineLog {
public:
    EngineLog(std::filesystem::path dataDir, LocalClockFn now);

    // A log text loses its first LF and then its first CR; later breaks stay.
    static std::string cleanText(std::string text);
    // "MM/DD/YYYY HH:MM:SS": one fixed rendering of the local date and time.
    static std::string stamp(const LocalDateTime& t);
    // "mm_dd_yy.log" of the day before `t`.
    static std::string archiveName(const LocalDateTime& t);

    // Appends stamp " - " text CR LF to Log.Dat (created when missing) and
    // returns the line without CR LF. A file that cannot be opened loses the line.
    std::string write(const std::string& cleanedText);

    // The hour-00 archive. It runs once per date: a later firing in the same
    // night finds the date done, so the archive keeps the whole previous day. The
    // copy appends to an archive that already exists (a restart during hour 00)
    // and is retried at the next firing when it failed. True when Log.Dat was
    // archived by this call.
    bool archiveIfDue();

private:
    std::filesystem::path m_dataDir;
    LocalClockFn m_now;
    std::optional<int> m_archivedDay;  // year*10000 + month*100 + day
};

}  // namespace nv
