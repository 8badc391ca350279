#include "platform/ServiceAccount.h"

#include <gtest/gtest.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tests/peers/AccountsRoot.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

class ServiceAccountTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::AccountsRoot::usable()) GTEST_SKIP() << "the shadow tools and chown need root";
    }
    test::TempDir data;
};

TEST_F(ServiceAccountTest, SystemUserAndGroupAreMadeOnceWithTheDataDirectoryAsHome) {
    test::AccountsRoot root;
    SystemAccounts accounts(root.path());
    fs::path home = data / "All Users";
    std::string error;
    auto ids = prepareServiceAccount(accounts, "nerivale", home, error);
    ASSERT_TRUE(ids) << error;
    EXPECT_EQ(accounts.userId("nerivale"), ids->uid);
    EXPECT_EQ(accounts.groupId("nerivale"), ids->gid);
    EXPECT_TRUE(accounts.listsMember("dialout", "nerivale"));
    std::string passwd = root.passwd();
    EXPECT_NE(passwd.find("nerivale:x:" + std::to_string(ids->uid) + ":" + std::to_string(ids->gid) +
                          ":Neri Vale:" + home.string() + ":/usr/sbin/nologin\n"),
              std::string::npos)
        << passwd;
    // A system account: below the first id of people's accounts.
    EXPECT_LT(ids->uid, 1000u);

    // The second install finds everything and changes nothing.
    std::string before = root.passwd() + root.group();
    auto again = prepareServiceAccount(accounts, "nerivale", home, error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->uid, ids->uid);
    EXPECT_EQ(root.passwd() + root.group(), before);
}

TEST_F(ServiceAccountTest, NamedLogonRunsTheServiceWithTheGroupKept) {
    test::AccountsRoot root("pager:x:1500:1500::/home/pager:/bin/sh\n", "pager:x:1500:\n");
    SystemAccounts accounts(root.path());
    std::string error;
    auto ids = prepareServiceAccount(accounts, "pager", data.path(), error);
    ASSERT_TRUE(ids) << error;
    EXPECT_EQ(ids->uid, 1500u);
    EXPECT_EQ(accounts.groupId("nerivale"), ids->gid);
    // The named account itself is left as it is.
    EXPECT_FALSE(accounts.listsMember("dialout", "pager"));
}

TEST_F(ServiceAccountTest, AFailingToolIsNamed) {
    test::AccountsRoot root;
    // A folder where the group file should be: groupadd cannot open it.
    fs::remove(root.path() / "etc/group");
    fs::create_directory(root.path() / "etc/group");
    SystemAccounts accounts(root.path());
    std::string error;
    EXPECT_FALSE(prepareServiceAccount(accounts, "nerivale", data.path(), error));
    EXPECT_EQ(error, "\"groupadd --prefix " + root.path().string() + " --system nerivale\" failed (exit status 10)");
}

struct Mode {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};
Mode modeOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

TEST_F(ServiceAccountTest, DataDirectoryIsMadeForTheGroup) {
    fs::path dir = data / "KOR/Nerivale/Users/All Users";
    std::string error;
    ASSERT_TRUE(prepareDataDirectory(dir, {4242, 4343}, "/opt/nerivale/ZQSvc", error)) << error;
    auto m = modeOf(dir);
    EXPECT_EQ(m.uid, 4242u);
    EXPECT_EQ(m.gid, 4343u);
    EXPECT_EQ(m.mode, 02770u);
    // The levels above stay the system's.
    EXPECT_EQ(modeOf(data / "KOR/Nerivale").uid, 0u);
}

// Files left by a service that ran as root join the group; links to devices and
// their targets are not touched.
TEST_F(ServiceAccountTest, WhatTheDataDirectoryHoldsJoinsTheGroup) {
    fs::path dir = data / "pages";
    fs::create_directories(dir / "logs");
    ::chmod((dir / "logs").c_str(), 0755);
    test::writeFile(dir / "Log.Dat", "x");
    test::writeFile(dir / "CONFIG.DAT", "x");
    test::writeFile(dir / "logs/Log-1.Dat", "x");
    test::writeFile(data / "device", "x");
    fs::create_symlink(data / "device", dir / "COM1");
    struct Case {
        fs::path path;
        mode_t before, after;
    } cases[] = {
        {dir / "Log.Dat", 0644, 0664},
        {dir / "CONFIG.DAT", 0600, 0640},
        {dir / "logs/Log-1.Dat", 0600, 0660},
        {data / "device", 0600, 0600},
    };
    for (const auto& c : cases) ::chmod(c.path.c_str(), c.before);
    std::string error;
    ASSERT_TRUE(prepareDataDirectory(dir, {4242, 4343}, "/opt/nerivale/ZQSvc", error)) << error;
    for (const auto& c : cases) {
        auto m = modeOf(c.path);
        EXPECT_EQ(m.mode, c.after) << c.path;
        bool inside = c.path.parent_path() != data.path();
        EXPECT_EQ(m.gid, inside ? 4343u : 0u) << c.path;
        EXPECT_EQ(m.uid, 0u) << c.path;  // the owner stays
    }
    EXPECT_EQ(modeOf(dir / "logs").mode, 02775u);
    EXPECT_EQ(modeOf(dir / "COM1").gid, 0u);
}

// What a person outside the group is told, from a process of `nobody`.
std::string problemAsNobody(const fs::path& dir) {
    int fds[2];
    if (::pipe(fds) != 0) return "pipe failed";
    pid_t pid = ::fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        auto problem = dataDirectoryAccessProblem(dir);
        std::string text = problem ? *problem : "none";
        ssize_t ignored = ::write(fds[1], text.data(), text.size());
        (void)ignored;
        ::_exit(0);
    }
    ::close(fds[1]);
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return out;
}

TEST_F(ServiceAccountTest, AccessProblemNamesTheGroup) {
    fs::path dir = data / "pages";
    fs::create_directories(dir);
    ::chmod(data.path().c_str(), 0755);
    ::chmod(dir.c_str(), 02770);
    EXPECT_EQ(problemAsNobody(dir), "nobody may not use the data directory " + dir.string() +
                                        ". Ask an administrator to add it to the group nerivale (adduser nobody "
                                        "nerivale), then log out and in again.");
    ::chmod(dir.c_str(), 0777);
    EXPECT_EQ(problemAsNobody(dir), "none");
    // Config.Dat must be readable too.
    test::writeFile(dir / "Config.Dat", "");
    ::chmod((dir / "Config.Dat").c_str(), 0600);
    EXPECT_NE(problemAsNobody(dir).find("group nerivale"), std::string::npos);
    EXPECT_EQ(problemAsNobody(dir / "missing"),
              "The data directory " + (dir / "missing").string() + " cannot be used: No such file or directory");
}

}  // namespace
}  // namespace nv
