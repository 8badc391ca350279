// The manager beside the real ZQSvc on a temporary data directory: the log
// lines the service sends show in the log window, and a test page sent from
// the menu reaches the service.
#include <signal.h>

#include <QLabel>

#include "manager/ServerStatsPanel.h"
#include "tests/e2e/ZQSvcProcess.h"
#include "tests/manager/MainWindowFixture.h"

namespace nv {
namespace {

class MainWindowEndToEnd : public test::MainWindowFixture {};

TEST_F(MainWindowEndToEnd, TestPageReachesTheServiceAndItsLogLinesShow) {
    test::writeInstallFile(dir.path());
    // Config.Dat in the install directory makes it the data directory; no inbound port.
    test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
    open("loaded active", /*withServiceListener=*/false);

    test::ZQSvcProcess zqsvc(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    ASSERT_TRUE(test::waitUntil([&] { return logText().contains("[System] Nerivale Server Started"); }, 20000))
        << logText().toStdString() << test::readFile(dir / "stderr.txt");

    ui.inputAnswers = {QString("5551234")};
    window->SendTestMsg1->trigger();
    ASSERT_TRUE(test::waitUntil([&] { return logText().contains("[System] Delivery Failed For PIN: 5551234"); },
                                20000))
        << logText().toStdString();

    // The counters answer to send_counters reaches the panel.
    window->Stats->setOnLineTime(9, 9);
    window->SendPipeData("cmd=send_counters\r\n");
    ASSERT_TRUE(test::waitUntil([&] { return window->Stats->timerBox()->text() == "0 Hrs.  00 Min."; }));

    zqsvc.signal(SIGTERM);
    EXPECT_EQ(zqsvc.waitExit(std::chrono::seconds(20)), 0);
}

}  // namespace
}  // namespace nv
