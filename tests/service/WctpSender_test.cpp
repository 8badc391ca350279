// The engine's WCTP sender: pages of type 3 go from the page worker and the
// port threads to a loopback HTTP server; the posted XML, the reply list, the
// log lines and the counters show what the engine did.
#include <gtest/gtest.h>

#include <thread>

#include "tests/peers/HttpPeer.h"
#include "tests/peers/WctpReplies.h"
#include "tests/service/InetEngine.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::HttpPeer;
using test::HttpReply;
using test::kWctpClientSuccess;
using test::kWctpFailure;
using Lines = std::vector<std::string>;

std::string serverOf(const HttpPeer& peer, const std::string& path = "/wctp") {
    return "http://127.0.0.1:" + std::to_string(peer.port()) + path;
}

test::ProviderFields wctpProvider(const std::string& name, const std::string& server) {
    return {.name = name, .type = dtWctp, .texts = {{test::kWCTPServer, server}, {test::kWCTPPort, "80"}}};
}

bool contains(const std::string& hay, const std::string& needle) { return hay.find(needle) != std::string::npos; }

class WctpSenderTest : public test::InetEngineTest {};

TEST_F(WctpSenderTest, WorkerPageIsJudgedByTheServersReply) {
    struct Case {
        const char* name;
        HttpReply reply;
        std::string line;
        int wctp, transactions, errors;
    } cases[] = {
        {"accepted", {200, "OK", kWctpClientSuccess},
         "[WCTP Delivery OK] Message Accepted ID: T42 - 5551234 PIN:5551234 Msg: hi there", 1, 1, 0},
        {"refused", {200, "OK", kWctpFailure},
         "[WCTP Delivery Fail] Invalid PIN ID:  - 5551234 PIN:5551234 Msg: hi there", 0, 0, 1},
        {"not XML", {200, "OK", "<html>busy"},
         "[WCTP Delivery Fail] Invalid XML Reply From Server! ID:  - 5551234 PIN:5551234 Msg: hi there", 0, 0, 1},
    };
    for (const auto& c : cases) {
        HttpPeer peer;
        peer.setReply(c.reply);
        makeEngine();
        route("Wctp");
        providers({wctpProvider("Wctp", serverOf(peer))});
        page("5551234", "hi there");
        EXPECT_EQ(waitLine("[WCTP Delivery"), c.line) << c.name;
        settle();
        EXPECT_EQ(engine->counters().WCTPCount, c.wctp) << c.name;
        EXPECT_EQ(engine->counters().TransactionCount, c.transactions) << c.name;
        EXPECT_EQ(engine->counters().ErrorCount, c.errors) << c.name;
        EXPECT_EQ(test::providerInt(test::readFile(dir / "Provider.dat"), 0, test::kPageCount), 1) << c.name;
        auto requests = peer.requests();
        ASSERT_EQ(requests.size(), 1u) << c.name;
        EXPECT_EQ(requests[0].requestLine, "POST /wctp HTTP/1.1") << c.name;
        EXPECT_TRUE(contains(requests[0].body, "senderID=\"NOYB\"")) << c.name;
        EXPECT_TRUE(contains(requests[0].body, "recipientID=\"5551234\"")) << c.name;
        EXPECT_TRUE(contains(requests[0].body, "<wctp-Alphanumeric>hi there</wctp-Alphanumeric>")) << c.name;
    }
}

TEST_F(WctpSenderTest, HttpErrorFailsThePageWithAReason) {
    HttpPeer peer;
    peer.setReply({500, "Internal Server Error", kWctpClientSuccess});
    makeEngine();
    route("Wctp");
    providers({wctpProvider("Wctp", serverOf(peer))});
    page("5551234", "hi");
    const std::string line = waitLine("[WCTP Delivery");
    EXPECT_EQ(line.rfind("[WCTP Delivery Fail] ", 0), 0u) << line;
    EXPECT_TRUE(contains(line, "500")) << line;
    EXPECT_TRUE(line.ends_with(" ID:  - 5551234 PIN:5551234 Msg: hi")) << line;
    settle();
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(engine->counters().WCTPCount, 0);
}

// SendWCTPPage called as the port threads call it: which provider, PIN,
// sender and text reach the server, and what the reply list holds.
TEST_F(WctpSenderTest, SendWCTPPageFillsTheRequestFromThePage) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess});
    struct Case {
        const char* name;
        std::string user, pass;
        bool numericOnly;
        std::string message;
        bool secondary;
        bool ok;
        Lines inBody;           // empty: nothing may be posted
        Lines replyList;        // checked when not empty
        std::string requestLine = "POST /wctp HTTP/1.1";
    } cases[] = {
        {"defaults", "", "", false, "hello", false, true,
         {"senderID=\"NOYB\"", "recipientID=\"5551212\"", "<wctp-Alphanumeric>hello</wctp-Alphanumeric>"},
         {"successCode=200", "successText=Message Accepted", "trackingNumber=T42"}},
        {"provider's user and password", "acme", "pw", false, "hello", false, true,
         {"senderID=\"acme\"", "miscInfo=\"pw\""}, {}},
        {"numeric only", "", "", true, "Call 555 1212", false, true,
         {"<wctp-Alphanumeric>5551212</wctp-Alphanumeric>"}, {}},
        {"status query", "", "", false, "MSTA T42", false, true, {"<wctp-ClientQuery", "trackingNumber=\"T42\""}, {}},
        {"MSTA inside the text", "", "", false, "Call MSTA now", false, true,
         {"<wctp-SubmitClientMessage>", "<wctp-Alphanumeric>Call MSTA now</wctp-Alphanumeric>"}, {}},
        {"secondary", "", "", false, "hello", true, true, {"recipientID=\"999\""}, {},
         "POST /second HTTP/1.1"},
        {"numeric only without digits", "", "", true, "hello", false, false, {},
         {"errorText=No Message To Send, Numeric Only Pager!"}},
    };
    makeEngine();
    for (const auto& c : cases) {
        const std::size_t before = peer.requests().size();
        ProviderRec primary, secondary;
        primary.setCompanyName("Wctp");
        primary.setDeliveryType(dtWctp);
        primary.setWCTPServer(serverOf(peer));
        primary.setWCTPUser(c.user);
        primary.setWCTPPass(c.pass);
        secondary = primary;
        secondary.setCompanyName("Backup");
        secondary.setWCTPServer(serverOf(peer, "/second"));
        PageRecordPtr p = test::intakePage(primary, "5551212", c.message, &secondary, "999");
        p->Recipient->setNumericOnly(c.numericOnly);
        Lines replies{"stale=1"};
        EXPECT_EQ(engine->SendWCTPPage(*p, c.message, replies, nullptr, c.secondary), c.ok) << c.name;
        if (!c.replyList.empty()) {
            EXPECT_EQ(replies, c.replyList) << c.name;
        }
        auto requests = peer.requests();
        if (c.inBody.empty()) {
            EXPECT_EQ(requests.size(), before) << c.name;
            continue;
        }
        ASSERT_EQ(requests.size(), before + 1) << c.name;
        EXPECT_EQ(requests.back().requestLine, c.requestLine) << c.name;
        for (const auto& text : c.inBody) EXPECT_TRUE(contains(requests.back().body, text)) << c.name << ": " << text;
    }
}

TEST_F(WctpSenderTest, CancelledCallsPostNothing) {
    HttpPeer peer;
    makeEngine();
    ProviderRec primary;
    primary.setWCTPServer(serverOf(peer));
    PageRecordPtr p = test::intakePage(primary, "5551212", "hello");
    engine->Cancelcall.store(true);
    Lines replies;
    EXPECT_FALSE(engine->SendWCTPPage(*p, "hello", replies, nullptr, false));
    engine->Cancelcall.store(false);
    EXPECT_EQ(peer.connections(), 0);
}

// Workers and port threads share the engine's one internet pager: two pages
// posted at once each get their own reply.
TEST_F(WctpSenderTest, PagesSentAtOnceEachGetTheirOwnReply) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess, "text/xml", 200ms});
    peer.addReply("refuse me", {200, "OK", kWctpFailure, "text/xml", 200ms});
    makeEngine();
    ProviderRec provider;
    provider.setWCTPServer(serverOf(peer));
    PageRecordPtr good = test::intakePage(provider, "5551212", "accept me");
    PageRecordPtr bad = test::intakePage(provider, "5551213", "refuse me");
    Lines goodReplies, badReplies;
    bool goodOk = false, badOk = true;
    std::thread a([&] { goodOk = engine->SendWCTPPage(*good, "accept me", goodReplies, nullptr, false); });
    std::thread b([&] { badOk = engine->SendWCTPPage(*bad, "refuse me", badReplies, nullptr, false); });
    a.join();
    b.join();
    EXPECT_TRUE(goodOk);
    EXPECT_EQ(goodReplies, (Lines{"successCode=200", "successText=Message Accepted", "trackingNumber=T42"}));
    EXPECT_FALSE(badOk);
    EXPECT_EQ(badReplies, (Lines{"errorCode=401", "errorText=Invalid PIN"}));
}

// [WCTP] and [Proxy] are read for every page: an edit between two pages
// changes the sender id and sends the second one through the proxy.
TEST_F(WctpSenderTest, ConfigEditReachesTheNextPage) {
    HttpPeer origin, proxy;
    origin.setReply({200, "OK", kWctpClientSuccess});
    proxy.setReply({200, "OK", kWctpClientSuccess});
    makeEngine();
    ProviderRec provider;
    provider.setWCTPServer(serverOf(origin));
    PageRecordPtr p = test::intakePage(provider, "5551212", "hello");
    Lines replies;

    config("[WCTP]\r\nWCTPSenderID=FIRST\r\n[Proxy]\r\nEnabled=0\r\nServer=127.0.0.1:" +
           std::to_string(proxy.port()) + "\r\n");
    EXPECT_TRUE(engine->SendWCTPPage(*p, "hello", replies, nullptr, false));
    config("[WCTP]\r\nWCTPSenderID=SECOND\r\n[Proxy]\r\nEnabled=1\r\nServer=127.0.0.1:" +
           std::to_string(proxy.port()) + "\r\nUser=pu\r\nPass=pp\r\n");
    EXPECT_TRUE(engine->SendWCTPPage(*p, "hello", replies, nullptr, false));

    auto direct = origin.requests();
    ASSERT_EQ(direct.size(), 1u);
    EXPECT_TRUE(contains(direct[0].body, "senderID=\"FIRST\""));
    auto proxied = proxy.requests();
    ASSERT_EQ(proxied.size(), 1u);
    EXPECT_EQ(proxied[0].requestLine, "POST " + serverOf(origin) + " HTTP/1.1");
    EXPECT_EQ(proxied[0].header("Proxy-Authorization"), "Basic cHU6cHA=");  // pu:pp
    EXPECT_TRUE(contains(proxied[0].body, "senderID=\"SECOND\""));
}

// A page the worker could not deliver goes through the queue to a port thread,
// which tries the primary once more and then the secondary provider.
TEST_F(WctpSenderTest, FailedWorkerPageReachesItsSecondaryThroughAPortThread) {
    HttpPeer refusing, backup;
    refusing.setReply({200, "OK", kWctpFailure});
    backup.setReply({200, "OK", kWctpClientSuccess});
    route("Refuser", "Backup");
    providers({wctpProvider("Refuser", serverOf(refusing)), wctpProvider("Backup", serverOf(backup))});
    makeEngine({{.name = "Modem1"}});
    page("5551234", "hi");
    const Lines ok = waitLines("[WCTP Delivery OK] ");
    ASSERT_EQ(ok.size(), 1u);
    EXPECT_EQ(ok[0], "[WCTP Delivery OK] Modem1 Message Accepted ID: T42 - Nerivale Server PIN:5551234 Msg: hi");
    EXPECT_EQ(linesStarting("[WCTP Delivery Error] "),
              (Lines{"[WCTP Delivery Error] Invalid PIN ID:  - 5551234 PIN:5551234 Msg: hi",
                     "[WCTP Delivery Error] Invalid PIN ID:  - Nerivale Server PIN: 5551234 Msg: hi"}));
    settle();
    EXPECT_EQ(engine->counters().WCTPCount, 1);
    EXPECT_EQ(engine->counters().TransactionCount, 1);
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(refusing.requests().size(), 2u);
    EXPECT_EQ(backup.requests().size(), 1u);
    engine->StopServer();
}

}  // namespace
}  // namespace nv
