#include "foundation/FileUtil.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

TEST(FileUtil, FindsExistingFileWhateverItsCase) {
    test::TempDir dir;
    test::writeFile(dir / "PROVIDER.DAT", "x");
    auto found = findFileNoCase(dir.path(), "Provider.dat");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->filename(), "PROVIDER.DAT");
    EXPECT_FALSE(findFileNoCase(dir.path(), "Ports.dat"));
    EXPECT_EQ(resolveFileNoCase(dir.path(), "Ports.dat"), dir / "Ports.dat");
}

TEST(FileUtil, AtomicWriteKeepsModeOfExistingFileAndSetsModeOfNewOne) {
    test::TempDir dir;
    auto fresh = dir / "Config.Dat";
    ASSERT_TRUE(writeFileAtomic(fresh, "a=1\r\n", 0640));
    struct stat st {};
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    ::chmod(fresh.c_str(), 0600);
    ASSERT_TRUE(writeFileAtomic(fresh, "a=2\r\n", 0644));
    ASSERT_EQ(::stat(fresh.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(test::readFile(fresh), "a=2\r\n");
}

TEST(FileUtil, AtomicWriteIntoMissingFolderFailsWithReason) {
    std::string err;
    EXPECT_FALSE(writeFileAtomic("/nonexistent-dir/x", "y", 0644, &err));
    EXPECT_NE(err.find("cannot create"), std::string::npos);
}

}  // namespace
}  // namespace nv
