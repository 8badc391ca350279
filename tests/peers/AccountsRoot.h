#pragma once
// A root folder with its own etc/passwd, group, shadow and gshadow, where the
// shadow tools (--prefix) add accounts instead of on the host. It names itself
// in $NERIVALE_ACCOUNTS_ROOT while it lives, for programs the test starts.
// The tools need root: `usable()` says whether the test can go on.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/peers/TestSupport.h"

namespace nv::test {

class AccountsRoot {
public:
    // `passwd` and `group` lines beyond root, nobody and dialout.
    explicit AccountsRoot(const std::string& passwd = "", const std::string& group = "") {
        std::filesystem::create_directories(m_dir / "etc");
        writeFile(m_dir / "etc/passwd", "root:x:0:0:root:/root:/bin/bash\n"
                                        "nobody:x:65534:65534:nobody:/nonexistent:/usr/sbin/nologin\n" + passwd);
        writeFile(m_dir / "etc/group", "root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n" + group);
        for (const char* secret : {"etc/shadow", "etc/gshadow"}) {
            writeFile(m_dir / secret, "");
            ::chmod((m_dir / secret).c_str(), 0600);
        }
        ::setenv("NERIVALE_ACCOUNTS_ROOT", m_dir.path().c_str(), 1);
    }
    ~AccountsRoot() { ::unsetenv("NERIVALE_ACCOUNTS_ROOT"); }
    AccountsRoot(const AccountsRoot&) = delete;
    AccountsRoot& operator=(const AccountsRoot&) = delete;

    static bool usable() { return ::geteuid() == 0 && ::access("/usr/sbin/useradd", X_OK) == 0; }
    const std::filesystem::path& path() const { return m_dir.path(); }
    std::string passwd() const { return readFile(m_dir / "etc/passwd"); }
    std::string group() const { return readFile(m_dir / "etc/group"); }

private:
    TempDir m_dir;
};

}  // namespace nv::test
