// The provider list's Add and Edit through the real editor: Provider.dat's bytes
// for every delivery method against records written here at the layout's
// offsets, the editor's checks in order, and its key filters.
#include <QCheckBox>
#include <QKeyEvent>
#include <QListWidget>
#include <QPlainTextEdit>
#include <functional>
#include <vector>

#include "foundation/RecordAccess.h"
#include "manager/PCDForm.h"
#include "manager/PCLForm.h"
#include "tests/manager/ProviderTestSupport.h"

namespace nv::test {
namespace {

using Fill = std::function<void(TPCDForm&)>;

void check(QObject& w, const char* name, bool on = true) { child<QCheckBox>(w, name)->setChecked(on); }

// Adds one provider through the list, filling the editor with `fill` and pressing OK.
void addProvider(WindowEnv& env, const Fill& fill) {
    TPCLForm list(env.ctx);
    list.runEditor = [&](TPCDForm& ed) {
        fill(ed);
        click(ed, "BitBtn1");
        return ed.result();
    };
    list.AddUserButClick();
}

// A record as Add stores it before any field is filled: the editor's defaults.
std::string addDefaults(std::int32_t filePos, std::uint8_t type) {
    std::string r(kProviderSize, '\0');
    putInt32(r, 420, 160);
    putText(r, 685, 15, "444");
    putInt32(r, 702, filePos);
    r[708] = 3;   // 1200
    r[710] = 1;   // Hardware
    putText(r, 969, 15, "80");
    putText(r, 988, 255, "http://dtd.wctp.org/wctp-dtd-v1r1.dtd");
    r[1721] = 6;  // 9600
    r[1722] = 2;  // 8,N,2
    r[1723] = 1;
    r[1833] = 4;
    putText(r, 2355, 150, "http://");
    r[2506] = static_cast<char>(type);
    putInt32(r, 2543, -1);
    putInt32(r, 2863, 2775);
    putInt32(r, 2867, -1);
    return r;
}

struct MethodCase {
    const char* method;
    std::uint8_t type;
    Fill fill;
    std::function<void(std::string&)> expect;
};

TEST(ProviderEditor, AddStoresEachDeliveryMethodAtTheLayoutsOffsets) {
    const std::vector<MethodCase> cases = {
        {"Tap Modem", 1,
         [](TPCDForm& ed) {
             setText(ed, "TerminalAccessNum", "5551212");
             setText(ed, "Password", "secret");
             setText(ed, "ETAP", "Nextel SMS");
             setText(ed, "MaxMsgsPerCall", "5");
         },
         [](std::string& r) {
             putText(r, 36, 35, "5551212");
             r[428] = 1;
             putInt32(r, 1827, 5);
         }},
        {"Tap Direct Connect", 0, [](TPCDForm&) {}, [](std::string&) {}},
        {"TAP Over IP", 11,
         [](TPCDForm& ed) {
             setText(ed, "TapOverIPAddr", "10.0.0.5");
             setText(ed, "TapOverIPPort", "9000");
         },
         [](std::string& r) {
             putText(r, 2511, 20, "10.0.0.5");
             putText(r, 2532, 10, "9000");
         }},
        {"Internet SNPP", 2,
         [](TPCDForm& ed) {
             setText(ed, "SNPPServer", "snpp.example.net");
             setText(ed, "SNPPUser", "gw");
             setText(ed, "SNPPPass", "pw");
             check(ed, "TwoWay");
             check(ed, "Level");
             check(ed, "SNPPSecure");
             setText(ed, "Coverage", "US");
             setText(ed, "SNPPCallerID", "gw1");
         },
         [](std::string& r) {
             putText(r, 429, 255, "snpp.example.net");
             putText(r, 1244, 35, "gw");
             putText(r, 1280, 65, "pw");
             r[415] = 1;
             r[419] = 1;
             putInt32(r, 2543, 0);
             putText(r, 1684, 35, "US");
             putText(r, 1880, 65, "gw1");
         }},
        {"Internet WCTP", 3,
         [](TPCDForm& ed) {
             setText(ed, "WCTPServer", "https://wctp.example.net/wctp");
             setText(ed, "WCTPPort", "443");
             setText(ed, "WCTPUser", "u");
             setText(ed, "WCTPPass", "p");
             check(ed, "WCTPNotifyWhenDelivered");
         },
         [](std::string& r) {
             putText(r, 713, 255, "https://wctp.example.net/wctp");
             putText(r, 969, 15, "443");
             putText(r, 1725, 35, "u");
             putText(r, 1761, 65, "p");
             r[986] = 1;
         }},
        {"Internet SMPP", 12,
         [](TPCDForm& ed) {
             setText(ed, "SMPPServer", "smpp.example.net");
             setText(ed, "SMPPort", "2776");
             setText(ed, "SMPPUserName", "sys");
             setText(ed, "SMPPPassword", "pw");
             setText(ed, "SMPPProtocol", "CIMD2 for Nokia SMS Center servers");
             check(ed, "SMPPSecureMode");
         },
         [](std::string& r) {
             putText(r, 2607, 255, "smpp.example.net");
             putInt32(r, 2863, 2776);
             putText(r, 2547, 25, "sys");
             putText(r, 2573, 25, "pw");
             putInt32(r, 2599, 1);
             putInt32(r, 2867, 0);
         }},
        {"SMS Modem", 4, [](TPCDForm& ed) { setText(ed, "SMSServiceProvider", "+15551230000"); },
         [](std::string& r) { putText(r, 1835, 35, "+15551230000"); }},
    };
    for (const MethodCase& c : cases) {
        SCOPED_TRACE(c.method);
        WindowEnv env;
        addProvider(env, [&](TPCDForm& ed) {
            setText(ed, "CompanyName", "Acme Paging");
            setText(ed, "ProtocolMethod", c.method);
            child<QPlainTextEdit>(ed, "Notes")->setPlainText("line 1\nline 2");
            c.fill(ed);
        });
        EXPECT_TRUE(env.ui.shown.empty()) << env.ui.shown.front().text.toStdString();
        const std::string file = readFile(env.file("Provider.dat"));
        ASSERT_EQ(file.size(), kHeader + kProviderSize);
        const std::string rec = recordAt(file, kProviderSize, 0);
        std::string expected = addDefaults(57, c.type);
        putText(expected, 0, 35, "Acme Paging");
        putText(expected, 158, 255, "line 1\r\nline 2");
        c.expect(expected);
        // Skipped: the ciphered password (random seed) and the two times.
        EXPECT_EQ(firstDifference(rec, expected, {{72, 138}, {138, 146}, {1872, 1880}}), -1);
        const double now = recordTimeNow();
        EXPECT_NEAR(ProviderRec::fromBytes(reinterpret_cast<const std::uint8_t*>(rec.data())).LastUpdate(), now, 0.01);
        EXPECT_NEAR(ProviderRec::fromBytes(reinterpret_cast<const std::uint8_t*>(rec.data())).DateAdded(), now, 0.01);
        auto found = FindProvider("acme paging", env.dir.path(), env.ui);
        ASSERT_TRUE(found);
        EXPECT_EQ(found->Password(), c.type == 1 ? "secret" : "");
    }
}

TEST(ProviderEditor, MethodListAndDeliveryTypeMapBothWays) {
    const std::uint8_t types[] = {1, 0, 11, 2, 3, 12, 4};
    for (int item = 0; item < 7; ++item) {
        EXPECT_EQ(deliveryTypeOfMethod(item), types[item]);
        EXPECT_EQ(methodOfDeliveryType(types[item]), item);
    }
    EXPECT_EQ(deliveryTypeOfMethod(-1), 1);
    for (std::uint8_t t = 5; t <= 10; ++t) EXPECT_EQ(methodOfDeliveryType(t), -1) << int(t);
}

TEST(ProviderEditor, AddTakesTheFirstDeletedSlot) {
    WindowEnv env;
    std::string file = providerFile({{"One"}, {"Gone"}, {"Three"}});
    file[kHeader + kProviderSize + 706] = 1;
    writeFile(env.file("Provider.dat"), file);
    addProvider(env, [](TPCDForm& ed) {
        setText(ed, "CompanyName", "Four");
        setText(ed, "TerminalAccessNum", "1");
    });
    const std::string after = readFile(env.file("Provider.dat"));
    ASSERT_EQ(after.size(), file.size());
    const std::string rec = recordAt(after, kProviderSize, 1);
    EXPECT_EQ(textAt(rec, 0), "Four");
    EXPECT_EQ(int32At(rec, 702), static_cast<std::int32_t>(kHeader + kProviderSize));
    EXPECT_EQ(rec[706], 0);
}

TEST(ProviderEditor, EditKeepsUnmappedBytesAndTheServicesNewCounts) {
    WindowEnv env;
    std::string file = providerFile({{"Acme", 1, 80, "5551212"}});
    auto poke = [&](std::size_t off, const std::string& bytes) { file.replace(kHeader + off, bytes.size(), bytes); };
    poke(424, "\xAA\xBB\xCC\xDD");      // reserved
    poke(701, "\x01");                  // legacy delivery flag
    poke(1346, "\x06legacy");           // reserved text
    poke(1668, std::string(15, '\x55'));  // reserved
    poke(1831, "\x07\x02\x09\x01");     // 1831 kept on edit; 1832..1834 forced
    poke(2507, "\x11\x22\x33\x44");
    writeFile(env.file("Provider.dat"), file);
    const std::string before = recordAt(file, kProviderSize, 0);

    TPCLForm list(env.ctx);
    list.FormShow();
    list.list()->setCurrentRow(0);
    list.runEditor = [&](TPCDForm& ed) {
        child<QPlainTextEdit>(ed, "Notes")->setPlainText("new note\nline 2");
        // The service counts a page while the editor is open.
        std::string now = readFile(env.file("Provider.dat"));
        putInt32(now, kHeader + 146, 77);
        now.replace(kHeader + 150, 8, std::string("\x00\x00\x00\x00\x00\x10\xE5\x40", 8));
        writeFile(env.file("Provider.dat"), now);
        click(ed, "BitBtn1");
        return ed.result();
    };
    list.EditUserButClick();
    EXPECT_TRUE(env.ui.shown.empty());

    std::string expected = before;
    putText(expected, 158, 255, "new note\r\nline 2");
    putInt32(expected, 146, 77);
    expected.replace(150, 8, std::string("\x00\x00\x00\x00\x00\x10\xE5\x40", 8));
    expected.replace(1832, 3, std::string("\x00\x04\x00", 3));
    const std::string after = recordAt(readFile(env.file("Provider.dat")), kProviderSize, 0);
    EXPECT_EQ(firstDifference(after, expected, {{1872, 1880}}), -1);
}

struct Rule {
    const char* what;
    Fill setup;
    const char* message;
    const char* tab;  // nullptr: the tab stays where it was
    const char* focus;
};

TEST(ProviderEditor, ChecksRunInOrderAndShowTheirTabAndField) {
    auto method = [](const char* m) { return [m](TPCDForm& ed) { setText(ed, "ProtocolMethod", m); }; };
    auto named = [](Fill more) {
        return [more](TPCDForm& ed) {
            setText(ed, "CompanyName", "Acme");
            setText(ed, "TerminalAccessNum", "5551212");
            more(ed);
        };
    };
    auto both = [](Fill a, Fill b) { return [a, b](TPCDForm& ed) { a(ed); b(ed); }; };
    auto set = [](const char* field, const char* text) { return [=](TPCDForm& ed) { setText(ed, field, text); }; };
    const std::vector<Rule> rules = {
        {"name", [](TPCDForm&) {}, "No Provider Name Specified!", nullptr, "CompanyName"},
        {"length", named(set("Length", "")), "Max. Message Length Not Specified!", "&TAP Access", "Length"},
        {"method", named([](TPCDForm& ed) { child<QComboBox>(ed, "ProtocolMethod")->setCurrentIndex(-1); }),
         "No Connection Type Specified!", nullptr, "ProtocolMethod"},
        {"access", named(set("TerminalAccessNum", "")), "No Access Number Specified!", "&TAP Access",
         "TerminalAccessNum"},
        {"tap ip", named(method("TAP Over IP")), "Must Specify TAP IP Address!", "&TAP Access", "TapOverIPAddr"},
        {"tap port", named(both(method("TAP Over IP"), set("TapOverIPAddr", "h"))), "Must Specify TAP IP Port!",
         "&TAP Access", "TapOverIPPort"},
        {"snpp server", named(method("Internet SNPP")), "Must Specify SNPP Server!", "&SNPP Access", "SNPPServer"},
        {"snpp port", named(both(method("Internet SNPP"), both(set("SNPPServer", "h"), set("SNPPPort", "")))),
         "Must Specify SNPP Port!", "&SNPP Access", "SNPPPort"},
        {"wctp server", named(method("Internet WCTP")), "Must Specify WCTP Server!", "&WCTP Access", "WCTPServer"},
        {"wctp port", named(both(method("Internet WCTP"), both(set("WCTPServer", "h"), set("WCTPPort", "")))),
         "Must Specify WCTP Port!", "&WCTP Access", "WCTPPort"},
        {"wctp dtd", named(both(method("Internet WCTP"), both(set("WCTPServer", "h"), set("WCTPDocType", "")))),
         "Must DTD Document Location!", "&WCTP Access", "WCTPDocType"},
        {"smpp server", named(method("Internet SMPP")), "Must Specify SMPP Server!", "SMPP Access", "SMPPServer"},
        {"smpp port", named(both(method("Internet SMPP"), both(set("SMPPServer", "h"), set("SMPPort", "")))),
         "Must Specify SMPP Port!", "SMPP Access", "SMPPort"},
        {"smpp user", named(both(method("Internet SMPP"), set("SMPPServer", "h"))), "Must Specify SMPP User Name!",
         "SMPP Access", "SMPPUserName"},
        {"smpp password",
         named(both(method("Internet SMPP"), both(set("SMPPServer", "h"), set("SMPPUserName", "u")))),
         "Must Specify SMPP Password!", "SMPP Access", "SMPPPassword"},
        {"pasted unsafe name", named(set("CompanyName", "../etc")),
         "Provider Name May Not Hold \"/\", \"\\\" Or Control Characters, Nor Begin With \".\"!", nullptr,
         "CompanyName"},
        {"length number", named(set("Length", "1,6")), "Max. Message Length Must Be A Whole Number Above 0!",
         "&TAP Access", "Length"},
        {"max messages", named(set("MaxMsgsPerCall", "1-2")),
         "Max Messages Per Call Must Be A Whole Number (0 Indecates Unlimited)!", "&TAP Access", "MaxMsgsPerCall"},
        {"tap ip port", named(both(method("TAP Over IP"), both(set("TapOverIPAddr", "h"), set("TapOverIPPort", "99999")))),
         "Tap Over IP Port Must Be A Port Number From 1 To 65535!", "&TAP Access", "TapOverIPPort"},
        {"smpp port number", named(both(method("Internet SMPP"),
                                        both(both(set("SMPPServer", "h"), set("SMPPort", "27#5")),
                                             both(set("SMPPUserName", "u"), set("SMPPPassword", "p"))))),
         "SMPP Port Must Be A Port Number From 1 To 65535!", "SMPP Access", "SMPPort"},
        {"password", named(set("Password", "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx")),
         "Password Longer Than 31 Characters!", "&TAP Access", "Password"},
        {"duplicate", named(set("CompanyName", "OTHER")), "Paging Company Already In List!", nullptr, "CompanyName"},
    };
    for (const Rule& r : rules) {
        SCOPED_TRACE(r.what);
        WindowEnv env;
        writeFile(env.file("Provider.dat"), providerFile({{"Other"}}));
        TPCDForm ed(env.ctx);
        ed.prepareNew();
        r.setup(ed);
        ed.show();
        ed.activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&ed));
        auto* tabs = child<QTabWidget>(ed, "PageControl1");
        tabs->setCurrentIndex(tabs->count() - 1);  // away from every checked tab
        const QString before = tabs->tabText(tabs->currentIndex());
        click(ed, "BitBtn1");
        EXPECT_NE(ed.result(), QDialog::Accepted);
        ASSERT_EQ(env.ui.shown.size(), 1u);
        EXPECT_EQ(env.ui.shown[0].kind, DialogKind::Warning);
        EXPECT_EQ(env.ui.shown[0].text.toStdString(), r.message);
        EXPECT_EQ(env.ui.beeps, std::vector<BeepKind>{BeepKind::Information});
        EXPECT_EQ(tabs->tabText(tabs->currentIndex()), r.tab ? QString(r.tab) : before);
        QWidget* focus = QApplication::focusWidget();
        QWidget* expected = ed.findChild<QWidget*>(r.focus);
        ASSERT_TRUE(focus && expected);
        EXPECT_TRUE(focus == expected || expected->isAncestorOf(focus)) << focus->objectName().toStdString();
    }
}

TEST(ProviderEditor, NamesAlreadyListedAreRefusedButAnEditKeepsItsOwn) {
    WindowEnv env;
    writeFile(env.file("Provider.dat"), providerFile({{"Acme", 1, 80, "1"}, {"Other", 1, 80, "2"}}));
    struct Case {
        const char* what;
        int row;
        const char* name;
        const char* button;
        bool refused;
    };
    const std::vector<Case> cases = {
        {"edit onto another's name", 0, "other", "BitBtn1", true},
        {"edit in another case", 0, "ACME", "BitBtn1", false},
        {"new under the unchanged name", 1, "Other", "SaveAsBut", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        env.ui.clear();
        TPCLForm list(env.ctx);
        list.FormShow();
        list.list()->setCurrentRow(c.row);
        bool closed = true;
        list.runEditor = [&](TPCDForm& ed) {
            setText(ed, "CompanyName", c.name);
            click(ed, c.button);
            closed = ed.result() != 0;
            return ed.result();
        };
        list.EditUserButClick();
        EXPECT_EQ(closed, !c.refused);
        EXPECT_EQ(env.ui.texts().empty(), !c.refused);
        if (c.refused) {
            EXPECT_EQ(env.ui.texts()[0], "Paging Company Already In List!");
        }
    }
    EXPECT_EQ(LoadProviderNames(env.dir.path(), env.ui), (std::vector<std::string>{"ACME", "Other"}));
}

struct KeyCase {
    const char* field;
    QString typed;
    QString expected;
    std::vector<BeepKind> beeps;
};

TEST(ProviderEditor, KeyFiltersDropKeysWithTheirBeep) {
    using B = BeepKind;
    const std::vector<KeyCase> cases = {
        {"TerminalAccessNum", "12a#*,-9", "12#*,-9", {B::Plain}},
        {"MaxMsgsPerCall", "5x", "5", {B::Plain}},
        {"TapOverIPPort", "80.1", "801", {B::Plain}},
        {"SMPPort", "27 75", "2775", {B::Plain}},
        {"CompanyName", "Acme/Co.-_ X", "AcmeCo-_ X", {B::Information, B::Information}},
        {"CompanyName", "a@b[c`d{e}", "abcd{e}", {B::Information, B::Information, B::Information}},
        {"CompanyName", QString::fromUtf8("Zürich 2"), QString::fromUtf8("Zürich 2"), {}},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.field);
        WindowEnv env;
        TPCDForm ed(env.ctx);
        auto* edit = child<QLineEdit>(ed, c.field);
        edit->clear();
        for (QChar ch : c.typed) {
            // Key events carrying the character, as a keyboard of any layout sends them.
            QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QKeyEvent release(QEvent::KeyRelease, Qt::Key_unknown, Qt::NoModifier, QString(ch));
            QApplication::sendEvent(edit, &press);
            QApplication::sendEvent(edit, &release);
        }
        EXPECT_EQ(edit->text(), c.expected);
        EXPECT_EQ(env.ui.beeps, c.beeps);
    }
}

}  // namespace
}  // namespace nv::test
