// ZQTester's window on a pseudo-terminal with a scripted encoder: controls and
// defaults, the frames' bytes, the status lines and the answers.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cstdlib>

#include "platform/KORCom32.h"
#include "tester/BrevicorTestForm.h"
#include "tester/PortTestRun.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/Screenshot.h"
#include "tests/peers/EncoderPeer.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::EncoderPeer;
using test::fromHex;

QStringList itemsOf(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) items << box->itemText(i);
    return items;
}

// The frame as the encoder receives it, spelt byte by byte.
std::string wireFrame(const std::string& recipient, const std::string& text) {
    return fromHex("01 41 31") + recipient + fromHex("02") + text + fromHex("03 04");
}

class PortTesterTest : public ::testing::Test {
protected:
    explicit PortTesterTest(std::chrono::milliseconds answerWait = 3s) : answerWait(answerWait) {}

    void SetUp() override {
        std::filesystem::create_symlink(pty.slavePath(), dir / "COM1");
        form = std::make_unique<TForm1>(ui, TesterOptions{dir.path(), answerWait});
        form->show();
    }

    template <typename T>
    T* child(const char* name) {
        auto* w = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }

    void type(const char* memo, const QString& text) { child<QPlainTextEdit>(memo)->setPlainText(text); }

    // Presses Send and waits for the run to end; false when it did not.
    bool sendAndWait(std::chrono::milliseconds bound = 30s) {
        QSignalSpy done(form.get(), &TForm1::runFinished);
        QTest::mouseClick(child<QPushButton>("Send"), Qt::LeftButton);
        if (!form->running()) return true;
        EXPECT_FALSE(child<QPushButton>("Send")->isEnabled());
        return done.wait(static_cast<int>(bound.count())) && child<QPushButton>("Send")->isEnabled();
    }

    QStringList status() { return child<QPlainTextEdit>("Status")->toPlainText().split(u'\n'); }

    // The status lines with each time stamp replaced by "<ts>".
    QStringList statusWithoutTimes() {
        static const QRegularExpression kStamp(QStringLiteral(R"(^\d\d\D\d\d\D\d\d \d\d\D\d\d\D\d\d\.\d{2,3} - )"));
        QStringList lines = status();
        for (QString& l : lines) l.replace(kStamp, QStringLiteral("<ts> - "));
        return lines;
    }

    // The port is closed again: the device opens exclusively.
    bool portReleased() {
        SerialPort probe;
        return !form->serialPort().Connected() && probe.open(dir / "COM1");
    }

    std::chrono::milliseconds answerWait;
    test::TempDir dir;
    test::PtyPair pty;
    test::FakeOperatorUi ui;
    std::unique_ptr<TForm1> form;
};

TEST_F(PortTesterTest, ControlsListsAndDefaults) {
    EXPECT_EQ(form->windowTitle(), "Neri Vale Port Tester");
    EXPECT_EQ(child<QGroupBox>("GroupBox2")->title(), "COM Port Settings");
    EXPECT_EQ(child<QGroupBox>("GroupBox1")->title(), "Message Settings");
    EXPECT_EQ(child<QGroupBox>("GroupBox3")->title(), "Status");
    QStringList ports;
    for (int n = 1; n <= 20; ++n) ports << QStringLiteral("COM%1").arg(n);
    struct Box {
        const char* name;
        const char* caption;
        QStringList items;
        QString current;
    };
    const Box boxes[] = {
        {"ComPort", "Com Port:", ports, "COM1"},
        {"DataSettings", "Data:", {"7,E,1", "8,N,1"}, "8,N,1"},
        {"FlowCtrl", "Flow CTRL:", {"None", "Hardware", "Software", "Both"}, "Hardware"},
        {"JQComSpeed", "COM Speed:",
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000", "57600", "115200"},
         "9600"},
    };
    auto* portForm = qobject_cast<QFormLayout*>(child<QGroupBox>("GroupBox2")->layout());
    ASSERT_NE(portForm, nullptr);
    auto captionOf = [&](QWidget* w) {
        auto* label = qobject_cast<QLabel*>(portForm->labelForField(w));
        return label && label->buddy() == w ? label->text() : QString();
    };
    for (const auto& b : boxes) {
        auto* box = child<QComboBox>(b.name);
        EXPECT_EQ(itemsOf(box), b.items) << b.name;
        EXPECT_EQ(box->currentText(), b.current) << b.name;
        EXPECT_EQ(captionOf(box), b.caption) << b.name;
    }
    EXPECT_EQ(child<QLineEdit>("TimeOut")->text(), "60");
    EXPECT_EQ(captionOf(child<QLineEdit>("TimeOut")), "Time Out:");
    EXPECT_EQ(child<QLineEdit>("MaxMsgLength")->text(), "500");
    EXPECT_EQ(captionOf(child<QLineEdit>("MaxMsgLength")), "Delay Speed:");
    // The memos' captions are their buddies.
    QStringList memoCaptions;
    for (auto* label : form->findChildren<QLabel*>())
        if (label->buddy() == child<QPlainTextEdit>("SendTo") || label->buddy() == child<QPlainTextEdit>("Msg"))
            memoCaptions << label->text();
    memoCaptions.sort();
    EXPECT_EQ(memoCaptions, QStringList({"Message:", "To:"}));
    EXPECT_TRUE(child<QPlainTextEdit>("SendTo")->toPlainText().isEmpty());
    EXPECT_TRUE(child<QPlainTextEdit>("Msg")->toPlainText().isEmpty());
    EXPECT_TRUE(child<QPlainTextEdit>("Status")->isReadOnly());
    EXPECT_TRUE(child<QPlainTextEdit>("Status")->toPlainText().isEmpty());
    EXPECT_EQ(child<QPushButton>("Send")->text(), "Send");
    EXPECT_EQ(child<QPushButton>("Button1")->text(), "Close");
}

TEST_F(PortTesterTest, TwoRecipientsFramesAndStatusLines) {
    EncoderPeer encoder(pty);
    // A final line break adds no recipient and no empty line.
    type("SendTo", "1234\n5678\n");
    type("Msg", "Hi\n");
    ASSERT_TRUE(sendAndWait());
    EXPECT_EQ(test::toHex(encoder.received()),
              test::toHex(fromHex("01 41 31 31 32 33 34 02 48 69 0D 0A 03 04 01 41 31 35 36 37 38 02 48 69 0D 0A 03 04")));
    EXPECT_EQ(statusWithoutTimes(), QStringList({"Comport Open!", "<ts> - Sending Message To: 1234", "Message Sent",
                                                 "<ts> - Sending Message To: 5678", "Message Sent"}));
    EXPECT_TRUE(portReleased());
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(PortTesterTest, MemoLinesMakeTheFrames) {
    EncoderPeer encoder(pty);
    // An empty line in between is an empty recipient; the message keeps its lines.
    type("SendTo", "1234\n\n5678");
    type("Msg", "one\ntwo");
    ASSERT_TRUE(sendAndWait());
    EXPECT_EQ(encoder.frames(), std::vector<std::string>({wireFrame("1234", "one\r\ntwo\r\n"),
                                                          wireFrame("", "one\r\ntwo\r\n"),
                                                          wireFrame("5678", "one\r\ntwo\r\n")}));
    // No recipients: the port opens and closes at once.
    type("SendTo", "");
    ASSERT_TRUE(sendAndWait());
    EXPECT_EQ(status(), QStringList({"Comport Open!"}));
    EXPECT_EQ(encoder.frames().size(), 3u);
    EXPECT_TRUE(portReleased());
}

TEST_F(PortTesterTest, AnswersOfTheEncoder) {
    EncoderPeer encoder(pty);
    encoder.script({EncoderPeer::ack(), EncoderPeer::nak("03"), EncoderPeer::refused("06"), EncoderPeer::nak("99"),
                    EncoderPeer::refused("08"), ""});
    type("SendTo", "1001\n1002\n1003\n1004\n1005\n1006\n1007");
    type("Msg", "Hi");
    ASSERT_TRUE(sendAndWait());
    EXPECT_EQ(statusWithoutTimes(),
              QStringList({"Comport Open!", "<ts> - Sending Message To: 1001", "Message Sent",
                           "<ts> - Sending Message To: 1002", "Invalid Capcode",
                           "<ts> - Sending Message To: 1003", "Invalid Status/Setup Command",
                           // A code outside the table adds no line.
                           "<ts> - Sending Message To: 1004", "<ts> - Sending Message To: 1005",
                           "Invalid Command Format", "<ts> - Sending Message To: 1006",
                           // Silence after the echo ends the run: 1007 is not sent.
                           "No Responce From Terminal"}));
    EXPECT_EQ(encoder.frames().size(), 6u);
    EXPECT_TRUE(portReleased());
}

TEST_F(PortTesterTest, PortThatDoesNotOpen) {
    type("SendTo", "1234");
    // COM2 names a plain file: it opens but takes no line settings.
    test::writeFile(dir / "COM2", "");
    child<QComboBox>("ComPort")->setCurrentIndex(1);
    child<QPlainTextEdit>("Status")->setPlainText("earlier run");
    ASSERT_TRUE(sendAndWait());
    ASSERT_EQ(ui.shown.size(), 1u);
    EXPECT_EQ(ui.shown[0].text, "Unable To Open ComPort!");
    EXPECT_EQ(status(), QStringList({"earlier run"}));
    EXPECT_TRUE(child<QPushButton>("Send")->isEnabled());
}

TEST_F(PortTesterTest, SettingsReachTheSerialComponent) {
    struct Case {
        int data, flow, speed;
        TComPortDataBits bits;
        TComPortParity parity;
        TComPortHwHandshaking hw;
        TComPortSwHandshaking sw;
        TComPortBaudRate baud;
    };
    const Case cases[] = {
        {0, 0, 8, db7BITS, ptEVEN, hhNONE, shNONE, br19200},
        {1, 1, 6, db8BITS, ptNONE, hhRTSCTS, shNONE, br9600},
        {0, 2, 12, db7BITS, ptEVEN, hhNONE, shXONXOFF, br115200},
        {1, 3, 0, db8BITS, ptNONE, hhRTSCTS, shXONXOFF, br110},
    };
    for (const auto& c : cases) {
        child<QComboBox>("DataSettings")->setCurrentIndex(c.data);
        child<QComboBox>("FlowCtrl")->setCurrentIndex(c.flow);
        child<QComboBox>("JQComSpeed")->setCurrentIndex(c.speed);
        ASSERT_TRUE(sendAndWait());
        const TKORCom32& port = form->serialPort();
        EXPECT_EQ(port.ComPort(), pnCOM1);
        EXPECT_EQ(port.ComPortDataBits(), c.bits) << c.data;
        EXPECT_EQ(port.ComPortParity(), c.parity) << c.data;
        EXPECT_EQ(port.ComPortStopBits(), sb1BITS);
        EXPECT_EQ(port.ComPortHwHandshaking(), c.hw) << c.flow;
        EXPECT_EQ(port.ComPortSwHandshaking(), c.sw) << c.flow;
        EXPECT_EQ(port.ComPortSpeed(), c.baud) << c.speed;
    }
    EXPECT_TRUE(ui.shown.empty());
}

class PortTesterLongWaitTest : public PortTesterTest {
protected:
    PortTesterLongWaitTest() : PortTesterTest(kProbeAnswerWait) {}
};

TEST_F(PortTesterLongWaitTest, ClosingTheWindowCancelsTheRun) {
    EncoderPeer encoder(pty);
    encoder.script({""});
    type("SendTo", "1234\n5678");
    type("Msg", "Hi");
    QSignalSpy done(form.get(), &TForm1::runFinished);
    QTest::mouseClick(child<QPushButton>("Send"), Qt::LeftButton);
    ASSERT_TRUE(encoder.waitFrames(1, 10s));
    EXPECT_TRUE(form->running());
    QTest::mouseClick(child<QPushButton>("Button1"), Qt::LeftButton);
    ASSERT_TRUE(done.wait(10000));
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(statusWithoutTimes(), QStringList({"Comport Open!", "<ts> - Sending Message To: 1234"}));
    EXPECT_EQ(encoder.frames().size(), 1u);
    EXPECT_TRUE(portReleased());
}

TEST(PortTesterTextTest, TimeStamp) {
    const QDate day(2026, 3, 4);
    struct Case {
        int ms;
        const char* text;
    };
    const Case cases[] = {{8, "03/04/26 05:06:07.08"}, {50, "03/04/26 05:06:07.50"}, {123, "03/04/26 05:06:07.123"}};
    for (const auto& c : cases)
        EXPECT_EQ(statusTimeStamp(QDateTime(day, QTime(5, 6, 7, c.ms)), u'/', u':'), c.text);
    EXPECT_EQ(statusTimeStamp(QDateTime(QDate(2009, 12, 31), QTime(23, 59, 0, 0)), u'.', u':'), "12.31.09 23:59:00.00");
}

TEST(PortTesterTextTest, MemoLines) {
    struct Case {
        QString text;
        QStringList lines;
    };
    const Case cases[] = {
        {"", {}},
        {"1234", {"1234"}},
        {"1234\n", {"1234"}},
        {"1234\n5678", {"1234", "5678"}},
        {"\n", {""}},
        {"1234\n\n5678\n", {"1234", "", "5678"}},
        {"1234\n\n", {"1234", ""}},
        {"a\r\nb\rc", {"a", "b", "c"}},
    };
    for (const auto& c : cases) EXPECT_EQ(memoLines(c.text), c.lines) << c.text.toStdString();
}

TEST(PortTesterTextTest, DataDirectoryAsTheServiceFindsIt) {
    test::TempDir dir;
    const auto install = dir / "install";
    std::filesystem::create_directory(install);
    test::writeFile(dir / "Nerivale.ini", "[Nerivale]\r\nInstallDir=" + install.string() +
                                              "\r\nCommonAppData=" + (dir / "common").string() + "\r\n");
    const char* old = std::getenv("NERIVALE_CONF");
    const std::string saved = old ? old : "";
    ::setenv("NERIVALE_CONF", (dir / "Nerivale.ini").c_str(), 1);
    // Without Config.Dat in the install directory: the common folder, not created.
    EXPECT_EQ(testerDataDirectory(), dir / "common" / "KOR" / "Nerivale" / "Users" / "All Users");
    EXPECT_FALSE(std::filesystem::exists(dir / "common"));
    test::writeFile(install / "Config.Dat", "");
    EXPECT_EQ(testerDataDirectory(), install);
    if (old) ::setenv("NERIVALE_CONF", saved.c_str(), 1);
    else ::unsetenv("NERIVALE_CONF");
}

TEST_F(PortTesterTest, Screenshot) {
    EncoderPeer encoder(pty);
    encoder.script({EncoderPeer::ack(), EncoderPeer::nak("03")});
    type("SendTo", "1234\n5678");
    type("Msg", "Hi");
    ASSERT_TRUE(sendAndWait());
    test::saveScreenshot(form.get(), "ZQTester");
}

}  // namespace
}  // namespace nv
