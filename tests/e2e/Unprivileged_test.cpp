// ZQSvc as its unit runs it: an unprivileged user, the data directory the
// group's (2770), umask 0007, the serial line reached through the dialout
// group, no new privileges, no capabilities. A page framed on the inbound port
// (a pty) goes out to a loopback SNPP server (Debian's Net::SNPP::Server).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/NetSnppServer.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// nobody and nogroup stand in for the system user and group nerivale.
constexpr uid_t kUser = 65534;
constexpr gid_t kGroup = 65534;
constexpr gid_t kDialout = 20;

struct Owner {
    uid_t uid;
    gid_t gid;
    mode_t mode;
};
Owner ownerOf(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(::lstat(p.c_str(), &st), 0) << p;
    return {st.st_uid, st.st_gid, st.st_mode & 07777};
}

// A file the operator (root here, a member of the group) wrote into the data directory.
void operatorFile(const fs::path& p, const std::string& bytes, mode_t mode) {
    test::writeFile(p, bytes);
    ASSERT_EQ(::chown(p.c_str(), 0, kGroup), 0);
    ASSERT_EQ(::chmod(p.c_str(), mode), 0);
}

// The program started as `kUser` with the unit's umask, groups and limits.
std::vector<std::string> asServiceUser() {
    const std::string drop = "umask 0007; exec setpriv --reuid=" + std::to_string(kUser) +
                             " --regid=" + std::to_string(kGroup) + " --groups=" + std::to_string(kDialout) +
                             " --no-new-privs --inh-caps=-all --bounding-set=-all \"$0\"";
    return {"-c", drop, ZQSVC_PATH};
}

bool canDrop() { return ::geteuid() == 0 && ::access("/usr/bin/setpriv", X_OK) == 0; }

// Started by an account that may read the data directory but not write it.
TEST(UnprivilegedService, AccountOutsideTheGroupIsToldWhichGroupToJoin) {
    if (!canDrop()) GTEST_SKIP() << "dropping to an unprivileged user needs root and setpriv";
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
    ::chmod((dir / "Config.Dat").c_str(), 0644);
    test::writeInstallFile(dir.path());
    test::ZQSvcProcess service("/bin/sh", dir / "Nerivale.ini", dir.path(), asServiceUser());
    EXPECT_EQ(service.waitExit(10s), std::optional<int>(1));
    std::string err = test::readFile(dir / "stderr.txt");
    EXPECT_NE(err.find("add it to the group nerivale"), std::string::npos) << err;
    EXPECT_FALSE(fs::exists(dir / "Log.Dat"));
}

TEST(UnprivilegedService, PageFromThePtyIsDeliveredToAnSnppServer) {
    if (!canDrop()) GTEST_SKIP() << "dropping to an unprivileged user needs root and setpriv";
    if (!test::NetSnppServer::available()) GTEST_SKIP() << "libnet-snpp-perl is not installed";
    test::TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const fs::path data = dir / "data";
    fs::create_directory(data);
    ASSERT_EQ(::chown(data.c_str(), kUser, kGroup), 0);
    ASSERT_EQ(::chmod(data.c_str(), 02770), 0);

    test::NetSnppServer snpp(1);
    ASSERT_NE(snpp.port(), 0);
    test::writeFile(dir / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + data.string() + "\r\n");
    operatorFile(data / "Config.Dat",
                 test::kInboundPortSection,
                 0640);
    operatorFile(data / "NpaNxxRoute.dat",
                 test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "Acme SNPP"}}), 0660);
    operatorFile(data / "Provider.dat",
                 test::providerFile({{.name = "Acme SNPP",
                                      .deliveryType = 2,
                                      .snppServer = "127.0.0.1",
                                      .snppPort = std::to_string(snpp.port()),
                                      .snppSecure = -1}}),
                 0660);
    // The serial line belongs to dialout, as /dev/ttyS* and /dev/ttyUSB* do.
    test::PtyPair pty;
    ASSERT_EQ(::chown(pty.slavePath().c_str(), 0, kDialout), 0);
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0660), 0);
    fs::create_symlink(pty.slavePath(), data / "COM1");

    test::ZQSvcProcess service("/bin/sh", dir / "Nerivale.ini", dir.path(), asServiceUser());
    test::LogWatch log(data);
    const std::string port = "[Nerivale Connection] Nerivale Port ";
    ASSERT_TRUE(log.waitForLine(port + "Direct Access Port COM1 Open!", 1, 15s))
        << test::readFile(dir / "stderr.txt");

    const std::string frame = test::fromHex("01") + "A,1,5551234," + test::fromHex("02") + "Hello from the line" +
                              test::fromHex("03 04 0D 0A");
    pty.write(frame);
    ASSERT_TRUE(log.waitForLine(port + "Msg. Submitted For Processing - 5551234,Hello from the line", 1, 15s));
    EXPECT_EQ(snpp.pagesUntilDone(20s), std::vector<std::string>{"5551234;Hello from the line"});
    ASSERT_TRUE(log.waitFor("[SNPP Delivery OK] ", 1, 15s));
    EXPECT_EQ(log.count("[SNPP Delivery Fail]"), 0u);

    // What the service made is the user's and the group's, and nobody else's.
    struct Made {
        const char* name;
        mode_t mode;
    } made[] = {{"Log.Dat", 0640}, {"PelmoraServer", 0660}};
    for (const auto& m : made) {
        auto o = ownerOf(data / m.name);
        EXPECT_EQ(o.uid, kUser) << m.name;
        EXPECT_EQ(o.gid, kGroup) << m.name;
        EXPECT_EQ(o.mode, m.mode) << m.name;
    }
    service.signal(SIGTERM);
    EXPECT_EQ(service.waitExit(20s), std::optional<int>(0)) << test::readFile(dir / "stderr.txt");
    EXPECT_TRUE(log.has("[System] Server ShutDown"));
}

}  // namespace
}  // namespace nv
