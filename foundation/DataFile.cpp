#include "foundation/DataFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>

namespace nv {
namespace fs = std::filesystem;
namespace chr = std::chrono;

std::string getTextField(const std::uint8_t* base, std::size_t off, std::size_t n) {
    std::size_t len = std::min<std::size_t>(base[off], n);
    return std::string(reinterpret_cast<const char*>(base + off + 1), len);
}

void putTextField(std::uint8_t* base, std::size_t off, std::size_t n, std::string_view text) {
    std::size_t len = std::min(text.size(), n);
    base[off] = static_cast<std::uint8_t>(len);
    std::memcpy(base + off + 1, text.data(), len);
}

std::int16_t getInt16(const std::uint8_t* base, std::size_t off) {
    return static_cast<std::int16_t>(base[off] | (base[off + 1] << 8));
}

void putInt16(std::uint8_t* base, std::size_t off, std::int16_t v) {
    auto u = static_cast<std::uint16_t>(v);
    base[off] = static_cast<std::uint8_t>(u);
    base[off + 1] = static_cast<std::uint8_t>(u >> 8);
}

std::int32_t getInt32(const std::uint8_t* base, std::size_t off) {
    std::uint32_t u = 0;
    for (int i = 3; i >= 0; --i) u = (u << 8) | base[off + static_cast<std::size_t>(i)];
    return static_cast<std::int32_t>(u);
}

void putInt32(std::uint8_t* base, std::size_t off, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (std::size_t i = 0; i < 4; ++i) base[off + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

double getDouble(const std::uint8_t* base, std::size_t off) {
    std::uint64_t u = 0;
    for (int i = 7; i >= 0; --i) u = (u << 8) | base[off + static_cast<std::size_t>(i)];
    double d;
    std::memcpy(&d, &u, sizeof d);
    return d;
}

void putDouble(std::uint8_t* base, std::size_t off, double v) {
    std::uint64_t u;
    std::memcpy(&u, &v, sizeof u);
    for (std::size_t i = 0; i < 8; ++i) base[off + i] = static_cast<std::uint8_t>(u >> (8 * i));
}

namespace {

constexpr chr::sys_days kRecordEpoch = chr::sys_days(chr::year(1899) / 12 / 30);

}  // namespace

double toRecordTime(chr::system_clock::time_point tp) {
    auto ms = chr::duration_cast<chr::milliseconds>(tp.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000 - (ms % 1000 < 0 ? 1 : 0));
    long millis = static_cast<long>(ms - static_cast<long long>(secs) * 1000);
    std::tm tm{};
    localtime_r(&secs, &tm);
    chr::sys_days day(chr::year(tm.tm_year + 1900) / (tm.tm_mon + 1) / tm.tm_mday);
    double whole = static_cast<double>((day - kRecordEpoch).count());
    double seconds = tm.tm_hour * 3600.0 + tm.tm_min * 60.0 + tm.tm_sec + millis / 1000.0;
    return whole + seconds / 86400.0;
}

chr::system_clock::time_point fromRecordTime(double days) {
    double whole = std::floor(days);
    long long msOfDay = std::llround((days - whole) * 86400000.0);
    chr::year_month_day ymd(kRecordEpoch + chr::days(static_cast<long long>(whole)));
    std::tm tm{};
    tm.tm_year = static_cast<int>(ymd.year()) - 1900;
    tm.tm_mon = static_cast<int>(static_cast<unsigned>(ymd.month())) - 1;
    tm.tm_mday = static_cast<int>(static_cast<unsigned>(ymd.day()));
    tm.tm_hour = static_cast<int>(msOfDay / 3600000);
    tm.tm_min = static_cast<int>(msOfDay / 60000 % 60);
    tm.tm_sec = static_cast<int>(msOfDay / 1000 % 60);
    tm.tm_isdst = -1;
    std::time_t t = std::mktime(&tm);
    return chr::system_clock::from_time_t(t) + chr::milliseconds(msOfDay % 1000);
}

double recordTimeNow() { return toRecordTime(chr::system_clock::now()); }

SystemTime toSystemTimeUtc(chr::system_clock::time_point tp) {
    auto ms = chr::duration_cast<chr::milliseconds>(tp.time_since_epoch()).count();
    std::time_t secs = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&secs, &tm);
    SystemTime st;
    st.wYear = static_cast<std::uint16_t>(tm.tm_year + 1900);
    st.wMonth = static_cast<std::uint16_t>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<std::uint16_t>(tm.tm_wday);
    st.wDay = static_cast<std::uint16_t>(tm.tm_mday);
    st.wHour = static_cast<std::uint16_t>(tm.tm_hour);
    st.wMinute = static_cast<std::uint16_t>(tm.tm_min);
    st.wSecond = static_cast<std::uint16_t>(tm.tm_sec);
    st.wMilliseconds = static_cast<std::uint16_t>(ms % 1000);
    return st;
}

int compareVersion(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        auto x = static_cast<unsigned char>(a[i]);
        auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

DataFileHeader DataFileHeader::make(std::int32_t recordSize, std::string_view version,
                                    chr::system_clock::time_point now) {
    DataFileHeader h;
    putInt32(h.bytes.data(), kRecordSizeOffset, recordSize);
    h.setHeaderTime(now);
    putTextField(h.bytes.data(), kVersionTextOffset, kVersionTextLength, version);
    return h;
}

void DataFileHeader::setHeaderTime(chr::system_clock::time_point now) {
    SystemTime st = toSystemTimeUtc(now);
    const std::uint16_t parts[8] = {st.wYear, st.wMonth,  st.wDayOfWeek, st.wDay,
                                    st.wHour, st.wMinute, st.wSecond,    st.wMilliseconds};
    for (std::size_t i = 0; i < 8; ++i)
        putInt16(bytes.data(), kHeaderTimeOffset + 2 * i, static_cast<std::int16_t>(parts[i]));
}

DataFileHeader DataFileHeader::fromBytes(std::string_view raw) {
    DataFileHeader h;
    std::memcpy(h.bytes.data(), raw.data(), std::min(raw.size(), kSize));
    return h;
}

SystemTime DataFileHeader::HeaderTime() const {
    std::uint16_t p[8];
    for (std::size_t i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint16_t>(getInt16(bytes.data(), kHeaderTimeOffset + 2 * i));
    return SystemTime{p[0], p[1], p[2], p[3], p[4], p[5], p[6], p[7]};
}

std::optional<LockedDataFile> LockedDataFile::open(const fs::path& path, Access access, bool create) {
    auto mode = access == Access::Write ? FileLock::Mode::Exclusive : FileLock::Mode::Shared;
    // A few rounds suffice: each retry means an upgrade finished in between.
    for (int attempt = 0; attempt < 16; ++attempt) {
        FileLock lock(path, mode, create);
        if (!lock.locked()) return std::nullopt;
        struct stat held {}, now {};
        if (::fstat(lock.fd(), &held) != 0) return std::nullopt;
        if (::stat(path.c_str(), &now) == 0 && now.st_ino == held.st_ino && now.st_dev == held.st_dev)
            return LockedDataFile(std::move(lock));
        // Replaced (or removed) while we waited for the lock: look again.
    }
    return std::nullopt;
}

std::int64_t LockedDataFile::size() const {
    struct stat st {};
    if (::fstat(fd(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_size);
}

bool LockedDataFile::readAt(std::int64_t off, void* buf, std::size_t n) const {
    auto* p = static_cast<char*>(buf);
    while (n > 0) {
        ssize_t got = ::pread(fd(), p, n, static_cast<off_t>(off));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        off += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool LockedDataFile::writeAt(std::int64_t off, const void* buf, std::size_t n) const {
    const auto* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t put = ::pwrite(fd(), p, n, static_cast<off_t>(off));
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        p += put;
        off += put;
        n -= static_cast<std::size_t>(put);
    }
    return true;
}

std::optional<DataFileHeader> LockedDataFile::header() const {
    if (size() < static_cast<std::int64_t>(kHeaderSize)) return std::nullopt;
    DataFileHeader h;
    if (!readAt(0, h.bytes.data(), kHeaderSize)) return std::nullopt;
    return h;
}

}  // namespace nv
