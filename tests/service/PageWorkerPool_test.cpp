// The bounded page workers, seen from outside: SNPP pages beyond the bound
// wait and go in arrival order as workers come free; pages still waiting at
// stop are kept in hQueue.Dat and go to the workers at the next start.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>

#include "service/QueueFile.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/service/InetEngine.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

constexpr std::size_t kSNPPServer = 429, kSNPPPort = 685, kSNPPSecure = 2543;

// An SNPP server that holds its answer to each PAGE line until the test lets
// it go, in the order the PAGE lines came; everything else is answered at once.
class HoldingSnppServer {
public:
    HoldingSnppServer() : m_server([this](test::PeerConnection& c) { serve(c); }) {}
    ~HoldingSnppServer() {
        releaseAll();
        m_server.stop();
    }
    std::uint16_t port() const { return m_server.port(); }

    // The PINs of the PAGE lines, in arrival order.
    std::vector<std::string> pins() const {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_pins;
    }
    bool waitPins(std::size_t n) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_changed.wait_for(lock, std::chrono::seconds(20), [&] { return m_pins.size() >= n; });
    }
    // Lets the next held PAGE (in arrival order) be answered.
    void releaseOne() {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_released;
        m_changed.notify_all();
    }
    void releaseAll() {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_released = static_cast<std::size_t>(-1);
        m_changed.notify_all();
    }

private:
    void serve(test::PeerConnection& c) {
        if (!c.send("220 SNPP Gateway Ready\r\n")) return;
        for (;;) {
            std::string line = c.recvUntil("\r\n", std::chrono::seconds(30));
            if (line.size() < 2 || line.substr(line.size() - 2) != "\r\n") return;
            line.resize(line.size() - 2);
            std::string verb = line.substr(0, line.find(' '));
            for (auto& ch : verb) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            if (verb == "PAGE") {
                std::unique_lock<std::mutex> lock(m_mutex);
                const std::size_t ticket = m_pins.size();
                m_pins.push_back(line.substr(5));
                m_changed.notify_all();
                m_changed.wait(lock, [&] { return m_released > ticket; });
                lock.unlock();
                c.send("250 Pager ID Accepted\r\n");
            } else if (verb == "QUIT") {
                c.send("221 OK, Goodbye\r\n");
                return;
            } else if (verb == "SEND") {
                c.send("250 Message Sent Successfully\r\n");
            } else {
                c.send("250 OK\r\n");
            }
        }
    }

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<std::string> m_pins;
    std::size_t m_released = 0;
    test::LoopbackServer m_server;
};

class PageWorkerPoolTest : public test::InetEngineTest {
protected:
    void snppProvider(std::uint16_t port) {
        route("Snppco");
        providers({{.name = "Snppco",
                    .type = dtSnpp,
                    .texts = {{kSNPPServer, "127.0.0.1"}, {kSNPPPort, std::to_string(port)}},
                    .ints = {{kSNPPSecure, -1}},
                    .msgLength = 200}});
    }
    // An engine with at most `workers` page workers; the log of earlier
    // engines in the folder stays.
    void startEngine(std::size_t workers) {
        engine.reset();
        EngineOptions o = test::inProcessOptions(dir.path(), clock, 10000ms);
        o.snpp.connectWait = 5000ms;
        o.snpp.replyWait = 20000ms;
        o.snpp.partPause = 1ms;
        o.outbound = test::fastOutboundTiming();
        o.pageWorkers = workers;
        engine = std::make_unique<TNerivaleSvcMain>(loop, o);
        engine->StartServer();
    }
    static std::string pin(int i) { return "55500" + std::to_string(i); }
};

TEST_F(PageWorkerPoolTest, PagesBeyondTheBoundWaitAndGoInArrivalOrder) {
    HoldingSnppServer server;
    snppProvider(server.port());
    startEngine(2);
    for (int i = 1; i <= 5; ++i) page(pin(i), "m" + std::to_string(i));
    // Two workers, each held on the wire: the other three pages wait.
    ASSERT_TRUE(server.waitPins(2));
    EXPECT_EQ(engine->pagesWaitingForWorkers(), 3u);
    auto first = server.pins();
    std::sort(first.begin(), first.end());
    EXPECT_EQ(first, (std::vector<std::string>{pin(1), pin(2)}));
    // Each answer frees a worker, which takes the next page in arrival order.
    for (int i = 3; i <= 5; ++i) {
        server.releaseOne();
        ASSERT_TRUE(server.waitPins(static_cast<std::size_t>(i)));
        EXPECT_EQ(server.pins()[static_cast<std::size_t>(i - 1)], pin(i));
    }
    server.releaseAll();
    const auto ok = waitLines("[SNPP Delivery OK] ", 5);
    ASSERT_EQ(ok.size(), 5u);
    for (int i = 1; i <= 5; ++i)
        EXPECT_EQ(std::count_if(ok.begin(), ok.end(),
                                [&](const std::string& l) { return l.find(" - " + pin(i) + " PIN:") != std::string::npos; }),
                  1)
            << pin(i);
    settle();
    EXPECT_EQ(engine->counters().SNPPCount, 5);
    EXPECT_EQ(engine->pagesWaitingForWorkers(), 0u);
}

TEST_F(PageWorkerPoolTest, PagesWaitingAtStopAreKeptAndGoToTheWorkersAtTheNextStart) {
    HoldingSnppServer server;
    snppProvider(server.port());
    startEngine(1);
    for (int i = 1; i <= 3; ++i) page(pin(i), "m" + std::to_string(i));
    ASSERT_TRUE(server.waitPins(1));
    EXPECT_EQ(engine->pagesWaitingForWorkers(), 2u);
    // The stop ends the page on the wire (its Fail line) and keeps the two
    // that never started.
    engine.reset();
    const auto fail = linesStarting("[SNPP Delivery Fail] ");
    ASSERT_EQ(fail.size(), 1u);
    EXPECT_NE(fail[0].find(pin(1)), std::string::npos) << fail[0];
    EXPECT_FALSE(log.has("[System] 2 Queued Pages Kept In hQueue.Dat For The Next Start"));
    EXPECT_TRUE(log.has("[System] 2 Pages Waiting For A Page Worker Kept In hQueue.Dat For The Next Start"));
    std::vector<SavedPage> kept;
    std::string error;
    ASSERT_TRUE(decodeQueueFile(test::readFile(dir / "hQueue.Dat"), kept, error)) << error;
    ASSERT_EQ(kept.size(), 2u);
    EXPECT_EQ(kept[0].page->MessageText, "m2");
    EXPECT_EQ(kept[1].page->MessageText, "m3");
    EXPECT_TRUE(kept[0].forWorker && kept[1].forWorker);

    // The next start hands them to the workers, in their order.
    server.releaseAll();
    startEngine(1);
    EXPECT_EQ(waitLines("[SNPP Delivery OK] ", 2).size(), 2u);
    EXPECT_TRUE(log.has("[System] 2 Pages Restored From hQueue.Dat Handed To The Page Workers"));
    EXPECT_FALSE(std::filesystem::exists(dir / "hQueue.Dat"));
    EXPECT_EQ(server.pins(), (std::vector<std::string>{pin(1), pin(2), pin(3)}));
    settle();
    EXPECT_EQ(engine->counters().SNPPCount, 2);
}

}  // namespace
}  // namespace nv
