// The modem settings dialog: the .mcf bytes after OK, the stored values on the
// next opening, and Cancel leaving the file as it was.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QSpinBox>
#include <QTest>
#include <QValidator>

#include "manager/ModemSettingsDlg.h"
#include "protocols/ModemConfig.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/Screenshot.h"
#include "tests/gui/WindowEnv.h"
#include "tests/manager/PortRouteSupport.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using test::fx::le32;

// A .mcf image: the 24-byte size header (total, needed, used, format 1, the
// block's size, its offset 24) and the block.
std::string mcf(const std::string& block) {
    const auto total = static_cast<std::int32_t>(24 + block.size());
    return le32(total) + le32(total) + le32(total) + le32(1) + le32(static_cast<std::int32_t>(block.size())) +
           le32(24) + block;
}

const std::string kDefaults =
    "NVMCF 1\r\nSpeed=9600\r\nDataBits=7\r\nParity=E\r\nStopBits=1\r\nFlow=RtsCts\r\nExtraInit=\r\n"
    "Dial=Tone\r\nBlindDial=0\r\nDialTimeout=0\r\n";

class ModemSettingsTest : public ::testing::Test, protected test::WindowEnv {
protected:
    std::filesystem::path file = dir / "Line One.mcf";
};

TEST_F(ModemSettingsTest, OpensOnDefaultsAndWritesTheEditedValues) {
    test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* d) {
        EXPECT_EQ(d->windowTitle(), "Modem Settings - Line One");
        EXPECT_EQ(test::child<QComboBox>(d, "Speed")->currentText(), "9600");
        EXPECT_EQ(test::child<QComboBox>(d, "Parity")->currentText(), "Even");
        EXPECT_TRUE(test::choose(d, "Speed", "2400"));
        EXPECT_TRUE(test::choose(d, "DataBits", "8"));
        EXPECT_TRUE(test::choose(d, "Parity", "None"));
        EXPECT_TRUE(test::choose(d, "StopBits", "2"));
        EXPECT_TRUE(test::choose(d, "Flow", "Software (Xon/Xoff)"));
        QTest::keyClicks(test::child<QLineEdit>(d, "ExtraInit"), "M0L1");
        EXPECT_TRUE(test::choose(d, "Dial", "Pulse"));
        test::child<QCheckBox>(d, "BlindDial")->setChecked(true);
        test::child<QSpinBox>(d, "DialTimeout")->setValue(45);
        test::click(d, "OKBut");
    });
    EXPECT_TRUE(editModemSettings(nullptr, ctx, file));
    EXPECT_EQ(test::toHex(test::readFile(file)),
              test::toHex(mcf("NVMCF 1\r\nSpeed=2400\r\nDataBits=8\r\nParity=N\r\nStopBits=2\r\nFlow=XonXoff\r\n"
                              "ExtraInit=M0L1\r\nDial=Pulse\r\nBlindDial=1\r\nDialTimeout=45\r\n")));

    // The next opening starts from the stored values; OK unchanged writes the same bytes.
    const std::string stored = test::readFile(file);
    test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* d) {
        EXPECT_EQ(test::child<QComboBox>(d, "Speed")->currentText(), "2400");
        EXPECT_EQ(test::child<QComboBox>(d, "Flow")->currentText(), "Software (Xon/Xoff)");
        EXPECT_EQ(test::child<QLineEdit>(d, "ExtraInit")->text(), "M0L1");
        EXPECT_TRUE(test::child<QCheckBox>(d, "BlindDial")->isChecked());
        EXPECT_EQ(test::child<QSpinBox>(d, "DialTimeout")->value(), 45);
        test::click(d, "OKBut");
    });
    EXPECT_TRUE(editModemSettings(nullptr, ctx, file));
    EXPECT_EQ(test::readFile(file), stored);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ModemSettingsTest, CancelLeavesTheFileAsItWas) {
    // Missing: nothing is created. A block of ours, or one made elsewhere: byte-identical.
    test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* d) { test::click(d, "CancelBut"); });
    EXPECT_FALSE(editModemSettings(nullptr, ctx, file));
    EXPECT_FALSE(std::filesystem::exists(file));
    for (const std::string& before : {mcf(kDefaults), mcf(std::string("\x10\x00\x00\x00\x01\x02", 6))}) {
        test::writeFile(file, before);
        test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* d) {
            EXPECT_TRUE(test::choose(d, "Speed", "300"));
            test::click(d, "CancelBut");
        });
        EXPECT_FALSE(editModemSettings(nullptr, ctx, file));
        EXPECT_EQ(test::readFile(file), before);
    }
    // A file that is not ours opens on the defaults and OK replaces it.
    test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* d) { test::click(d, "OKBut"); });
    EXPECT_TRUE(editModemSettings(nullptr, ctx, file));
    EXPECT_EQ(test::readFile(file), mcf(kDefaults));
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(ModemSettingsTest, ExtraInitTakesOnePrintableLineAndAFailedWriteIsShown) {
    ModemSettingsDlg d(ctx, dir / "missing" / "x.mcf");
    auto* extra = test::child<QLineEdit>(&d, "ExtraInit");
    QTest::keyClicks(extra, "S0=0");
    EXPECT_EQ(extra->text(), "S0=0");
    for (const char* bad : {"S0=0\t", "S0=0\r\nATZ", "S0=0\u00e9"}) {
        QString text = QString::fromUtf8(bad);
        int pos = 0;
        EXPECT_EQ(extra->validator()->validate(text, pos), QValidator::Invalid) << bad;
    }
    d.show();
    test::click(&d, "OKBut");
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Unable To Save Modem Config Settings!"});
    EXPECT_NE(d.result(), QDialog::Accepted);
}

TEST_F(ModemSettingsTest, ScreenshotModemSettings) {
    ModemSettings s;
    s.extraInit = "M1L1";
    s.dialTimeout = 60;
    ASSERT_TRUE(writeModemConfigFile(file, s));
    ModemSettingsDlg d(ctx, file);
    test::saveScreenshot(&d, "modem-settings");
}

}  // namespace
}  // namespace nv
