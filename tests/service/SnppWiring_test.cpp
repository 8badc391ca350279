// SNPP pages a port thread sends for the secondary provider: the port thread
// hands them to the engine's SNPP sender with the provider record's settings.
#include <gtest/gtest.h>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/SnppPeer.h"
#include "tests/service/InetEngine.h"

namespace nv {
namespace {

constexpr std::size_t kSNPPServer = 429, kSNPPPort = 685, kSNPPSecure = 2543;

class SnppWiringTest : public test::InetEngineTest {};

TEST_F(SnppWiringTest, PortThreadSendsTheSecondaryPageBySnpp) {
    test::SmppCentre refusing;
    refusing.bindStatus = 0x0E;
    test::LoopbackServer refusingServer([&](test::PeerConnection& conn) { refusing.serve(conn); });
    test::SnppPeer snpp(test::SnppPeer::Script{});
    route("Refuser", "Snppco");
    providers({{.name = "Refuser",
                .type = dtSmpp,
                .texts = {{test::kSMPPServer, "127.0.0.1"}, {test::kSMPPUserName, "u"}, {test::kSMPPPassword, "pw"}},
                .ints = {{test::kSMPPort, refusingServer.port()}, {test::kSMPPSecureMode, -1}}},
               {.name = "Snppco",
                .type = dtSnpp,
                .texts = {{kSNPPServer, "127.0.0.1"}, {kSNPPPort, std::to_string(snpp.port())}},
                .ints = {{kSNPPSecure, -1}},
                .msgLength = 200}});
    makeEngine({{.name = "Modem1"}});
    page("5551234", "hi");
    EXPECT_FALSE(waitLine("[SNPP Delivery OK] ").empty());
    ASSERT_GE(snpp.connections(), 1);
    const auto lines = snpp.lines(1);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Page 5551234"), lines.end()) << ::testing::PrintToString(lines);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Mess hi"), lines.end()) << ::testing::PrintToString(lines);
    settle();
    EXPECT_EQ(engine->counters().SNPPCount, 1);
    engine->StopServer();
}

}  // namespace
}  // namespace nv
