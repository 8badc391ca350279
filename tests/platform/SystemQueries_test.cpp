#include <gtest/gtest.h>

#include <cstdlib>

#include "platform/SystemQueries.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

TEST(SystemQueries, SpecialFolderIsTheCommonDataRootWithATrailingSeparator) {
    std::string path = "untouched";
    EXPECT_EQ(GetSpecialFolderPath("/var/lib", kCSIDL_COMMON_APPDATA, path), kS_OK);
    EXPECT_EQ(path, "/var/lib/");
    EXPECT_EQ(GetSpecialFolderPath("/srv/data/", kCSIDL_COMMON_APPDATA, path), kS_OK);
    EXPECT_EQ(path, "/srv/data/");

    path = "untouched";
    EXPECT_EQ(GetSpecialFolderPath("/var/lib", 26, path), kE_INVALIDARG);
    EXPECT_EQ(GetSpecialFolderPath("", kCSIDL_COMMON_APPDATA, path), kE_UNEXPECTED);
    EXPECT_EQ(path, "untouched");
}

TEST(SystemQueries, SpecialFolderFollowsTheInstallFile) {
    TempDir dir;
    writeFile(dir / "Nerivale.ini", "[Nerivale]\nInstallDir=/opt/nv\nCommonAppData=/srv/common\n");
    ::setenv("NERIVALE_CONF", (dir / "Nerivale.ini").c_str(), 1);
    std::string path;
    int rc = GetSpecialFolderPath(kCSIDL_COMMON_APPDATA, path);
    ::unsetenv("NERIVALE_CONF");
    EXPECT_EQ(rc, kS_OK);
    EXPECT_EQ(path, "/srv/common/");
}

TEST(SystemQueries, VersionOfOurOwnProgramsIsCompiledIn) {
    struct Case {
        std::string file;
        std::string version;
    } cases[] = {
        {"ZQSvc", NV_VERSION_STRING},
        {"/opt/nerivale/ZQSCM", NV_VERSION_STRING},
        {"ZQTester.exe", NV_VERSION_STRING},
        {"/proc/self/exe", NV_VERSION_STRING},
        {"/bin/sh", "0.0.0.0"},
        {"", "0.0.0.0"},
    };
    for (const auto& tc : cases) EXPECT_EQ(GetFileVersionStr(tc.file), tc.version) << tc.file;

    std::uint16_t major = 77, build = 77;
    EXPECT_FALSE(GetFileVersion("/bin/sh", &major, nullptr, nullptr, &build));
    EXPECT_EQ(major, 77);
    EXPECT_TRUE(GetFileVersion("ZQSvc", &major, nullptr, nullptr, &build));
    EXPECT_NE(major, 77);
}

TEST(SystemQueries, NeverWow64) {
    std::string msg;
    EXPECT_FALSE(IsWow64(msg));
    EXPECT_EQ(msg, "Process is NOT running on Wow64");
}

}  // namespace
}  // namespace nv::test
