// The About box, the timed message window, and the pictures of the windows.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>

#include "manager/About.h"
#include "manager/ServerStatsPanel.h"
#include "manager/TimedMDlg.h"
#include "platform/CounterIds.h"
#include "tests/gui/Screenshot.h"
#include "tests/manager/MainWindowFixture.h"

namespace nv {
namespace {

using test::MainWindowFixture;

class MainWindowDialogs : public MainWindowFixture {};

TEST_F(MainWindowDialogs, AboutShowsTheVersionAndClosesWithOk) {
    open("loaded inactive");
    QString title, version;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<TAboutBox*>(QApplication::activeModalWidget());
        if (!box) return;
        title = box->windowTitle();
        version = box->Version1->text();
        box->OKButton->click();
    });
    window->About1->trigger();
    EXPECT_EQ(title, "About Pelmora Gateway");
    EXPECT_EQ(version, QString("Version ") + NV_VERSION_STRING);
}

TEST_F(MainWindowDialogs, AboutLinksOpenTheGuide) {
    TAboutBox box(ctx, "Version 1.2.3.4");
    emit box.Label1->linkActivated("guide");
    emit box.Label2->linkActivated("guide");
    ASSERT_EQ(ui.urls.size(), 2u);
    EXPECT_TRUE(ui.urls[0].path().endsWith("Nerivale.html"));
    EXPECT_EQ(box.Label1->toolTip(), "Click To Send E-Mail");
    EXPECT_EQ(box.Label2->toolTip(), "Click To Go To Web Site");
}

TEST(TimedMsgFrm, TimedCloseAcceptsAsIfOkWerePressed) {
    TTimedMsgFrm dlg(nullptr, 20);
    EXPECT_EQ(dlg.windowTitle(), "Information");
    EXPECT_EQ(dlg.message1->text(), "Text");
    EXPECT_TRUE(dlg.ProgressBar1->isHidden());
    EXPECT_FALSE(dlg.Timer1->isActive());
    dlg.startTimedClose();
    EXPECT_EQ(dlg.exec(), QDialog::Accepted);
}

TEST(TimedMsgFrm, ProgressModeShowsTheBarAndHidesOk) {
    TTimedMsgFrm dlg;
    EXPECT_EQ(dlg.Timer1->interval(), 7000);
    dlg.setCaption("Carrier List");
    dlg.setMessage("Downloading");
    dlg.setOkVisible(false);
    dlg.setProgress(3, 10);
    dlg.show();
    EXPECT_EQ(dlg.windowTitle(), "Carrier List");
    EXPECT_EQ(dlg.message1->text(), "Downloading");
    EXPECT_TRUE(dlg.ProgressBar1->isVisible());
    EXPECT_EQ(dlg.ProgressBar1->value(), 3);
    EXPECT_FALSE(dlg.OKBut->isVisible());
}

TEST_F(MainWindowDialogs, Screenshot) {
    open("loaded active");
    window->resize(820, 460);
    deliver("cmd=all_counters\r\nctWCTPCount=3\r\nctSNPPCount=0\r\nctSMPPCount=1\r\nctTapCount=12\r\n"
            "ctEPagesSent=2\r\nctSMSCount=0\r\nctErrorCount=1\r\nctTransactionCount=18\r\nctQueuedMgs=0\r\n"
            "ctNerivaleInCount=19\r\nctTNPPCounter=0\r\nctBrevicorCount=0\r\nctHours=2\r\nctMinutes=17\r\n"
            "cancelcall1=0\r\n");
    window->LogWindow->clear();
    for (const char* line : {"12/10/26 09:14:02 - [System] Nerivale Server Start Requested!",
                             "12/10/26 09:14:02 - [System] Starting Pelmoar Services!",
                             "12/10/26 09:14:03 - [System] All Services Active!",
                             "12/10/26 09:14:03 - [System] Nerivale Server Started"})
        ASSERT_TRUE(test::sendCommand(dir / kConfigPipeName, std::string("cmd=log\r\ndata=") + line + "\r\n"));
    ASSERT_TRUE(test::waitUntil([&] { return logText().endsWith("Nerivale Server Started"); }));
    window->Timer3Timer();
    test::saveScreenshot(window.get(), "manager-main");
    TAboutBox box(ctx, "Version " + window->Ver(), window.get());
    test::saveScreenshot(&box, "manager-about");
    TTimedMsgFrm timed(window.get());
    timed.setMessage("Service Restarted!");
    test::saveScreenshot(&timed, "manager-timed-message");
}

}  // namespace
}  // namespace nv
