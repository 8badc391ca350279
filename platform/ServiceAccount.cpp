#include "platform/ServiceAccount.h"

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "foundation/ConfigFile.h"
#include "foundation/FileUtil.h"
#include "platform/ServiceHost.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

// The entry of `name` in a passwd or group file under a root folder.
template <typename Entry, typename Next, typename Match>
std::optional<Entry> findEntry(const fs::path& file, Next next, Match match) {
    std::FILE* f = std::fopen(file.c_str(), "re");
    if (!f) return std::nullopt;
    std::optional<Entry> found;
    while (auto* e = next(f)) {
        if (match(*e)) {
            found = *e;
            break;
        }
    }
    std::fclose(f);
    return found;
}

bool listedIn(char** members, const std::string& user) {
    for (char** m = members; m && *m; ++m)
        if (user == *m) return true;
    return false;
}

std::string errnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

// Whether `inner` is `outer` or lies below it.
bool isWithin(const fs::path& inner, const fs::path& outer) {
    return std::mismatch(outer.begin(), outer.end(), inner.begin(), inner.end()).first == outer.end();
}

}  // namespace

SystemAccounts::SystemAccounts(fs::path root) : m_root(std::move(root)) {}

SystemAccounts SystemAccounts::fromEnvironment() {
    const char* root = std::getenv(kAccountsRootEnv);
    return SystemAccounts(root && *root ? fs::path(root) : fs::path());
}

std::optional<uid_t> SystemAccounts::userId(const std::string& name) const {
    if (m_root.empty()) {
        errno = 0;
        const passwd* pw = ::getpwnam(name.c_str());
        return pw ? std::optional<uid_t>(pw->pw_uid) : std::nullopt;
    }
    auto e = findEntry<passwd>(m_root / "etc/passwd", ::fgetpwent, [&](const passwd& p) { return name == p.pw_name; });
    return e ? std::optional<uid_t>(e->pw_uid) : std::nullopt;
}

std::optional<gid_t> SystemAccounts::groupId(const std::string& name) const {
    if (m_root.empty()) {
        const group* gr = ::getgrnam(name.c_str());
        return gr ? std::optional<gid_t>(gr->gr_gid) : std::nullopt;
    }
    auto e = findEntry<group>(m_root / "etc/group", ::fgetgrent, [&](const group& g) { return name == g.gr_name; });
    return e ? std::optional<gid_t>(e->gr_gid) : std::nullopt;
}

bool SystemAccounts::listsMember(const std::string& groupName, const std::string& user) const {
    if (m_root.empty()) {
        const group* gr = ::getgrnam(groupName.c_str());
        return gr && listedIn(gr->gr_mem, user);
    }
    // The member list lives in the file's static buffer: look while it is valid.
    bool listed = false;
    findEntry<group>(m_root / "etc/group", ::fgetgrent, [&](const group& g) {
        if (groupName != g.gr_name) return false;
        listed = listedIn(g.gr_mem, user);
        return true;
    });
    return listed;
}

bool SystemAccounts::runTool(const std::string& tool, std::vector<std::string> args, std::string& error) {
    if (!m_root.empty()) args.insert(args.begin(), {"--prefix", m_root.string()});
    int rc = runProgram(tool, args);
    if (rc == 0) return true;
    std::string step = tool;
    for (const auto& a : args) step += " " + a;
    error = rc < 0 ? "\"" + step + "\" could not be run" : "\"" + step + "\" failed (exit status " + std::to_string(rc) + ")";
    return false;
}

bool SystemAccounts::addSystemGroup(const std::string& name, std::string& error) {
    return runTool("groupadd", {"--system", name}, error);
}

bool SystemAccounts::addSystemUser(const std::string& name, const std::string& groupName, const fs::path& home,
                                   std::string& error) {
    return runTool("useradd",
                   {"--system", "--gid", groupName, "--home-dir", home.string(), "--no-create-home", "--shell",
                    "/usr/sbin/nologin", "--comment", kServiceDescription, name},
                   error);
}

bool SystemAccounts::addToGroup(const std::string& user, const std::string& groupName, std::string& error) {
    return runTool("usermod", {"--append", "--groups", groupName, user}, error);
}

std::optional<ServiceAccountIds> prepareServiceAccount(SystemAccounts& accounts, const std::string& user,
                                                       const fs::path& dataDir, std::string& error) {
    if (!accounts.groupId(kServiceAccount) && !accounts.addSystemGroup(kServiceAccount, error)) return std::nullopt;
    if (!accounts.userId(kServiceAccount) && !accounts.addSystemUser(kServiceAccount, kServiceAccount, dataDir, error))
        return std::nullopt;
    if (!accounts.listsMember(kSerialGroup, kServiceAccount) &&
        !accounts.addToGroup(kServiceAccount, kSerialGroup, error))
        return std::nullopt;
    auto uid = accounts.userId(user);
    auto gid = accounts.groupId(kServiceAccount);
    if (!uid) {
        error = "The logon \"" + user + "\" does not exist";
        return std::nullopt;
    }
    if (!gid) {
        error = "The group \"" + std::string(kServiceAccount) + "\" was not found after it was added";
        return std::nullopt;
    }
    return ServiceAccountIds{*uid, *gid};
}

namespace {

// An entry already in the data directory joins the group, keeping its owner.
bool joinGroup(const fs::directory_entry& entry, gid_t gid, std::string& error) {
    const fs::path& p = entry.path();
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return error = errnoText("Reading " + p.string(), errno), false;
    // Links (the COMn map to serial devices) and what they point at stay as they are.
    if (S_ISLNK(st.st_mode)) return true;
    if (::lchown(p.c_str(), static_cast<uid_t>(-1), gid) != 0)
        return error = errnoText("Giving " + p.string() + " to the group", errno), false;
    mode_t mode = st.st_mode & 07777;
    if (S_ISDIR(st.st_mode))
        mode |= 02070;
    else if (S_ISREG(st.st_mode))
        mode |= equalsNoCase(p.filename().string(), kConfigFileName) ? 0040 : 0060;
    else
        return true;
    if (::chmod(p.c_str(), mode) != 0) return error = errnoText("Setting the mode of " + p.string(), errno), false;
    return true;
}

}  // namespace

bool prepareDataDirectory(const fs::path& dataDir, const ServiceAccountIds& ids, const fs::path& program,
                          std::string& error) {
    std::error_code ec;
    fs::path dir = fs::weakly_canonical(dataDir, ec);
    if (ec) dir = dataDir;
    fs::path exe = fs::weakly_canonical(program, ec);
    if (!program.empty() && !ec && isWithin(exe, dir)) {
        error = "The data directory " + dir.string() + " holds the program " + exe.string() + ": the group " +
                kServiceAccount + " may change what is in it, so it must not hold a program run by an administrator. "
                "Keep Config.Dat out of the install directory.";
        return false;
    }
    fs::create_directories(dir, ec);
    if (ec) {
        error = "Creating the data directory " + dir.string() + " failed: " + ec.message();
        return false;
    }
    if (::chown(dir.c_str(), ids.uid, ids.gid) != 0 || ::chmod(dir.c_str(), 02770) != 0) {
        error = errnoText("Giving the data directory " + dir.string() + " to the service", errno);
        return false;
    }
    for (fs::recursive_directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (!joinGroup(*it, ids.gid, error)) return false;
    if (ec) {
        error = "Reading the data directory " + dir.string() + " failed: " + ec.message();
        return false;
    }
    return true;
}

std::optional<std::string> dataDirectoryAccessProblem(const fs::path& dataDir) {
    bool usable = ::access(dataDir.c_str(), R_OK | W_OK | X_OK) == 0;
    int err = errno;
    if (usable) {
        auto config = findFileNoCase(dataDir, kConfigFileName);
        usable = !config || ::access(config->c_str(), R_OK) == 0;
    } else if (err == ENOENT || err == ENOTDIR) {
        return errnoText("The data directory " + dataDir.string() + " cannot be used", err);
    }
    if (usable) return std::nullopt;

    const passwd* pw = ::getpwuid(::getuid());
    std::string account = pw ? pw->pw_name : std::to_string(::getuid());
    gid_t primary = pw ? pw->pw_gid : static_cast<gid_t>(-1);
    const std::string groupName = kServiceAccount;
    SystemAccounts accounts;
    auto gid = accounts.groupId(groupName);
    bool listed = gid && (accounts.listsMember(groupName, account) || primary == *gid);
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(::getgroups(0, nullptr), 0)));
    int n = ::getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(n, 0)));
    bool inSession = gid && (::getegid() == *gid || std::find(groups.begin(), groups.end(), *gid) != groups.end());
    if (listed && !inSession)
        return account + " was added to the group " + groupName +
               " after this session began: log out and in again to use the data directory " + dataDir.string() + ".";
    if (inSession)
        return "The data directory " + dataDir.string() + " does not let the group " + groupName +
               " read and write it: installing the service again (ZQSvc INSTALL) sets its permissions.";
    return account + " may not use the data directory " + dataDir.string() +
           ". Ask an administrator to add it to the group " + groupName + " (adduser " + account + " " + groupName +
           "), then log out and in again.";
}

}  // namespace nv
