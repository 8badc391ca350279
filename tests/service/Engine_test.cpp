// The engine in-process on a temporary data directory, watched through a fake
// manager on its PelmoraConfig socket.
#include <gtest/gtest.h>

#include <sstream>

#include "foundation/Clock.h"
#include "protocols/EncoderFrame.h"
#include "service/PageIntake.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
        EngineOptions o = test::inProcessOptions(dir.path(), clock, 5000ms);
        o.localNow = [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };  // never the archive hour
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
    }

    void command(const std::string& text) { engine->PipeServer1PipeMessage(text); }

    // Pumps the engine's loop until the manager has a message `match` accepts.
    std::optional<std::string> waitMessage(const std::function<bool(const std::string&)>& match,
                                           std::size_t from = 0) {
        auto until = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < until) {
            loop.pumpFor(5ms);
            if (auto m = manager->waitFor(match, 0ms, from)) return m;
        }
        return std::nullopt;
    }
    bool waitExact(const std::string& text, std::size_t from = 0) {
        return waitMessage([&](const std::string& m) { return m == text; }, from).has_value();
    }
    // What the manager got for one command, log lines aside: a ping sent after it marks the end.
    std::vector<std::string> repliesTo(const std::string& text) {
        std::size_t from = manager->count();
        command(text);
        command("cmd=ping");
        EXPECT_TRUE(waitExact("cmd=ping", from)) << text;
        auto all = manager->messages();
        std::vector<std::string> out;
        for (std::size_t i = from; i + 1 < all.size(); ++i)
            if (all[i].rfind("cmd=log\r\n", 0) != 0) out.push_back(all[i]);  // log lines come and go
        return out;
    }
    // Log.Dat's texts without their time stamps.
    std::vector<std::string> logTexts() { return log.lines(); }
    bool waitLog(const std::string& text) { return log.waitForLine(text, 1, 5s); }

    test::TempDir dir;
    ManualClock clock;
    EventLoop loop;
    test::LogWatch log{dir.path(), [this] { loop.pumpFor(5ms); }};
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<TNerivaleSvcMain> engine;
};

const std::string kZeroCounters =
    "cmd=all_counters\r\nctWCTPCount=0\r\nctSNPPCount=0\r\nctSMPPCount=0\r\nctTapCount=0\r\nctEPagesSent=0\r\n"
    "ctSMSCount=0\r\nctErrorCount=0\r\nctTransactionCount=0\r\nctQueuedMgs=0\r\nctNerivaleInCount=0\r\n"
    "ctTNPPCounter=0\r\nctBrevicorCount=0\r\nctHours=0\r\nctMinutes=0\r\ncancelcall1=0\r\n";

TEST_F(EngineTest, CommandNamesIgnoreCaseValuesMatchExactly) {
    struct Case {
        std::string command;
        std::vector<std::string> replies;
    } cases[] = {
        {"cmd=ping", {"cmd=ping"}},
        {"CMD=ping", {"cmd=ping"}},
        {"cmd=PING", {}},
        {"cmd=send_counters", {kZeroCounters}},
        {"cmd=send_counters\r\n", {kZeroCounters}},
        {"cmd=SEND_COUNTERS\r\n", {}},
        {"cmd=reset_stats", {}},
        {"cmd=unknown\r\nx=1", {}},
        {"no command at all", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(repliesTo(c.command), c.replies) << c.command;
}

TEST_F(EngineTest, ResetStatsKeepsQueueAndOnlineTime) {
    clock.advance(61min);
    engine->Timer2Timer();
    engine->PostUpdateCounters(kCtError);
    engine->PostUpdateCounters(kCtError);
    engine->PostUpdateCounters(kCtQueued, 3);
    ASSERT_TRUE(waitExact("cmd=cntrupd\r\ncounter=9\r\nvalue=2"));
    ASSERT_TRUE(waitExact("cmd=cntrupd\r\ncounter=11\r\nvalue=3"));
    auto before = repliesTo("cmd=send_counters");
    ASSERT_EQ(before.size(), 1u);
    EXPECT_NE(before[0].find("\r\nctErrorCount=2\r\n"), std::string::npos);
    EXPECT_NE(before[0].find("\r\nctHours=1\r\nctMinutes=1\r\n"), std::string::npos);
    EXPECT_TRUE(repliesTo("cmd=reset_stats").empty());
    auto after = repliesTo("cmd=send_counters\r\n");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_NE(after[0].find("\r\nctErrorCount=0\r\n"), std::string::npos);
    EXPECT_NE(after[0].find("\r\nctQueuedMgs=3\r\n"), std::string::npos);
    EXPECT_NE(after[0].find("\r\nctHours=1\r\nctMinutes=1\r\n"), std::string::npos);
}

TEST_F(EngineTest, LogLineGoesToFileAndManagerWithLaterBreaksKept) {
    engine->WriteToLog("[System] a\r\nb\r\n");
    auto msg = waitMessage([](const std::string& m) { return m.rfind("cmd=log\r\n", 0) == 0; });
    ASSERT_TRUE(msg);
    // "cmd=log" CR LF "data=" stamp " - " text CR LF
    std::string file = test::readFile(dir / "Log.Dat");
    ASSERT_EQ(file.size(), 19u + 18u);  // "MM/DD/YYYY HH:MM:SS" " - [System] ab" CR LF, CR LF
    EXPECT_EQ(file.substr(19), " - [System] ab\r\n\r\n");
    EXPECT_EQ(*msg, "cmd=log\r\ndata=" + file.substr(0, 19) + " - [System] ab\r\n\r\n");
}

TEST_F(EngineTest, CancelCallRefusesPagesUntilTheEngineStops) {
    test::writeFile(dir / "NpaNxxRoute.dat", test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "TNPP"}}));
    command("cmd=cancel_call");
    ASSERT_TRUE(waitLog("[Operator Action] Call Canceled!"));
    auto counters = repliesTo("cmd=send_counters");
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_NE(counters[0].find("\r\ncancelcall1=1\r\n"), std::string::npos);
    bool submitted = true;
    engine->KORTap1MsgReceived(nullptr, "123", "hi", submitted);
    EXPECT_FALSE(submitted);
    EXPECT_TRUE(waitLog("[System] Delivery Failed For PIN: 123, Calls Canceled! Page Discarded!"));
}

TEST_F(EngineTest, TestPagesAreRoutedByPrefixInFileOrder) {
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({
                        {.name = "Five5", .npanxx = "55", .provider = "Acme SNPP"},
                        {.name = "Five55", .npanxx = "555", .provider = "Other"},
                        {.name = "Off", .npanxx = "777", .provider = "Acme SNPP", .enabled = false},
                        {.name = "Lost", .npanxx = "888", .provider = "Ghost"},
                        {.name = "Tap", .npanxx = "999", .provider = "Dialup"},
                        {.name = "Lower", .npanxx = "444", .provider = "tnpp"},
                        {.name = "Strip", .npanxx = "333", .provider = "TNPP", .secProvider = "Nowhere", .removePrefix = true},
                        {.name = "Default", .npanxx = "0000000000", .provider = "Acme SNPP"},
                    }));
    test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Acme SNPP", .deliveryType = 2}, {.name = "Other", .deliveryType = 2}, {.name = "Dialup", .deliveryType = 1}}));
    const std::string msg = " Message: Nerivale Server Test Message";
    const std::string fail = " Msg: Nerivale Server Test Message";
    struct Case {
        std::string pin;
        bool accepted;
        std::vector<std::string> lines;
    } cases[] = {
        {"5551234", true,
         {"[Nerivale Connection] Message Received From Nerivale Port  PIN: 5551234 Provider: Acme SNPP" + msg,
          "[SNPP Connection] '' is not a valid port number \"5551234\" at  - ",
          "[SNPP Delivery Fail] '' is not a valid port number ID:  - 5551234 PIN:5551234 Provider: Acme SNPP" + fail}},
        {"12345", true,
         {"[Nerivale Connection] Message Received From Nerivale Port  PIN: 12345 Provider: Acme SNPP" + msg,
          "[SNPP Connection] '' is not a valid port number \"12345\" at  - ",
          "[SNPP Delivery Fail] '' is not a valid port number ID:  - 12345 PIN:12345 Provider: Acme SNPP" + fail}},
        {"7771", false, {"[System] Delivery Failed For PIN: 7771, Route \"Off\" Disabled! Page Discarded!"}},
        {"8881", false, {"[System] Delivery Failed For PIN: 8881, Provider \"Ghost\" Not Found! Page Discarded!"}},
        {"4441", false, {"[System] Delivery Failed For PIN: 4441, Provider \"tnpp\" Not Found! Page Discarded!"}},
        {"9991", false,
         {"[Nerivale Connection] Message Received From Nerivale Port  PIN: 9991 Provider: Dialup" + msg,
          "[TAP Delivery Error] No Modem Queues Available!"}},
        {"3331234", true,
         {"[Nerivale Connection] Message Received From Nerivale Port  PIN: 3331234 Provider: TNPP" + msg,
          "[TNPP Delivery Fail] Error Sending Message To \"Nerivale Server 1234\""}},
    };
    int accepted = 0;
    for (const auto& c : cases) {
        std::size_t logFrom = logTexts().size();
        std::size_t msgFrom = manager->count();
        command("cmd=test_page\r\npin=" + c.pin + "\r\n");
        ASSERT_TRUE(waitLog(c.lines.back())) << c.pin;
        auto texts = logTexts();
        EXPECT_EQ(std::vector<std::string>(texts.begin() + static_cast<long>(logFrom), texts.end()), c.lines)
            << c.pin;
        if (c.accepted) {
            ++accepted;
            EXPECT_TRUE(waitExact("cmd=cntrupd\r\ncounter=14\r\nvalue=" + std::to_string(accepted), msgFrom))
                << c.pin;
            EXPECT_TRUE(waitExact("cmd=cntrupd\r\ncounter=9\r\nvalue=" + std::to_string(accepted), msgFrom))
                << c.pin;
        }
    }
    auto counters = repliesTo("cmd=send_counters");
    ASSERT_EQ(counters.size(), 1u);
    EXPECT_NE(counters[0].find("\r\nctNerivaleInCount=3\r\n"), std::string::npos);
    EXPECT_NE(counters[0].find("\r\nctTransactionCount=0\r\n"), std::string::npos);
    // Finished workers are reaped while the engine runs.
    auto until = std::chrono::steady_clock::now() + 5s;
    while (engine->workerCount() > 0 && std::chrono::steady_clock::now() < until) {
        loop.pumpFor(5ms);
        engine->Timer2Timer();
    }
    EXPECT_EQ(engine->workerCount(), 0u);
}

TEST_F(EngineTest, NoRouteAtAllDiscardsThePage) {
    test::writeFile(dir / "NpaNxxRoute.dat", test::routeFile({{.name = "Five5", .npanxx = "55", .provider = "TNPP"}}));
    command("cmd=test_page\r\npin=123\r\n");
    EXPECT_TRUE(waitLog("[System] Delivery Failed For PIN: 123, Route Record not Found! Page Discarded!"));
    std::filesystem::remove(dir / "NpaNxxRoute.dat");
    command("cmd=test_page\r\npin=55\r\n");
    EXPECT_TRUE(waitLog("[System] Delivery Failed For PIN: 55, Route Record not Found! Page Discarded!"));
}

PageRecordPtr tapPage(const std::string& pin, const std::string& msg) {
    auto provider = std::make_unique<ProviderRec>();
    provider->setCompanyName("Dialup");
    provider->setDeliveryType(dtTapModem);
    return buildIntakePage(std::move(provider), nullptr, pin, msg, encoder::testPageBlock(pin, msg));
}

TEST_F(EngineTest, QueueTakesForcedPagesDropsDuplicatesAndClearQueuesEmptiesIt) {
    auto page = tapPage("123", "hi");
    EXPECT_FALSE(engine->AddToQueue(page, false));  // no outbound port thread runs
    ASSERT_TRUE(page);                              // still the caller's
    EXPECT_TRUE(engine->AddToQueue(page, true));
    EXPECT_FALSE(page);
    ASSERT_TRUE(waitExact("cmd=cntrupd\r\ncounter=11\r\nvalue=1"));
    auto same = tapPage("123", "hi");
    EXPECT_TRUE(engine->AddToQueue(same, true));  // a duplicate counts as queued
    EXPECT_EQ(engine->queueLength(), 1u);
    auto other = tapPage("123", "other text");
    EXPECT_TRUE(engine->AddToQueue(other, true));
    EXPECT_EQ(engine->queueLength(), 2u);
    ASSERT_TRUE(waitExact("cmd=cntrupd\r\ncounter=11\r\nvalue=2"));

    test::writeFile(dir / "hQueue.Dat", "old");
    std::size_t from = manager->count();
    command("cmd=clear_queues");
    EXPECT_TRUE(waitLog("[Operator Action] Message Queue Cleared!"));
    EXPECT_TRUE(waitExact("cmd=cntrupd\r\ncounter=11\r\nvalue=0", from));
    EXPECT_EQ(engine->queueLength(), 0u);
    EXPECT_FALSE(std::filesystem::exists(dir / "hQueue.Dat"));
}

TEST_F(EngineTest, StartAndStopLogTheirLinesInOrder) {
    // Lines of other threads (the inbound port) may fall in between: the engine
    // thread's own lines are checked in their order.
    auto engineLines = [this] {
        std::vector<std::string> out;
        for (auto& t : logTexts())
            if (t.rfind("[System] ", 0) == 0 && t.rfind("[System] Queue Services ", 0) != 0) out.push_back(t);
        return out;
    };
    ASSERT_TRUE(engine->StartServer());
    ASSERT_TRUE(waitLog("[System] All Services Active!"));
    EXPECT_EQ(engineLines(), (std::vector<std::string>{"[System] Nerivale Server Start Requested!",
                                                       "[System] Starting Pelmoar Services!",
                                                       "[System] All Services Active!"}));
    ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=ping"));
    ASSERT_TRUE(waitExact("cmd=ping"));
    std::size_t from = manager->count();
    engine.reset();
    EXPECT_EQ(engineLines(), (std::vector<std::string>{"[System] Nerivale Server Start Requested!",
                                                       "[System] Starting Pelmoar Services!",
                                                       "[System] All Services Active!",
                                                       "[System] Server ShutDown Requested",
                                                       "[System] Server ShutDown"}));
    EXPECT_TRUE(manager->waitForExact("cmd=cancelcall1\r\nvalue=0\r\n", 2s, from));
    EXPECT_FALSE(std::filesystem::exists(dir / "PelmoraServer"));
    // The spooler's own thread logs its start and its end.
    auto lines = logTexts();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[System] Queue Services Active, Ready To Spool Pages"), lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(), "[System] Queue Services Disabled"), lines.end());
}

}  // namespace
}  // namespace nv
