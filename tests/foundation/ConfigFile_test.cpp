#include "foundation/ConfigFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

fs::path fixture(const std::string& name) {
    return fs::path(NV_SOURCE_DIR) / "tests/foundation/fixtures/config" / name;
}

// Replaces the one occurrence of `from` in `text`.
std::string replaceOnce(std::string text, const std::string& from, const std::string& to) {
    std::size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
    if (at != std::string::npos) text.replace(at, from.size(), to);
    return text;
}

// What each side uses when Config.Dat is missing; the rows where the two
// differ are the ones a file the manager never saved depends on.
TEST(ConfigFile, MissingFileGivesEachSideItsDefaults) {
    test::TempDir dir;
    const ConfigSet svc = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Service).load();
    const ConfigSet mgr = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager).load();
    struct Row {
        const char* key;
        int service;
        int manager;
    };
    const std::vector<std::pair<Row, std::pair<int, int>>> rows = {
        {{"Nerivale Port Enabled", 0, 0}, {svc.nerivalePort.Enabled, mgr.nerivalePort.Enabled}},
        {{"Nerivale Port ComPort", 0, 0}, {svc.nerivalePort.ComPort, mgr.nerivalePort.ComPort}},
        {{"Nerivale Port ComSpeed", 3, 6}, {svc.nerivalePort.ComSpeed, mgr.nerivalePort.ComSpeed}},
        {{"Nerivale Port DataSettings", 0, 1},
         {svc.nerivalePort.DataSettings, mgr.nerivalePort.DataSettings}},
        {{"Nerivale Port FlowCtrl", 1, 1}, {svc.nerivalePort.FlowCtrl, mgr.nerivalePort.FlowCtrl}},
        {{"Nerivale Port DeviceID", 0, 0}, {svc.nerivalePort.DeviceID, mgr.nerivalePort.DeviceID}},
        {{"Nerivale Port Length", 230, 160},
         {svc.nerivalePort.Length.value, mgr.nerivalePort.Length.value}},
        {{"Nerivale Port TruncateMsgs", 0, 0},
         {svc.nerivalePort.TruncateMsgs, mgr.nerivalePort.TruncateMsgs}},
        {{"Brevicor Port Enabled", 0, 0}, {svc.brevicorPort.Enabled, mgr.brevicorPort.Enabled}},
        {{"Brevicor Port ComPort", 6, 0}, {svc.brevicorPort.ComPort, mgr.brevicorPort.ComPort}},
        {{"Brevicor Port DataSettings", 1, 1},
         {svc.brevicorPort.DataSettings, mgr.brevicorPort.DataSettings}},
        {{"Brevicor Port FlowCtrl", 1, 1}, {svc.brevicorPort.FlowCtrl, mgr.brevicorPort.FlowCtrl}},
        {{"Brevicor Port ComSpeed", 6, 6}, {svc.brevicorPort.ComSpeed, mgr.brevicorPort.ComSpeed}},
        {{"TNPP EnableTNPP", 0, 0}, {svc.tnpp.EnableTNPP, mgr.tnpp.EnableTNPP}},
        {{"TNPP DestAddr", 0, 0}, {svc.tnpp.DestAddr.value, mgr.tnpp.DestAddr.value}},
        {{"TNPP Inertia", 3, 3}, {svc.tnpp.Inertia.value, mgr.tnpp.Inertia.value}},
        {{"TNPP BusyRtyTO", 60, 60}, {svc.tnpp.BusyRtyTO.value, mgr.tnpp.BusyRtyTO.value}},
        {{"TNPP RSHoldRetry", 24, 24}, {svc.tnpp.RSHoldRetry.value, mgr.tnpp.RSHoldRetry.value}},
        {{"TNPP ComSpeed", 6, 6}, {svc.tnpp.ComSpeed, mgr.tnpp.ComSpeed}},
        {{"TNPP STXInit", 1, 0}, {svc.tnpp.STXInit, mgr.tnpp.STXInit}},
        {{"TNPP TransparentCRC", 1, 0}, {svc.tnpp.TransparentCRC, mgr.tnpp.TransparentCRC}},
        {{"WCTP WCTPFOBSSL", 1, 1}, {svc.wctp.WCTPFOBSSL, mgr.wctp.WCTPFOBSSL}},
        {{"SMTP Port", 25, 25}, {svc.smtp.Port.value, mgr.smtp.Port.value}},
        {{"SMS COMSpeed", 6, 6}, {svc.sms.COMSpeed, mgr.sms.COMSpeed}},
        {{"SMS Enabled", 0, 0}, {svc.sms.Enabled, mgr.sms.Enabled}},
        {{"GUI Height", 338, 338}, {svc.gui.Height, mgr.gui.Height}},
        {{"GUI Width", 637, 637}, {svc.gui.Width, mgr.gui.Width}},
        {{"Server DefaultLogon", 1, 1}, {svc.server.DefaultLogon, mgr.server.DefaultLogon}},
    };
    for (const auto& [want, got] : rows) {
        EXPECT_EQ(got.first, want.service) << "service " << want.key;
        EXPECT_EQ(got.second, want.manager) << "manager " << want.key;
    }
    EXPECT_EQ(mgr.nerivalePort.Length.text, "160");
    EXPECT_EQ(mgr.nerivalePort.TimeOut.text, "60");
    EXPECT_EQ(mgr.tnpp.IdelTO.text, "10");
    EXPECT_EQ(svc.wctp.WCTPSenderID, "NOYB");
    EXPECT_EQ(mgr.wctp.WCTPDocType, kWctpDefaultDocType);
    EXPECT_EQ(svc.proxy.Server, "");
    EXPECT_FALSE(svc.proxy.Enabled);
    EXPECT_FALSE(svc.smtp.Enabled);
}

// The manager's first run writes the whole file from its defaults; sections in
// first-write order, keys in the editor's order.
TEST(ConfigFile, FirstManagerSaveWritesTheGoldenFile) {
    test::TempDir dir;
    ConfigFile cfg = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager);
    ASSERT_FALSE(cfg.exists());
    cfg.saveEditor(cfg.load());
    EXPECT_EQ(test::readFile(dir / "Config.Dat"), test::readFile(fixture("first-run.dat")));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "Config.Dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    // The service then opens the inbound host (Enabled is always written on),
    // and from then on both sides see the stored values.
    ConfigFile svc = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Service);
    EXPECT_TRUE(svc.nerivalePort().Enabled);
    EXPECT_EQ(svc.nerivalePort().Length.value, 160);
    EXPECT_EQ(svc.nerivalePort().ComSpeed, 6);
    EXPECT_FALSE(svc.tnpp().TransparentCRC);
    EXPECT_EQ(svc.brevicorPort().ComPort, 0);

    // [GUI] at close and [Server] at install go after, leaving the rest alone.
    cfg.saveGui({700, 900});
    cfg.saveServer({"svc-pager", "pw", false});
    std::string expected = test::readFile(fixture("first-run.dat")) +
                           "\r\n[GUI]\r\nHeight=700\r\nWidth=900\r\n"
                           "\r\n[Server]\r\nLogonName=svc-pager\r\nPassword=pw\r\nDefaultLogon=0\r\n";
    EXPECT_EQ(test::readFile(dir / "Config.Dat"), expected);
    EXPECT_EQ(cfg.gui().Width, 900);
    EXPECT_EQ(cfg.server().LogonName, "svc-pager");
    EXPECT_FALSE(cfg.server().DefaultLogon);
}

TEST(ConfigFile, HandCommentedFileSurvivesSaveApartFromChangedValues) {
    test::TempDir dir;
    const std::string original = test::readFile(fixture("commented.dat"));
    test::writeFile(dir / "Config.Dat", original);
    ConfigFile cfg = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager);

    ConfigSet set = cfg.load();
    EXPECT_EQ(set.nerivalePort.ComPort, 3);
    EXPECT_EQ(set.nerivalePort.Length.text, "512");
    EXPECT_EQ(set.brevicorPort.TimeOut.text, "");  // a blank save reloads blank
    EXPECT_EQ(set.wctp.WCTPMiscSenderInfo, "night desk; ext 12");
    EXPECT_EQ(set.sms.COMSpeed, 4);

    // Saving what was loaded changes nothing at all.
    cfg.saveEditor(set);
    EXPECT_EQ(test::readFile(dir / "Config.Dat"), original);

    set.tnpp.EnableTNPP = true;
    set.smtp.Server = "mail.example.net";
    set.sms.COMPort = 2;
    set.nerivalePort.Length.text = "300";
    cfg.saveEditor(set);
    std::string expected = original;
    expected = replaceOnce(expected, "EnableTNPP=0", "EnableTNPP=1");
    expected = replaceOnce(expected, "MX look-up\r\nServer=\r\n", "MX look-up\r\nServer=mail.example.net\r\n");
    expected = replaceOnce(expected, "comport = 0", "comport=2");
    expected = replaceOnce(expected, "Length=512", "Length=300");
    EXPECT_EQ(test::readFile(dir / "Config.Dat"), expected);
}

TEST(ConfigFile, ServiceReadsHandWrittenAndOddValues) {
    test::TempDir dir;
    test::writeFile(dir / "CONFIG.DAT",
                    "[sms]\ncomport=2\nenabled=1\n"
                    "[TNPP]\nEnableTNPP=1\nBusyRtyTO=\nIdelTO=abc\nDestAddr=$10\nInertia= 5 \n"
                    "[SMTP]\nPort=twenty-five\n"
                    "[Nerivale Port]\nDeviceID=2\n");
    ConfigFile svc = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Service);
    EXPECT_EQ(svc.path().filename(), "CONFIG.DAT");
    SmsSection sms = svc.sms();
    EXPECT_TRUE(sms.Enabled);
    EXPECT_EQ(sms.COMPort, 2);
    TnppSection tnpp = svc.tnpp();
    EXPECT_TRUE(tnpp.EnableTNPP);
    EXPECT_EQ(tnpp.BusyRtyTO.value, 60);  // blank: the service's default
    EXPECT_EQ(tnpp.BusyRtyTO.text, "");
    EXPECT_EQ(tnpp.IdelTO.value, 10);
    EXPECT_EQ(tnpp.DestAddr.value, 16);
    EXPECT_EQ(tnpp.Inertia.value, 5);
    EXPECT_TRUE(tnpp.STXInit);
    EXPECT_EQ(svc.smtp().Port.value, 25);
    NerivalePortSection np = svc.nerivalePort();
    EXPECT_FALSE(np.Enabled);  // a file without the key leaves the inbound port off
    EXPECT_EQ(np.DeviceID, 2);
    EXPECT_EQ(np.Length.value, 230);
}

TEST(ConfigFile, PortCodings) {
    EXPECT_EQ(baudFromSpeedIndex(0), 110);
    EXPECT_EQ(baudFromSpeedIndex(3), 1200);
    EXPECT_EQ(baudFromSpeedIndex(6), 9600);
    EXPECT_EQ(baudFromSpeedIndex(11), 57600);
    EXPECT_EQ(baudFromSpeedIndex(12), 115200);
    EXPECT_FALSE(baudFromSpeedIndex(13));
    EXPECT_FALSE(baudFromSpeedIndex(-1));
    EXPECT_EQ(comPortName(1), "COM1");
    EXPECT_EQ(comPortName(7), "COM7");

    const ConfigCharFormat e71{7, 'E', 1}, n81{8, 'N', 1};
    EXPECT_EQ(portDataSettings(0), e71);
    EXPECT_EQ(portDataSettings(1), n81);
    EXPECT_FALSE(portDataSettings(2));
    EXPECT_EQ(tnppComSettings(0), n81);
    EXPECT_EQ(tnppComSettings(1), e71);
    EXPECT_FALSE(tnppComSettings(-1));
    using F = ConfigFlowControl;
    const std::vector<std::pair<int, F>> port = {{0, F::None}, {1, F::RtsCts}, {2, F::XonXoff}, {3, F::Both}};
    const std::vector<std::pair<int, F>> tnpp = {{0, F::RtsCts}, {1, F::XonXoff}, {2, F::Both}, {3, F::None}};
    for (auto [v, f] : port) EXPECT_EQ(portFlowCtrl(v), f) << v;
    for (auto [v, f] : tnpp) EXPECT_EQ(tnppHandShake(v), f) << v;
    EXPECT_FALSE(portFlowCtrl(4));
    EXPECT_FALSE(tnppHandShake(4));
}

// A per-page reader must never meet a truncated or half-written file while the
// manager saves: that would hand it the all-defaults state (TNPP off, e-mail off).
TEST(ConfigFile, ReaderDuringRepeatedSavesNeverSeesDefaults) {
    test::TempDir dir;
    ConfigFile mgr = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Manager);
    ConfigSet set = ConfigSet::defaults(ConfigSide::Manager);
    set.tnpp.EnableTNPP = true;
    set.smtp.Enabled = true;
    set.tnpp.DestAddr = 1;
    mgr.saveEditor(set);

    ConfigFile svc = ConfigFile::inDataDirectory(dir.path(), ConfigSide::Service);
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> bad{0};
    std::thread reader([&] {
        while (!done.load()) {
            TnppSection t = svc.tnpp();
            SmtpSection m = svc.smtp();
            if (!t.EnableTNPP || !m.Enabled || (t.DestAddr.value != 1 && t.DestAddr.value != 2)) ++bad;
            ++reads;
        }
    });
    while (reads.load() == 0) std::this_thread::yield();
    for (int i = 0; i < 100; ++i) {
        set.tnpp.DestAddr = 1 + i % 2;
        set.smtp.Server = "mail" + std::to_string(i) + ".example.net";
        mgr.saveEditor(set);
    }
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

}  // namespace
}  // namespace nv
