#pragma once
// Brings a record file of an older version to the current layout: live records
// packed in their old order, added fields filled with their defaults, FilePos
// renewed, the old file kept as a backup beside it. A file older than the oldest
// convertible version, or an older file whose RecordSize is not the record size
// of one of its kind's versions, is only offered for discarding.
//
// The data file is never missing: the new file is built under a unique name in
// the same folder, fsync'd and renamed over the old one after the backup copy is
// safe, all under an exclusive lock with the version re-checked once it is held.
// Messages are shown only after the work is done, so no question or message
// ever stands between the old file going and the new one arriving.
#include <cstddef>
#include <filesystem>
#include <string_view>

#include "foundation/UserPrompt.h"

namespace nv {

// Record sizes of the older versions. They follow from the layouts: a version's
// record ends where the first field added by the next version begins.
inline constexpr std::size_t kProviderSize70 = 1872;  // LastUpdate (7.1) at 1872
inline constexpr std::size_t kProviderSize71 = 1880;  // SNPPCallerID (7.2) at 1880
inline constexpr std::size_t kProviderSize72 = 1946;  // contact texts (7.3) from 1946
inline constexpr std::size_t kProviderSize73 = 2506;  // DeliveryType (7.4) at 2506
inline constexpr std::size_t kProviderSize74 = 2507;  // reserved int32 (7.5) at 2507
inline constexpr std::size_t kProviderSize75 = 2511;  // TapOverIPAddr (7.6) at 2511
inline constexpr std::size_t kPortSize70 = 649;       // 649..775 added by 7.1
inline constexpr std::size_t kRouteSize10 = 440;      // three flags (1.1) from 440
inline constexpr std::size_t kUserSize70 = 1112;      // 8 bytes (7.1) at 1112
inline constexpr std::size_t kUserSize71 = 1120;      // Priority (7.2) at 1120
inline constexpr std::size_t kGroupSize70 = 353;      // 8 bytes (7.1) at 353

enum class UpgradeResult {
    NothingToDo,  // no file, unknown kind, already current (or newer: the readers refuse it)
    Converted,
    Discarded,    // not convertible; the user agreed to have it moved to its discard backup
    Declined,     // not convertible; the user kept it (the service always keeps it)
    Failed,       // a file error; the file is as it was
};

// recName: "UserRec", "GroupRec", "ProviderRec", "RouteRec" or "PortRec" (exact);
// fileName: the full path of the data file (found in any case).
UpgradeResult UpdateRecordFile(std::string_view recName, const std::filesystem::path& fileName,
                               UserPrompt& prompt);

}  // namespace nv
