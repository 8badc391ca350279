// What ZQSvc says about itself when it starts: the install file, the data
// directory it chose, and in the foreground every log line.
#include <gtest/gtest.h>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

TEST(StartDoor, StartNamesInstallFileAndDataDirectoryAndEchoesLogLinesWithV) {
    test::TempDir dir;
    test::writeInstallFile(dir.path());
    test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
    test::LogWatch log{dir.path()};
    test::ZQSvcProcess run(ZQSVC_PATH, dir / "Nerivale.ini", dir.path(), {"-v"});
    ASSERT_TRUE(log.waitForLine("[System] Nerivale Server Started", 1, 10s));
    run.signal(SIGTERM);
    ASSERT_EQ(run.waitExit(20s), std::optional<int>(0));

    const std::string err = test::readFile(dir / "stderr.txt");
    EXPECT_TRUE(contains(err, "Install file " + (dir / "Nerivale.ini").string())) << err;
    EXPECT_TRUE(contains(err, "data directory " + dir.path().string())) << err;
    EXPECT_FALSE(contains(err, "WARNING")) << err;
    // Every log line, with its stamp, as Log.Dat has it.
    for (const char* text : {" - [System] Nerivale Server Start Requested!\n", " - [System] Nerivale Server Started\n",
                             " - [System] Server ShutDown\n"})
        EXPECT_TRUE(contains(err, text)) << text << "\n" << err;
}

TEST(StartDoor, MissingConfigDatIsSaidLoudlyWithTheDirectoryUsedInstead) {
    test::TempDir dir;
    std::filesystem::create_directory(dir / "common");
    test::writeInstallFile(dir.path(), "CommonAppData=" + (dir / "common").string() + "\r\n");
    const auto dataDir = dir / "common/KOR/Nerivale/Users/All Users";
    test::LogWatch log{dataDir};
    test::ZQSvcProcess run(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    ASSERT_TRUE(log.waitForLine("[System] Nerivale Server Started", 1, 10s));
    run.signal(SIGTERM);
    ASSERT_EQ(run.waitExit(20s), std::optional<int>(0));

    const std::string err = test::readFile(dir / "stderr.txt");
    EXPECT_TRUE(contains(err, "WARNING: no Config.Dat in the install directory " + dir.path().string())) << err;
    EXPECT_TRUE(contains(err, "running from " + dataDir.string())) << err;
    // Without a terminal and without -v, log lines stay out of stderr.
    EXPECT_FALSE(contains(err, "[System] Nerivale Server Started")) << err;
}

TEST(StartDoor, AnInstallFileWithoutInstallDirIsNamed) {
    test::TempDir dir;
    // No InstallDir among the garbage; the common folder cannot be made, so the
    // program ends before it would run from the program's folder.
    test::writeFile(dir / "blocker", "a file where a folder should be");
    test::writeFile(dir / "Nerivale.ini", std::string("\x7f" "ELF\0\1\2\r\n[Nerivale]\r\nCommonAppData=", 35) +
                                              (dir / "blocker").string() + "\r\n");
    test::ZQSvcProcess run(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    EXPECT_EQ(run.waitExit(10s), std::optional<int>(1));
    const std::string err = test::readFile(dir / "stderr.txt");
    EXPECT_TRUE(contains(err, "Install file " + (dir / "Nerivale.ini").string() +
                                  " is missing, unreadable or names no InstallDir"))
        << err;
}

}  // namespace
}  // namespace nv
