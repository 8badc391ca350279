// "Routing Table" and "Route Details": the checks of the route editor, and the
// bytes of NpaNxxRoute.dat after adding, editing and deleting through the table.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QTreeWidget>
#include <cmath>

#include "foundation/DataFile.h"
#include "foundation/RecordAccess.h"
#include "manager/RouteFrm.h"
#include "manager/RoutingTableForm.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/Screenshot.h"
#include "tests/gui/WindowEnv.h"
#include "tests/manager/PortRouteSupport.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using test::byte;
using test::fx::Image;
using test::fx::le32;
using test::fx::text;

constexpr int kRouteSize = 443;

struct Route {
    std::string name{}, prefix{}, provider = "Acme", sec = "NONE", eddr{}, secEddr{};
    bool enabled = true, removePrefix = false, pinPri = false, pinSec = false, deleted = false;
};

std::string routeImage(const Route& r, std::int32_t pos) {
    return Image(kRouteSize)
        .put(0, text(r.name))
        .put(36, text(r.prefix))
        .put(52, text(r.provider))
        .put(88, text(r.sec))
        .put(124, text(r.eddr))
        .put(275, text(r.secEddr))
        .put(426, byte(r.enabled))
        .put(427, le32(pos))
        .put(431, byte(r.deleted))
        .put(440, byte(r.removePrefix) + byte(r.pinPri) + byte(r.pinSec))
        .str();
}

std::string routeFile(const std::vector<Route>& routes) {
    std::string f = test::fx::header(kRouteSize, "QXDB 1.1");
    for (const auto& r : routes) f += routeImage(r, static_cast<std::int32_t>(f.size()));
    return f;
}

std::string providerFile(const std::vector<std::string>& names) {
    std::string f = test::fx::header(2871, "QXDB 7.6");
    for (const auto& n : names)
        f += Image(2871).put(0, text(n)).put(702, le32(static_cast<std::int32_t>(f.size()))).str();
    return f;
}

class RouteTableTest : public ::testing::Test, protected test::WindowEnv {
protected:
    void SetUp() override {
        test::writeFile(dir / "Provider.dat", providerFile({"Acme", "Beta"}));
    }
    // The file as written, with the header time and the LastUpdate of the
    // records at `stamped` checked to be the time of the write and then taken
    // over into `expected`.
    void expectFile(std::string expected, const std::vector<std::int32_t>& stamped) {
        const std::string actual = test::readFile(dir / "NpaNxxRoute.dat");
        ASSERT_EQ(actual.size(), expected.size());
        EXPECT_NE(actual.substr(4, 16), std::string(16, '\0'));  // re-stamped
        expected.replace(4, 16, actual.substr(4, 16));
        for (std::int32_t pos : stamped) {
            double t = getDouble(reinterpret_cast<const std::uint8_t*>(actual.data()), pos + 432);
            EXPECT_LT(std::fabs(t - recordTimeNow()), 1.0 / 24) << pos;
            expected.replace(pos + 432, 8, actual.substr(pos + 432, 8));
        }
        EXPECT_EQ(test::toHex(actual), test::toHex(expected));
    }
    QTreeWidget* list(TRoutingTableFrm& t) { return test::child<QTreeWidget>(&t, "ListView1"); }
    QStringList names(TRoutingTableFrm& t) {
        QStringList out;
        for (int i = 0; i < list(t)->topLevelItemCount(); ++i) out << list(t)->topLevelItem(i)->text(0);
        return out;
    }
    void select(TRoutingTableFrm& t, const QString& name) {
        for (int i = 0; i < list(t)->topLevelItemCount(); ++i)
            if (list(t)->topLevelItem(i)->text(0) == name) list(t)->setCurrentItem(list(t)->topLevelItem(i));
    }

};

TEST_F(RouteTableTest, FirstRouteOfAnEmptyTableIsDefault) {
    TRoutingTableFrm table(ctx, false);
    EXPECT_EQ(table.windowTitle(), "Routing Table");
    test::onModal<TRouteDetailsFrm>([](TRouteDetailsFrm* d) {
        EXPECT_EQ(d->windowTitle(), "Route Details");
        EXPECT_EQ(test::child<QLineEdit>(d, "RouteName")->text(), "Default");
        EXPECT_FALSE(test::child<QLineEdit>(d, "RouteName")->isEnabled());
        EXPECT_FALSE(test::child<QLineEdit>(d, "NPANXX")->isEnabled());
        EXPECT_FALSE(test::child<QCheckBox>(d, "Enabled")->isEnabled());
        EXPECT_TRUE(test::choose(d, "Provider", "Beta"));
        test::click(d, "BitBtn1");
    });
    test::click(&table, "AddUserBut");
    expectFile(routeFile({{.name = "Default", .prefix = "0000000000", .provider = "Beta"}}), {57});
    EXPECT_EQ(names(table), QStringList{"Default"});
    EXPECT_EQ(list(table)->topLevelItem(0)->text(1), "Beta");
    EXPECT_EQ(list(table)->topLevelItem(0)->data(0, Qt::UserRole).toInt(), 1);
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(RouteTableTest, AddReusesTheDeletedSlotEditWritesInPlaceDeleteMarks) {
    const std::vector<Route> routes = {{.name = "Default", .prefix = "0000000000"},
                                       {.name = "Gone", .prefix = "212", .deleted = true},
                                       {.name = "Chicago", .prefix = "312", .enabled = false}};
    test::writeFile(dir / "NpaNxxRoute.dat", routeFile(routes));
    TRoutingTableFrm table(ctx, false);
    EXPECT_EQ(names(table), (QStringList{"Default", "Chicago"}));
    EXPECT_EQ(list(table)->topLevelItem(1)->data(0, Qt::UserRole).toInt(), 0);

    test::onModal<TRouteDetailsFrm>([](TRouteDetailsFrm* d) {
        EXPECT_TRUE(test::child<QLineEdit>(d, "RouteName")->isEnabled());
        test::setText(d, "RouteName", "Boston");
        test::setText(d, "NPANXX", "617");
        EXPECT_TRUE(test::choose(d, "Provider", "Beta"));
        EXPECT_TRUE(test::choose(d, "SecProvider", "Acme"));
        test::child<QCheckBox>(d, "RemoveRoutePrefix")->setChecked(true);
        test::click(d, "BitBtn1");
    });
    test::click(&table, "AddUserBut");
    std::vector<Route> now = routes;
    now[1] = {.name = "Boston", .prefix = "617", .provider = "Beta", .sec = "Acme", .removePrefix = true};
    expectFile(routeFile(now), {500});
    EXPECT_EQ(names(table), (QStringList{"Default", "Boston", "Chicago"}));

    // Edit: a case-only rename and the switch, in place.
    select(table, "Chicago");
    test::onModal<TRouteDetailsFrm>([](TRouteDetailsFrm* d) {
        EXPECT_EQ(test::child<QLineEdit>(d, "NPANXX")->text(), "312");
        test::setText(d, "RouteName", "CHICAGO");
        test::child<QCheckBox>(d, "Enabled")->setChecked(true);
        test::click(d, "BitBtn1");
    });
    test::click(&table, "EditUserBut");
    now[2].name = "CHICAGO";
    now[2].enabled = true;
    expectFile(routeFile(now), {500, 943});
    EXPECT_TRUE(ui.shown.empty());

    // Delete: "Default" never; another after its confirmation.
    select(table, "Default");
    test::click(&table, "DeleteBut");
    ASSERT_EQ(ui.texts(), std::vector<QString>{"Can Not Delete Default Route!"});
    EXPECT_EQ(ui.shown[0].kind, DialogKind::Error);
    ui.clear();
    select(table, "Boston");
    ui.answers = {DialogButton::No};
    test::click(&table, "DeleteBut");
    expectFile(routeFile(now), {500, 943});
    select(table, "Boston");
    test::click(&table, "DeleteBut");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Delete Route \"Boston\"?", "Delete Route \"Boston\"?"}));
    now[1].deleted = true;
    expectFile(routeFile(now), {500, 943});
    EXPECT_EQ(names(table), (QStringList{"Default", "CHICAGO"}));
}

// One row per check of the route editor's OK, on a table holding Default, 312
// and abc. The dialog is driven directly; `edit` opens it on a stored route.
TEST_F(RouteTableTest, RouteEditorChecks) {
    test::writeFile(dir / "NpaNxxRoute.dat",
                    routeFile({{.name = "Default", .prefix = "0000000000"},
                               {.name = "Chicago", .prefix = "312"},
                               {.name = "abc", .prefix = "415"}}));
    struct Case {
        const char* what;
        const char* edit;  // stored route to open, or null to add
        QString name, prefix, provider, secProvider, eddr, secEddr;
        bool pinPri, pinSec;
        std::vector<QString> messages;  // dialogs shown, in order
        const char* focus;              // object with focus after a refusal, or null when accepted
        std::deque<DialogButton> answers = {};
    };
    const QString kSuffixMissing = "Must Provide E-Mail Suffix! (@example.com)";
    const QString kSuffixBad = "Invalid E-Mail Suffix! Must Be \"@example.com\"";
    const QString kAddressMissing = "Must Provide E-Mail Address! (pager@example.com)";
    const QString kAddressBad = "Invalid E-Mail Address! Must Be \"pager@example.com\"";
    const QString kOverlap = "Route Prefix 31 Overlaps Route \"Chicago\" (312)! Pages Take The First Matching "
                             "Route In The Table. Save Anyway?";
    const Case cases[] = {
        {"blank name", nullptr, "", "5", "Acme", "NONE", "", "", false, false, {"Route Name Can Not Be Blank!"}, "RouteName"},
        {"blank prefix", nullptr, "N", "", "Acme", "NONE", "", "", false, false, {"NPA NXX Can Not Be Blank!"}, "NPANXX"},
        {"no provider", nullptr, "N", "5", "", "NONE", "", "", false, false, {"Provider Can Not Be Blank!"}, "Provider"},
        {"suffix missing", nullptr, "N", "5", "E-Page", "NONE", "", "", false, false, {kSuffixMissing}, "Eddr"},
        {"suffix without at sign", nullptr, "N", "5", "E-Page", "NONE", "example.com", "", false, false, {kSuffixBad}, "Eddr"},
        {"suffix not led by at sign", nullptr, "N", "5", "E-Page", "NONE", "a@example.com", "", false, false, {kSuffixBad}, "Eddr"},
        {"suffix without dot", nullptr, "N", "5", "E-Page", "NONE", "@example", "", false, false, {kSuffixBad}, "Eddr"},
        {"suffix good", nullptr, "N", "5", "E-Page", "NONE", "@example.com", "", false, false, {}, nullptr},
        {"address missing", nullptr, "N", "5", "E-Page", "NONE", "", "", true, false, {kAddressMissing}, "Eddr"},
        {"address bad", nullptr, "N", "5", "E-Page", "NONE", "pager", "", true, false, {kAddressBad}, "Eddr"},
        {"address good", nullptr, "N", "5", "E-Page", "NONE", "a@b.c", "", true, false, {}, nullptr},
        {"secondary suffix bad", nullptr, "N", "5", "Acme", "E-Page", "", "x.com", false, false, {kSuffixBad}, "SecEddr"},
        {"secondary address missing", nullptr, "N", "5", "Acme", "E-Page", "", "", false, true, {kAddressMissing}, "SecEddr"},
        {"prefix begun by 312", nullptr, "N", "312555", "Acme", "NONE", "", "", false, false, {"NPA NXX Already In Use!"}, "NPANXX"},
        {"prefix equal to 312", nullptr, "N", "312", "Acme", "NONE", "", "", false, false, {"NPA NXX Already In Use!"}, "NPANXX"},
        {"shorter prefix warned, kept", nullptr, "N", "31", "Acme", "NONE", "", "", false, false, {kOverlap}, nullptr},
        {"shorter prefix warned, declined", nullptr, "N", "31", "Acme", "NONE", "", "", false, false, {kOverlap}, "NPANXX", {DialogButton::No}},
        {"Default's prefix again", nullptr, "N", "0000000000", "Acme", "NONE", "", "", false, false, {}, nullptr},
        {"name default in lower case", nullptr, "default", "5", "Acme", "NONE", "", "", false, false, {"Route Name Already In Use!"}, "RouteName"},
        {"edit: case-only rename", "abc", "ABC", "415", "Acme", "NONE", "", "", false, false, {}, nullptr},
        {"edit: another route's name", "abc", "chicago", "415", "Acme", "NONE", "", "", false, false, {"Route Name Already In Use!"}, "RouteName"},
        {"edit: prefix begun by 312", "abc", "abc", "3125", "Acme", "NONE", "", "", false, false, {"NPA NXX Already In Use!"}, "NPANXX"},
        {"edit: prefix kept", "Chicago", "Chicago", "312", "Beta", "NONE", "", "", false, false, {}, nullptr},
    };
    for (const auto& c : cases) {
        ui.clear();
        ui.answers = c.answers;
        TRouteDetailsFrm d(ctx, {"Acme", "Beta"}, true);
        if (c.edit) {
            auto rec = FindRoute(c.edit, dir.path(), true, ui);
            ASSERT_TRUE(rec) << c.what;
            d.loadRoute(*rec);
        }
        d.show();
        test::setText(&d, "RouteName", c.name);
        test::setText(&d, "NPANXX", c.prefix);
        if (c.provider.isEmpty())
            test::child<QComboBox>(&d, "Provider")->setCurrentIndex(-1);
        else
            EXPECT_TRUE(test::choose(&d, "Provider", c.provider)) << c.what;
        EXPECT_TRUE(test::choose(&d, "SecProvider", c.secProvider)) << c.what;
        test::setText(&d, "Eddr", c.eddr);
        test::setText(&d, "SecEddr", c.secEddr);
        test::child<QCheckBox>(&d, "PlacePinInSubPri")->setChecked(c.pinPri);
        test::child<QCheckBox>(&d, "PlacePinInSubSec")->setChecked(c.pinSec);
        QApplication::setActiveWindow(&d);
        test::click(&d, "BitBtn1");
        EXPECT_EQ(ui.texts(), c.messages) << c.what;
        EXPECT_EQ(d.result() == QDialog::Accepted, c.focus == nullptr) << c.what;
        if (c.focus) {
            EXPECT_EQ(d.focusWidget() ? d.focusWidget()->objectName() : QString(), c.focus) << c.what;
        }
    }
}

TEST_F(RouteTableTest, ProviderListsAndAStoredProviderMissingFromThem) {
    test::writeFile(dir / "NpaNxxRoute.dat",
                    routeFile({{.name = "Default", .prefix = "0000000000", .provider = "Old Carrier",
                                .sec = "E-Page", .secEddr = "@example.com"}}));
    for (bool email : {false, true}) {
        TRouteDetailsFrm d(ctx, {"Acme", "Beta"}, email);
        QStringList mail = email ? QStringList{"E-Page"} : QStringList{};
        EXPECT_EQ(test::entries(&d, "Provider"), (QStringList({"Acme", "Beta"}) + mail + QStringList{"Brevicor", "TNPP"}));
        EXPECT_EQ(test::entries(&d, "SecProvider"), QStringList({"NONE", "Acme", "Beta"}) + mail);
        EXPECT_EQ(test::child<QComboBox>(&d, "Provider")->currentIndex(), -1);
        EXPECT_EQ(test::child<QComboBox>(&d, "SecProvider")->currentText(), "NONE");
    }
    // Opened on a route whose primary was deleted and whose secondary is
    // "E-Page" with e-mail paging off: both stay as they are on OK.
    TRoutingTableFrm table(ctx, false);
    select(table, "Default");
    test::onModal<TRouteDetailsFrm>([](TRouteDetailsFrm* d) {
        EXPECT_EQ(test::child<QComboBox>(d, "Provider")->currentText(), "Old Carrier");
        EXPECT_EQ(test::child<QComboBox>(d, "SecProvider")->currentText(), "E-Page");
        EXPECT_FALSE(test::child<QLineEdit>(d, "NPANXX")->isEnabled());
        test::click(d, "BitBtn1");
    });
    test::click(&table, "EditUserBut");
    expectFile(routeFile({{.name = "Default", .prefix = "0000000000", .provider = "Old Carrier", .sec = "E-Page",
                           .secEddr = "@example.com"}}),
               {57});
    EXPECT_TRUE(ui.shown.empty());
}

TEST_F(RouteTableTest, AFailedSaveIsShown) {
    const std::string newer = test::fx::header(kRouteSize, "QXDB 1.2");
    test::writeFile(dir / "NpaNxxRoute.dat", newer);
    TRoutingTableFrm table(ctx, false);
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Route Data File Not Compatiple With This Version!"});
    ui.clear();
    test::onModal<TRouteDetailsFrm>([](TRouteDetailsFrm* d) {
        test::choose(d, "Provider", "Acme");
        test::click(d, "BitBtn1");
    });
    test::click(&table, "AddUserBut");
    EXPECT_EQ(ui.texts(), (std::vector<QString>{"Route Data File Not Compatiple With This Version!",
                                                "Unable To Save Route \"Default\"!"}));
    EXPECT_EQ(test::readFile(dir / "NpaNxxRoute.dat"), newer);
}

TEST_F(RouteTableTest, ScreenshotRouteEditor) {
    test::writeFile(dir / "NpaNxxRoute.dat",
                    routeFile({{.name = "Default", .prefix = "0000000000"},
                               {.name = "Chicago", .prefix = "312", .provider = "Beta", .sec = "Acme",
                                .removePrefix = true}}));
    TRoutingTableFrm table(ctx, true);
    test::saveScreenshot(&table, "routing-table");
    auto rec = FindRoute("Chicago", dir.path(), true, ui);
    ASSERT_TRUE(rec);
    TRouteDetailsFrm d(ctx, {"Acme", "Beta"}, true);
    d.loadRoute(*rec);
    test::saveScreenshot(&d, "route-editor");
}

}  // namespace
}  // namespace nv
