// The configuration editor: what OK writes, the blank-field checks, the key
// filters, the lists and their codings, reloading, Help.
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "foundation/ProfileFile.h"
#include "tests/gui/Screenshot.h"
#include "tests/manager/ConfigFormFixture.h"

namespace nv {
namespace {

using test::ConfigFormTest;
using test::readFile;
using test::writeFile;

// Config.Dat after OK on an empty data directory: the manager's defaults, one
// section after the other in the editor's order, written out by hand here.
const std::string kNerivalePort =
    "[Nerivale Port]\r\nTimeOut=60\r\nLength=160\r\nTruncateMsgs=0\r\nEnabled=1\r\n"
    "ComPort=0\r\nDataSettings=1\r\nFlowCtrl=1\r\nComSpeed=6\r\n";
const std::string kWctp =
    "[WCTP]\r\nWCTPSenderID=NOYB\r\nWCTPDocType=http://dtd.wctp.org/wctp-dtd-v1r1.dtd\r\n"
    "WCTPMiscSenderInfo=\r\nWCTPFOBSSL=1\r\n";
const std::string kSmtp =
    "[SMTP]\r\nServer=\r\nPort=25\r\nUser=\r\nPass=\r\nUseSSL=0\r\nSender=\r\nEnabled=0\r\n";
const std::string kBrevicor =
    "[Brevicor Port]\r\nTimeOut=60\r\nEnabled=0\r\nComPort=0\r\nDataSettings=1\r\n"
    "FlowCtrl=1\r\nComSpeed=6\r\n";
const std::string kTnpp =
    "[TNPP]\r\nSourceAddr=0\r\nDestAddr=0\r\nInertia=3\r\nBusyRtyTO=60\r\nIdelTO=10\r\n"
    "RetryCount=6\r\nKeepAliveTO=60\r\nIntCharTime=2\r\nRSHoldRetry=24\r\nRSHoldTime=10\r\n"
    "ENQRetries=6\r\nENQTO=10\r\nUseCom=0\r\nComSettings=0\r\nHandShake=0\r\nComSpeed=6\r\n"
    "STXInit=0\r\nTransparentCRC=0\r\nEnableTNPP=0\r\n";
const std::string kProxy = "[Proxy]\r\nServer=\r\nUser=\r\nPass=\r\nEnabled=0\r\n";
const std::string kSms = "[SMS]\r\nCOMPort=0\r\nCOMSpeed=6\r\nMode=0\r\nEnabled=0\r\n";

TEST_F(ConfigFormTest, FirstRunWritesTheManagersDefaultsInTheEditorsOrder) {
    form->loadFromConfig();
    ASSERT_TRUE(form->saveSettings());
    const std::string golden = kNerivalePort + "\r\n" + kWctp + "\r\n" + kSmtp + "\r\n" + kBrevicor +
                               "\r\n" + kTnpp + "\r\n" + kProxy + "\r\n" + kSms;
    EXPECT_EQ(readFile(configPath()), golden);
    EXPECT_TRUE(ui.shown.empty());

    // It holds passwords: group-readable at most, also after the next save.
    struct stat st {};
    ASSERT_EQ(::stat(configPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    form->show();
    edit("SMTPPass")->setText("secret");
    button("BitBtn2")->click();
    ASSERT_EQ(::stat(configPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST_F(ConfigFormTest, HandEditedFileKeepsCommentsUnknownKeysAndSpellingThroughOk) {
    const std::string hand =
        "; Nerivale settings, edited by hand\r\n"
        "[nerivale port]\r\n"
        "comport=3\r\n"
        "; the encoder line\r\n"
        "LENGTH = 200\r\n"
        "DeviceID=2\r\n"
        "\r\n"
        "[Extra]\r\n"
        "Custom=keep me\r\n"
        "[sms]\r\n"
        "comport=17\r\n";
    writeFile(configPath(), hand);
    form->show();
    EXPECT_EQ(combo("ComPort")->currentText(), "COM4");
    EXPECT_EQ(edit("MaxMsgLength")->text(), "200");
    // COM18 is not in the SMS list: the manager's default, never -1.
    EXPECT_EQ(combo("SMSCOMPort")->currentIndex(), 0);
    button("BitBtn2")->click();

    const std::string expected =
        "; Nerivale settings, edited by hand\r\n"
        "[nerivale port]\r\n"
        "comport=3\r\n"
        "; the encoder line\r\n"
        "LENGTH = 200\r\n"
        "DeviceID=2\r\n"
        "TimeOut=60\r\nTruncateMsgs=0\r\nEnabled=1\r\nDataSettings=1\r\nFlowCtrl=1\r\nComSpeed=6\r\n"
        "\r\n"
        "[Extra]\r\n"
        "Custom=keep me\r\n"
        "[sms]\r\n"
        "comport=0\r\nCOMSpeed=6\r\nMode=0\r\nEnabled=0\r\n"
        "\r\n" +
        kWctp + "\r\n" + kSmtp + "\r\n" + kBrevicor + "\r\n" + kTnpp + "\r\n" + kProxy;
    EXPECT_EQ(readFile(configPath()), expected);
}

// One blank field with its section switched on: the message, its tab, the
// text put back and the focus; nothing is written.
struct BlankRow {
    const char* field;
    const char* switchOn;  // "" when the check always runs
    const char* message;
    int tab;               // 0 General, 1 Brevicor, 2 TNPP, 3 WCTP/Proxy, 4 SMTP/SMS
    const char* putBack;   // "" when the field stays blank
};

const BlankRow kBlankRows[] = {
    {"WCTPSenderID", "", "Sender ID Can Not Be Blank!", 3, "NOYB"},
    {"WCTPDocType", "", "DTD Document Can Not Be Blank!", 3, "http://dtd.wctp.org/wctp-dtd-v1r1.dtd"},
    {"TimeOut", "", "Time Out Can Not Be Blank!", 0, "60"},
    {"MaxMsgLength", "", "Max Msg Length Can Not Be Blank!", 0, "512"},
    {"WCTPProxyServer", "UseProxyServer", "Proxy Server Can Not Be Blank!", 3, ""},
    {"SMTPPort", "SMTPEnabled", "SMTP Port Can Not Be Blank!", 4, "25"},
    {"SMTPEMailAddr", "SMTPEnabled", "Sender Address Can Not Be Blank!", 4, ""},
    {"QJTimeOut", "QJEnabled", "Brevicor Port Can Not Be Blank!", 1, "60"},
    {"SourceAddr", "EnableTNPP", "Source Address Can Not Be Blank!", 2, "0"},
    {"BusyRtyTO", "EnableTNPP", "Busy Rsp. T.O. Can Not Be Blank!", 2, "60"},
    {"IdelTO", "EnableTNPP", "Idle T.O. Can Not Be Blank!", 2, "10"},
    {"RetryCount", "EnableTNPP", "Retry Coun Can Not Be Blank!", 2, "6"},
    {"KeepAliveTO", "EnableTNPP", "Keep Alive T.O. Can Not Be Blank!", 2, "60"},
    {"IntCharTime", "EnableTNPP", "Inter Char Time Can Not Be Blank!", 2, "2"},
    {"RSHoldRetry", "EnableTNPP", "RS Hold Retry Can Not Be Blank!", 2, "24"},
    {"RSHoldTime", "EnableTNPP", "RS Hold Time Can Not Be Blank!", 2, "10"},
    {"ENQRetries", "EnableTNPP", "ENQ Retries Can Not Be Blank!", 2, "6"},
    {"ENQTO", "EnableTNPP", "ENQ T.O. Can Not Be Blank!", 2, "10"},
};

TEST_F(ConfigFormTest, EachBlankFieldStopsOkWithItsMessageTabDefaultAndFocus) {
    form->show();
    QApplication::setActiveWindow(form.get());
    for (const BlankRow& row : kBlankRows) {
        SCOPED_TRACE(row.field);
        form->loadFromConfig();
        tabs()->setCurrentIndex(row.tab == 0 ? 1 : 0);
        edit("SMTPEMailAddr")->setText("pager@example.org");
        edit("WCTPProxyServer")->setText("proxy:8080");
        if (*row.switchOn) check(row.switchOn)->setChecked(true);
        edit(row.field)->clear();
        ui.clear();

        button("BitBtn2")->click();
        ASSERT_EQ(ui.shown.size(), 1u);
        EXPECT_EQ(ui.shown[0].kind, DialogKind::Error);
        EXPECT_EQ(ui.shown[0].text, row.message);
        EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Information});
        EXPECT_EQ(tabs()->currentIndex(), row.tab);
        EXPECT_EQ(edit(row.field)->text(), row.putBack);
        EXPECT_EQ(form->focusWidget(), edit(row.field));
        EXPECT_TRUE(form->isVisible());
        EXPECT_FALSE(std::filesystem::exists(configPath()));
    }
}

// With every field blank and every section on, OK after OK meets the checks in
// their order (a field without a default is filled in after its message).
TEST_F(ConfigFormTest, ChecksRunInTheirOrder) {
    form->show();
    for (const BlankRow& row : kBlankRows) {
        if (*row.switchOn) check(row.switchOn)->setChecked(true);
        edit(row.field)->clear();
    }
    std::vector<QString> expected;
    for (const BlankRow& row : kBlankRows) {
        expected.push_back(row.message);
        button("BitBtn2")->click();
        if (!*row.putBack) edit(row.field)->setText("x");
    }
    EXPECT_EQ(ui.texts(), expected);
    button("BitBtn2")->click();
    EXPECT_EQ(ui.texts().size(), expected.size());
    EXPECT_TRUE(std::filesystem::exists(configPath()));
}

// A section switched off saves its blank fields as they are.
TEST_F(ConfigFormTest, SwitchedOffSectionsSaveTheirBlankValues) {
    form->show();
    const std::vector<std::pair<const char*, const char*>> blanks = {
        {"QJTimeOut", "Brevicor Port/TimeOut"}, {"SMTPPort", "SMTP/Port"},
        {"SMTPEMailAddr", "SMTP/Sender"},       {"WCTPProxyServer", "Proxy/Server"},
        {"SourceAddr", "TNPP/SourceAddr"},     {"BusyRtyTO", "TNPP/BusyRtyTO"},
        {"IdelTO", "TNPP/IdelTO"},             {"RetryCount", "TNPP/RetryCount"},
        {"KeepAliveTO", "TNPP/KeepAliveTO"},   {"IntCharTime", "TNPP/IntCharTime"},
        {"RSHoldRetry", "TNPP/RSHoldRetry"},   {"RSHoldTime", "TNPP/RSHoldTime"},
        {"ENQRetries", "TNPP/ENQRetries"},     {"ENQTO", "TNPP/ENQTO"},
        {"DestAddr", "TNPP/DestAddr"},         {"Inertia", "TNPP/Inertia"},
        {"SMTPServer", "SMTP/Server"}};
    for (const auto& [field, key] : blanks) edit(field)->clear();
    button("BitBtn2")->click();
    EXPECT_TRUE(ui.shown.empty());
    const auto ini = ProfileSnapshot::load(configPath());
    for (const auto& [field, key] : blanks) {
        const std::string k = key;
        const auto slash = k.find('/');
        EXPECT_EQ(ini.value(k.substr(0, slash), k.substr(slash + 1)), std::string()) << key;
    }
}

TEST_F(ConfigFormTest, NumericEditsTakeDigitsOnlyTypedOrPasted) {
    const char* filtered[] = {"TimeOut",     "MaxMsgLength", "QJTimeOut",   "SourceAddr", "BusyRtyTO",
                              "IdelTO",      "RetryCount",   "KeepAliveTO", "IntCharTime",
                              "RSHoldRetry", "RSHoldTime",   "ENQRetries",  "ENQTO",      "SMTPPort"};
    form->show();
    for (const char* name : filtered) {
        SCOPED_TRACE(name);
        QLineEdit* e = edit(name);
        e->clear();
        QTest::keyClicks(e, "1a-2 ");
        EXPECT_EQ(e->text(), "12");
        QTest::keyClick(e, Qt::Key_Backspace);
        EXPECT_EQ(e->text(), "1");
        QApplication::clipboard()->setText("7x");
        e->paste();
        EXPECT_EQ(e->text(), "1");
        QApplication::clipboard()->setText("34");
        e->paste();
        EXPECT_EQ(e->text(), "134");
    }
    for (const char* name : {"DestAddr", "Inertia"}) {
        QLineEdit* e = edit(name);
        e->clear();
        QTest::keyClicks(e, "1a-2");
        EXPECT_EQ(e->text(), "1a-2") << name;
    }
}

TEST_F(ConfigFormTest, TabsAndListsInTheirOrder) {
    const QStringList titles = {"General Settings", "Brevicor Settings", "TNPP Settings",
                                "WCTP/Proxy Settings", "SMTP/SMS Settings"};
    const QStringList names = {"TabSheet1", "TabSheet5", "TabSheet2", "TabSheet4", "TabSheet3"};
    ASSERT_EQ(tabs()->count(), 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(tabs()->tabText(i), titles[i]);
        EXPECT_EQ(tabs()->widget(i)->objectName(), names[i]);
    }
    EXPECT_EQ(form->windowTitle(), "Configuration Settings");

    auto items = [](QComboBox* c) {
        QStringList l;
        for (int i = 0; i < c->count(); ++i) l << c->itemText(i);
        return l;
    };
    const QStringList speeds = {"110",   "300",   "600",   "1200",  "2400",  "4800", "9600",
                                "14400", "19200", "38400", "56000", "57600", "115200"};
    for (const char* name : {"JQComSpeed", "QJSpeed", "ComSpeed"}) EXPECT_EQ(items(combo(name)), speeds);
    EXPECT_EQ(items(combo("SMSCOMSpeed")), speeds.mid(0, 12));
    for (const char* name : {"ComPort", "QJComPort", "UseCom"}) {
        EXPECT_EQ(combo(name)->count(), 20);
        EXPECT_EQ(combo(name)->itemText(19), "COM20");
    }
    EXPECT_EQ(combo("SMSCOMPort")->count(), 15);
    EXPECT_EQ(combo("SMSCOMPort")->itemText(0), "COM1");
    for (const char* name : {"DataSettings", "QJData"})
        EXPECT_EQ(items(combo(name)), (QStringList{"7,E,1", "8,N,1"}));
    for (const char* name : {"FlowCtrl", "QJFlow"})
        EXPECT_EQ(items(combo(name)), (QStringList{"None", "Hardware", "Software", "Both"}));
    EXPECT_EQ(items(combo("ComSettings")), (QStringList{"8,N,1", "7,E,1"}));
    EXPECT_EQ(items(combo("HandShake")), (QStringList{"RTS/CTS", "Xon/Xoff", "Both", "None"}));
    EXPECT_EQ(items(combo("SMSMode")), (QStringList{"Text", "PDU"}));
    EXPECT_FALSE(combo("HandShake")->isEditable());
}

// Every list stores its item's position; the TNPP lists have their own order.
TEST_F(ConfigFormTest, ListsStoreTheItemsPosition) {
    form->show();
    combo("ComSpeed")->setCurrentText("57600");
    combo("ComSettings")->setCurrentText("7,E,1");
    combo("HandShake")->setCurrentText("None");
    combo("DataSettings")->setCurrentText("7,E,1");
    combo("FlowCtrl")->setCurrentText("Software");
    combo("QJComPort")->setCurrentText("COM7");
    combo("SMSMode")->setCurrentText("PDU");
    check("EnableTNPP")->setChecked(true);
    check("TRSPCRC")->setChecked(true);
    edit("WCTPMiscSenderInfo")->setText(QString::fromUtf8("caf\u00e9 \u20ac"));
    button("BitBtn2")->click();
    const auto ini = ProfileSnapshot::load(configPath());
    EXPECT_EQ(ini.value("TNPP", "ComSpeed"), "11");
    EXPECT_EQ(ini.value("TNPP", "ComSettings"), "1");
    EXPECT_EQ(ini.value("TNPP", "HandShake"), "3");
    EXPECT_EQ(ini.value("TNPP", "EnableTNPP"), "1");
    EXPECT_EQ(ini.value("TNPP", "TransparentCRC"), "1");
    EXPECT_EQ(ini.value("Nerivale Port", "DataSettings"), "0");
    EXPECT_EQ(ini.value("Nerivale Port", "FlowCtrl"), "2");
    EXPECT_EQ(ini.value("Brevicor Port", "ComPort"), "6");
    EXPECT_EQ(ini.value("SMS", "Mode"), "1");
    EXPECT_EQ(ini.value("WCTP", "WCTPMiscSenderInfo"), "caf\xe9 \x80");  // Windows-1252
}

TEST_F(ConfigFormTest, OutOfRangeIndexesLoadAsTheManagersDefaults) {
    writeFile(configPath(),
              "[Nerivale Port]\r\nComSpeed=13\r\nDataSettings=-1\r\nFlowCtrl=4\r\n"
              "[Brevicor Port]\r\nComPort=20\r\n[TNPP]\r\nHandShake=9\r\nComSpeed=99\r\n"
              "[SMS]\r\nCOMPort=17\r\nCOMSpeed=12\r\nMode=2\r\n");
    form->show();
    EXPECT_EQ(combo("JQComSpeed")->currentIndex(), 6);
    EXPECT_EQ(combo("DataSettings")->currentIndex(), 1);
    EXPECT_EQ(combo("FlowCtrl")->currentIndex(), 1);
    EXPECT_EQ(combo("QJComPort")->currentIndex(), 0);
    EXPECT_EQ(combo("HandShake")->currentIndex(), 0);
    EXPECT_EQ(combo("ComSpeed")->currentIndex(), 6);
    EXPECT_EQ(combo("SMSCOMPort")->currentIndex(), 0);
    EXPECT_EQ(combo("SMSCOMSpeed")->currentIndex(), 6);
    EXPECT_EQ(combo("SMSMode")->currentIndex(), 0);
}

// Cancelled edits do not come back at the next showing, and the route editor's
// e-mail offer follows what is saved.
TEST_F(ConfigFormTest, EachShowingStartsFromTheSavedValues) {
    writeFile(configPath(), "[SMTP]\r\nEnabled=0\r\nServer=mail.example.org\r\n");
    form->show();
    EXPECT_EQ(edit("SMTPServer")->text(), "mail.example.org");
    check("SMTPEnabled")->setChecked(true);
    edit("SMTPServer")->setText("typed");
    button("BitBtn3")->click();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(form->result(), QDialog::Rejected);
    EXPECT_FALSE(form->smtpEnabledSaved());
    EXPECT_EQ(readFile(configPath()), "[SMTP]\r\nEnabled=0\r\nServer=mail.example.org\r\n");

    form->show();
    EXPECT_FALSE(check("SMTPEnabled")->isChecked());
    EXPECT_EQ(edit("SMTPServer")->text(), "mail.example.org");
}

TEST_F(ConfigFormTest, LongHandEditedTextIsKeptWhole) {
    const std::string server(70, 's');
    writeFile(configPath(), "[SMTP]\r\nServer=" + server + "\r\n");
    form->show();
    EXPECT_EQ(edit("SMTPServer")->text().size(), 70);
    button("BitBtn2")->click();
    EXPECT_EQ(ProfileSnapshot::load(configPath()).value("SMTP", "Server"), server);
    // A fresh value is held to the field's limit.
    QLineEdit* user = edit("SMTPUser");
    user->clear();
    QTest::keyClicks(user, QString(60, 'u'));
    EXPECT_EQ(user->text().size(), 55);
}

TEST_F(ConfigFormTest, HelpOpensTheActiveTabsContext) {
    const int contexts[] = {120, 130, 140, 150, 24};
    for (int i = 0; i < 5; ++i) {
        tabs()->setCurrentIndex(i);
        button("BitBtn5")->click();
        ASSERT_EQ(ui.urls.size(), static_cast<size_t>(i + 1));
        EXPECT_EQ(ui.urls.back().fragment(), QString("ctx%1").arg(contexts[i]));
    }
}

TEST_F(ConfigFormTest, DefaultLogonDisablesTheAccountFieldsKeepingTheirText) {
    writeFile(configPath(), "[Server]\r\nLogonName=pager\r\nPassword=pw\r\nDefaultLogon=1\r\n");
    form->show();
    QLineEdit* name = edit("LogonName");
    QLabel* label = nullptr;
    for (QLabel* l : form->findChildren<QLabel*>())
        if (l->buddy() == name) label = l;
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->text(), "Logon &Name:");
    EXPECT_FALSE(name->isEnabled());
    EXPECT_FALSE(label->isEnabled());
    EXPECT_FALSE(edit("LogonPassword")->isEnabled());
    EXPECT_EQ(name->text(), "pager");
    check("DefaultLogon")->setChecked(false);
    EXPECT_TRUE(name->isEnabled());
    EXPECT_TRUE(label->isEnabled());
    EXPECT_TRUE(edit("LogonPassword")->isEnabled());
    EXPECT_EQ(edit("LogonPassword")->text(), "pw");
    EXPECT_EQ(edit("LogonPassword")->echoMode(), QLineEdit::Password);
}

// Pictures for the README (only under scripts/screenshots.sh).
TEST_F(ConfigFormTest, ScreenshotOfEachTab) {
    form->show();
    const char* names[] = {"config-general", "config-brevicor", "config-tnpp", "config-wctp-proxy",
                           "config-smtp-sms"};
    for (int i = 0; i < 5; ++i) {
        tabs()->setCurrentIndex(i);
        test::saveScreenshot(form.get(), names[i]);
    }
}

// Screen readers name each input by its caption label; where a caption repeats
// on another tab, the group's title tells the inputs apart.
TEST_F(ConfigFormTest, EveryInputHasItsCaptionAsBuddyAndAUniqueName) {
    QHash<QWidget*, QString> caption;
    for (QLabel* l : form->findChildren<QLabel*>())
        if (l->buddy()) caption[l->buddy()] = l->text().remove('&').remove(':').trimmed();
    QSet<QString> names;
    for (QWidget* w : form->findChildren<QWidget*>()) {
        if (!qobject_cast<QLineEdit*>(w) && !qobject_cast<QComboBox*>(w)) continue;
        if (qobject_cast<QComboBox*>(w->parent())) continue;  // a combo box's own line edit
        ASSERT_TRUE(caption.contains(w)) << w->objectName().toStdString();
        const QString name = w->accessibleName().isEmpty() ? caption[w] : w->accessibleName();
        EXPECT_FALSE(names.contains(name.toLower())) << name.toStdString();
        names.insert(name.toLower());
    }
    EXPECT_EQ(combo("UseCom")->accessibleName(), "Port Settings Com Port");
    EXPECT_EQ(combo("QJComPort")->accessibleName(), "Brevicor Terminal  Settings Com Port");
    EXPECT_TRUE(edit("SourceAddr")->accessibleName().isEmpty());
}

}  // namespace
}  // namespace nv
