#pragma once
// The service's account, and the data directory it shares with the operators
// through the group `nerivale`.
#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace nv {

// Tests name a root folder here: accounts are then read from its etc/passwd and
// etc/group and changed there by the shadow tools' --prefix.
inline constexpr const char* kAccountsRootEnv = "NERIVALE_ACCOUNTS_ROOT";

// System users and groups, of the host (the name service and groupadd, useradd,
// usermod from PATH) or of a root folder.
class SystemAccounts {
public:
    explicit SystemAccounts(std::filesystem::path root = {});
    // The host's, or the root folder named by $NERIVALE_ACCOUNTS_ROOT.
    static SystemAccounts fromEnvironment();

    std::optional<uid_t> userId(const std::string& name) const;
    std::optional<gid_t> groupId(const std::string& name) const;
    // Whether `group` lists `user` as a member.
    bool listsMember(const std::string& group, const std::string& user) const;

    // False with the failed command named in `error`.
    bool addSystemGroup(const std::string& name, std::string& error);
    // No login shell, `home` not created (the data directory is made apart).
    bool addSystemUser(const std::string& name, const std::string& group, const std::filesystem::path& home,
                       std::string& error);
    bool addToGroup(const std::string& user, const std::string& group, std::string& error);

private:
    bool runTool(const std::string& tool, std::vector<std::string> args, std::string& error);
    std::filesystem::path m_root;
};

struct ServiceAccountIds {
    uid_t uid = 0;
    gid_t gid = 0;
};

// The group `nerivale` and the system user `nerivale` (home the data directory,
// member of dialout), each created when missing. A named logon `user` must
// exist already. The ids of `user` and the group, or nothing with the reason.
std::optional<ServiceAccountIds> prepareServiceAccount(SystemAccounts& accounts, const std::string& user,
                                                       const std::filesystem::path& dataDir, std::string& error);

// The data directory made when missing (the levels above it as the system's),
// owned by `ids` with mode 2770: the group may work in it and what is made there
// stays the group's. What it already holds joins the group with group read and
// write (folders set-group-id; Config.Dat group-readable only), so files left by
// a service that ran as root stay usable. A folder that holds `program` is
// refused: the group could replace a program that an administrator runs.
bool prepareDataDirectory(const std::filesystem::path& dataDir, const ServiceAccountIds& ids,
                          const std::filesystem::path& program, std::string& error);

// For a program started by a person: nothing when this process may read, write
// and enter the data directory (and read Config.Dat there), else the message to
// show, naming the group to join (or, when the account was added after this
// session began, saying to log in again).
std::optional<std::string> dataDirectoryAccessProblem(const std::filesystem::path& dataDir);

}  // namespace nv
