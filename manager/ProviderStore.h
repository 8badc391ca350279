#pragma once
// What the provider windows do to Provider.dat, NpaNxxRoute.dat and the
// providers' modem settings files beyond one record store: the name rule, the
// bytes every editor save forces, the statistics re-read, and the rename and
// delete cascades. No widgets here, so the windows and their tests share it.
#include <filesystem>
#include <optional>
#include <string>

#include "foundation/Records.h"
#include "foundation/UserPrompt.h"

namespace nv {

// The route the service cannot start without; a provider's delete never takes it.
inline constexpr const char* kDefaultRouteName = "Default";

// A provider name becomes a file name (<name>.mcf): no "/", no "\", no control
// character, and no leading "." (which would hide the file or climb a folder).
bool isSafeProviderName(const std::string& name);

// <workDir>/<name>.mcf as spelt on disk (any case), or nothing.
std::optional<std::filesystem::path> findProviderMcf(const std::filesystem::path& workDir,
                                                     const std::string& name);
// Where a new <name>.mcf goes.
std::filesystem::path providerMcfPath(const std::filesystem::path& workDir, const std::string& name);

// The bytes every save of the provider editor and the carrier import sets:
// LastUpdate, the reserved int32 at 2603, SmsComPort 0, byte 1833 = 4,
// SmsPduMode 0; a new record also byte 1831 = 0.
void stampProviderSave(ProviderRec& rec, bool isNew, double now);

// A new record as the editor and the carrier import start one: FilePos -1,
// DateAdded `now`, the direct COM settings COM1/1200/7,E,1/Hardware, the Fleet
// Sync settings COM1/9600/8,N,2/Hardware and both secure switches off.
ProviderRec newProviderRecord(double now);

// Copies PageCount and LastAccess from the live record stored at rec.FilePos,
// which the service may have raised since the editor read it. False when that
// slot is no longer a live record of the same name (deleted or reused).
bool refreshProviderStats(ProviderRec& rec, const std::filesystem::path& workDir, UserPrompt& prompt);

// Gives every live route whose primary provider is `oldName` (same bytes, case
// counted) the provider `newName` and stores it. Secondary references stay.
// Returns the number of routes changed.
int renameProviderRoutes(const std::filesystem::path& workDir, const std::string& oldName,
                         const std::string& newName, UserPrompt& prompt);

struct DeleteRoutesResult {
    int deleted = 0;
    bool keptDefault = false;  // the route "Default" used the provider and was kept
};
// Deletes every live route whose primary provider is `name` exactly, except the
// route named "Default" (any case).
DeleteRoutesResult deleteProviderRoutes(const std::filesystem::path& workDir, const std::string& name,
                                        UserPrompt& prompt);

// Moves (or copies) <oldName>.mcf to <newName>.mcf. Never over an existing
// file: false when there is nothing to move, a name is unsafe, or the target exists.
bool moveProviderMcf(const std::filesystem::path& workDir, const std::string& oldName,
                     const std::string& newName);
bool copyProviderMcf(const std::filesystem::path& workDir, const std::string& oldName,
                     const std::string& newName);

}  // namespace nv
