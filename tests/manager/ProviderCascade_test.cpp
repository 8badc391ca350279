// What a rename, a "&New", a delete and a cancel do beyond the provider's own
// record: the routes of NpaNxxRoute.dat and the providers' .mcf files.
#include <QListWidget>

#include "foundation/RecordAccess.h"
#include "manager/PCDForm.h"
#include "manager/PCLForm.h"
#include "tests/manager/ProviderTestSupport.h"

namespace nv::test {
namespace {

struct CascadeEnv : WindowEnv {
    CascadeEnv() {
        writeFile(file("Provider.dat"), providerFile({{"Acme", 1, 80, "1"}, {"Other", 1, 80, "2"}}));
        writeFile(file("NpaNxxRoute.dat"),
                  routeFile({{"Default", "", "Acme"},
                             {"R1", "555", "Acme"},
                             {"R2", "556", "Other", "Acme"},
                             {"R3", "557", "acme"},
                             {"R4", "558", "Acme Wireless"}}));
        writeFile(file("Acme.mcf"), "acme settings");
    }
    // Primary provider and deleted flag of each route, in file order.
    std::vector<std::pair<std::string, bool>> routes() const {
        const std::string f = readFile(file("NpaNxxRoute.dat"));
        std::vector<std::pair<std::string, bool>> out;
        for (std::size_t k = 0; kHeader + (k + 1) * kRouteSize <= f.size(); ++k) {
            const std::string r = recordAt(f, kRouteSize, k);
            out.emplace_back(textAt(r, 52), r[431] != 0);
        }
        return out;
    }
    std::string secondary(std::size_t k) const {
        return textAt(recordAt(readFile(file("NpaNxxRoute.dat")), kRouteSize, k), 88);
    }
    // Edits list row `row`, renames it to `name` and presses `button`.
    void edit(int row, const char* name, const char* button) {
        TPCLForm list(ctx);
        list.FormShow();
        list.list()->setCurrentRow(row);
        list.runEditor = [&](TPCDForm& ed) {
            setText(ed, "CompanyName", name);
            click(ed, button);
            return ed.result();
        };
        list.EditUserButClick();
    }
};

using Routes = std::vector<std::pair<std::string, bool>>;

TEST(ProviderCascade, RenameMovesTheMcfAndOnlyRoutesWithThatExactPrimary) {
    CascadeEnv env;
    env.edit(0, "Zed", "BitBtn1");
    EXPECT_TRUE(env.ui.shown.empty());
    EXPECT_EQ(env.routes(), (Routes{{"Zed", false}, {"Zed", false}, {"Other", false}, {"acme", false},
                                    {"Acme Wireless", false}}));
    EXPECT_EQ(env.secondary(2), "Acme");  // secondary references keep the old name
    EXPECT_FALSE(std::filesystem::exists(env.file("Acme.mcf")));
    EXPECT_EQ(readFile(env.file("Zed.mcf")), "acme settings");
}

TEST(ProviderCascade, RenameNeverMovesOntoAnExistingMcf) {
    CascadeEnv env;
    writeFile(env.file("zed.MCF"), "someone else's");
    env.edit(0, "Zed", "BitBtn1");
    EXPECT_EQ(readFile(env.file("Acme.mcf")), "acme settings");
    EXPECT_EQ(readFile(env.file("zed.MCF")), "someone else's");
    EXPECT_FALSE(std::filesystem::exists(env.file("Zed.mcf")));
    EXPECT_EQ(env.routes()[1].first, "Zed");
}

TEST(ProviderCascade, SaveAsNewCopiesTheMcfAndLeavesTheRoutes) {
    CascadeEnv env;
    env.edit(0, "Acme Two", "SaveAsBut");
    EXPECT_EQ(LoadProviderNames(env.dir.path(), env.ui),
              (std::vector<std::string>{"Acme", "Other", "Acme Two"}));
    EXPECT_EQ(readFile(env.file("Acme.mcf")), "acme settings");
    EXPECT_EQ(readFile(env.file("Acme Two.mcf")), "acme settings");
    EXPECT_EQ(env.routes()[1].first, "Acme");
    auto copy = FindProvider("Acme Two", env.dir.path(), env.ui);
    ASSERT_TRUE(copy);
    EXPECT_EQ(copy->PageCount(), 0);
    EXPECT_EQ(copy->TerminalAccessNum(), "1");
}

TEST(ProviderCascade, DeleteTakesExactPrimaryRoutesButSparesDefault) {
    CascadeEnv env;
    TPCLForm list(env.ctx);
    list.FormShow();
    list.list()->setCurrentRow(0);
    list.DeleteButClick();
    ASSERT_EQ(env.ui.shown.size(), 2u);
    EXPECT_EQ(env.ui.shown[0].text, "Delete Provider Acme?\n\rThis Will Remove All Associated Routes!");
    EXPECT_EQ(env.ui.shown[0].kind, DialogKind::Confirmation);
    EXPECT_EQ(env.ui.beeps.front(), BeepKind::Question);
    EXPECT_TRUE(env.ui.shown[1].text.startsWith("The Route \"Default\" Uses This Provider And Was Kept"));
    EXPECT_EQ(env.routes(), (Routes{{"Acme", false}, {"Acme", true}, {"Other", false}, {"acme", false},
                                    {"Acme Wireless", false}}));
    EXPECT_FALSE(std::filesystem::exists(env.file("Acme.mcf")));
    EXPECT_EQ(LoadProviderNames(env.dir.path(), env.ui), std::vector<std::string>{"Other"});
    EXPECT_EQ(list.list()->count(), 1);
}

TEST(ProviderCascade, DeleteAnsweredNoChangesNothing) {
    CascadeEnv env;
    const std::string providers = readFile(env.file("Provider.dat"));
    const std::string routes = readFile(env.file("NpaNxxRoute.dat"));
    env.ui.answers = {DialogButton::No};
    TPCLForm list(env.ctx);
    list.FormShow();
    list.list()->setCurrentRow(0);
    list.DeleteButClick();
    EXPECT_EQ(readFile(env.file("Provider.dat")), providers);
    EXPECT_EQ(readFile(env.file("NpaNxxRoute.dat")), routes);
    EXPECT_TRUE(std::filesystem::exists(env.file("Acme.mcf")));
}

TEST(ProviderCascade, AProviderGoneFromTheFileRefreshesTheList) {
    CascadeEnv env;
    TPCLForm list(env.ctx);
    list.FormShow();
    std::string file = readFile(env.file("Provider.dat"));
    file[kHeader + 706] = 1;  // another editor deleted Acme
    writeFile(env.file("Provider.dat"), file);
    for (auto action : {&TPCLForm::EditUserButClick, &TPCLForm::DeleteButClick}) {
        list.FormShow();
        writeFile(env.file("Provider.dat"), file);
        list.list()->clear();
        list.list()->addItems({"Acme", "Other"});
        list.list()->setCurrentRow(0);
        env.ui.clear();
        list.runEditor = [](TPCDForm&) -> int {
            ADD_FAILURE() << "no editor for a vanished provider";
            return 0;
        };
        (list.*action)();
        ASSERT_FALSE(env.ui.shown.empty());
        EXPECT_EQ(env.ui.shown.back().text,
                  "This Provider Is No Longer In The Provider File; The List Has Been Refreshed.");
        EXPECT_EQ(list.list()->count(), 1);
        EXPECT_EQ(readFile(env.file("Provider.dat")), file);
    }
}

TEST(ProviderCascade, AnEditOfAProviderDeletedMeanwhileSavesNothing) {
    CascadeEnv env;
    TPCLForm list(env.ctx);
    list.FormShow();
    list.list()->setCurrentRow(0);
    std::string deleted;
    list.runEditor = [&](TPCDForm& ed) {
        deleted = readFile(env.file("Provider.dat"));
        deleted[kHeader + 706] = 1;
        writeFile(env.file("Provider.dat"), deleted);
        click(ed, "BitBtn1");
        return ed.result();
    };
    list.EditUserButClick();
    EXPECT_EQ(readFile(env.file("Provider.dat")), deleted);
    EXPECT_EQ(env.ui.shown.back().text,
              "This Provider Is No Longer In The Provider File; The List Has Been Refreshed.");
}

TEST(ProviderCascade, CancelRemovesOnlyAModemFileThisEditingMade) {
    CascadeEnv env;
    std::filesystem::create_directories(env.dir / "app");
    writeFile(env.dir / "app" / "system.mcf", "system settings");
    ManagerContext ctx{env.dir / "app", env.dir.path(), env.ui};
    struct Case {
        const char* name;
        bool kept;
    };
    for (const Case& c : {Case{"Fresh", false}, Case{"acme", true}}) {
        SCOPED_TRACE(c.name);
        TPCDForm ed(ctx);
        ed.prepareNew();
        std::vector<std::filesystem::path> opened;
        ed.runModemSettings = [&](const std::filesystem::path& mcf) {
            opened.push_back(mcf);
            return true;
        };
        setText(ed, "CompanyName", c.name);
        click(ed, "BitBtn4");
        ASSERT_EQ(opened.size(), 1u);
        EXPECT_TRUE(std::filesystem::exists(opened[0]));
        click(ed, "BitBtn2");
        EXPECT_EQ(std::filesystem::exists(opened[0]), c.kept);
    }
    EXPECT_EQ(readFile(env.file("Acme.mcf")), "acme settings");
}

TEST(ProviderCascade, ModemSettingsStartFromTheSystemFile) {
    CascadeEnv env;
    std::filesystem::create_directories(env.dir / "app");
    writeFile(env.dir / "app" / "system.mcf", "system settings");
    ManagerContext ctx{env.dir / "app", env.dir.path(), env.ui};
    TPCDForm ed(ctx);
    ed.prepareNew();
    ed.runModemSettings = [](const std::filesystem::path&) { return true; };
    setText(ed, "CompanyName", "Fresh");
    setText(ed, "TerminalAccessNum", "1");
    click(ed, "BitBtn4");
    EXPECT_EQ(readFile(env.file("Fresh.mcf")), "system settings");
    click(ed, "BitBtn1");  // OK keeps it
    EXPECT_TRUE(std::filesystem::exists(env.file("Fresh.mcf")));
}

}  // namespace
}  // namespace nv::test
