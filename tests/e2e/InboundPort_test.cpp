// ZQSvc with its inbound port on a pseudo-terminal: frames written by the
// sending equipment are echoed and answered, pages reach the intake, and the
// port comes back after the equipment's end went away.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::fromHex;

const std::string kAck = fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04");
const std::string kRefused = fromHex("01 0F") + "08" + fromHex("04");
const std::string kPort = "[Nerivale Connection] Nerivale Port ";

// The engine's own framing: SOH "A,1," PIN "," STX text ETX EOT CR LF.
std::string engineFrame(const std::string& pin, const std::string& text) {
    return fromHex("01") + "A,1," + pin + "," + fromHex("02") + text + fromHex("03 04 0D 0A");
}

class InboundPortTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeInstallFile(dir.path());
        test::writeFile(dir / "Config.Dat",
                        test::kInboundPortSection);
        test::writeFile(dir / "NpaNxxRoute.dat",
                        test::routeFile({
                            {.name = "Default", .npanxx = "0000000000", .provider = "TNPP"},
                            {.name = "Lost", .npanxx = "888", .provider = "Ghost"},
                            {.name = "Tap", .npanxx = "999", .provider = "Acme TAP"},
                        }));
        test::writeFile(dir / "Provider.dat", test::providerFile({{.name = "Acme TAP", .deliveryType = 1}}));
        link(*pty);
        manager = std::make_unique<test::FakeManager>(dir / "PelmoraConfig");
        service = std::make_unique<test::ZQSvcProcess>(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    }

    void link(test::PtyPair& p) {
        std::filesystem::remove(dir / "COM1");
        std::filesystem::create_symlink(p.slavePath(), dir / "COM1");
    }

    std::vector<std::string> logTexts() { return log.lines(); }
    std::size_t logCount(const std::string& text) { return log.occurrences(text); }
    bool waitLog(const std::string& text, std::size_t times = 1) { return log.waitForLine(text, times, 15s); }
    // The lines logged from `from` on, in order.
    std::vector<std::string> linesFrom(std::size_t from) {
        auto texts = logTexts();
        return std::vector<std::string>(texts.begin() + static_cast<long>(std::min(from, texts.size())),
                                        texts.end());
    }

    test::TempDir dir;
    test::LogWatch log{dir.path()};
    std::unique_ptr<test::PtyPair> pty = std::make_unique<test::PtyPair>();
    std::unique_ptr<test::FakeManager> manager;
    std::unique_ptr<test::ZQSvcProcess> service;
};

TEST_F(InboundPortTest, FramesAreAnsweredAsTheEncoderAnswers) {
    ASSERT_TRUE(waitLog(kPort + "Direct Access Port COM1 Open!")) << test::readFile(dir / "stderr.txt");
    auto texts = logTexts();
    auto at = [&](const std::string& t) { return std::find(texts.begin(), texts.end(), t) - texts.begin(); };
    EXPECT_LT(at("[Nerivale Connection] Starting Neri Vale Modem Services For Nerivale Port"),
              at(kPort + "Connecting to COM1"));
    EXPECT_LT(at(kPort + "Connecting to COM1"), at(kPort + "Direct Access Port COM1 Open!"));

    // Accepted: a page worker takes it.
    std::size_t from = logTexts().size();
    std::string frame = engineFrame("12345", "Hello");
    pty->write(frame);
    const std::string echo = frame.substr(0, frame.size() - 2);
    EXPECT_EQ(test::toHex(pty->read(echo.size() + kAck.size(), 15s)), test::toHex(echo + kAck));
    ASSERT_TRUE(waitLog(kPort + "Msg. Submitted For Processing - 12345,Hello"));
    auto lines = linesFrom(from);
    // The worker's own line may come anywhere after the intake's.
    std::erase_if(lines, [](const std::string& l) { return l.rfind("[TNPP Delivery", 0) == 0; });
    EXPECT_EQ(lines, (std::vector<std::string>{
                         kPort + "Verifing Account", kPort + "Block Received",
                         "[Nerivale Connection] Message Received From Nerivale Port  PIN: 12345 Provider: TNPP "
                         "Message: Hello",
                         kPort + "Msg. Submitted For Processing - 12345,Hello"}));
    EXPECT_TRUE(manager->waitForExact("cmd=cntrupd\r\ncounter=14\r\nvalue=1", 10s));

    // Refused by the intake: the whole block is echoed, then "08".
    struct Case {
        std::string pin;
        std::string line;
    } cases[] = {
        {"8881", "[System] Delivery Failed For PIN: 8881, Provider \"Ghost\" Not Found! Page Discarded!"},
        {"9991", "[TAP Delivery Error] No Modem Queues Available!"},
    };
    for (const auto& c : cases) {
        frame = engineFrame(c.pin, "Hello");
        pty->write(frame);
        EXPECT_EQ(test::toHex(pty->read(frame.size() - 2 + kRefused.size(), 15s)),
                  test::toHex(frame.substr(0, frame.size() - 2) + kRefused))
            << c.pin;
        EXPECT_TRUE(waitLog(kPort + "Msg. Processing Error - " + c.pin + ",Hello")) << c.pin;
        EXPECT_EQ(logCount(c.line), 1u) << c.pin;
    }

    service->signal(SIGTERM);
    EXPECT_EQ(service->waitExit(20s), std::optional<int>(0));
    texts = logTexts();
    EXPECT_LT(at(kPort + "Thread Shutdown"), at(kPort + "Inbound Calls Disabled"));
    EXPECT_LT(at(kPort + "Inbound Calls Disabled"), at("[System] Server ShutDown"));
    EXPECT_EQ(logCount(kPort + "Inbound Calls Disabled"), 1u);
}

TEST_F(InboundPortTest, PortComesBackAfterTheEquipmentsEndWentAway) {
    ASSERT_TRUE(waitLog(kPort + "Direct Access Port COM1 Open!")) << test::readFile(dir / "stderr.txt");
    // The link names nothing while the equipment is away, so a reused pty
    // number is never opened.
    std::filesystem::remove(dir / "COM1");
    std::filesystem::create_symlink(dir / "away", dir / "COM1");
    pty.reset();
    ASSERT_TRUE(waitLog(kPort + "Comport Error, Port Shutting Down"));
    ASSERT_TRUE(waitLog(kPort + "Error establishing connection!"));
    pty = std::make_unique<test::PtyPair>();
    link(*pty);
    ASSERT_TRUE(waitLog(kPort + "Direct Access Port COM1 Open!", 2));
    const std::string frame = engineFrame("12345", "again");
    pty->write(frame);
    const std::string echo = frame.substr(0, frame.size() - 2);
    EXPECT_EQ(test::toHex(pty->read(echo.size() + kAck.size(), 15s)), test::toHex(echo + kAck));
    EXPECT_EQ(logCount(kPort + "Error establishing connection!"), 1u);
    EXPECT_EQ(logCount(kPort + "Inbound Calls Disabled"), 0u);
    service->signal(SIGTERM);
    EXPECT_EQ(service->waitExit(20s), std::optional<int>(0));
}

}  // namespace
}  // namespace nv
