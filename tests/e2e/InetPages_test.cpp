// The whole ZQSvc program delivers test pages by WCTP, e-mail and SMPP to
// loopback peers: the program's own set-up of the internet pager, Config.Dat
// read per page, and the page workers' lines.
#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>
#include <optional>

#include "tests/e2e/ZQSvcProcess.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/peers/TestSupport.h"
#include "tests/peers/WctpReplies.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kHeader = 57, kProviderSize = 2871;

void putText(std::string& file, std::size_t rec, std::size_t off, const std::string& text) {
    const std::size_t at = kHeader + rec * kProviderSize + off;
    file[at] = static_cast<char>(text.size());
    file.replace(at + 1, text.size(), text);
}
void putInt32(std::string& file, std::size_t rec, std::size_t off, std::int32_t v) {
    std::memcpy(&file[kHeader + rec * kProviderSize + off], &v, 4);
}

TEST(ZQSvcInetPages, TestPagesGoOutByWctpMailAndSmpp) {
    test::TempDir dir;
    test::LogWatch log{dir.path()};
    test::HttpPeer wctp;
    wctp.setReply({200, "OK", test::kWctpClientSuccess});
    test::SmtpPeer smtp;
    test::SmppCentre centre;
    test::LoopbackServer smsc([&](test::PeerConnection& c) { centre.serve(c); });

    test::writeInstallFile(dir.path());
    test::writeFile(dir / "Config.Dat", "[Nerivale Port]\r\nEnabled=0\r\n[SMTP]\r\nEnabled=1\r\nServer=127.0.0.1\r\n"
                                        "Port=" + std::to_string(smtp.port()) + "\r\n");
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "Acme WCTP"},
                                     {.name = "Mail", .npanxx = "2", .provider = "E-Page", .eddr = "@example.com"},
                                     {.name = "Short", .npanxx = "3", .provider = "Acme SMPP"}}));
    std::string providers = test::providerFile({{.name = "Acme WCTP", .deliveryType = 3},
                                                {.name = "Acme SMPP", .deliveryType = 12}});
    putText(providers, 0, 713, "http://127.0.0.1:" + std::to_string(wctp.port()) + "/wctp");  // WCTPServer
    putText(providers, 1, 2607, "127.0.0.1");                                                // SMPPServer
    putText(providers, 1, 2547, "acct");                                                     // SMPPUserName
    putInt32(providers, 1, 2863, smsc.port());                                               // SMPPort
    putInt32(providers, 1, 2867, -1);                                                        // plain TCP
    test::writeFile(dir / "Provider.dat", providers);

    test::FakeManager manager(dir / "PelmoraConfig");
    test::ZQSvcProcess service(ZQSVC_PATH, dir / "Nerivale.ini", dir.path());
    ASSERT_TRUE(log.waitForLine("[System] Nerivale Server Started", 1, 15s)) << test::readFile(dir / "stderr.txt");

    const std::string msg = " Msg: Nerivale Server Test Message";
    struct Case {
        std::string pin, line;
    } cases[] = {
        {"1555", "[WCTP Delivery OK] Message Accepted ID: T42 - 1555 PIN:1555" + msg},
        {"2555", "[SMTP Delivery OK]  ID:  - 2555@example.com PIN:2555@example.com" + msg},
        {"3555", "[SMPP Delivery OK] Message Sent Successfully ID: MSG1 - 3555 PIN:3555" + msg},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(test::sendCommand(dir / "PelmoraServer", "cmd=test_page\r\npin=" + c.pin + "\r\n"));
        EXPECT_TRUE(log.waitForLine(c.line, 1, 15s)) << c.pin;
    }
    EXPECT_EQ(wctp.requests().size(), 1u);
    ASSERT_EQ(smtp.messages().size(), 1u);
    EXPECT_EQ(smtp.messages()[0].rcpts, std::vector<std::string>{"2555@example.com"});
    service.signal(SIGTERM);
    EXPECT_EQ(service.waitExit(20s), std::optional<int>(0));
}

}  // namespace
}  // namespace nv
