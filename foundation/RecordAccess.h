#pragma once
// Look-ups and stores on the record files. Each call resolves the file in the
// data directory (existing spelling in any case, else the canonical one), keeps
// nothing open after it returns, and hands back heap copies the caller owns.
// Questions and messages (a newer file refused, the upgrade's questions) go
// through the caller's UserPrompt; the service passes one that never waits.
//
// Locking: readers hold a shared flock while they scan, writers an exclusive one,
// so a reader never sees half of a stored record. The upgrade replaces a file
// by rename and every open re-checks that it locked the file now at the path.
//
// FindProvider, FindPort and FindRoute answer from an index of the file
// (foundation/RecordIndex.h), built by one whole read and built again whenever
// the file has changed, and read only the record found. Files that are missing,
// older or newer, or changed within the last two seconds are scanned as
// without an index, with the same messages and the same upgrade.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Records.h"
#include "foundation/UserPrompt.h"

namespace nv {

class RecordIndexCache;

// Passwords longer than this do not survive the 65-character cipher field
// (seed pair + 31 character pairs); editors refuse longer ones.
inline constexpr std::size_t kMaxPasswordLength = 31;

// Existing spelling of the kind's file in `dataDir`, else dataDir/<canonical name>.
std::filesystem::path recordFilePath(const RecordKind& kind, const std::filesystem::path& dataDir);

enum class ScanResult {
    Read,      // the file is current and was scanned (perhaps after one upgrade)
    Missing,   // no file, or shorter than a header: no records
    Refused,   // newer version: refused with the kind's message
    StillOld,  // older, and the upgrade left it old (declined or failed)
};

// Visits each live record of the kind's file in file order until `visit` returns
// false. An older file is upgraded once per call; if it stays old the scan gives
// up instead of asking again. `visit` must not touch the file (a lock is held).
// For the list readers that live elsewhere (provider and route names).
ScanResult scanRecordFile(const RecordKind& kind, const std::filesystem::path& dataDir,
                          UserPrompt& prompt,
                          const std::function<bool(const std::uint8_t* rec)>& visit);

// Where a writer puts a record whose FilePos is -1.
enum class SlotRule { FirstFreeSlot, Append };

// Stores `rec` (kind.size bytes) at its FilePos, or for FilePos -1 in a new slot by
// `rule`, setting FilePos and clearing Deleted in `rec`. A missing file (or one
// shorter than a header) gets a header first; records are appended at the
// aligned end. A newer file, or one still old after an upgrade, is never
// written. A FilePos that is not a record boundary inside the file is refused.
// With `restampHeader` the header's time becomes the time of this write (size
// and version as read), as the route writer does.
bool storeRecord(const RecordKind& kind, const std::filesystem::path& dataDir, std::uint8_t* rec,
                 SlotRule rule, UserPrompt& prompt, bool restampHeader = false);

// First live provider whose CompanyName equals `name` ignoring case; the two
// ciphered fields come back plain.
std::unique_ptr<ProviderRec> FindProvider(std::string_view name,
                                          const std::filesystem::path& dataDir, UserPrompt& prompt);
// The look-ups take the process's shared index cache; these forms take another
// one, or none (nullptr) for a plain scan of the file.
std::unique_ptr<ProviderRec> FindProvider(std::string_view name, const std::filesystem::path& dataDir,
                                          UserPrompt& prompt, RecordIndexCache* index);

// Stores the provider (ciphering Password and the field at 1602 on disk only;
// `rec` stays plain). "E-Page" (exact case) is never stored. True when written.
bool SaveProvider(ProviderRec& rec, const std::filesystem::path& dataDir, UserPrompt& prompt);

// The service's statistics write. A page's provider copy may be minutes old, so
// it is never written whole: under an exclusive lock the record at rec.FilePos is
// re-read and, only if it is live and still has rec's name (ignoring case), its
// PageCount goes up by one and LastAccess becomes `lastAccess`. Nothing else of
// the record is touched. False when the slot is gone, renamed, or unreadable.
bool SaveProviderStats(const ProviderRec& rec, double lastAccess,
                       const std::filesystem::path& dataDir);

std::unique_ptr<PortRec> FindPort(std::string_view name, const std::filesystem::path& dataDir,
                                  UserPrompt& prompt);
std::unique_ptr<PortRec> FindPort(std::string_view name, const std::filesystem::path& dataDir,
                                  UserPrompt& prompt, RecordIndexCache* index);

// Names of the live port records in file order.
std::vector<std::string> LoadPortNames(const std::filesystem::path& dataDir, UserPrompt& prompt);

// byName: the first live route whose RouteName equals `key` ignoring case.
// Otherwise the first live route in file order whose NPANXX (same case) begins
// `key` (an empty NPANXX begins every key), else the route "Default" by name.
// Disabled routes are returned like any other; the caller checks Enabled.
std::unique_ptr<RouteRec> FindRoute(std::string_view key, const std::filesystem::path& dataDir,
                                    bool byName, UserPrompt& prompt);
std::unique_ptr<RouteRec> FindRoute(std::string_view key, const std::filesystem::path& dataDir,
                                    bool byName, UserPrompt& prompt, RecordIndexCache* index);

// ---- the manager's writers and name lists ----

// Stores a port record: FilePos -1 appends (deleted slots are never reused),
// otherwise writes in place. False when nothing was written.
bool SavePort(PortRec& rec, const std::filesystem::path& dataDir, UserPrompt& prompt);

// Stores a route record: FilePos -1 takes the first deleted slot, else appends;
// the header's time is re-stamped with every write. The file's modification
// time is the time of the write. False when nothing was written.
bool SaveRoute(RouteRec& rec, const std::filesystem::path& dataDir, UserPrompt& prompt);

// Names of the live records with a non-empty name, in file order. A newer file
// is refused with the kind's message and gives an empty list; an older one is
// upgraded once (a declined or failed upgrade gives an empty list, not a
// second question).
std::vector<std::string> LoadProviderNames(const std::filesystem::path& dataDir, UserPrompt& prompt);
// Only the providers whose DeliveryType equals `deliveryType`.
std::vector<std::string> LoadProviderNamesByType(const std::filesystem::path& dataDir,
                                                 std::uint8_t deliveryType, UserPrompt& prompt);
std::vector<std::string> LoadRouteNames(const std::filesystem::path& dataDir, UserPrompt& prompt);

}  // namespace nv
