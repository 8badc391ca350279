#include "protocols/SmppClient.h"

#include <gtest/gtest.h>

#include <mutex>
#include <vector>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::fromHex;

std::uint32_t u32(const std::string& s, std::size_t at) {
    return (std::uint32_t(static_cast<unsigned char>(s[at])) << 24) |
           (std::uint32_t(static_cast<unsigned char>(s[at + 1])) << 16) |
           (std::uint32_t(static_cast<unsigned char>(s[at + 2])) << 8) |
           std::uint32_t(static_cast<unsigned char>(s[at + 3]));
}

std::string be32(std::uint32_t v) {
    std::string out;
    for (int sh = 24; sh >= 0; sh -= 8) out += static_cast<char>((v >> sh) & 0xFF);
    return out;
}

std::string pdu(std::uint32_t id, std::uint32_t status, std::uint32_t seq, const std::string& body = {}) {
    return be32(static_cast<std::uint32_t>(16 + body.size())) + be32(id) + be32(status) + be32(seq) + body;
}

// A scripted SMPP centre: records every PDU it gets and answers as told.
struct SmppScript {
    std::uint32_t bindStatus = 0;
    std::uint32_t submitStatus = 0;
    bool answerBind = true;
    bool enquireBeforeSubmitResp = false;
    int queryState = 6;
    std::mutex mutex;
    std::vector<smpp::Pdu> received;

    void serve(test::PeerConnection& c) {
        for (;;) {
            std::string head = c.recv(16, 3s);
            if (head.size() < 16) return;
            std::string body = c.recv(u32(head, 0) - 16, 3s);
            smpp::Pdu p;
            p.header = {u32(head, 0), u32(head, 4), u32(head, 8), u32(head, 12)};
            p.body = body;
            {
                std::lock_guard lock(mutex);
                received.push_back(p);
            }
            std::uint32_t seq = p.header.sequence;
            switch (p.header.commandId) {
                case smpp::kBindTransmitter:
                    if (!answerBind) {
                        c.drain(5s);
                        return;
                    }
                    c.send(pdu(smpp::kBindTransmitterResp, bindStatus, seq, std::string("SMSC\0", 5)));
                    break;
                case smpp::kSubmitSm:
                    if (enquireBeforeSubmitResp) {
                        c.send(pdu(smpp::kEnquireLink, 0, 900));
                        std::string resp = c.recv(16, 3s);
                        std::lock_guard lock(mutex);
                        smpp::Pdu r;
                        r.header = {u32(resp, 0), u32(resp, 4), u32(resp, 8), u32(resp, 12)};
                        received.push_back(r);
                    }
                    c.send(pdu(smpp::kSubmitSmResp, submitStatus, seq,
                               submitStatus ? std::string() : std::string("MSG42\0", 6)));
                    break;
                case smpp::kQuerySm:
                    c.send(pdu(smpp::kQuerySmResp, 0, seq,
                               std::string("MSG42\0", 6) + std::string("\0", 1) +
                                   static_cast<char>(queryState) + std::string("\0", 1)));
                    break;
                case smpp::kUnbind:
                    c.send(pdu(smpp::kUnbindResp, 0, seq));
                    return;
                default:
                    break;
            }
        }
    }
    std::vector<smpp::Pdu> pdus() {
        std::lock_guard lock(mutex);
        return received;
    }
};

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
    SmppScript script;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s)) << client.lastError();
    std::string id;
    ASSERT_TRUE(client.sendMessage("5551234", "(1 of 2)  Hello", id)) << client.lastError();
    EXPECT_EQ(id, "MSG42");
    client.disconnect();

    auto got = script.pdus();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].header.commandId, smpp::kBindTransmitter);
    EXPECT_EQ(got[0].body, std::string("user\0secret\0PRI\0\x34\0\0\0", 20));
    EXPECT_EQ(got[1].header.commandId, smpp::kSubmitSm);
    EXPECT_NE(got[1].body.find(std::string("5551234\0", 8)), std::string::npos);
    EXPECT_EQ(got[1].body.substr(got[1].body.size() - 16), std::string("\x0F") + "(1 of 2)  Hello");
    EXPECT_EQ(got[2].header.commandId, smpp::kUnbind);
}

TEST(SmppClient, RefusedBindAndSubmitFail) {
    struct Case { std::uint32_t bindStatus; std::uint32_t submitStatus; bool connects; std::string error; };
    const Case cases[] = {
        {0x0E, 0, false, "ESME_RINVPASWD"},
        {0, 0x45, true, "ESME_RSUBMITFAIL"},
    };
    for (const auto& c : cases) {
        SmppScript script;
        script.bindStatus = c.bindStatus;
        script.submitStatus = c.submitStatus;
        test::LoopbackServer server([&](test::PeerConnection& conn) { script.serve(conn); });
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
    SmppScript script;
    script.answerBind = false;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); });
    SmppClient client(settingsFor(server.port()));
    EXPECT_FALSE(client.connect(200ms));
    EXPECT_EQ(client.lastError(), "Error, No Responce From Host");
}

TEST(SmppClient, CancelEndsTheWait) {
    SmppScript script;
    script.answerBind = false;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); });
    std::atomic<bool> cancel{true};
    SmppClient client(settingsFor(server.port()));
    client.setCancelFlag(&cancel);
    EXPECT_FALSE(client.connect(5s));
    EXPECT_EQ(client.lastError(), "Call Aborted By User!");
}

TEST(SmppClient, EnquireLinkIsAnsweredWhileWaiting) {
    SmppScript script;
    script.enquireBeforeSubmitResp = true;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s));
    std::string id;
    ASSERT_TRUE(client.sendMessage("1", "x", id)) << client.lastError();
    client.disconnect();
    auto got = script.pdus();
    ASSERT_GE(got.size(), 3u);
    EXPECT_EQ(got[2].header.commandId, smpp::kEnquireLinkResp);
    EXPECT_EQ(got[2].header.sequence, 900u);
}

TEST(SmppClient, StatusQuerySendsTheIdAskedAbout) {
    SmppScript script;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); });
    SmppClient client(settingsFor(server.port()));
    ASSERT_TRUE(client.connect(2s));
    SmppClient::MessageStatus st;
    ASSERT_TRUE(client.checkMessageStatus("ABC9", "555", st)) << client.lastError();
    EXPECT_EQ(st.messageState, 6);
    client.disconnect();
    auto got = script.pdus();
    ASSERT_GE(got.size(), 2u);
    EXPECT_EQ(got[1].header.commandId, smpp::kQuerySm);
    EXPECT_EQ(got[1].body.substr(0, 5), std::string("ABC9\0", 5));
}

TEST(SmppClient, WorksOverTls) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    SmppScript script;
    test::LoopbackServer server([&](test::PeerConnection& c) { script.serve(c); }, &cert);
    auto s = settingsFor(server.port());
    s.tls.enabled = true;
    SmppClient client(s);
    ASSERT_TRUE(client.connect(3s)) << client.lastError();
    std::string id;
    EXPECT_TRUE(client.sendMessage("1", "x", id));
    client.disconnect();
}

// A scripted CIMD2 centre: the password "secret" logs in.
void serveCimd(test::PeerConnection& c, std::vector<cimd2::Packet>& log, std::mutex& m) {
    std::string buf;
    for (;;) {
        cimd2::Packet p;
        auto r = cimd2::takePacket(buf, p);
        if (r != cimd2::Parse::Complete) {
            std::string more = c.recv(1, 3s);
            if (more.empty()) return;
            buf += more;
            continue;
        }
        {
            std::lock_guard lock(m);
            log.push_back(p);
        }
        cimd2::Packet resp{p.operation + 50, p.number, {}};
        if (p.operation == cimd2::kLogin && p.param(cimd2::kPassword) != "secret")
            resp.params = {{cimd2::kErrorCode, "100"}, {cimd2::kErrorText, "Invalid login"}};
        if (p.operation == cimd2::kSubmit)
            resp.params = {{cimd2::kDestinationAddress, *p.param(cimd2::kDestinationAddress)},
                           {cimd2::kServiceCentreTimeStamp, "261210120000"}};
        if (p.operation == cimd2::kEnquireStatus)
            resp.params = {{cimd2::kDestinationAddress, "555"}, {cimd2::kStatusCode, "4"}};
        c.send(cimd2::encode(resp));
        if (p.operation == cimd2::kLogout) return;
    }
}

TEST(SmppClient, Cimd2LoginSubmitEnquireLogout) {
    std::vector<cimd2::Packet> log;
    std::mutex m;
    test::LoopbackServer server([&](test::PeerConnection& c) { serveCimd(c, log, m); });
    SmppClient client(settingsFor(server.port(), SmppClient::kCimd2));
    ASSERT_TRUE(client.connect(2s)) << client.lastError();
    std::string id;
    ASSERT_TRUE(client.sendMessage("555", "a@b", id)) << client.lastError();
    EXPECT_EQ(id, "261210120000");
    SmppClient::MessageStatus st;
    ASSERT_TRUE(client.checkMessageStatus(id, "555", st));
    EXPECT_EQ(st.messageState, 2);  // delivered
    client.disconnect();

    std::lock_guard lock(m);
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0].operation, cimd2::kLogin);
    EXPECT_EQ(log[0].number, 1);
    EXPECT_EQ(log[1].param(cimd2::kUserData).value(), "a_Oab");
    EXPECT_EQ(log[1].number, 3);
    EXPECT_EQ(log[2].param(cimd2::kServiceCentreTimeStamp).value(), "261210120000");
    EXPECT_EQ(log[3].operation, cimd2::kLogout);
}

TEST(SmppClient, Cimd2BadPasswordFails) {
    std::vector<cimd2::Packet> log;
    std::mutex m;
    test::LoopbackServer server([&](test::PeerConnection& c) { serveCimd(c, log, m); });
    auto s = settingsFor(server.port(), SmppClient::kCimd2);
    s.password = "wrong";
    SmppClient client(s);
    EXPECT_FALSE(client.connect(2s));
    EXPECT_EQ(client.lastError(), "CIMD2 error 100 Invalid login");
}

}  // namespace
}  // namespace nv
