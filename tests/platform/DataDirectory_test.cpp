#include "platform/DataDirectory.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

TEST(DataDirectory, InstallFileIsReadByTheProfileRules) {
    test::TempDir dir;
    const fs::path programDir = "/opt/nerivale/bin";
    struct Case {
        const char* rule;
        std::optional<std::string> file;  // nothing: no install file
        fs::path installDir;
        std::string version;
        fs::path commonAppData;
    };
    const std::vector<Case> cases = {
        {"no install file: the program's folder", std::nullopt, programDir, "", "/var/lib"},
        {"all keys", "[Nerivale]\r\nInstallDir=/srv/nv\r\nVersion=7.6.0\r\nCommonAppData=/data\r\n",
         "/srv/nv", "7.6.0", "/data"},
        {"section and keys in any case", "[nerivale]\nINSTALLDIR = /srv/nv \nversion=1\n", "/srv/nv",
         "1", "/var/lib"},
        {"empty InstallDir counts as missing", "[Nerivale]\nInstallDir=\nCommonAppData=\n", programDir,
         "", "/var/lib"},
        {"keys of another section are not used", "[Other]\nInstallDir=/x\n", programDir, "",
         "/var/lib"},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        fs::path conf = dir / ("Nerivale" + std::to_string(i) + ".ini");
        if (c.file) test::writeFile(conf, *c.file);
        InstallSettings s = readInstallSettingsFrom(conf, programDir);
        EXPECT_EQ(s.installDir, c.installDir) << c.rule;
        EXPECT_EQ(s.version, c.version) << c.rule;
        EXPECT_EQ(s.commonAppData, c.commonAppData) << c.rule;
    }
}

TEST(DataDirectory, InstallFileNamesTheCarrierServices) {
    test::TempDir dir;
    test::writeFile(dir / "a.ini",
                    "[Nerivale]\nCarrierListServer=https://carriers.example.net/list/\n"
                    "SubmitFrom=updates@example.net\nSubmitTo=support@example.net\n");
    InstallSettings s = readInstallSettingsFrom(dir / "a.ini", "/prog");
    EXPECT_EQ(s.carrierListServer, "https://carriers.example.net/list/");
    EXPECT_EQ(s.submitFrom, "updates@example.net");
    EXPECT_EQ(s.submitTo, "support@example.net");
    InstallSettings none = readInstallSettingsFrom(dir / "missing.ini", "/prog");
    EXPECT_EQ(none.carrierListServer, "");
    EXPECT_EQ(none.submitFrom, "");
    EXPECT_EQ(none.submitTo, "");
}

// Each test runs in its own process under ctest, so the variable cannot leak.
TEST(DataDirectory, EnvironmentNamesTheInstallFile) {
    test::TempDir dir;
    test::writeFile(dir / "alt.ini", "[Nerivale]\nInstallDir=/from/env\n");
    const char* old = ::getenv(kInstallConfEnv);
    std::optional<std::string> saved = old ? std::optional<std::string>(old) : std::nullopt;
    ::setenv(kInstallConfEnv, (dir / "alt.ini").c_str(), 1);
    InstallSettings s = readInstallSettings("/prog");
    if (saved) {
        ::setenv(kInstallConfEnv, saved->c_str(), 1);
    } else {
        ::unsetenv(kInstallConfEnv);
    }
    EXPECT_EQ(s.installDir, "/from/env");
}

TEST(DataDirectory, InstallDirectoryHoldingConfigIsTheDataDirectory) {
    test::TempDir dir;
    fs::create_directories(dir / "install");
    test::writeFile(dir / "install" / "CONFIG.DAT", "");  // a file copied from Windows
    InstallSettings s;
    s.installDir = dir / "install";
    s.commonAppData = dir / "common";
    EXPECT_EQ(findDataDirectory(s), dir / "install");
    EXPECT_FALSE(fs::exists(dir / "common"));
}

TEST(DataDirectory, WithoutConfigTheCommonLevelsAreCreatedOneByOne) {
    test::TempDir dir;
    fs::create_directories(dir / "install");
    fs::create_directories(dir / "common" / "KOR" / "Nerivale");  // a partial earlier start
    InstallSettings s;
    s.installDir = dir / "install";
    s.commonAppData = dir / "common";
    const fs::path expected = dir / "common" / "KOR" / "Nerivale" / "Users" / "All Users";
    EXPECT_EQ(dataDirectoryFor(s), expected);
    EXPECT_FALSE(fs::exists(expected));  // the check alone creates nothing
    EXPECT_EQ(findDataDirectory(s), expected);
    EXPECT_TRUE(fs::is_directory(expected));
    // A second start finds it as it is.
    EXPECT_EQ(findDataDirectory(s), expected);
}

TEST(DataDirectory, LevelThatCannotBeCreatedIsAClearError) {
    test::TempDir dir;
    struct Case {
        const char* rule;
        fs::path blocker;  // a plain file where a level must go
        fs::path common;
        fs::path named;    // the level the error names
    };
    const std::vector<Case> cases = {
        {"a file in the way of a level", dir / "c1" / "KOR" / "Nerivale", dir / "c1",
         dir / "c1" / "KOR" / "Nerivale"},
        {"the common folder is missing", {}, dir / "absent", dir / "absent" / "KOR"},
        {"the common folder is a file", dir / "c3", dir / "c3", dir / "c3" / "KOR"},
    };
    for (const Case& c : cases) {
        if (!c.blocker.empty()) {
            fs::create_directories(c.blocker.parent_path());
            test::writeFile(c.blocker, "x");
        }
        InstallSettings s;
        s.installDir = dir / "no-install";
        s.commonAppData = c.common;
        try {
            findDataDirectory(s);
            ADD_FAILURE() << c.rule << ": no error";
        } catch (const DataDirectoryError& e) {
            std::string text = e.what();
            EXPECT_NE(text.find("Unable to create data directory " + c.named.string() + ": "),
                      std::string::npos)
                << c.rule << ": " << text;
        }
    }
}

}  // namespace
}  // namespace nv
