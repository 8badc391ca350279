// ZQTester against ZQSvc's own inbound host: the service on a temporary data
// directory with [Nerivale Port] on COM1, the tester on COM2, the two linked by
// socat's pair of pseudo-terminals.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QComboBox>
#include <QSignalSpy>
#include <QTest>

#include <thread>

#include "tester/BrevicorTestForm.h"
#include "tests/e2e/ZQSvcProcess.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

const std::string kPort = "[Nerivale Connection] Nerivale Port ";

class TesterServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        socat.start(QStringLiteral("socat"),
                    {QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString((dir / "COM1").string()),
                     QStringLiteral("pty,raw,echo=0,link=") + QString::fromStdString((dir / "COM2").string())});
        ASSERT_TRUE(socat.waitForStarted(5000)) << "socat is missing: scripts/deps.sh installs it";
        ASSERT_TRUE(log.waitUntil([&] { return std::filesystem::exists(dir / "COM1") && std::filesystem::exists(dir / "COM2"); }, 10s));
        test::writeInstallFile(dir.path());
        test::writeFile(dir / "Config.Dat",
                        test::kInboundPortSection);
        test::writeFile(dir / "NpaNxxRoute.dat",
                        test::routeFile({
                            {.name = "Default", .npanxx = "0000000000", .provider = "TNPP"},
                            {.name = "Lost", .npanxx = "888", .provider = "Ghost"},
                        }));
        service = std::make_unique<test::ZQSvcProcess>(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    }

    void TearDown() override {
        form.reset();
        if (service) {
            service->signal(SIGTERM);
            service->waitExit(20s);
        }
        socat.terminate();
        socat.waitForFinished(5000);
    }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    QProcess socat;
    std::unique_ptr<test::ZQSvcProcess> service;
    test::FakeOperatorUi ui;
    std::unique_ptr<TForm1> form;
};

TEST_F(TesterServiceTest, PageIsAcknowledgedAndRouted) {
    ASSERT_TRUE(log.waitForLine(kPort + "Direct Access Port COM1 Open!", 1, 20s)) << test::readFile(dir / "stderr.txt");
    form = std::make_unique<TForm1>(ui, TesterOptions{dir.path()});
    form->findChild<QComboBox*>(QStringLiteral("ComPort"))->setCurrentIndex(1);  // COM2
    form->findChild<QPlainTextEdit*>(QStringLiteral("SendTo"))->setPlainText("1234\n8881\n");
    form->findChild<QPlainTextEdit*>(QStringLiteral("Msg"))->setPlainText("Hi");
    QSignalSpy done(form.get(), &TForm1::runFinished);
    QTest::mouseClick(form->findChild<QPushButton*>(QStringLiteral("Send")), Qt::LeftButton);
    ASSERT_TRUE(done.wait(60000));
    EXPECT_TRUE(ui.shown.empty());
    QStringList lines = form->findChild<QPlainTextEdit*>(QStringLiteral("Status"))->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 5) << lines.join(u'|').toStdString();
    EXPECT_EQ(lines[0], "Comport Open!");
    EXPECT_TRUE(lines[1].endsWith(" - Sending Message To: 1234"));
    EXPECT_EQ(lines[2], "Message Sent");
    EXPECT_TRUE(lines[3].endsWith(" - Sending Message To: 8881"));
    // The service found no provider for the second page and refused it.
    EXPECT_EQ(lines[4], "Invalid Command Format");

    EXPECT_TRUE(log.waitForLine("[Nerivale Connection] Message Received From Nerivale Port  PIN: 1234 Provider: TNPP "
                        "Message: Hi", 1, 15s));
    EXPECT_TRUE(log.waitForLine(kPort + "Msg. Submitted For Processing - 1234,Hi", 1, 15s));
    EXPECT_TRUE(log.waitForLine("[System] Delivery Failed For PIN: 8881, Provider \"Ghost\" Not Found! Page Discarded!", 1, 15s));
    EXPECT_TRUE(log.waitForLine(kPort + "Msg. Processing Error - 8881,Hi", 1, 15s));
}

}  // namespace
}  // namespace nv
