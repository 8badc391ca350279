// The SMPP sender against a real centre: the npm `smpp` package's server
// (tests/peers/smpp_server.js), as a second opinion on the wire beside our
// own scripted centre.
#include "protocols/SmppSession.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/NpmSmppServer.h"
#include "tests/peers/TestSupport.h"
#include "tests/protocols/SmppPages.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::NpmSmppServer;
using test::SmppSender;

struct Harness {
    std::mutex mutex;
    std::vector<std::string> lines;
    std::vector<std::chrono::milliseconds> pauses;

    // The real five-second bind wait; answers get a generous one for a loaded machine.
    SmppSender sender() {
        SmppTiming t;
        t.responseWait = 20s;
        return SmppSender(
            [this](const std::string& l) {
                std::lock_guard lock(mutex);
                lines.push_back(l);
            },
            [] { return false; }, t, [this](std::chrono::milliseconds d) { pauses.push_back(d); });
    }
    int linesStarting(const std::string& prefix) {
        std::lock_guard lock(mutex);
        int n = 0;
        for (const auto& l : lines) n += l.rfind(prefix, 0) == 0;
        return n;
    }
};

SmppRequest pageFor(std::uint16_t port, std::string message) {
    return test::smppPageFor(port, std::move(message), "nvuser");
}

using test::words;

TEST(SmppNpmServer, BindAndSubmitCarryTheAccountAndThePage) {
    NpmSmppServer server;
    ASSERT_NE(server.port(), 0);
    Harness h;
    auto sender = h.sender();
    std::string id, reply;
    ASSERT_TRUE(sender.send(pageFor(server.port(), "Call the desk: 555-0100 #7"), id, reply)) << reply;
    EXPECT_EQ(reply, "Message Sent Successfully");
    EXPECT_EQ(id, "id1");

    auto binds = server.pdus("bind_transmitter");
    ASSERT_EQ(binds.size(), 1u);
    EXPECT_EQ(NpmSmppServer::field(binds[0], "system_id"), "nvuser");
    EXPECT_EQ(NpmSmppServer::field(binds[0], "password"), "secret");
    EXPECT_EQ(NpmSmppServer::field(binds[0], "system_type"), "PRI");
    EXPECT_EQ(NpmSmppServer::field(binds[0], "interface_version"), "52");  // 0x34

    auto submits = server.pdus("submit_sm");
    ASSERT_EQ(submits.size(), 1u);
    EXPECT_EQ(NpmSmppServer::field(submits[0], "destination_addr"), "5551234");
    EXPECT_EQ(NpmSmppServer::hexField(submits[0], "short_message"), "Call the desk: 555-0100 #7");
    EXPECT_EQ(NpmSmppServer::field(submits[0], "data_coding"), "0");

    EXPECT_EQ(server.pdus("unbind").size(), 1u);
    EXPECT_EQ(server.sessions(), 1);
}

TEST(SmppNpmServer, FourHundredCharactersGoInThreeBoundSessions) {
    NpmSmppServer server;
    ASSERT_NE(server.port(), 0);
    Harness h;
    auto sender = h.sender();
    const std::string message = words(400);
    std::string id, reply;
    ASSERT_TRUE(sender.send(pageFor(server.port(), message), id, reply)) << reply;
    EXPECT_EQ(id, "id3");  // the last part's

    EXPECT_EQ(server.sessions(), 3);
    EXPECT_EQ(server.pdus("bind_transmitter").size(), 3u);
    EXPECT_EQ(server.pdus("unbind").size(), 3u);
    auto submits = server.pdus("submit_sm");
    ASSERT_EQ(submits.size(), 3u);
    // Each cut goes back to a blank, which ends its part: one blank before the
    // mark, none after the label.
    const std::string thirty = words(150);  // "word " thirty times
    const std::string want[3] = {"(1 of 3)  " + thirty + "  (CONT.)", "(2 of 3)  " + thirty + "  (CONT.)",
                                 "(3 of 3)  " + words(100) + " (END)"};
    for (std::size_t i = 0; i < submits.size(); ++i)
        EXPECT_EQ(NpmSmppServer::hexField(submits[i], "short_message"), want[i]) << i;
    std::string joined;
    for (std::size_t i = 0; i < submits.size(); ++i) {
        std::string text = NpmSmppServer::hexField(submits[i], "short_message");
        std::string head = "(" + std::to_string(i + 1) + " of 3)  ";
        std::string tail = i + 1 < submits.size() ? "  (CONT.)" : " (END)";
        ASSERT_EQ(text.substr(0, head.size()), head) << text;
        ASSERT_GE(text.size(), head.size() + tail.size());
        ASSERT_EQ(text.substr(text.size() - tail.size()), tail) << text;
        EXPECT_LE(text.size() - head.size() - tail.size(), 153u);
        joined += text.substr(head.size(), text.size() - head.size() - tail.size());
    }
    EXPECT_EQ(joined, message);  // cut at blanks, nothing lost
}

TEST(SmppNpmServer, FailuresGiveFalseAndOneConnectionLine) {
    struct Case {
        std::uint32_t bindStatus;
        std::uint32_t submitStatus;
        bool answerBind;
        std::string reply;
        std::size_t submits;
        std::size_t unbinds;
    };
    const Case cases[] = {
        {0x0E, 0, true, "Error, Conecting To Host: ESME_RINVPASWD (0x0000000E)", 0, 0},
        {0, 0x45, true, "ESME_RSUBMITFAIL (0x00000045)", 1, 1},
        {0, 0, false, "Error, No Responce From Host", 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reply);
        NpmSmppServer::Options o;
        o.bindStatus = c.bindStatus;
        o.submitStatus = c.submitStatus;
        o.answerBind = c.answerBind;
        NpmSmppServer server(o);
        ASSERT_NE(server.port(), 0);
        Harness h;
        auto sender = h.sender();
        std::string id, reply;
        auto started = std::chrono::steady_clock::now();
        EXPECT_FALSE(sender.send(pageFor(server.port(), "hello"), id, reply));
        EXPECT_EQ(reply, c.reply);
        EXPECT_EQ(h.linesStarting("[SMPP Connection] " + c.reply), 1);
        EXPECT_EQ(h.linesStarting("[SMPP Connection] Connected To"), c.submits ? 1 : 0);
        if (!c.answerBind) {
            EXPECT_GE(std::chrono::steady_clock::now() - started, 4s);  // waited for the bind
        }

        // Once the server saw the connection close, every PDU of it is on record.
        server.recordsWhen([](const std::vector<std::string>& r) {
            for (const auto& l : r)
                if (NpmSmppServer::field(l, "event") == "close") return true;
            return false;
        });
        EXPECT_EQ(server.pdus("bind_transmitter").size(), 1u);
        EXPECT_EQ(server.pdus("submit_sm").size(), c.submits);
        EXPECT_EQ(server.pdus("unbind").size(), c.unbinds);
    }
}

TEST(SmppNpmServer, StatusQueryAsksForTheIdAndTakesTheStateText) {
    struct Case { int state; std::string text; };
    for (const auto& c : {Case{6, "Message Delivered and Read by Recipient"},
                          Case{2, "Message Delivered (No Reply Pending)"},
                          Case{5, "Message Expired Before Delivery"}}) {
        SCOPED_TRACE(c.state);
        NpmSmppServer::Options o;
        o.queryState = c.state;
        NpmSmppServer server(o);
        ASSERT_NE(server.port(), 0);
        Harness h;
        auto sender = h.sender();
        std::string id, reply;
        ASSERT_TRUE(sender.send(pageFor(server.port(), "MSTA XY77"), id, reply)) << reply;
        EXPECT_EQ(reply, c.text);
        auto queries = server.pdus("query_sm");
        ASSERT_EQ(queries.size(), 1u);
        EXPECT_EQ(NpmSmppServer::field(queries[0], "message_id"), "XY77");
        EXPECT_TRUE(server.pdus("submit_sm").empty());
        EXPECT_EQ(server.pdus("unbind").size(), 1u);
    }
}

TEST(SmppNpmServer, PageOverTls) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    NpmSmppServer::Options o;
    o.tls = &cert;
    NpmSmppServer server(o);
    ASSERT_NE(server.port(), 0);
    Harness h;
    auto sender = h.sender();
    SmppRequest p = pageFor(server.port(), "over tls");
    p.secureMode = 0;
    std::string id, reply;
    ASSERT_TRUE(sender.send(p, id, reply)) << reply;
    EXPECT_EQ(id, "id1");
    auto submits = server.pdus("submit_sm");
    ASSERT_EQ(submits.size(), 1u);
    EXPECT_EQ(NpmSmppServer::hexField(submits[0], "short_message"), "over tls");
    EXPECT_EQ(server.pdus("unbind").size(), 1u);
}

}  // namespace
}  // namespace nv
