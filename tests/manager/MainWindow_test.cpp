// The main window: service states, commands sent, messages received, restart,
// the clock, the log and the window size.
#include <QLabel>
#include <QPushButton>

#include "foundation/ConfigFile.h"
#include "manager/ServerStatsPanel.h"
#include "platform/CounterIds.h"
#include "tests/manager/MainWindowFixture.h"

namespace nv {
namespace {

using test::MainWindowFixture;
using test::waitUntil;

class MainWindow : public MainWindowFixture {
protected:
    QString counter(const char* name) { return window->findChild<QLabel*>(name)->text(); }
    QPushButton* button(const char* caption) {
        for (auto* b : configFrm->findChildren<QPushButton*>())
            if (b->text() == caption) return b;
        return nullptr;
    }
};

struct StateRow {
    const char* shown;  // what systemctl show reports; "" for off-line (-1)
    bool start, stop, serviceItems;
    int icon;
    const char* status;
    bool install, uninstall, apply;
};

TEST_F(MainWindow, SetStatusFollowsTheServiceState) {
    const StateRow rows[] = {
        {"not-found inactive", false, false, false, 0, "Gateway Off-Line", true, false, false},
        {"loaded active", false, true, true, 1, "Gateway On-Line", false, true, true},
        {"loaded inactive", true, false, false, 0, "Gateway Off-Line", false, true, true},
        {"loaded failed", true, false, false, 0, "Gateway Off-Line", false, true, true},
        {"", true, false, false, 0, "Gateway Off-Line", false, true, true},
    };
    open("loaded inactive");
    for (const auto& r : rows) {
        SCOPED_TRACE(r.shown);
        if (*r.shown) {
            stub->setState(r.shown);
            ASSERT_TRUE(settle());
        } else {
            window->SetStatus(std::nullopt);
        }
        EXPECT_EQ(window->Start1->isEnabled(), r.start);
        EXPECT_EQ(window->Stop1->isEnabled(), r.stop);
        EXPECT_EQ(window->Restart1->isEnabled(), r.stop);
        for (QAction* a : {window->SendTestMsg1, window->ClearMsgQueue1, window->CancelCall1, window->ClearStats1})
            EXPECT_EQ(a->isEnabled(), r.serviceItems) << a->text().toStdString();
        EXPECT_EQ(window->iconIndex(), r.icon);
        EXPECT_EQ(window->StatusPanel1->text(), r.status);
        EXPECT_EQ(button("Install Service")->isEnabled(), r.install);
        EXPECT_EQ(button("Uninstall Service")->isEnabled(), r.uninstall);
        EXPECT_EQ(button("Apply Changes")->isEnabled(), r.apply);
    }
}

TEST_F(MainWindow, AStateInBetweenOrAFailedQueryLeavesTheMenusAsTheyWere) {
    for (const char* other : {"loaded activating", "loaded deactivating", "fail"}) {
        SCOPED_TRACE(other);
        open("loaded active");
        configFrm->setServiceButtons(ButtonState::On, ButtonState::Off, ButtonState::Off);
        stub->setState(other);
        ASSERT_TRUE(settle());
        EXPECT_FALSE(window->Start1->isEnabled());
        EXPECT_TRUE(window->Stop1->isEnabled());
        EXPECT_TRUE(window->SendTestMsg1->isEnabled());
        EXPECT_EQ(window->StatusPanel1->text(), "Gateway On-Line");
        EXPECT_EQ(window->iconIndex(), 1);
        EXPECT_FALSE(button("Install Service")->isEnabled());
        EXPECT_TRUE(button("Uninstall Service")->isEnabled());
        EXPECT_TRUE(button("Apply Changes")->isEnabled());
        TearDown();
    }
}

TEST_F(MainWindow, CommandsGoOutByteForByte) {
    open("loaded active");
    ui.inputAnswers = {QString("1234"), QString(""), std::nullopt};
    ui.answers = {DialogButton::Yes, DialogButton::No, DialogButton::Yes};
    window->SendTestMsg1->trigger();   // 1234
    window->SendTestMsg1->trigger();   // empty: nothing
    window->SendTestMsg1->trigger();   // cancelled: nothing
    window->ClearMsgQueue1->trigger();  // Yes
    window->ClearMsgQueue1->trigger();  // No: nothing
    window->CancelCall1->trigger();
    window->ClearStats1->trigger();  // Yes
    EXPECT_EQ(sent(5), (std::vector<std::string>{"cmd=send_counters\r\n", "cmd=test_page\r\npin=1234\r\n",
                                                "cmd=clear_queues", "cmd=cancel_call", "cmd=reset_stats"}));
    ASSERT_FALSE(ui.inputs.empty());
    EXPECT_EQ(ui.inputs[0].caption, "Send Test Message");
    EXPECT_EQ(ui.inputs[0].prompt, "Enter PIN To Send To:");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Clear Pending Page Queue?", "Clear Pending Page Queue?",
                                                "Clear Stats?"}));
}

TEST_F(MainWindow, ClearStatsZeroesEveryCounterButTheQueue) {
    open("loaded active");
    deliver("cmd=cntrupd\r\ncounter=11\r\nvalue=7");
    deliver("cmd=cntrupd\r\ncounter=9\r\nvalue=3");
    window->ClearStats1->trigger();
    EXPECT_EQ(counter("QueuedMgs"), "7");
    EXPECT_EQ(counter("ErrorCount"), "0");
}

TEST_F(MainWindow, ReceivedMessagesUpdateTheDisplay) {
    open("loaded active");
    deliver("cmd=cntrupd\r\ncounter=11\r\nvalue=7");
    EXPECT_EQ(counter("QueuedMgs"), "7");
    deliver("cmd=cntrupd\r\ncounter=13\r\nvalue=5");
    deliver("cmd=cntrupd\r\ncounter=15\r\nvalue=5");
    deliver("cmd=cntrupd\r\ncounter=x4\r\nvalue=5");
    for (const char* name : {"PelmoraInCount", "WCTPCount", "SNPPCount", "SMPPCount", "TapCount", "EPagesSent",
                             "SMSCount", "TNPPCounter", "BrevicorCount", "TransactionCount", "ErrorCount"})
        EXPECT_EQ(counter(name), "0") << name;

    deliver("cmd=all_counters\r\nctWCTPCount=1\r\nctSNPPCount=2\r\nctSMPPCount=3\r\nctTapCount=4\r\n"
            "ctEPagesSent=5\r\nctSMSCount=6\r\nctErrorCount=7\r\nctTransactionCount=8\r\nctQueuedMgs=9\r\n"
            "ctNerivaleInCount=10\r\nctTNPPCounter=11\r\nctBrevicorCount=12\r\nctHours=3\r\nctMinutes=4\r\n"
            "cancelcall1=0\r\n");
    const std::pair<const char*, const char*> expected[] = {
        {"WCTPCount", "1"}, {"SNPPCount", "2"}, {"SMPPCount", "3"}, {"TapCount", "4"},
        {"EPagesSent", "5"}, {"SMSCount", "6"}, {"ErrorCount", "7"}, {"TransactionCount", "8"},
        {"QueuedMgs", "9"}, {"PelmoraInCount", "10"}, {"TNPPCounter", "11"}, {"BrevicorCount", "12"}};
    for (const auto& [name, value] : expected) EXPECT_EQ(counter(name), value) << name;
    EXPECT_EQ(window->Stats->timerBox()->text(), "3 Hrs.  04 Min.");
    // "0": the items stay as the running service's state set them.
    EXPECT_TRUE(window->SendTestMsg1->isEnabled());
    EXPECT_TRUE(window->CancelCall1->isEnabled());

    // A non-integer hour count ends the handling: the counters before it are
    // set, the ones after it and the on-line time are not.
    deliver("cmd=all_counters\r\nctWCTPCount=21\r\nctTNPPCounter=99\r\nctHours=x\r\nctMinutes=1\r\n");
    EXPECT_EQ(counter("WCTPCount"), "21");
    EXPECT_EQ(counter("TNPPCounter"), "11");
    EXPECT_EQ(window->Stats->timerBox()->text(), "3 Hrs.  04 Min.");
}

TEST_F(MainWindow, CancelledCallsDisableTheTestMessage) {
    open("loaded active");
    deliver("cmd=cancelcall1\r\nvalue=0\r\n");
    EXPECT_TRUE(window->SendTestMsg1->isEnabled());
    deliver("cmd=cancelcall1\r\nvalue=1\r\n");
    EXPECT_FALSE(window->SendTestMsg1->isEnabled());
    EXPECT_TRUE(window->CancelCall1->isEnabled());
    // A poll of the still running service does not offer test pages again.
    ASSERT_TRUE(settle());
    EXPECT_FALSE(window->SendTestMsg1->isEnabled());
}

TEST_F(MainWindow, LogLinesAppendInOrderAndOnlyForTheExactCommand) {
    open("loaded active");
    deliver("CMD=log\r\nDATA=upper-case names\r\n");
    deliver("cmd=LOG\r\ndata=not a log line\r\n");
    deliver(std::string("cmd=log\r\ndata=price \x80 5\r\n"));
    deliver("cmd=log\r\ndata=\r\n");
    const QStringList lines = logText().split('\n');
    EXPECT_TRUE(lines.contains("upper-case names"));
    EXPECT_FALSE(logText().contains("not a log line"));
    EXPECT_TRUE(lines.contains(QString::fromUtf8("price \u20ac 5")));
    EXPECT_EQ(lines[lines.size() - 2], "");  // the empty line before the last marker

    window->LogWindow->clear();
    constexpr int kBurst = 300;
    for (int i = 0; i < kBurst; ++i)
        ASSERT_TRUE(test::sendCommand(dir / kConfigPipeName, "cmd=log\r\ndata=line " + std::to_string(i) + "\r\n"));
    ASSERT_TRUE(waitUntil([&] { return window->LogWindow->blockCount() >= kBurst; }));
    const QStringList burst = logText().split('\n');
    ASSERT_EQ(burst.size(), kBurst);
    for (int i = 0; i < kBurst; ++i) EXPECT_EQ(burst[i], QString("line %1").arg(i));
}

TEST_F(MainWindow, ClockCountsTheMinuteWhenTheWallClockMinuteChanges) {
    open("loaded active");
    deliver("cmd=all_counters\r\nctHours=0\r\nctMinutes=59\r\ncancelcall1=0\r\n");
    ASSERT_EQ(sent(1), std::vector<std::string>{"cmd=send_counters\r\n"});
    now = QDateTime(QDate(2026, 12, 10), QTime(12, 0, 58));
    window->Timer3Timer();
    EXPECT_EQ(window->Stats->timerBox()->text(), "0 Hrs.  59 Min.");
    now = now.addSecs(3);  // 12:01:01: a tick that missed second 00
    window->Timer3Timer();
    EXPECT_EQ(window->Stats->timerBox()->text(), "1 Hrs.  00 Min.");
    window->Timer3Timer();  // a second tick in the same minute counts nothing
    EXPECT_EQ(window->Stats->timerBox()->text(), "1 Hrs.  00 Min.");
    EXPECT_EQ(window->StatusPanel0->text().right(8), "12:01:01");
    EXPECT_EQ(sent(2), (std::vector<std::string>{"cmd=send_counters\r\n", "cmd=ping"}));

    // Nothing counted or sent while the service is stopped.
    stub->setState("loaded inactive");
    ASSERT_TRUE(settle());
    now = now.addSecs(60);
    window->Timer3Timer();
    EXPECT_EQ(window->Stats->timerBox()->text(), "1 Hrs.  00 Min.");
    window->SendPipeData("cmd=mark");
    EXPECT_EQ(sent(3), (std::vector<std::string>{"cmd=send_counters\r\n", "cmd=ping", "cmd=mark"}));
}

TEST_F(MainWindow, RestartStopsWaitsUntilStoppedThenStarts) {
    writeDefaultRoute();
    open("loaded active");
    // The stop is queued: systemd reports the service going down twice, then stopped.
    stub->onRequest("stop", "loaded deactivating\nloaded deactivating\nloaded inactive");
    stub->onRequest("start", "loaded active");
    window->Restart1->trigger();
    ASSERT_TRUE(waitUntil([&] { return !window->restarting(); }));
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Service Restarted!"});
    const std::string calls = stub->calls();
    const auto stop = calls.find("--no-block stop nerivale.service\n");
    const auto stopped = calls.find("show", stop);
    const auto start = calls.find("--no-block start nerivale.service\n");
    ASSERT_NE(stop, std::string::npos);
    ASSERT_NE(start, std::string::npos);
    EXPECT_LT(stopped, start);
    ASSERT_TRUE(settle());
    EXPECT_TRUE(window->Stop1->isEnabled());
}

TEST_F(MainWindow, RestartOfAServiceThatNeverStopsGivesUp) {
    writeDefaultRoute();
    restartBoundMs = 300;
    open("loaded active");
    stub->onRequest("stop", "loaded deactivating");
    window->Restart1->trigger();
    ASSERT_TRUE(waitUntil([&] { return !window->restarting(); }));
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Unable to Restart Service!"});
    EXPECT_FALSE(stub->saw("--no-block start nerivale.service"));
}

TEST_F(MainWindow, StartWithoutADefaultRouteIsRefused) {
    test::writeFile(dir / "NpaNxxRoute.dat", test::routeFile({{.name = "Other", .npanxx = "555"}}));
    open("loaded inactive");
    window->Start1->trigger();
    ASSERT_TRUE(waitUntil([&] { return ui.shown.size() >= 2; }));
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Must At Least Have One Route!", "Unable to Start Service!"}));
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Error);
    EXPECT_EQ(ui.shown[1].kind, DialogKind::Warning);
    EXPECT_FALSE(stub->saw("--no-block start nerivale.service"));
}

TEST_F(MainWindow, StartAndStopReportTheAnswer) {
    writeDefaultRoute();
    open("loaded inactive");
    stub->onRequest("start", "loaded active");
    window->Start1->trigger();
    ASSERT_TRUE(waitUntil([&] { return !ui.shown.empty(); }));
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Service Started!"});
    EXPECT_TRUE(window->Stop1->isEnabled());
    ui.clear();
    stub->refuse("stop");
    window->Stop1->trigger();
    ASSERT_TRUE(waitUntil([&] { return !ui.shown.empty(); }));
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Unable to Stop Service!"});
}

TEST_F(MainWindow, ClearLogDeletesLogDatAfterYes) {
    test::writeFile(dir / "Log.Dat", "12/10/26 12:00:00 - a line\r\n");
    open("loaded inactive");
    deliver("cmd=log\r\ndata=shown\r\n");
    ui.answers = {DialogButton::No};
    window->ClearLog1->trigger();
    EXPECT_TRUE(std::filesystem::exists(dir / "Log.Dat"));
    window->ClearLog1->trigger();  // Yes
    EXPECT_FALSE(std::filesystem::exists(dir / "Log.Dat"));
    EXPECT_TRUE(logText().isEmpty());
    EXPECT_EQ(ui.beeps, (std::vector<BeepKind>{BeepKind::Question, BeepKind::Question}));
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Clear Log File?", "Clear Log File?"}));
}

TEST_F(MainWindow, ViewLogAndHelpOpenFilesOfThisInstallation) {
    open("loaded inactive");
    window->ViewLog1->trigger();
    window->Contents1->trigger();
    window->EMailKOR1->trigger();
    window->KORWebSite1->trigger();
    ASSERT_EQ(ui.urls.size(), 4u);
    EXPECT_EQ(ui.urls[0], QUrl::fromLocalFile(QString::fromStdString((dir / "Log.Dat").string())));
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(ui.urls[i].isLocalFile());
        EXPECT_TRUE(ui.urls[i].path().endsWith("Nerivale.html")) << ui.urls[i].toString().toStdString();
    }
    EXPECT_EQ(ui.urls[2].fragment(), "ctx13");
}

TEST_F(MainWindow, CloseSavesTheSizeAndShutDownDoesNot) {
    open("loaded inactive");
    window->resize(800, 500);
    window->close();
    const auto gui = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager).gui();
    EXPECT_EQ(gui.Width, 800);
    EXPECT_EQ(gui.Height, 500);
    TearDown();

    open("loaded inactive");
    EXPECT_EQ(window->width(), 800);
    EXPECT_EQ(window->height(), 500);
    window->resize(900, 600);
    window->ShutDown1->trigger();
    window->close();
    EXPECT_EQ(ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager).gui().Width, 800);
}

TEST_F(MainWindow, ASavedSizeBelowTheMinimumIsRaisedToIt) {
    test::writeFile(dir / "Config.Dat", "[GUI]\r\nHeight=338\r\nWidth=637\r\n");
    open("loaded inactive");
    EXPECT_EQ(window->width(), 740);
    EXPECT_EQ(window->height(), 396);
}

TEST_F(MainWindow, ASecondManagerDoesNotTakeTheLiveSocket) {
    open("loaded inactive");
    test::FakeOperatorUi ui2;
    ManagerContext ctx2{dir.path(), dir.path(), ui2};
    TZQSrvcMngr second(ctx2, *service, fastOptions());
    second.show();
    ASSERT_TRUE(waitUntil([&] { return second.firstShowDone(); }));
    ASSERT_EQ(ui2.shown.size(), 1u);
    EXPECT_TRUE(ui2.shown[0].text.startsWith("[System] Failed To Start IPC: ")) << ui2.shown[0].text.toStdString();
    // The first one still receives.
    deliver("cmd=log\r\ndata=still mine\r\n");
    EXPECT_TRUE(logText().contains("still mine"));
}

}  // namespace
}  // namespace nv
