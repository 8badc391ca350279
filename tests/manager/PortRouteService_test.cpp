// The port, route and modem windows against the real ZQSvc: records and the
// .mcf written through the windows are what the service runs on. A direct port
// on a pty carries a TAP test page routed by the prefix of a route added in the
// editor; a modem port's extra init, set in the modem dialog, reaches a
// scripted Hayes modem before the dial.
#ifdef ZQSVC_PATH
#include <gtest/gtest.h>

#include <QCheckBox>

#include "manager/ModemSettingsDlg.h"
#include "manager/PortDFrm.h"
#include "manager/PortListFrm.h"
#include "manager/RouteFrm.h"
#include "manager/RoutingTableForm.h"
#include "tests/e2e/ZQSvcProcess.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/manager/PortSupport.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/HayesModem.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/TapTerminal.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

// The spooler waits 5 s at its start and 3.5 s per cycle: generous bounds.
constexpr auto kPageBound = 120s;

class PortRouteServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeInstallFile(dir.path());
        test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n");
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
        pty.holdSlave();
    }

    void addRoute(TRoutingTableFrm& table, const QString& name, const QString& prefix, const QString& provider,
                  bool removePrefix) {
        test::onModal<TRouteDetailsFrm>([=](TRouteDetailsFrm* d) {
            if (!name.isEmpty()) test::setText(d, "RouteName", name);
            if (!prefix.isEmpty()) test::setText(d, "NPANXX", prefix);
            EXPECT_TRUE(test::choose(d, "Provider", provider));
            test::child<QCheckBox>(d, "RemoveRoutePrefix")->setChecked(removePrefix);
            test::click(d, "BitBtn1");
        });
        test::click(&table, "AddUserBut");
    }

    void start() {
        service = std::make_unique<test::ZQSvcProcess>(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
        ASSERT_TRUE(log.waitFor("[System] Nerivale Server Started", 1, 60s)) << test::readFile(dir / "stderr.txt");
    }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    test::PtyPair pty;
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<test::ZQSvcProcess> service;
    test::FakeOperatorUi ui;
    ManagerContext ctx{dir.path(), dir.path(), ui};
};

TEST_F(PortRouteServiceTest, DirectPortAndRouteFromTheEditorsCarryATestPage) {
    std::filesystem::create_symlink(pty.slavePath(), dir / "COM2");
    test::TapTerminal term = test::TapTerminal::onFd(pty.master(), {});
    test::writeFile(dir / "Provider.dat", test::providerFile({{"Nowhere", 0}, {"Acme", 0}}));
    {
        TRoutingTableFrm table(ctx, false);
        addRoute(table, "", "", "Nowhere", false);  // the first route: Default
        addRoute(table, "Chicago", "312", "Acme", true);
    }
    {
        test::writeFile(dir / "Modems.ini", "");
        TPortSettings ports(ctx);
        test::onModal<TPortDataForm>([](TPortDataForm* d) {
            test::setText(d, "Name", "Direct2");
            EXPECT_TRUE(test::choose(d, "Modem", "Direct Connection"));
            EXPECT_TRUE(test::choose(d, "DirectGroupName", "Acme"));
            EXPECT_TRUE(test::choose(d, "ComPort", "COM2"));
            EXPECT_TRUE(test::choose(d, "ComSpeed", "9600"));
            EXPECT_TRUE(test::choose(d, "ComData", "8,N,1"));
            test::child<QCheckBox>(d, "PortEnabled")->setChecked(true);
            test::click(d, "OKBut");
        });
        test::click(&ports, "AddBut");
        EXPECT_TRUE(ports.Changed);
    }
    EXPECT_EQ(ui.texts(), std::vector<QString>{"Error, No Tapi Devices Available!!"});

    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(log.waitFor("[System] Direct2 Active, Ready To Send Pages", 1, 30s))
        << ::testing::PrintToString(log.lines());
    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=3125551234"));
    ASSERT_TRUE(log.waitFor("[TAP Delivery OK] Direct2 ", 1, kPageBound)) << ::testing::PrintToString(log.lines());
    EXPECT_TRUE(log.has("[TAP Connection Status] Acme Assigned To Direct2 Using Device Num. 0"))
        << ::testing::PrintToString(log.lines());
    // The route's prefix came off before delivery.
    EXPECT_NE(term.received().find("5551234"), std::string::npos);
    EXPECT_EQ(term.received().find("3125551234"), std::string::npos);
}

TEST_F(PortRouteServiceTest, ExtraInitFromTheModemDialogReachesTheModemBeforeTheDial) {
    test::writeFile(dir / "Modems.ini", "[Line3]\r\nName=TestModem\r\nDevice=" + pty.slavePath() + "\r\nInit=ATZ\r\n");
    // A modem provider with its access number as an operator types it.
    test::writeFile(dir / "Provider.dat", test::fx::header(2871, "QXDB 7.6") + test::fx::Image(2871)
                                                                                .put(0, test::fx::text("Carrier"))
                                                                                .put(36, test::fx::text("555-1000"))
                                                                                .put(702, test::fx::le32(57))
                                                                                .put(2506, test::byte(1))
                                                                                .str());
    {
        TRoutingTableFrm table(ctx, false);
        addRoute(table, "", "", "Carrier", false);
    }
    {
        TPortSettings ports(ctx);
        test::onModal<TPortDataForm>([](TPortDataForm* d) {
            test::setText(d, "Name", "Modem1");
            EXPECT_TRUE(test::choose(d, "Modem", "TestModem"));
            test::child<QCheckBox>(d, "PortEnabled")->setChecked(true);
            // The pty passes bytes as they are: 8,N,1 keeps the test about the dialogue.
            test::onModal<ModemSettingsDlg>([](ModemSettingsDlg* m) {
                EXPECT_TRUE(test::choose(m, "DataBits", "8"));
                EXPECT_TRUE(test::choose(m, "Parity", "None"));
                test::setText(m, "ExtraInit", "M0L1");
                test::click(m, "OKBut");
            });
            test::click(d, "BitBtn4");
            test::click(d, "OKBut");
        });
        test::click(&ports, "AddBut");
    }
    ASSERT_TRUE(std::filesystem::exists(dir / "TestModem.mcf"));
    EXPECT_TRUE(ui.shown.empty());

    test::HayesModem modem(pty.master(), {});
    ASSERT_NO_FATAL_FAILURE(start());
    ASSERT_TRUE(log.waitFor("[System] Modem1 Active, Ready To Send Pages", 1, 30s))
        << ::testing::PrintToString(log.lines());
    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=5551234"));
    ASSERT_TRUE(log.waitFor("[TAP Delivery OK] Modem1 ", 1, kPageBound)) << ::testing::PrintToString(log.lines());
    const auto commands = modem.commands();
    auto at = [&](const std::string& prefix) {
        for (std::size_t i = 0; i < commands.size(); ++i)
            if (commands[i].rfind(prefix, 0) == 0) return static_cast<int>(i);
        return -1;
    };
    ASSERT_GE(at("ATM0L1"), 0) << ::testing::PrintToString(commands);
    ASSERT_GE(at("ATD"), 0) << ::testing::PrintToString(commands);
    EXPECT_LT(at("ATM0L1"), at("ATD")) << ::testing::PrintToString(commands);
    EXPECT_TRUE(log.has("[TAP Connection Status] Carrier Assigned To Modem1 Using Device Num. 3"))
        << ::testing::PrintToString(log.lines());
}

}  // namespace
}  // namespace nv
#endif
