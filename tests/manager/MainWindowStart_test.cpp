// The manager's start: directories, the first-run Config.Dat, the route file.
#include <gtest/gtest.h>

#include <cstdlib>

#include "manager/ManagerStartup.h"
#include "tests/manager/MainWindowFixture.h"

namespace nv {
namespace {

// An install file of the test's own through NERIVALE_CONF.
class InstallFile {
public:
    InstallFile(const std::filesystem::path& file, const std::string& text) {
        test::writeFile(file, text);
        ::setenv("NERIVALE_CONF", file.c_str(), 1);
    }
    ~InstallFile() { ::unsetenv("NERIVALE_CONF"); }
};

TEST(ManagerStart, FirstRunOnAnEmptyRootCreatesTheLevelsAndConfigDat) {
    test::TempDir tmp;
    std::filesystem::create_directories(tmp / "install");
    std::filesystem::create_directories(tmp / "root");
    InstallFile conf(tmp / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + (tmp / "install").string() +
                                               "\r\nCommonAppData=" + (tmp / "root").string() + "\r\n");
    test::FakeOperatorUi ui;
    ui.answers = {DialogButton::Help};
    const auto dirs = findManagerDirectories(ui, tmp / "bin");
    ASSERT_TRUE(dirs) << (ui.shown.empty() ? "" : ui.shown.back().text.toStdString());
    EXPECT_EQ(dirs->appDir, tmp / "install");
    const auto data = tmp / "root" / "KOR" / "Nerivale" / "Users" / "All Users";
    EXPECT_EQ(dirs->workDir, data);
    EXPECT_TRUE(std::filesystem::is_directory(data));
    ASSERT_GE(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Settings Not Found! Please Configure Application?");
    EXPECT_EQ(ui.shown[0].buttons, (QList<DialogButton>{DialogButton::Ok, DialogButton::Help}));
    ASSERT_EQ(ui.urls.size(), 1u);  // Help opened the guide at the start section
    EXPECT_EQ(ui.urls[0].fragment(), "ctx2");

    // The first show writes Config.Dat with the manager's defaults.
    test::StubSystemctl stub("not-found inactive");
    ManagerContext ctx{dirs->appDir, dirs->workDir, ui};
    SystemctlServiceControl service;
    TZQSrvcMngr window(ctx, service);
    auto* configFrm = new TConfigFrm(ctx, service, &window);
    window.setConfigForm(configFrm);
    window.show();
    ASSERT_TRUE(test::waitUntil([&] { return window.firstShowDone(); }));
    const std::string config = test::readFile(data / "Config.Dat");
    EXPECT_EQ(config.rfind("[Nerivale Port]\r\nTimeOut=60\r\nLength=160\r\nTruncateMsgs=0\r\nEnabled=1\r\n", 0), 0u)
        << config;
    window.close();
}

TEST(ManagerStart, ConfigDatInTheInstallDirectoryMakesItTheDataDirectory) {
    test::TempDir tmp;
    test::writeFile(tmp / "Config.Dat", "[GUI]\r\nWidth=800\r\n");
    InstallFile conf(tmp / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + tmp.path().string() +
                                               "\r\nCommonAppData=" + (tmp / "root").string() + "\r\n");
    test::FakeOperatorUi ui;
    const auto dirs = findManagerDirectories(ui, tmp / "bin");
    ASSERT_TRUE(dirs);
    EXPECT_EQ(dirs->workDir, tmp.path());
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_FALSE(std::filesystem::exists(tmp / "root"));
}

TEST(ManagerStart, ADataDirectoryThatCannotBeCreatedIsAnErrorNamingIt) {
    test::TempDir tmp;
    test::writeFile(tmp / "root", "a file where a folder should be");
    InstallFile conf(tmp / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + (tmp / "install").string() +
                                               "\r\nCommonAppData=" + (tmp / "root").string() + "\r\n");
    test::FakeOperatorUi ui;
    EXPECT_FALSE(findManagerDirectories(ui, tmp / "bin"));
    ASSERT_EQ(ui.shown.size(), 2u);
    EXPECT_EQ(ui.shown[1].kind, DialogKind::Error);
    EXPECT_TRUE(ui.shown[1].text.contains(QString::fromStdString((tmp / "root" / "KOR").string())))
        << ui.shown[1].text.toStdString();
    EXPECT_TRUE(ui.shown[1].text.contains("Not a directory")) << ui.shown[1].text.toStdString();
}

class MainWindowFirstShow : public test::MainWindowFixture {};

TEST_F(MainWindowFirstShow, AnOlderRouteFileIsUpgradedAtStart) {
    // Version 1.0: 440-byte records; "Default" as a length-prefixed text at offset 0.
    std::string record = std::string(1, '\x07') + "Default";
    record.resize(440, '\0');
    const std::string old = test::recordFileHeader(440, "QXDB 1.0") + record;
    test::writeFile(dir / "NpaNxxRoute.dat", old);
    open("loaded inactive");
    const std::string now = test::readFile(dir / "NpaNxxRoute.dat");
    EXPECT_EQ(now.size(), 57u + 443u);
    EXPECT_NE(now.find("QXDB 1.1"), std::string::npos);
    EXPECT_EQ(test::readFile(dir / "Route.bak"), old);
}

}  // namespace
}  // namespace nv
