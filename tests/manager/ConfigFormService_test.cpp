// Install / Apply Changes / Uninstall: the command each runs through the
// privileged runner (a stub script that records its arguments), the [Server]
// keys, the service's state checks before a removal, the texts shown.
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>

#include "foundation/ProfileFile.h"
#include "manager/PrivilegedRunner.h"
#include "tests/manager/ConfigFormFixture.h"
#include "tests/peers/AccountsRoot.h"

namespace nv {
namespace {

using test::readFile;
using test::writeFile;

class ConfigFormServiceTest : public test::ConfigFormTest {
protected:
    std::filesystem::path calls = dir / "calls";
    std::filesystem::path stub = dir / "runner.sh";
    int changed = 0;

    void SetUp() override {
        ConfigFormTest::SetUp();
        // One line per argument, "--" after each call; exit status and stderr
        // from files the test may write.
        writeFile(stub, "#!/bin/sh\n"
                        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done >> '" + calls.string() + "'\n"
                        "echo -- >> '" + calls.string() + "'\n"
                        "[ -f '" + (dir / "stderr").string() + "' ] && cat '" + (dir / "stderr").string() + "' >&2\n"
                        "exit $(cat '" + (dir / "status").string() + "' 2>/dev/null || echo 0)\n");
        std::filesystem::permissions(stub, std::filesystem::perms::owner_all);
        qputenv(kPrivilegedRunnerVariable, QByteArray::fromStdString(stub.string()));
        form->onServiceChanged = [this] { ++changed; };
        form->setStopWait(10, 200);
        form->show();
    }
    void TearDown() override { qunsetenv(kPrivilegedRunnerVariable); }

    // Clicks and waits until the step has run to its end.
    void clickAndWait(const char* name) {
        button(name)->setEnabled(true);
        button(name)->click();
        ASSERT_TRUE(QTest::qWaitFor([this] { return !form->serviceBusy(); }, 10000));
    }
    std::string zqsvc() const { return (appDir / "ZQSvc").string(); }
    std::string recorded() const {
        return std::filesystem::exists(calls) ? readFile(calls) : std::string();
    }
    void useAccount(const char* name, const char* password) {
        check("DefaultLogon")->setChecked(false);
        edit("LogonName")->setText(name);
        edit("LogonPassword")->setText(password);
    }
};

TEST_F(ConfigFormServiceTest, InstallWithTheDefaultLogonIgnoresALeftOverName) {
    edit("LogonName")->setText("stale");
    clickAndWait("Install2");
    EXPECT_EQ(recorded(), zqsvc() + "\nINSTALL\nSILENT\n--\n");
    EXPECT_EQ(readFile(configPath()), "[Server]\r\nLogonName=stale\r\nPassword=\r\nDefaultLogon=1\r\n");
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Neri Vale Service Installed!"});
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Information);
    EXPECT_TRUE(ui.beeps.empty());
    EXPECT_EQ(changed, 1);
}

TEST_F(ConfigFormServiceTest, InstallWithANamedAccount) {
    useAccount("pager", "pw");
    clickAndWait("Install2");
    EXPECT_EQ(recorded(), zqsvc() + "\nINSTALL\nSILENT\nUSER=pager\n--\n");
    EXPECT_EQ(readFile(configPath()), "[Server]\r\nLogonName=pager\r\nPassword=pw\r\nDefaultLogon=0\r\n");
}

TEST_F(ConfigFormServiceTest, NamedAccountNeedsNameAndPassword) {
    struct Row {
        const char* name;
        const char* password;
        const char* message;
        const char* focus;
    };
    const Row rows[] = {{"", "pw", "Must Enter Logon Name!", "LogonName"},
                        {"pager", "", "Must Enter Logon Password!", "LogonPassword"}};
    for (const char* button : {"Install2", "ApplySvcChg"}) {
        for (const Row& r : rows) {
            SCOPED_TRACE(std::string(button) + " " + r.message);
            ui.clear();
            tabs()->setCurrentIndex(2);
            useAccount(r.name, r.password);
            clickAndWait(button);
            EXPECT_EQ(ui.texts(), std::vector<QString>{r.message});
            EXPECT_EQ(ui.shown[0].kind, DialogKind::Error);
            EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Information});
            EXPECT_EQ(tabs()->currentIndex(), 0);
            EXPECT_EQ(form->focusWidget(), edit(r.focus));
        }
    }
    EXPECT_EQ(recorded(), "");
    EXPECT_FALSE(std::filesystem::exists(configPath()));
}

TEST_F(ConfigFormServiceTest, ApplyRewritesTheUnitAndCanReturnToTheDefaultAccount) {
    useAccount("pager", "pw");
    clickAndWait("ApplySvcChg");
    check("DefaultLogon")->setChecked(true);
    clickAndWait("ApplySvcChg");
    EXPECT_EQ(recorded(), zqsvc() + "\nINSTALL\nSILENT\nUSER=pager\n--\n" + zqsvc() + "\nINSTALL\nSILENT\n--\n");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Service Updated!", "Service Updated!"}));
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Warning);
    EXPECT_EQ(readFile(configPath()), "[Server]\r\nLogonName=pager\r\nPassword=pw\r\nDefaultLogon=1\r\n");
    EXPECT_EQ(changed, 2);
}

TEST_F(ConfigFormServiceTest, ApplyOnAServiceNotInstalledFails) {
    service.states = {ServiceState::NotInstalled};
    clickAndWait("ApplySvcChg");
    EXPECT_EQ(recorded(), "");
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Service Update Failed!"});
    EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Information});
    // The account is saved before the service is asked, as on Windows.
    EXPECT_TRUE(std::filesystem::exists(configPath()));
}

// A refusal shows the command, its exit status and what it wrote to stderr.
TEST_F(ConfigFormServiceTest, RunnerFailuresShowExitStatusAndStderr) {
    writeFile(dir / "status", "126\n");
    writeFile(dir / "stderr", "Not authorized.\n");
    clickAndWait("Install2");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Error);
    EXPECT_TRUE(ui.shown[0].text.contains(QString::fromStdString(zqsvc() + " INSTALL SILENT")));
    EXPECT_TRUE(ui.shown[0].text.contains("Exit status 126:\nNot authorized."));

    ui.clear();
    clickAndWait("ApplySvcChg");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Warning);
    EXPECT_TRUE(ui.shown[0].text.startsWith("Service Update Failed!\n"));
    EXPECT_TRUE(ui.shown[0].text.contains("Exit status 126"));

    ui.clear();
    qputenv(kPrivilegedRunnerVariable, QByteArray::fromStdString((dir / "missing").string()));
    clickAndWait("Install2");
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_TRUE(ui.shown[0].text.contains("Unable to start the command"));
}

// Before a removal: the live state, the question, a stop that is waited for.
TEST_F(ConfigFormServiceTest, UninstallChecksTheLiveStateAndStopsFirst) {
    struct Row {
        const char* what;
        std::deque<ServiceState> states;
        bool stopAccepted;
        DialogButton answer;
        int stops;
        bool removed;
        std::vector<QString> texts;
    };
    using S = ServiceState;
    const QString question = "Remove Neri Vale Service?";
    const Row rows[] = {
        {"stopped", {S::Stopped}, true, DialogButton::Yes, 0, true, {question, "Neri Vale Service Removed!"}},
        {"running, stops", {S::Running, S::Running, S::Other, S::Stopped}, true, DialogButton::Yes, 1, true,
         {question, "Neri Vale Service Removed!"}},
        {"answered No", {S::Running}, true, DialogButton::No, 0, false, {question}},
        {"not installed", {S::NotInstalled}, true, DialogButton::Yes, 0, false, {"Neri Vale Service Not Installed!"}},
        {"stop refused", {S::Running}, false, DialogButton::Yes, 1, false,
         {question, "Unable To Stop Neri Vale Service!\n\nAccess denied"}},
        {"never stops", {S::Running}, true, DialogButton::Yes, 1, false,
         {question, "Unable To Stop Neri Vale Service!"}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        std::filesystem::remove(calls);
        ui.clear();
        ui.answers = {r.answer};
        service.states = r.states;
        service.stops = 0;
        service.stopAccepted = r.stopAccepted;
        service.stopError = r.stopAccepted ? QString() : "Access denied";
        clickAndWait("Uninstall2");
        EXPECT_EQ(service.stops, r.stops);
        EXPECT_EQ(recorded(), r.removed ? zqsvc() + "\nUNINSTALL\nSILENT\n--\n" : "");
        EXPECT_EQ(ui.texts(), r.texts);
        // The question and the messages before the removal come after a beep.
        EXPECT_EQ(ui.beeps.size(), r.texts.size() - (r.removed ? 1 : 0));
    }
    EXPECT_FALSE(std::filesystem::exists(configPath()));
}

#ifdef ZQSVC_PATH
// The whole road with the real ZQSvc: the runner only passes the command on,
// systemctl enables and disables offline under a root folder of the test's own.
TEST_F(ConfigFormServiceTest, RealZQSvcWritesTheUnitAndTheWantsLink) {
    if (!std::filesystem::exists("/usr/bin/systemctl"))
        GTEST_SKIP() << "systemctl is not installed; the wants-link was not checked";
    if (!test::AccountsRoot::usable()) GTEST_SKIP() << "the service's account is made by the shadow tools, as root";
    // The account and the named logon in a root folder of the test's own, not on the host.
    test::AccountsRoot accounts("pager:x:1500:1500::/home/pager:/bin/sh\n");
    const auto root = dir / "root";
    const auto unitDir = root / "etc/systemd/system";
    const auto wants = unitDir / "multi-user.target.wants/nerivale.service";
    std::filesystem::create_directories(unitDir);
    std::filesystem::create_directories(dir / "bin");
    writeFile(dir / "bin/systemctl", "#!/bin/sh\ncase \"$1\" in enable|disable) exec /usr/bin/systemctl --root='" +
                                         root.string() + "' \"$@\";; esac\nexit 0\n");
    writeFile(dir / "asroot.sh", "#!/bin/sh\nexec \"$@\"\n");
    for (const char* f : {"bin/systemctl", "asroot.sh"})
        std::filesystem::permissions(dir / f, std::filesystem::perms::owner_all);
    writeFile(dir / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + appDir.string() + "\r\nCommonAppData=" +
                                        (dir / "common").string() + "\r\n");
    // Put back at the end, whatever fails.
    struct Restore {
        QByteArray path = qgetenv("PATH");
        ~Restore() {
            qputenv("PATH", path);
            qunsetenv("NERIVALE_UNIT_DIR");
            qunsetenv("NERIVALE_CONF");
        }
    } restore;
    const QByteArray oldPath = restore.path;
    qputenv("PATH", QByteArray::fromStdString((dir / "bin").string()) + ":" + oldPath);
    qputenv("NERIVALE_UNIT_DIR", QByteArray::fromStdString(unitDir.string()));
    qputenv("NERIVALE_CONF", QByteArray::fromStdString((dir / "Nerivale.ini").string()));
    qputenv(kPrivilegedRunnerVariable, QByteArray::fromStdString((dir / "asroot.sh").string()));
    ctx.appDir = std::filesystem::path(ZQSVC_PATH).parent_path();

    clickAndWait("Install2");
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Neri Vale Service Installed!"});
    const auto unit = unitDir / "nerivale.service";
    const std::string installed = std::filesystem::exists(unit) ? readFile(unit) : "";
    EXPECT_NE(installed.find("\nExecStart=" + std::filesystem::canonical(ZQSVC_PATH).string() + "\n"),
              std::string::npos)
        << installed;
    EXPECT_NE(installed.find("\nUser=nerivale\n"), std::string::npos) << installed;
    EXPECT_NE(installed.find("\nWantedBy=multi-user.target\n"), std::string::npos) << installed;
    EXPECT_EQ(installed.find("Password"), std::string::npos);
    EXPECT_TRUE(std::filesystem::is_symlink(wants));

    useAccount("pager", "secret");
    clickAndWait("ApplySvcChg");
    const std::string applied = std::filesystem::exists(unit) ? readFile(unit) : "";
    EXPECT_NE(applied.find("\nUser=pager\n"), std::string::npos) << applied;
    EXPECT_EQ(applied.find("secret"), std::string::npos);

    ui.clear();
    clickAndWait("Uninstall2");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Remove Neri Vale Service?", "Neri Vale Service Removed!"}));
    EXPECT_FALSE(std::filesystem::exists(unit));
    EXPECT_FALSE(std::filesystem::is_symlink(wants));
}
#endif

TEST(PrivilegedRunner, PkexecUnlessAnotherCommandIsNamed) {
    qunsetenv(kPrivilegedRunnerVariable);
    EXPECT_EQ(PrivilegedRunner::runnerCommand(), QStringList{"pkexec"});
    qputenv(kPrivilegedRunnerVariable, "sudo -n");
    EXPECT_EQ(PrivilegedRunner::runnerCommand(), (QStringList{"sudo", "-n"}));
    qunsetenv(kPrivilegedRunnerVariable);
}

}  // namespace
}  // namespace nv
