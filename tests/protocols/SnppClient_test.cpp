#include "protocols/SnppClient.h"

#include <gtest/gtest.h>

#include <atomic>

#include "tests/peers/LoopbackServer.h"
#include "tests/peers/SnppPeer.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using R = SnppClient::Result;

test::SnppPeer::Script withGreeting(std::string greeting) {
    test::SnppPeer::Script s;
    s.greeting = std::move(greeting);
    return s;
}

test::SnppPeer::Script silentScript() {
    test::SnppPeer::Script s;
    s.greet = false;
    return s;
}

TEST(SnppClient, OneCommandOneReplyAndQuitOnDisconnect) {
    test::SnppPeer peer({});
    SnppClient c;
    ASSERT_EQ(c.connect("127.0.0.1", peer.port(), {}, 2s), R::Ok);
    EXPECT_EQ(c.greeting(), "220 SNPP Gateway Ready");
    // A line break inside a command never makes a second command.
    ASSERT_TRUE(c.sendCommand("PAGE 123\r\nSEND"));
    std::string reply;
    ASSERT_EQ(c.readReply(reply, 2s), R::Ok);
    EXPECT_EQ(reply, "250 Pager ID Accepted");
    c.disconnect(1s);
    EXPECT_FALSE(c.connected());
    ASSERT_TRUE(peer.waitClosed(1, 2s));
    EXPECT_EQ(peer.raw(1), "PAGE 123SEND\r\nQUIT\r\n");
    c.disconnect(1s);  // again: nothing more
}

TEST(SnppClient, ReplyInPiecesAndBareLineFeed) {
    test::LoopbackServer server([](test::PeerConnection& p) {
        p.send("220 hel");
        std::this_thread::sleep_for(20ms);
        p.send("lo\n250 a\r\n250 b");
        p.recv(1, 2s);
    });
    SnppClient c;
    ASSERT_EQ(c.connect("127.0.0.1", server.port(), {}, 2s), R::Ok);
    EXPECT_EQ(c.greeting(), "220 hello");
    std::string line;
    ASSERT_EQ(c.readReply(line, 1s), R::Ok);
    EXPECT_EQ(line, "250 a");
    // A line without its end is no reply yet.
    EXPECT_EQ(c.readReply(line, 100ms), R::TimedOut);
    EXPECT_EQ(line, "");
}

TEST(SnppClient, ConnectOutcomes) {
    test::SnppPeer refusing(withGreeting("421 Too Many Connections"));
    test::SnppPeer silent(silentScript());
    test::LoopbackServer closing([](test::PeerConnection& p) { p.close(); });
    std::uint16_t closedPort = 0;
    {
        test::LoopbackServer gone([](test::PeerConnection&) {});
        closedPort = gone.port();
    }
    struct Case {
        const char* name;
        std::uint16_t port;
        R result;
        std::string error;
    } cases[] = {
        {"greeting 421", refusing.port(), R::Failed, "421 Too Many Connections"},
        {"never greets", silent.port(), R::TimedOut, "No reply from host"},
        {"closes at once", closing.port(), R::Failed, "Connection closed by host"},
        {"nothing listening", closedPort, R::Failed, "Cannot connect to 127.0.0.1:" + std::to_string(closedPort)},
    };
    for (const auto& k : cases) {
        SnppClient c;
        EXPECT_EQ(c.connect("127.0.0.1", k.port, {}, 300ms), k.result) << k.name;
        EXPECT_EQ(c.lastError().substr(0, k.error.size()), k.error) << k.name;
        EXPECT_FALSE(c.connected()) << k.name;
    }
}

TEST(SnppClient, CancelEndsTheGreetingWait) {
    test::SnppPeer silent(silentScript());
    std::atomic<bool> cancel{false};
    SnppClient c;
    c.setCancelTest([&] { return cancel.load(); });
    std::thread t([&] {
        std::this_thread::sleep_for(50ms);
        cancel.store(true);
    });
    EXPECT_EQ(c.connect("127.0.0.1", silent.port(), {}, 30s), R::Cancelled);
    t.join();
}

TEST(SnppClient, TlsWithASelfSignedCertificate) {
    test::TempDir dir;
    auto cert = test::makeSelfSignedCertificate(dir.path());
    test::SnppPeer peer({}, &cert);
    SnppClient c;
    TlsOptions tls;
    tls.enabled = true;
    tls.serverName = "snpp.example";
    ASSERT_EQ(c.connect("127.0.0.1", peer.port(), tls, 3s), R::Ok) << c.lastError();
    ASSERT_TRUE(c.sendCommand("SEND"));
    std::string reply;
    ASSERT_EQ(c.readReply(reply, 2s), R::Ok);
    EXPECT_EQ(reply, "250 Message Sent Successfully");
    c.disconnect(1s);
    EXPECT_EQ(peer.serverName(1), "snpp.example");
}

}  // namespace
}  // namespace nv
