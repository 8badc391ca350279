#include "foundation/RecordAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "foundation/Encryp.h"
#include "foundation/FileUtil.h"
#include "foundation/RecordIndex.h"
#include "foundation/RecordUpgrade.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

constexpr const char* kErrorTitle = "Error";
constexpr std::size_t kRecordsPerRead = 64;
constexpr std::string_view kEPage = "E-Page";

std::int64_t alignedEnd(const RecordKind& kind, std::int64_t size) {
    if (size < static_cast<std::int64_t>(kHeaderSize)) return kHeaderSize;
    auto z = static_cast<std::int64_t>(kind.size);
    return kHeaderSize + (size - static_cast<std::int64_t>(kHeaderSize)) / z * z;
}

// Calls `visit(offset, record)` for every complete record (live or not) until it
// returns false; a partial last record is not a record.
template <class Visit>
bool forEachSlot(const LockedDataFile& file, const RecordKind& kind, Visit visit) {
    const std::int64_t end = alignedEnd(kind, file.size());
    std::vector<std::uint8_t> buf(kind.size * kRecordsPerRead);
    for (std::int64_t off = kHeaderSize; off < end;) {
        auto count = static_cast<std::size_t>(
            std::min<std::int64_t>(kRecordsPerRead, (end - off) / static_cast<std::int64_t>(kind.size)));
        if (!file.readAt(off, buf.data(), count * kind.size)) return false;
        for (std::size_t i = 0; i < count; ++i, off += static_cast<std::int64_t>(kind.size))
            if (!visit(off, buf.data() + i * kind.size)) return true;
    }
    return true;
}

template <class Rec>
std::unique_ptr<Rec> findFirst(const fs::path& dataDir, UserPrompt& prompt,
                               const std::function<bool(const Rec&)>& match) {
    std::unique_ptr<Rec> found;
    scanRecordFile(Rec::kKind, dataDir, prompt, [&](const std::uint8_t* raw) {
        Rec rec = Rec::fromBytes(raw);
        if (!match(rec)) return true;
        found = std::make_unique<Rec>(rec);
        return false;
    });
    return found;
}

enum class VersionCheck { Current, Newer, Older };

VersionCheck checkVersion(const RecordKind& kind, const DataFileHeader& h) {
    int cmp = compareVersion(h.VersionText(), kind.version);
    return cmp == 0 ? VersionCheck::Current : cmp > 0 ? VersionCheck::Newer : VersionCheck::Older;
}

constexpr IndexFields kProviderFields{ProviderRec::kCompanyNameOffset, ProviderRec::kCompanyNameLength};
constexpr IndexFields kPortFields{PortRec::kNameOffset, PortRec::kNameLength};
constexpr IndexFields kRouteFields{RouteRec::kRouteNameOffset, RouteRec::kRouteNameLength,
                                   RouteRec::kNPANXXOffset, RouteRec::kNPANXXLength};

// By name (ignoring case), or by prefix with a name to fall back on.
struct IndexQuery {
    std::string_view key;
    bool byPrefix = false;
    std::string_view fallbackName{};
};

enum class Indexed { Found, NotFound, Unsure };

bool statPath(const fs::path& path, FileStamp& stamp) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return false;
    stamp = FileStamp::of(st);
    return true;
}

bool statFd(int fd, FileStamp& stamp) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return false;
    stamp = FileStamp::of(st);
    return true;
}

// Reads the whole current file at `path`, which must still be in the state
// `stamp`, into a new index that keeps a descriptor of the file. Nothing for a
// file the plain scan must handle (short, older, newer, changed meanwhile).
std::shared_ptr<const RecordIndex> buildIndex(const RecordKind& kind, const IndexFields& fields,
                                              const fs::path& path, const FileStamp& stamp) {
    auto file = LockedDataFile::open(path, LockedDataFile::Access::Read);
    FileStamp held;
    if (!file || !statFd(file->fd(), held) || !(held == stamp)) return nullptr;
    auto header = file->header();
    if (!header || checkVersion(kind, *header) != VersionCheck::Current) return nullptr;
    // A descriptor of its own, so the index never holds on to the lock's.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto index = std::make_shared<RecordIndex>(fields, path.string(), stamp, fd);
    if (!statFd(fd, held) || !(held == stamp)) return nullptr;
    const auto z = static_cast<std::int64_t>(kind.size);
    if (!forEachSlot(*file, kind, [&](std::int64_t off, const std::uint8_t* rec) {
            if (rec[kind.deletedOffset] == 0)
                index->add(static_cast<std::uint32_t>((off - static_cast<std::int64_t>(kHeaderSize)) / z), rec);
            return true;
        }))
        return nullptr;
    return index;
}

bool preadAll(int fd, std::int64_t off, std::uint8_t* buf, std::size_t n) {
    while (n > 0) {
        ssize_t got = ::pread(fd, buf, n, static_cast<off_t>(off));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        buf += got;
        off += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

// True while the file the look-up would read is the one `index` was built from,
// unchanged, and settled: the same stamp at the same spelling, and no file in
// the canonical spelling, which would be found first, has appeared beside it.
bool stillCurrent(const RecordIndex& index, const fs::path& canonical, const RecordIndexCache& cache) {
    FileStamp now;
    if (index.path() != canonical.native() && statPath(canonical, now)) return false;
    return statPath(index.path(), now) && now == index.stamp() && cache.settled(now);
}

// The record `index` points to for `query`, read into `rec`, or NotFound, as
// long as the file is still the one the index was built from once the record
// has been read (Unsure otherwise).
//
// The record is read without the file's lock: every write changes the file's
// stamp before it puts its bytes, so a read that overlapped a write fails the
// check that follows it and is never used.
Indexed answer(const RecordIndex& index, const RecordKind& kind, const IndexQuery& query,
               const fs::path& canonical, const RecordIndexCache& cache, std::uint8_t* rec) {
    const IndexFields& fields = index.fields();
    std::optional<std::uint32_t> slot = query.byPrefix ? index.byPrefix(query.key) : index.byName(query.key);
    const bool fallenBack = !slot && !query.fallbackName.empty();
    if (fallenBack) slot = index.byName(query.fallbackName);
    if (!slot) return stillCurrent(index, canonical, cache) ? Indexed::NotFound : Indexed::Unsure;
    const std::int64_t off = static_cast<std::int64_t>(kHeaderSize) + static_cast<std::int64_t>(*slot) *
                                                                          static_cast<std::int64_t>(kind.size);
    if (!preadAll(index.fd(), off, rec, kind.size) || !stillCurrent(index, canonical, cache))
        return Indexed::Unsure;
    // The record must be what the index says it is; if not, scan.
    const std::string name = getTextField(rec, fields.nameOffset, fields.nameLength);
    bool holds = false;
    if (fallenBack)
        holds = equalsNoCase(name, query.fallbackName);
    else if (query.byPrefix)
        holds = query.key.starts_with(getTextField(rec, fields.prefixOffset, fields.prefixLength));
    else
        holds = equalsNoCase(name, query.key);
    return holds && rec[kind.deletedOffset] == 0 ? Indexed::Found : Indexed::Unsure;
}

// `query` answered from the index of the kind's file, built first when there is
// none for the file as it is now. Unsure for everything the plain scan must
// handle as it always has: a missing, short, older or newer file (messages, the
// upgrade), a file changed too recently to trust to an index, a read error.
Indexed findIndexed(RecordIndexCache& cache, const RecordKind& kind, const IndexFields& fields,
                    const fs::path& dataDir, const IndexQuery& query, std::uint8_t* rec) {
    const fs::path canonical = dataDir / kind.fileName;
    const std::string key = canonical.string();
    std::shared_ptr<const RecordIndex> index = cache.find(key);
    if (index && index->fields() == fields) {
        Indexed found = answer(*index, kind, query, canonical, cache, rec);
        if (found != Indexed::Unsure) return found;
    }
    // No index, or not for the file as it is now.
    const fs::path path = recordFilePath(kind, dataDir);
    FileStamp stamp;
    if (!statPath(path, stamp) || !cache.settled(stamp)) {
        cache.forget(key);
        return Indexed::Unsure;
    }
    index = buildIndex(kind, fields, path, stamp);
    if (!index) {
        cache.forget(key);
        return Indexed::Unsure;
    }
    cache.store(key, index);
    return answer(*index, kind, query, canonical, cache, rec);
}

// True when `index` (if given) answers `query` for sure: `out` is then the
// record found or null. False: the caller scans the file.
template <class Rec>
bool answeredByIndex(RecordIndexCache* index, const IndexFields& fields, const fs::path& dataDir,
                     const IndexQuery& query, std::unique_ptr<Rec>& out) {
    if (!index) return false;
    auto rec = std::make_unique<Rec>();
    switch (findIndexed(*index, Rec::kKind, fields, dataDir, query, rec->data())) {
    case Indexed::Found:
        out = std::move(rec);
        return true;
    case Indexed::NotFound:
        out.reset();
        return true;
    case Indexed::Unsure:
        break;
    }
    return false;
}

// The first live record named `name` (ignoring case): through `index` when given
// and it can answer, else by a scan.
template <class Rec>
std::unique_ptr<Rec> findByName(RecordIndexCache* index, const IndexFields& fields, std::string_view name,
                                const fs::path& dataDir, UserPrompt& prompt,
                                const std::function<bool(const Rec&)>& match) {
    std::unique_ptr<Rec> rec;
    if (answeredByIndex(index, fields, dataDir, IndexQuery{name}, rec)) return rec;
    return findFirst<Rec>(dataDir, prompt, match);
}

}  // namespace

fs::path recordFilePath(const RecordKind& kind, const fs::path& dataDir) {
    return resolveFileNoCase(dataDir, kind.fileName);
}

ScanResult scanRecordFile(const RecordKind& kind, const fs::path& dataDir, UserPrompt& prompt,
                          const std::function<bool(const std::uint8_t*)>& visit) {
    // One upgrade per call: a declined or failed upgrade must not be offered in a loop.
    for (bool upgraded = false;; upgraded = true) {
        fs::path path = recordFilePath(kind, dataDir);
        auto file = LockedDataFile::open(path, LockedDataFile::Access::Read);
        if (!file) return ScanResult::Missing;
        auto header = file->header();
        if (!header) return ScanResult::Missing;
        switch (checkVersion(kind, *header)) {
        case VersionCheck::Newer:
            file.reset();
            prompt.error(kErrorTitle, std::string(kind.incompatibleText));
            return ScanResult::Refused;
        case VersionCheck::Older:
            file.reset();
            if (upgraded) return ScanResult::StillOld;
            UpdateRecordFile(kind.recName, path, prompt);
            continue;
        case VersionCheck::Current:
            break;
        }
        forEachSlot(*file, kind, [&](std::int64_t, const std::uint8_t* rec) {
            return rec[kind.deletedOffset] != 0 || visit(rec);
        });
        return ScanResult::Read;
    }
}

bool storeRecord(const RecordKind& kind, const fs::path& dataDir, std::uint8_t* rec, SlotRule rule,
                 UserPrompt& prompt, bool restampHeader) {
    const std::int32_t filePos = getInt32(rec, kind.filePosOffset);
    const bool isNew = filePos == -1;
    for (bool upgraded = false;; upgraded = true) {
        fs::path path = recordFilePath(kind, dataDir);
        auto file = LockedDataFile::open(path, LockedDataFile::Access::Write, isNew);
        if (!file) return false;
        if (auto header = file->header()) {
            VersionCheck v = checkVersion(kind, *header);
            if (v == VersionCheck::Newer) {
                file.reset();
                prompt.error(kErrorTitle, std::string(kind.incompatibleText));
                return false;
            }
            if (v == VersionCheck::Older) {
                file.reset();
                if (upgraded) return false;
                UpdateRecordFile(kind.recName, path, prompt);
                continue;
            }
            if (restampHeader) {
                header->setHeaderTime(std::chrono::system_clock::now());
                if (!file->writeAt(0, header->bytes.data(), kHeaderSize)) return false;
            }
        } else {
            // No header (new, empty or a stub shorter than one): it holds no records.
            if (!isNew) return false;
            auto h = DataFileHeader::make(static_cast<std::int32_t>(kind.size), kind.version);
            if (::ftruncate(file->fd(), 0) != 0 || !file->writeAt(0, h.bytes.data(), kHeaderSize))
                return false;
        }
        const std::int64_t end = alignedEnd(kind, file->size());
        std::int64_t at = filePos;
        if (isNew) {
            at = end;
            if (rule == SlotRule::FirstFreeSlot) {
                if (!forEachSlot(*file, kind, [&](std::int64_t off, const std::uint8_t* slot) {
                        if (slot[kind.deletedOffset] == 0) return true;
                        at = off;
                        return false;
                    }))
                    return false;
            }
        } else if (filePos < static_cast<std::int64_t>(kHeaderSize) || filePos > end ||
                   (filePos - static_cast<std::int64_t>(kHeaderSize)) % static_cast<std::int64_t>(kind.size) != 0) {
            return false;
        }
        std::vector<std::uint8_t> out(rec, rec + kind.size);
        if (isNew) {
            putInt32(out.data(), kind.filePosOffset, static_cast<std::int32_t>(at));
            out[kind.deletedOffset] = 0;
        }
        if (!file->writeAt(at, out.data(), out.size())) return false;
        std::memcpy(rec, out.data(), out.size());
        return true;
    }
}

std::unique_ptr<ProviderRec> FindProvider(std::string_view name, const fs::path& dataDir,
                                          UserPrompt& prompt) {
    return FindProvider(name, dataDir, prompt, &RecordIndexCache::shared());
}

std::unique_ptr<ProviderRec> FindProvider(std::string_view name, const fs::path& dataDir, UserPrompt& prompt,
                                          RecordIndexCache* index) {
    auto rec = findByName<ProviderRec>(index, kProviderFields, name, dataDir, prompt, [&](const ProviderRec& r) {
        return equalsNoCase(r.CompanyName(), name);
    });
    if (rec) {
        rec->setReservedCipherText(CipherString(rec->ReservedCipherText(), false));
        rec->setPassword(CipherString(rec->Password(), false));
    }
    return rec;
}

bool SaveProvider(ProviderRec& rec, const fs::path& dataDir, UserPrompt& prompt) {
    if (rec.CompanyName() == kEPage) return false;  // built-in, never stored
    // Cipher a copy: the caller's record stays plain whatever happens to the write.
    ProviderRec disk = rec;
    disk.setReservedCipherText(CipherString(rec.ReservedCipherText(), true));
    disk.setPassword(CipherString(rec.Password(), true));
    if (!storeRecord(ProviderRec::kKind, dataDir, disk.data(), SlotRule::FirstFreeSlot, prompt))
        return false;
    rec.setFilePos(disk.FilePos());
    rec.setDeleted(disk.Deleted());
    return true;
}

bool SaveProviderStats(const ProviderRec& rec, double lastAccess, const fs::path& dataDir) {
    const auto& kind = ProviderRec::kKind;
    const std::int64_t pos = rec.FilePos();
    if (pos < static_cast<std::int64_t>(kHeaderSize) ||
        (pos - static_cast<std::int64_t>(kHeaderSize)) % static_cast<std::int64_t>(kind.size) != 0)
        return false;
    auto file = LockedDataFile::open(recordFilePath(kind, dataDir), LockedDataFile::Access::Write);
    if (!file) return false;
    auto header = file->header();
    if (!header || checkVersion(kind, *header) != VersionCheck::Current) return false;
    if (pos + static_cast<std::int64_t>(kind.size) > file->size()) return false;
    ProviderRec onDisk;
    if (!file->readAt(pos, onDisk.data(), kind.size)) return false;
    // A deleted slot, or one reused by another provider, is not ours to count in.
    if (onDisk.Deleted() || !equalsNoCase(onDisk.CompanyName(), rec.CompanyName())) return false;
    static_assert(ProviderRec::kLastAccessOffset == ProviderRec::kPageCountOffset + 4);
    std::uint8_t stats[12];
    putInt32(stats, 0, onDisk.PageCount() + 1);
    putDouble(stats, 4, lastAccess);
    return file->writeAt(pos + static_cast<std::int64_t>(ProviderRec::kPageCountOffset), stats,
                         sizeof stats);
}

std::unique_ptr<PortRec> FindPort(std::string_view name, const fs::path& dataDir, UserPrompt& prompt) {
    return FindPort(name, dataDir, prompt, &RecordIndexCache::shared());
}

std::unique_ptr<PortRec> FindPort(std::string_view name, const fs::path& dataDir, UserPrompt& prompt,
                                  RecordIndexCache* index) {
    return findByName<PortRec>(index, kPortFields, name, dataDir, prompt,
                               [&](const PortRec& r) { return equalsNoCase(r.Name(), name); });
}

std::vector<std::string> LoadPortNames(const fs::path& dataDir, UserPrompt& prompt) {
    std::vector<std::string> names;
    scanRecordFile(PortRec::kKind, dataDir, prompt, [&](const std::uint8_t* raw) {
        names.push_back(getTextField(raw, PortRec::kNameOffset, PortRec::kNameLength));
        return true;
    });
    return names;
}

std::unique_ptr<RouteRec> FindRoute(std::string_view key, const fs::path& dataDir, bool byName,
                                    UserPrompt& prompt) {
    return FindRoute(key, dataDir, byName, prompt, &RecordIndexCache::shared());
}

std::unique_ptr<RouteRec> FindRoute(std::string_view key, const fs::path& dataDir, bool byName,
                                    UserPrompt& prompt, RecordIndexCache* index) {
    std::unique_ptr<RouteRec> found;
    const IndexQuery query = byName ? IndexQuery{key} : IndexQuery{key, true, "Default"};
    if (answeredByIndex(index, kRouteFields, dataDir, query, found)) return found;
    ScanResult result = scanRecordFile(RouteRec::kKind, dataDir, prompt, [&](const std::uint8_t* raw) {
        RouteRec r = RouteRec::fromBytes(raw);
        bool match = byName ? equalsNoCase(r.RouteName(), key) : key.starts_with(r.NPANXX());
        if (match) found = std::make_unique<RouteRec>(r);
        return !match;
    });
    if (found || byName || result != ScanResult::Read) return found;
    return FindRoute("Default", dataDir, true, prompt, index);
}

bool SavePort(PortRec& rec, const fs::path& dataDir, UserPrompt& prompt) {
    return storeRecord(PortRec::kKind, dataDir, rec.data(), SlotRule::Append, prompt);
}

bool SaveRoute(RouteRec& rec, const fs::path& dataDir, UserPrompt& prompt) {
    return storeRecord(RouteRec::kKind, dataDir, rec.data(), SlotRule::FirstFreeSlot, prompt,
                       /*restampHeader=*/true);
}

namespace {

std::vector<std::string> loadNames(const RecordKind& kind, std::size_t nameOffset, std::size_t nameLength,
                                   const fs::path& dataDir, UserPrompt& prompt,
                                   const std::function<bool(const std::uint8_t*)>& keep) {
    std::vector<std::string> names;
    const ScanResult result = scanRecordFile(kind, dataDir, prompt, [&](const std::uint8_t* raw) {
        std::string name = getTextField(raw, nameOffset, nameLength);
        if (!name.empty() && (!keep || keep(raw))) names.push_back(std::move(name));
        return true;
    });
    if (result != ScanResult::Read) names.clear();
    return names;
}

}  // namespace

std::vector<std::string> LoadProviderNames(const fs::path& dataDir, UserPrompt& prompt) {
    return loadNames(ProviderRec::kKind, ProviderRec::kCompanyNameOffset, ProviderRec::kCompanyNameLength, dataDir,
                     prompt, nullptr);
}

std::vector<std::string> LoadProviderNamesByType(const fs::path& dataDir, std::uint8_t deliveryType,
                                                 UserPrompt& prompt) {
    return loadNames(ProviderRec::kKind, ProviderRec::kCompanyNameOffset, ProviderRec::kCompanyNameLength, dataDir,
                     prompt, [&](const std::uint8_t* raw) {
                         return ProviderRec::fromBytes(raw).DeliveryType() == deliveryType;
                     });
}

std::vector<std::string> LoadRouteNames(const fs::path& dataDir, UserPrompt& prompt) {
    return loadNames(RouteRec::kKind, RouteRec::kRouteNameOffset, RouteRec::kRouteNameLength, dataDir, prompt,
                     nullptr);
}

}  // namespace nv
