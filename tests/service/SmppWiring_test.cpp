// SMPP pages (type 12) through the engine: the page worker and the port
// threads hand them to the SMPP sender with the provider record's settings,
// and log and count the result; a scripted message centre answers.
#include <gtest/gtest.h>

#include "protocols/SmppPdu.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/peers/SmppCentre.h"
#include "tests/service/InetEngine.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

test::ProviderFields smppProvider(const std::string& name, std::uint16_t port, const std::string& user) {
    return {.name = name,
            .type = dtSmpp,
            .texts = {{test::kSMPPServer, "127.0.0.1"}, {test::kSMPPUserName, user}, {test::kSMPPPassword, "pw"}},
            .ints = {{test::kSMPPort, port}, {test::kSMPPSecureMode, -1}}};
}

std::vector<test::SmppRecord> ofCommand(const std::vector<test::SmppRecord>& all, std::uint32_t id) {
    std::vector<test::SmppRecord> out;
    for (const auto& r : all)
        if (r.commandId == id) out.push_back(r);
    return out;
}

class SmppWiringTest : public test::InetEngineTest {};

TEST_F(SmppWiringTest, WorkerSendsAndQueriesWithTheProvidersAccount) {
    struct Case {
        const char* name;
        std::string message;
        std::string linePrefix;
    } cases[] = {
        {"page", "hi there",
         "[SMPP Delivery OK] Message Sent Successfully ID: MSG1 - 5551234 PIN:5551234 Msg: hi there"},
        {"status query", "MSTA MSG7", "[SMPP Delivery OK] Message Delivered and Read by Recipient ID: "},
    };
    for (const auto& c : cases) {
        test::SmppCentre centre;
        test::LoopbackServer server([&](test::PeerConnection& conn) { centre.serve(conn); });
        makeEngine();
        route("Smsc");
        providers({smppProvider("Smsc", server.port(), "acct")});
        page("5551234", c.message);
        const std::string line = waitLine("[SMPP Delivery");
        EXPECT_EQ(line.substr(0, c.linePrefix.size()), c.linePrefix) << c.name;
        settle();
        EXPECT_EQ(engine->counters().SMPPCount, 1) << c.name;
        EXPECT_EQ(engine->counters().TransactionCount, 1) << c.name;
        EXPECT_EQ(engine->counters().ErrorCount, 0) << c.name;
        EXPECT_EQ(test::providerInt(test::readFile(dir / "Provider.dat"), 0, test::kPageCount), 1) << c.name;

        const auto got = centre.received();
        const auto binds = ofCommand(got, smpp::kBindTransmitter);
        ASSERT_EQ(binds.size(), 1u) << c.name;
        // system_id, password, system_type "PRI", interface version 0x34.
        EXPECT_EQ(binds[0].body.substr(0, 12), std::string("acct\0pw\0PRI\0", 12)) << c.name;
        EXPECT_EQ(binds[0].body[12], '\x34') << c.name;
        if (c.message.starts_with("MSTA ")) {
            const auto queries = ofCommand(got, smpp::kQuerySm);
            ASSERT_EQ(queries.size(), 1u) << c.name;
            EXPECT_EQ(queries[0].body.substr(0, 5), std::string("MSG7\0", 5)) << c.name;
            EXPECT_TRUE(ofCommand(got, smpp::kSubmitSm).empty()) << c.name;
        } else {
            const auto submits = ofCommand(got, smpp::kSubmitSm);
            ASSERT_EQ(submits.size(), 1u) << c.name;
            EXPECT_EQ(test::SmppCentre::submitDestination(submits[0].body), "5551234") << c.name;
            EXPECT_EQ(test::SmppCentre::submitText(submits[0].body), "hi there") << c.name;
        }
    }
}

TEST_F(SmppWiringTest, RefusedWorkerPageWithoutSecondaryFails) {
    test::SmppCentre centre;
    centre.bindStatus = 0x0E;  // ESME_RINVPASWD
    test::LoopbackServer server([&](test::PeerConnection& conn) { centre.serve(conn); });
    makeEngine();
    route("Smsc");
    providers({smppProvider("Smsc", server.port(), "acct")});
    page("5551234", "hi");
    EXPECT_EQ(waitLine("[SMPP Delivery"),
              "[SMPP Delivery Fail] Error, Conecting To Host: ESME_RINVPASWD (0x0000000E) ID:  - 5551234 "
              "PIN:5551234 Provider: Smsc Msg: hi");
    EXPECT_EQ(linesStarting("[SMPP Connection] Error, Conecting To Host: ").size(), 1u);
    settle();
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(engine->counters().SMPPCount, 0);
}

// The worker's failed page goes through the queue to a port thread, which
// tries the primary once more and then sends by SMPP to the secondary.
TEST_F(SmppWiringTest, FailedPageGoesToItsSecondaryProvider) {
    test::SmppCentre refusing, backup;
    refusing.bindStatus = 0x0E;
    test::LoopbackServer refusingServer([&](test::PeerConnection& conn) { refusing.serve(conn); });
    test::LoopbackServer backupServer([&](test::PeerConnection& conn) { backup.serve(conn); });
    route("Refuser", "Backup");
    providers({smppProvider("Refuser", refusingServer.port(), "one"), smppProvider("Backup", backupServer.port(), "two")});
    makeEngine({{.name = "Modem1"}});
    page("5551234", "hi");
    EXPECT_EQ(waitLine("[SMPP Delivery OK] "),
              "[SMPP Delivery OK] Modem1 Message Sent Successfully ID: MSG1 - Nerivale Server PIN:5551234 Msg: hi");
    const Lines errors = linesStarting("[SMPP Delivery Error] ");
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0], "[SMPP Delivery Error] Error, Conecting To Host: ESME_RINVPASWD (0x0000000E) ID:  - 5551234 "
                         "PIN:5551234 Provider: Refuser Msg: hi");
    EXPECT_EQ(errors[1], "[SMPP Delivery Error] Error, Conecting To Host: ESME_RINVPASWD (0x0000000E) ID:  - "
                         "Nerivale Server PIN: 5551234 Msg: hi");
    EXPECT_EQ(linesStarting("[SMPP Transaction]"),
              Lines{"[SMPP Transaction]Modem1 Error Sending Message To \"Nerivale Server 5551234\""});
    EXPECT_EQ(refusingServer.acceptedCount(), 2);
    const auto submits = ofCommand(backup.received(), smpp::kSubmitSm);
    ASSERT_EQ(submits.size(), 1u);
    EXPECT_EQ(test::SmppCentre::submitDestination(submits[0].body), "5551234");
    settle();
    EXPECT_EQ(engine->counters().SMPPCount, 1);
    EXPECT_EQ(engine->counters().TransactionCount, 1);
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    engine->StopServer();
}

}  // namespace
}  // namespace nv
