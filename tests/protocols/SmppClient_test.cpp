#include "protocols/SmppClient.h"

#include <gtest/gtest.h>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/SmppCentre.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;

SmppClient::Settings settingsFor(std::uint16_t port, int protocol = SmppClient::kSmpp) {
    SmppClient::Settings s;
    s.server = "127.0.0.1";
    s.port = port;
    s.userId = "user";
    s.password = "secret";
    s.protocol = protocol;
    return s;
}

TEST(SmppClient, BindSubmitUnbindOnOneConnection) {
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s)) << client.lastError();
    std::string id;
    ASSERT_TRUE(client.sendMessage("5551234", "(1 of 2)  Hello", id)) << client.lastError();
    EXPECT_EQ(id, "MSG1");
    client.disconnect();

    auto got = centre.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].commandId, smpp::kBindTransmitter);
    EXPECT_EQ(got[0].body, std::string("user\0secret\0PRI\0\x34\0\0\0", 20));
    EXPECT_EQ(got[1].commandId, smpp::kSubmitSm);
    EXPECT_EQ(test::SmppCentre::submitDestination(got[1].body), "5551234");
    EXPECT_EQ(test::SmppCentre::submitText(got[1].body), "(1 of 2)  Hello");
    EXPECT_EQ(got[2].commandId, smpp::kUnbind);
}

TEST(SmppClient, RefusedBindAndSubmitFail) {
    struct Case { std::uint32_t bindStatus; std::uint32_t submitStatus; bool connects; std::string error; };
    const Case cases[] = {
        {0x0E, 0, false, "ESME_RINVPASWD"},
        {0, 0x45, true, "ESME_RSUBMITFAIL"},
    };
    for (const auto& c : cases) {
        test::SmppCentre centre;
        centre.bindStatus = c.bindStatus;
        centre.submitStatus = c.submitStatus;
        test::LoopbackServer server([&](test::PeerConnection& conn) { centre.serve(conn); });
        SmppClient client(settingsFor(server.port()));
        bool connected = client.connect(2s);
        EXPECT_EQ(connected, c.connects);
        if (connected) {
            std::string id;
            EXPECT_FALSE(client.sendMessage("1", "x", id));
        }
        EXPECT_NE(client.lastError().find(c.error), std::string::npos) << client.lastError();
        client.disconnect();
    }
}

TEST(SmppClient, SilentCentreTimesOut) {
    test::SmppCentre centre;
    centre.answerBind = false;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    SmppClient client(settingsFor(server.port()));
    EXPECT_FALSE(client.connect(200ms));
    EXPECT_EQ(client.lastError(), "Error, No Responce From Host");
}

TEST(SmppClient, CancelEndsTheWait) {
    test::SmppCentre centre;
    centre.answerBind = false;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    std::atomic<bool> cancel{true};
    SmppClient client(settingsFor(server.port()));
    client.setCancelFlag(&cancel);
    EXPECT_FALSE(client.connect(5s));
    EXPECT_EQ(client.lastError(), "Call Aborted By User!");
}

TEST(SmppClient, EnquireLinkIsAnsweredWhileWaiting) {
    test::SmppCentre centre;
    centre.enquireBeforeSubmitResp = true;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s));
    std::string id;
    ASSERT_TRUE(client.sendMessage("1", "x", id)) << client.lastError();
    client.disconnect();
    auto got = centre.received();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[2].commandId, smpp::kEnquireLinkResp);
    EXPECT_EQ(got[2].sequence, 900u);
}

TEST(SmppClient, StatusQuerySendsTheIdAskedAbout) {
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s));
    SmppClient::MessageStatus st;
    ASSERT_TRUE(client.checkMessageStatus("ABC9", "555", st)) << client.lastError();
    EXPECT_EQ(st.messageState, 6);
    EXPECT_EQ(st.messageId, "ABC9");
    client.disconnect();
    auto got = centre.received();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[1].commandId, smpp::kQuerySm);
    EXPECT_EQ(got[1].body.substr(0, 5), std::string("ABC9\0", 5));
}

TEST(SmppClient, WorksOverTls) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    test::SmppCentre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); }, &cert);
    auto s = settingsFor(server.port());
    s.tls.enabled = true;
    SmppClient client(s);
    ASSERT_TRUE(client.connect(3s)) << client.lastError();
    std::string id;
    EXPECT_TRUE(client.sendMessage("1", "x", id));
    client.disconnect();
}

TEST(SmppClient, Cimd2LoginSubmitEnquireLogout) {
    test::Cimd2Centre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    SmppClient client(settingsFor(server.port(), SmppClient::kCimd2));
    ASSERT_TRUE(client.connect(2s)) << client.lastError();
    std::string id;
    ASSERT_TRUE(client.sendMessage("555", "a@b", id)) << client.lastError();
    EXPECT_EQ(id, "261210120001");
    SmppClient::MessageStatus st;
    ASSERT_TRUE(client.checkMessageStatus(id, "555", st));
    EXPECT_EQ(st.messageState, 2);  // delivered
    client.disconnect();

    auto log = centre.received();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].operation, 1);
    EXPECT_EQ(log[0].number, 1);
    EXPECT_EQ(log[0].params[10], "user");
    EXPECT_EQ(log[1].params[33], "a_Oab");
    EXPECT_EQ(log[1].number, 3);
    EXPECT_EQ(log[2].params[60], "261210120001");
    EXPECT_EQ(log[2].params[21], "555");
    EXPECT_EQ(log[3].operation, 2);
}

TEST(SmppClient, Cimd2BadPasswordFails) {
    test::Cimd2Centre centre;
    test::LoopbackServer server([&](test::PeerConnection& c) { centre.serve(c); });
    auto s = settingsFor(server.port(), SmppClient::kCimd2);
    s.password = "wrong";
    SmppClient client(s);
    EXPECT_FALSE(client.connect(2s));
    EXPECT_EQ(client.lastError(), "CIMD2 error 100 Invalid login");
}

}  // namespace
}  // namespace nv
