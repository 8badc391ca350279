// "TAP/TNPP Port Data": every check of OK, with the message, the focus and the
// tab it leaves; the digit filter; blank numbers on a port that is no TNPP link.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTabWidget>
#include <QTest>

#include "foundation/RecordAccess.h"
#include "manager/PortDFrm.h"
#include "manager/PortListFrm.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/Screenshot.h"
#include "tests/gui/WindowEnv.h"
#include "tests/manager/PortSupport.h"

namespace nv {
namespace {
using test::Port;

class PortEditorTest : public ::testing::Test, protected test::WindowEnv {
protected:
    void SetUp() override {
        test::writePortTestData(dir.path());
        // A modem port on line 2, a direct port on COM2 whose list position is
        // 5 (more lines were declared then), and a TNPP link.
        test::writeFile(dir / "Ports.dat",
                        test::portFile({{.name = "Modem Two", .tapi = 2, .modem = "USR Courier"},
                                        {.name = "Direct", .tapi = 5, .modem = "Direct Connection",
                                         .group = "Acme", .isDirect = true, .com = 1},
                                        {.name = "Link", .tapi = 4, .modem = "TNPP Connection", .group = "Link",
                                         .isDirect = true, .isTnpp = true}}));
    }
};

TEST_F(PortEditorTest, OkChecks) {
    struct Case {
        const char* what;
        const char* edit;  // stored port to open, or null to add
        QString name, modem, group, com;
        std::vector<std::pair<const char*, QString>> tnpp;  // TNPP edits to set
        QString message;    // the warning, or empty when accepted
        const char* focus;  // focused object after a refusal (null: none)
        int tab = 0;
    };
    const Case cases[] = {
        {"no name", nullptr, "", "Zoom", "", "", {}, "No Name Specified!", "Name"},
        {"no modem", nullptr, "P", "", "", "", {}, "No Modem Specified!", "Modem"},
        {"direct without provider", nullptr, "P", "Direct Connection", "", "COM5", {}, "No Provider Specified!",
         "DirectGroupName"},
        {"modem line", nullptr, "P", "Zoom", "", "", {}, "", nullptr},
        {"same line", nullptr, "P", "USR Courier", "", "", {}, "Modem Device Already Assigned!", "Modem"},
        {"line id equal to a built-in's list position", nullptr, "P", "Zoom", "", "", {}, "", nullptr},
        {"same COM port", nullptr, "P", "Direct Connection", "Acme", "COM2", {}, "ComPort Already Assigned!",
         "ComPort"},
        {"other COM port", nullptr, "P", "Direct Connection", "Acme", "COM3", {}, "", nullptr},
        {"second TNPP link", nullptr, "P", "TNPP Connection", "", "", {}, "Modem Device Already Assigned!", "Modem"},
        {"name in another case", nullptr, "DIRECT", "Zoom", "", "", {}, "Port Name Already Assigned!", "Name"},
        {"first clash decides", nullptr, "direct", "USR Courier", "", "", {}, "Modem Device Already Assigned!",
         "Modem"},
        {"edit unchanged", "Direct", "Direct", "Direct Connection", "Acme", "COM2", {}, "", nullptr},
        {"edit onto another's name", "Direct", "modem two", "Direct Connection", "Acme", "COM2", {},
         "Port Name Already Assigned!", "Name"},
        {"edit onto another's line", "Modem Two", "Modem Two", "Hayes Accura", "", "", {}, "", nullptr},
        {"edit the TNPP link", "Link", "Link", "TNPP Connection", "", "", {}, "", nullptr},
        {"TNPP dest", "Link", "Link", "TNPP Connection", "", "", {{"DestAddr", ""}},
         "No TNPP Destination Address Specified!", "DestAddr", 2},
        {"TNPP inertia", "Link", "Link", "TNPP Connection", "", "", {{"Inertia", ""}},
         "Must Enter A Valid Inertia Value!", "Inertia", 2},
        {"TNPP source", "Link", "Link", "TNPP Connection", "", "", {{"SourceAddr", ""}},
         "Must Enter A Valid Source Address!", "SourceAddr", 2},
        {"TNPP time-out", "Link", "Link", "TNPP Connection", "", "", {{"KeepAliveTO", ""}},
         "Must Enter A Valid Time Out!", nullptr, 2},
        {"TNPP retry count", "Link", "Link", "TNPP Connection", "", "", {{"RetryCount", ""}},
         "Must Enter A Valid Retry Count!", "RetryCount", 2},
        {"TNPP inter char", "Link", "Link", "TNPP Connection", "", "", {{"IntCharTime", ""}},
         "Must Enter A Valid Inter Char. Time!", "IntCharTime", 2},
        {"TNPP hold retry", "Link", "Link", "TNPP Connection", "", "", {{"RSHoldRetry", ""}},
         "Must Enter A Valid RS Hold Retry!", "RSHoldRetry", 2},
        {"TNPP hold time", "Link", "Link", "TNPP Connection", "", "", {{"RSHoldTime", ""}},
         "Must Enter A Valid RS Hold Time!", "RSHoldTime", 2},
        {"TNPP ENQ retry", "Link", "Link", "TNPP Connection", "", "", {{"ENQRetries", ""}},
         "Must Enter A Valid ENQ Retry!", "ENQRetries", 2},
        {"TNPP order", "Link", "Link", "TNPP Connection", "", "", {{"ENQRetries", ""}, {"Inertia", ""}},
         "Must Enter A Valid Inertia Value!", "Inertia", 2},
        {"blank TNPP edits on a modem line", nullptr, "P", "Zoom", "", "", {{"RetryCount", ""}, {"DestAddr", ""}},
         "", nullptr},
    };
    for (const auto& c : cases) {
        ui.clear();
        TPortDataForm d(ctx, TKORPage(ctx).LineDevices());
        if (c.edit) {
            auto rec = FindPort(c.edit, dir.path(), ui);
            ASSERT_TRUE(rec) << c.what;
            d.loadPort(*rec);
        } else {
            d.prepareAdd();
        }
        d.show();
        QApplication::setActiveWindow(&d);
        test::setText(&d, "Name", c.name);
        if (c.modem.isEmpty())
            test::child<QComboBox>(&d, "Modem")->setCurrentIndex(-1);
        else
            EXPECT_TRUE(test::choose(&d, "Modem", c.modem)) << c.what;
        if (!c.group.isEmpty()) {
            EXPECT_TRUE(test::choose(&d, "DirectGroupName", c.group)) << c.what;
        }
        if (!c.com.isEmpty()) {
            EXPECT_TRUE(test::choose(&d, "ComPort", c.com)) << c.what;
        }
        for (const auto& [name, text] : c.tnpp) test::setText(&d, name, text);
        test::click(&d, "OKBut");
        const std::vector<QString> expected = c.message.isEmpty() ? std::vector<QString>{}
                                                                  : std::vector<QString>{c.message};
        EXPECT_EQ(ui.texts(), expected) << c.what;
        EXPECT_EQ(d.result() == QDialog::Accepted, c.message.isEmpty()) << c.what;
        if (c.message.isEmpty()) continue;
        EXPECT_EQ(ui.beeps, std::vector<BeepKind>{BeepKind::Information}) << c.what;
        EXPECT_EQ(d.PageControl()->currentIndex(), c.tab) << c.what;
        if (c.focus) {
            EXPECT_EQ(d.focusWidget() ? d.focusWidget()->objectName() : QString(), c.focus) << c.what;
        }
    }
}

TEST_F(PortEditorTest, DigitsOnlyAndBlankNumbersFallBackOnAModemLine) {
    TPortDataForm d(ctx, TKORPage(ctx).LineDevices());
    d.prepareAdd();
    auto* retry = test::child<QLineEdit>(&d, "RetryCount");
    retry->clear();
    QTest::keyClicks(retry, "1x2-");
    EXPECT_EQ(retry->text(), "12");
    retry->clear();
    test::setText(&d, "SourceAddr", "");
    test::setText(&d, "Name", "P");
    test::choose(&d, "Modem", "Zoom");
    PortRec rec;
    d.storeInto(rec);
    EXPECT_EQ(rec.RetryCount(), 6);
    EXPECT_EQ(rec.SourceAddr(), 0);
    EXPECT_EQ(rec.TapiDevice(), 5);
    EXPECT_FALSE(rec.IsDirect());
    EXPECT_FALSE(rec.IsTnpp());
}

TEST_F(PortEditorTest, ScreenshotPortEditor) {
    TPortSettings list(ctx);
    test::saveScreenshot(&list, "ports-list");
    TPortDataForm d(ctx, TKORPage(ctx).LineDevices());
    auto rec = FindPort("Direct", dir.path(), ui);
    ASSERT_TRUE(rec);
    d.loadPort(*rec);
    test::saveScreenshot(&d, "port-editor");
    d.PageControl()->setCurrentIndex(2);
    test::saveScreenshot(&d, "port-editor-tnpp");
}

}  // namespace
}  // namespace nv
