// "Outbound TAP Ports": the bytes of Ports.dat after adding, editing and
// removing through the list, the modem lines of Modems.ini, and Changed.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTabWidget>
#include <QTreeWidget>

#include "manager/ModemSettingsDlg.h"
#include "manager/PortDFrm.h"
#include "manager/PortListFrm.h"
#include "protocols/ModemConfig.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/WindowEnv.h"
#include "tests/manager/PortSupport.h"

namespace nv {
namespace {
using test::Port;

class PortListTest : public ::testing::Test, protected test::WindowEnv {
protected:
    void SetUp() override { test::writePortTestData(dir.path()); }

    // Ports.dat as written; a header written now takes its time from the file.
    void expectPorts(std::string expected) {
        const std::string actual = test::readFile(dir / "Ports.dat");
        ASSERT_GE(actual.size(), 57u);
        expected.replace(4, 16, actual.substr(4, 16));
        EXPECT_EQ(test::toHex(actual), test::toHex(expected));
    }
    QStringList row(TPortSettings& w, int i) {
        auto* item = test::child<QTreeWidget>(&w, "ListView1")->topLevelItem(i);
        if (!item) return {};
        return {item->text(0), item->text(1), item->text(2), item->text(3)};
    }
    int rows(TPortSettings& w) { return test::child<QTreeWidget>(&w, "ListView1")->topLevelItemCount(); }
    void select(TPortSettings& w, int i) {
        auto* list = test::child<QTreeWidget>(&w, "ListView1");
        list->setCurrentItem(list->topLevelItem(i));
    }

};

TEST_F(PortListTest, AddsAModemLineADirectPortAndATnppLink) {
    TPortSettings w(ctx);
    EXPECT_EQ(w.windowTitle(), "Outbound TAP Ports");
    test::onModal<TPortDataForm>([](TPortDataForm* d) {
        EXPECT_EQ(d->windowTitle(), "TAP/TNPP Port Data");
        EXPECT_EQ(test::entries(d, "Modem"),
                  QStringList({"USR Courier", "Zoom", "Hayes Accura", "Direct Connection", "TNPP Connection"}));
        // The preselections of a new port.
        EXPECT_EQ(test::child<QComboBox>(d, "ComPort")->currentText(), "COM1");
        EXPECT_EQ(test::child<QComboBox>(d, "ComSpeed")->currentText(), "1200");
        EXPECT_EQ(test::child<QComboBox>(d, "ComFlow")->currentText(), "Hardware");
        EXPECT_EQ(test::child<QComboBox>(d, "ComData")->currentText(), "7,E,1");
        EXPECT_EQ(test::child<QComboBox>(d, "TNPPComSettings")->currentText(), "7,E,1");
        EXPECT_EQ(test::child<QComboBox>(d, "TNPPHandShake")->currentText(), "Xon/Xoff");
        EXPECT_EQ(test::child<QComboBox>(d, "TNPPComSpeed")->currentText(), "1200");
        EXPECT_FALSE(test::child<QCheckBox>(d, "PortEnabled")->isChecked());
        EXPECT_FALSE(test::child<QComboBox>(d, "DirectGroupName")->isEnabled());
        test::setText(d, "Name", "Line A");
        EXPECT_TRUE(test::choose(d, "Modem", "Hayes Accura"));
        EXPECT_FALSE(test::child<QComboBox>(d, "ComPort")->isEnabled());
        test::setText(d, "DialPrefix", "9,");
        test::child<QCheckBox>(d, "PortEnabled")->setChecked(true);
        test::click(d, "OKBut");
    });
    test::click(&w, "AddBut");
    EXPECT_TRUE(w.Changed);

    test::onModal<TPortDataForm>([](TPortDataForm* d) {
        test::setText(d, "Name", "Direct B");
        EXPECT_TRUE(test::choose(d, "Modem", "Direct Connection"));
        EXPECT_TRUE(test::child<QComboBox>(d, "ComPort")->isEnabled());
        // Providers of TAP on a direct port only, sorted.
        EXPECT_EQ(test::entries(d, "DirectGroupName"), QStringList({"Acme", "Zed Direct"}));
        EXPECT_TRUE(test::choose(d, "DirectGroupName", "Acme"));
        EXPECT_TRUE(test::choose(d, "ComPort", "COM3"));
        EXPECT_TRUE(test::choose(d, "ComSpeed", "9600"));
        EXPECT_TRUE(test::choose(d, "ComData", "8,N,1"));
        EXPECT_TRUE(test::choose(d, "ComFlow", "None"));
        test::click(d, "OKBut");
    });
    test::click(&w, "AddBut");

    test::onModal<TPortDataForm>([](TPortDataForm* d) {
        test::setText(d, "Name", "Link C");
        EXPECT_TRUE(test::choose(d, "Modem", "TNPP Connection"));
        EXPECT_FALSE(test::child<QComboBox>(d, "ComPort")->isEnabled());
        EXPECT_EQ(test::entries(d, "DirectGroupName"), QStringList{"Link"});
        EXPECT_TRUE(test::choose(d, "DirectGroupName", "Link"));
        test::setText(d, "SourceAddr", "17");
        test::setText(d, "RetryCount", "4");
        EXPECT_TRUE(test::choose(d, "TNPPCom", "COM2"));
        test::child<QCheckBox>(d, "STXInit")->setChecked(true);
        test::click(d, "OKBut");
    });
    test::click(&w, "AddBut");

    Port tnppPort{.name = "Link C", .tapi = 4, .modem = "TNPP Connection", .enabled = false, .group = "Link",
                  .isDirect = true, .tnppCom = 1, .stx = true, .isTnpp = true};
    tnppPort.tnpp[4] = 4;
    tnppPort.tnpp[9] = 17;
    expectPorts(test::portFile({
        {.name = "Line A", .tapi = 7, .modem = "Hayes Accura", .dialPrefix = "9,"},
        {.name = "Direct B", .tapi = 3, .modem = "Direct Connection", .enabled = false, .group = "Acme",
         .isDirect = true, .com = 2, .speed = 6, .flow = 0, .data = 1},
        tnppPort,
    }));
    ASSERT_EQ(rows(w), 3);
    EXPECT_EQ(row(w, 0), QStringList({"Line A", "Hayes Accura", "7", "Out"}));
    EXPECT_EQ(row(w, 1), QStringList({"Direct B", "Direct Connection", "COM3", "Out"}));
    EXPECT_EQ(row(w, 2), QStringList({"Link C", "TNPP Connection", "4", "Out"}));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(PortListTest, EditKeepsWhatItDoesNotChangeAndSetsTheFlagsAsAddDoes) {
    Port direct{.name = "Direct", .tapi = 3, .modem = "Direct Connection", .group = "ACME", .isDirect = true,
                .com = 1, .speed = 12, .tnppSpeed = 9};
    Port oldTnpp{.name = "Old Link", .tapi = 1, .modem = "TNPP Port", .group = "Link"};
    oldTnpp.tnpp[0] = 90;
    test::writeFile(dir / "Ports.dat", test::portFile({direct, oldTnpp}));
    TPortSettings w(ctx);
    for (int i : {0, 1}) {
        select(w, i);
        test::onModal<TPortDataForm>([](TPortDataForm* d) { test::click(d, "OKBut"); });
        test::click(&w, "EditBut");
    }
    // The direct port keeps its speeds (its provider is the list's spelling);
    // the old TNPP port becomes a TNPP connection with both flags, its values kept.
    direct.group = "Acme";
    oldTnpp.modem = "TNPP Connection";
    oldTnpp.tapi = 4;
    oldTnpp.isDirect = true;
    oldTnpp.isTnpp = true;
    std::string expected = test::portFile({direct, oldTnpp});
    expectPorts(expected);
    EXPECT_TRUE(w.Changed);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(PortListTest, RemoveMarksTheSlotAndTheNextAddAppends) {
    const std::vector<Port> ports = {{.name = "A", .tapi = 2, .modem = "USR Courier"},
                                     {.name = "B", .tapi = 5, .modem = "Zoom"}};
    test::writeFile(dir / "Ports.dat", test::portFile(ports));
    TPortSettings w(ctx);
    select(w, 0);
    ui.answers = {DialogButton::No};
    test::click(&w, "RemoveBut");
    EXPECT_FALSE(w.Changed);
    EXPECT_EQ(test::readFile(dir / "Ports.dat"), test::portFile(ports));
    select(w, 0);
    test::click(&w, "RemoveBut");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Delete A?", "Delete A?"}));
    EXPECT_EQ(ui.beeps, (std::vector<BeepKind>{BeepKind::Question, BeepKind::Question}));
    EXPECT_TRUE(w.Changed);
    ASSERT_EQ(rows(w), 1);
    EXPECT_EQ(row(w, 0)[0], "B");

    // The freed device is free again; the new record goes after the last slot.
    test::onModal<TPortDataForm>([](TPortDataForm* d) {
        test::setText(d, "Name", "C");
        EXPECT_TRUE(test::choose(d, "Modem", "USR Courier"));
        test::click(d, "OKBut");
    });
    test::click(&w, "AddBut");
    std::vector<Port> now = ports;
    now[0].deleted = true;
    now.push_back({.name = "C", .tapi = 2, .modem = "USR Courier", .enabled = false});
    expectPorts(test::portFile(now));
    EXPECT_EQ(test::readFile(dir / "Ports.dat").size(), 57u + 3 * 776);
}

TEST_F(PortListTest, AFailedSaveIsShownAndChangesNothing) {
    const std::string newer = test::fx::header(776, "QXDB 7.2");
    test::writeFile(dir / "Ports.dat", newer);
    TPortSettings w(ctx);
    ui.clear();
    test::onModal<TPortDataForm>([](TPortDataForm* d) {
        test::setText(d, "Name", "A");
        test::choose(d, "Modem", "Zoom");
        test::click(d, "OKBut");
    });
    test::click(&w, "AddBut");
    EXPECT_FALSE(w.Changed);
    const auto texts = ui.texts();
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.back(), "Unable To Save Port \"A\"!");
    EXPECT_EQ(test::readFile(dir / "Ports.dat"), newer);
}

TEST_F(PortListTest, ModemLinesComeFromModemsIni) {
    struct Case {
        const char* what;
        const char* ini;  // null: no Modems.ini
        std::vector<QString> messages;
        QStringList lines;
    };
    const QStringList builtIn = {"Direct Connection", "TNPP Connection"};
    const Case cases[] = {
        {"no file", nullptr, {"Error Loading Tapi!"}, {}},
        {"no lines", "; none yet\r\n", {"Error, No Tapi Devices Available!!"}, {}},
        {"ids in order, gaps kept", "[Line9]\r\nName=Nine\r\n[Line3]\r\nName=Three\r\n", {}, {"Three", "Nine"}},
        {"names that cannot name a file",
         "[Line1]\r\nName=a/b\r\n[Line2]\r\nName=.hidden\r\n[Line3]\r\nName=\r\n[Line4]\r\nName=Good\r\n",
         {"Modem Line Name Not Usable In modems.INI: Line1 \"a/b\", Line2 \".hidden\", Line3 \"\" (A Name Is "
          "Needed; No \"/\", No Leading \".\")"},
         {"Good"}},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(dir / "Modems.ini");
        if (c.ini) test::writeFile(dir / "modems.INI", c.ini);
        ui.clear();
        TPortSettings w(ctx);
        EXPECT_EQ(ui.texts(), c.messages) << c.what;
        test::onModal<TPortDataForm>([&](TPortDataForm* d) {
            EXPECT_EQ(test::entries(d, "Modem"), c.lines + builtIn) << c.what;
        });
        test::click(&w, "AddBut");
        std::filesystem::remove(dir / "modems.INI");
    }
}

TEST_F(PortListTest, ModemSettingsOfTheChosenLine) {
    TPortDataForm d(ctx, TKORPage(ctx).LineDevices());
    d.show();
    test::click(&d, "BitBtn4");
    test::setText(&d, "Name", "P");
    test::choose(&d, "Modem", "Zoom");
    test::setText(&d, "Name", "");
    test::click(&d, "BitBtn4");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Must Select a Modem First!", "Must Select a Name First!"}));
    EXPECT_EQ(d.focusWidget() ? d.focusWidget()->objectName() : "", "Name");

    test::setText(&d, "Name", "P");
    test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* m) {
        EXPECT_EQ(m->windowTitle(), "Modem Settings - Zoom");
        test::setText(m, "ExtraInit", "M0");
        test::click(m, "OKBut");
    });
    test::click(&d, "BitBtn4");
    const auto stored = readModemConfigFile(dir / "Zoom.mcf");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->extraInit, "M0");
    EXPECT_EQ(ui.shown.size(), 2u);
}

}  // namespace
}  // namespace nv
