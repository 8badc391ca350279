#pragma once
// The common ground of the record files (Provider.dat, Ports.dat, NpaNxxRoute.dat,
// Users.dat, Groups.dat): the 57-byte header, the field codecs, the version
// comparison and the locked access that readers, writers and the upgrade share.
// Everything is little-endian and packed; text is Windows-1252 bytes.
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "foundation/FileUtil.h"

namespace nv {

inline constexpr std::size_t kHeaderSize = 57;

// Switch fields are int32 with inverted sense.
inline constexpr std::int32_t kSwitchOn = 0;
inline constexpr std::int32_t kSwitchOff = -1;

// ---- field codecs on a raw record image ----

// A length byte above `n` reads as `n`, so a damaged file never reads past the field.
std::string getTextField(const std::uint8_t* base, std::size_t off, std::size_t n);
// Cuts to `n`; writes the length byte and the text, leaves the unused tail as it was.
void putTextField(std::uint8_t* base, std::size_t off, std::size_t n, std::string_view text);
std::int16_t getInt16(const std::uint8_t* base, std::size_t off);
void putInt16(std::uint8_t* base, std::size_t off, std::int16_t v);
std::int32_t getInt32(const std::uint8_t* base, std::size_t off);
void putInt32(std::uint8_t* base, std::size_t off, std::int32_t v);
double getDouble(const std::uint8_t* base, std::size_t off);
void putDouble(std::uint8_t* base, std::size_t off, double v);

// ---- times ----

// Record times: days since 1899-12-30 00:00 local time, the fraction the time of day.
double toRecordTime(std::chrono::system_clock::time_point tp);
std::chrono::system_clock::time_point fromRecordTime(double days);
double recordTimeNow();

// A Windows SYSTEMTIME: the header keeps the UTC time of its write in this form.
struct SystemTime {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;  // 0 = Sunday
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};
SystemTime toSystemTimeUtc(std::chrono::system_clock::time_point tp);

// ---- versions ----

// Length-prefixed byte strings compared byte by byte; a prefix is smaller.
// Negative, zero or positive like strcmp.
int compareVersion(std::string_view a, std::string_view b);

// ---- header ----

class DataFileHeader {
public:
    static constexpr std::size_t kSize = kHeaderSize;
    static constexpr std::size_t kRecordSizeOffset = 0;
    static constexpr std::size_t kHeaderTimeOffset = 4;
    static constexpr std::size_t kVersionTextOffset = 20;
    static constexpr std::size_t kVersionTextLength = 8;

    std::array<std::uint8_t, kSize> bytes{};

    // A new header: current size and version, time of the write, reserved bytes zero.
    static DataFileHeader make(std::int32_t recordSize, std::string_view version,
                               std::chrono::system_clock::time_point now =
                                   std::chrono::system_clock::now());
    static DataFileHeader fromBytes(std::string_view raw);  // raw must hold 57 bytes
    // Puts `now` (as UTC) into the header time; size and version stay.
    void setHeaderTime(std::chrono::system_clock::time_point now);

    std::int32_t RecordSize() const { return getInt32(bytes.data(), kRecordSizeOffset); }
    SystemTime HeaderTime() const;
    std::string VersionText() const {
        return getTextField(bytes.data(), kVersionTextOffset, kVersionTextLength);
    }
};

// ---- locked access ----

// A data file opened and flock'ed. The upgrade replaces files by rename, so once
// the lock is held the descriptor is checked to still be the file at the path;
// otherwise the open is repeated on the new file.
class LockedDataFile {
public:
    enum class Access { Read, Write };
    // Nothing when the file does not exist (and `create` is false) or cannot be opened.
    static std::optional<LockedDataFile> open(const std::filesystem::path& path, Access access,
                                              bool create = false);

    int fd() const { return m_lock.fd(); }
    std::int64_t size() const;
    bool readAt(std::int64_t off, void* buf, std::size_t n) const;
    bool writeAt(std::int64_t off, const void* buf, std::size_t n) const;
    // The header, or nothing for a file shorter than 57 bytes (it holds no records).
    std::optional<DataFileHeader> header() const;

private:
    explicit LockedDataFile(FileLock lock) : m_lock(std::move(lock)) {}
    FileLock m_lock;
};

}  // namespace nv
