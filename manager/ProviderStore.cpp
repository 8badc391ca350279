#include "manager/ProviderStore.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "foundation/DataFile.h"
#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"

namespace nv {
namespace fs = std::filesystem;

bool isSafeProviderName(const std::string& name) {
    if (name.empty() || name.front() == '.') return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    return true;
}

std::optional<fs::path> findProviderMcf(const fs::path& workDir, const std::string& name) {
    if (!isSafeProviderName(name)) return std::nullopt;
    return findFileNoCase(workDir, name + ".mcf");
}

fs::path providerMcfPath(const fs::path& workDir, const std::string& name) {
    return workDir / (name + ".mcf");
}

void stampProviderSave(ProviderRec& rec, bool isNew, double now) {
    rec.setLastUpdate(now);
    rec.setReserved2603(0);
    if (isNew) rec.setReserved1831(0);
    rec.setSmsComPort(0);
    rec.setReserved1833(4);
    rec.setSmsPduMode(false);
}

ProviderRec newProviderRecord(double now) {
    ProviderRec rec;
    rec.setDateAdded(now);
    rec.setComPort(0);
    rec.setComSpeed(3);  // 1200
    rec.setComData(0);   // 7,E,1
    rec.setComFlow(1);   // Hardware
    rec.setFSComPort(0);
    rec.setFSComSpeed(6);  // 9600
    rec.setFSComData(2);   // 8,N,2
    rec.setFSComFlow(1);
    rec.setSNPPSecure(-1);
    rec.setSMPPSecureMode(-1);
    return rec;
}

bool refreshProviderStats(ProviderRec& rec, const fs::path& workDir, UserPrompt& prompt) {
    bool found = false;
    const std::int32_t pos = rec.FilePos();
    const std::string name = rec.CompanyName();
    scanRecordFile(ProviderRec::kKind, workDir, prompt, [&](const std::uint8_t* raw) {
        ProviderRec disk = ProviderRec::fromBytes(raw);
        if (disk.FilePos() != pos) return true;
        if (equalsNoCase(disk.CompanyName(), name)) {
            rec.setPageCount(disk.PageCount());
            rec.setLastAccess(disk.LastAccess());
            found = true;
        }
        return false;
    });
    return found;
}

namespace {

std::vector<RouteRec> routesOf(const fs::path& workDir, const std::string& provider, UserPrompt& prompt) {
    std::vector<RouteRec> routes;
    scanRecordFile(RouteRec::kKind, workDir, prompt, [&](const std::uint8_t* raw) {
        RouteRec route = RouteRec::fromBytes(raw);
        if (route.Provider() == provider) routes.push_back(route);
        return true;
    });
    return routes;
}

// rename(2) replaces an existing target; this never does.
bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link fails on an existing target too.
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

// The source file, and whether `newName`'s file may be created beside it: a
// file of that name (any case) that is not the source itself blocks it.
std::optional<fs::path> mcfSource(const fs::path& workDir, const std::string& oldName,
                                  const std::string& newName) {
    if (!isSafeProviderName(newName)) return std::nullopt;
    auto from = findProviderMcf(workDir, oldName);
    if (!from) return std::nullopt;
    auto existing = findProviderMcf(workDir, newName);
    if (existing && *existing != *from) return std::nullopt;
    if (fs::exists(providerMcfPath(workDir, newName))) return std::nullopt;
    return from;
}

}  // namespace

int renameProviderRoutes(const fs::path& workDir, const std::string& oldName, const std::string& newName,
                         UserPrompt& prompt) {
    int changed = 0;
    for (RouteRec& route : routesOf(workDir, oldName, prompt)) {
        route.setProvider(newName);
        if (SaveRoute(route, workDir, prompt)) ++changed;
    }
    return changed;
}

DeleteRoutesResult deleteProviderRoutes(const fs::path& workDir, const std::string& name, UserPrompt& prompt) {
    DeleteRoutesResult result;
    for (RouteRec& route : routesOf(workDir, name, prompt)) {
        if (equalsNoCase(route.RouteName(), kDefaultRouteName)) {
            result.keptDefault = true;
            continue;
        }
        route.setDeleted(true);
        if (SaveRoute(route, workDir, prompt)) ++result.deleted;
    }
    return result;
}

bool moveProviderMcf(const fs::path& workDir, const std::string& oldName, const std::string& newName) {
    auto from = mcfSource(workDir, oldName, newName);
    return from && renameNoReplace(*from, providerMcfPath(workDir, newName));
}

bool copyProviderMcf(const fs::path& workDir, const std::string& oldName, const std::string& newName) {
    auto from = mcfSource(workDir, oldName, newName);
    if (!from || *from == providerMcfPath(workDir, newName)) return false;
    std::error_code ec;
    return fs::copy_file(*from, providerMcfPath(workDir, newName), fs::copy_options::none, ec);
}

}  // namespace nv
