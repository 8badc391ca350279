// The page worker in the in-process engine: a test page is routed to a
// provider whose sender runs against a scripted peer (SNPP server on
// loopback, encoder on a pty); the log, the counters and Provider.dat show
// what the worker did.
#include <gtest/gtest.h>

#include <cstring>
#include <future>

#include "foundation/Clock.h"
#include "platform/KORCom32.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/SnppPeer.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

constexpr std::size_t kHeader = 57;
constexpr std::size_t kProviderSize = 2871;

// Provider.dat fields the fixture writer leaves zero, put at their offsets.
void putText(std::string& file, std::size_t rec, std::size_t off, const std::string& text) {
    std::size_t at = kHeader + rec * kProviderSize + off;
    file[at] = static_cast<char>(text.size());
    file.replace(at + 1, text.size(), text);
}
void putInt32(std::string& file, std::size_t rec, std::size_t off, std::int32_t v) {
    std::memcpy(&file[kHeader + rec * kProviderSize + off], &v, 4);
}
std::int32_t getInt32(const std::string& file, std::size_t rec, std::size_t off) {
    std::int32_t v = 0;
    std::memcpy(&v, &file[kHeader + rec * kProviderSize + off], 4);
    return v;
}
double getDouble(const std::string& file, std::size_t rec, std::size_t off) {
    double v = 0;
    std::memcpy(&v, &file[kHeader + rec * kProviderSize + off], 8);
    return v;
}

class PageWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EngineOptions o = test::inProcessOptions(dir.path(), clock, 5000ms);
        o.snpp.connectWait = 2000ms;
        o.snpp.replyWait = 3000ms;
        o.snpp.quitWait = 1000ms;
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
    }

    // A new engine on an empty log, for the next case of a table.
    void fresh() {
        engine.reset();
        std::filesystem::remove(dir / "Log.Dat");
        SetUp();
    }

    // One route "Default" to `primary` (and `secondary`), and one SNPP
    // provider "Carrier" (record 0) of `type` at `port`.
    void setUp(const std::string& primary, const std::string& secondary, std::uint8_t type,
               std::uint16_t port = 0) {
        test::writeFile(dir / "NpaNxxRoute.dat",
                        test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = primary,
                                          .secProvider = secondary, .eddr = "@example.com"}}));
        std::string file = test::providerFile({{.name = "Carrier", .deliveryType = type, .msgLength = 80}});
        putText(file, 0, 429, "127.0.0.1");
        putText(file, 0, 685, std::to_string(port));
        putInt32(file, 0, 2543, -1);  // plain TCP
        test::writeFile(dir / "Provider.dat", file);
    }

    void page(const std::string& pin, const std::string& msg, const std::string* raw = nullptr) {
        bool submitted = false;
        engine->KORTap1MsgReceived(raw, pin, msg, submitted);
        ASSERT_TRUE(submitted);
    }

    Lines logTexts() { return log.lines(); }
    // Pumps until a line starting with `prefix` is in the log; that line.
    std::string waitLine(const std::string& prefix) { return log.waitLine(prefix, 10s); }
    // The worker's lines: everything after the intake's.
    Lines workerLines() {
        Lines out;
        for (const auto& t : logTexts())
            if (t.rfind("[Nerivale Connection]", 0) != 0 && t.rfind("[SNPP Connection] Searching", 0) != 0 &&
                t.rfind("[SNPP Connection] Connected", 0) != 0 && t.rfind("[SNPP Connection] Sending", 0) != 0)
                out.push_back(t);
        return out;
    }

    test::TempDir dir;
    ManualClock clock;
    EventLoop loop;
    test::LogWatch log{dir.path(), [this] { loop.pumpFor(5ms); }};
    std::unique_ptr<TNerivaleSvcMain> engine;
};

TEST_F(PageWorkerTest, SnppDeliveredCountsLogsAndStoresOnlyTheStatistics) {
    test::SnppPeer peer({});
    setUp("Carrier", "NONE", dtSnpp, peer.port());
    page("5551234", "Hello there");
    EXPECT_EQ(waitLine("[SNPP Delivery"),
              "[SNPP Delivery OK] Message Sent Successfully ID:  - 5551234 PIN:5551234 Msg: Hello there");
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.lines(1), (Lines{"Page 5551234", "Mess Hello there", "Send", "QUIT"}));
    loop.pumpFor(20ms);
    EXPECT_EQ(engine->counters().SNPPCount, 1);
    EXPECT_EQ(engine->counters().TransactionCount, 1);
    EXPECT_EQ(engine->counters().ErrorCount, 0);
    std::string file = test::readFile(dir / "Provider.dat");
    EXPECT_EQ(getInt32(file, 0, 146), 1);     // PageCount
    EXPECT_GT(getDouble(file, 0, 150), 0.0);  // LastAccess
    EXPECT_EQ(getInt32(file, 0, 420), 80);    // the operator's MsgLength, not the page's
}

TEST_F(PageWorkerTest, FailedPageWithAndWithoutSecondary) {
    // No port thread runs here: the queue refuses the page, so it is dropped
    // with its Fail line even when a secondary provider is named.
    test::SnppPeer::Script script;
    script.replies["SEND"] = "554 Error, failed";
    test::SnppPeer peer(script);
    for (const std::string secondary : {"NONE", "", "TNPP"}) {
        fresh();
        setUp("Carrier", secondary, dtSnpp, peer.port());
        page("5551234", "hi");
        EXPECT_EQ(waitLine("[SNPP Delivery"),
                  "[SNPP Delivery Fail] 554 Error, failed ID:  - 5551234 PIN:5551234 Provider: Carrier Msg: hi")
            << secondary;
        loop.pumpFor(20ms);
        EXPECT_EQ(engine->counters().ErrorCount, 1) << secondary;  // once, not twice
        EXPECT_EQ(engine->counters().SNPPCount, 0) << secondary;
        EXPECT_EQ(engine->queueLength(), 0u) << secondary;
        EXPECT_EQ(getInt32(test::readFile(dir / "Provider.dat"), 0, 146), 1) << secondary;
    }
}

TEST_F(PageWorkerTest, MethodsWithoutSenderFailNamingTheMethod) {
    struct Case {
        std::string primary;
        std::uint8_t type;
        Lines lines;
    } cases[] = {
        {"Carrier", dtFleetSync,
         {"[Delivery Type 5 Delivery Fail] No Sender For Delivery Type 5 ID:  - 5551234 PIN:5551234 Msg: hi"}},
    };
    for (const auto& c : cases) {
        fresh();
        setUp(c.primary, "NONE", c.type);
        page("5551234", "hi");
        waitLine(c.lines.back().substr(0, 20));
        EXPECT_EQ(workerLines(), c.lines) << int(c.type);
        loop.pumpFor(20ms);
        EXPECT_EQ(engine->counters().ErrorCount, 1) << int(c.type);
        EXPECT_EQ(engine->counters().TransactionCount, 0) << int(c.type);
    }
}

// The engine's encoder port on a pty, with a scripted encoder behind it.
TEST_F(PageWorkerTest, EncoderPagesJudgedByTheReply) {
    test::PtyPair pty;
    pty.holdSlave();
    std::filesystem::create_symlink(pty.slavePath(), dir / "COM7");
    const std::string raw = "\x01" "A1,5551234\x02hi\x03\x04";
    struct Case {
        const char* name;
        std::string answer;
        bool open;
        std::string line;
        int brevicor, transactions, errors;
    } cases[] = {
        {"ACK", raw + "\x01\x06" "V8.01,00,1,1,1A\x04", true,
         "[Brevicor Delivery OK] " + raw.substr(2) + "\x01\x06 ID:  - 5551234 PIN:5551234 Msg: hi", 1, 1, 0},
        {"error 03", raw + "\x01\x0F" "03\x04", true,
         "[Brevicor Delivery Fail] Invalid Capcode ID:  - 5551234 PIN:5551234 Provider: Brevicor Msg: hi", 0, 0, 1},
        {"port closed", "", false,
         "[Brevicor Delivery Fail] Brevicor Port Not Open ID:  - 5551234 PIN:5551234 Provider: Brevicor Msg: hi", 0, 0,
         1},
    };
    for (const auto& c : cases) {
        fresh();
        setUp("Brevicor", "NONE", dtSnpp);
        engine->SendBrevicor.SetDataDir(dir.path());
        engine->SendBrevicor.SetComPort(pnCOM7);
        if (c.open) {
            ASSERT_TRUE(engine->SendBrevicor.Connect()) << engine->SendBrevicor.LastError();
        }
        std::thread encoder([&] {
            if (!c.open) return;
            std::string got = pty.read(raw.size(), 5s);
            EXPECT_EQ(got, raw) << c.name;
            pty.write(c.answer);
        });
        page("5551234", "hi", &raw);
        EXPECT_EQ(waitLine("[Brevicor Delivery"), c.line) << c.name;
        encoder.join();
        loop.pumpFor(20ms);
        EXPECT_EQ(engine->counters().BrevicorCount, c.brevicor) << c.name;
        EXPECT_EQ(engine->counters().TransactionCount, c.transactions) << c.name;
        EXPECT_EQ(engine->counters().ErrorCount, c.errors) << c.name;
        engine->SendBrevicor.Disconnect();
        pty.drain(10ms);
    }
}

}  // namespace
}  // namespace nv
