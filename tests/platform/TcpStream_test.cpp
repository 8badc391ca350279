#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "foundation/Win1252.h"
#include "platform/KORINetSocketHelper.h"
#include "platform/TcpStream.h"
#include "tests/peers/LoopbackServer.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

constexpr auto kPeerWait = 5s;

// Polls until `done` holds or five seconds passed; the bound only guards a hang.
template <typename F>
bool eventually(F done) {
    auto end = steady_clock::now() + kPeerWait;
    while (!done()) {
        if (steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(TcpClientHelper, ReadsAtMostSixThousandBytesAndKeepsTheRest) {
    std::string block;
    for (int i = 0; i < 7000; ++i) block += static_cast<char>(i % 251);
    LoopbackServer server([&](PeerConnection& c) {
        c.send(block);
        c.waitClosed(kPeerWait);
    });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port())) << client.lastError();
    ASSERT_TRUE(eventually([&] { return client.pendingBytes() >= 7000; }));

    std::string first = TCustomIPClientHelper::ReadAvailable(client);
    std::string second = TCustomIPClientHelper::ReadAvailable(client);
    EXPECT_EQ(first.size(), 6000u);
    EXPECT_EQ(second.size(), 1000u);
    EXPECT_EQ(first + second, block);
    EXPECT_EQ(TCustomIPClientHelper::ReadAvailable(client), "");
    EXPECT_TRUE(client.connected());
}

TEST(TcpClientHelper, WritesWindows1252BytesAndNothingForAnEmptyText) {
    std::promise<std::string> received;
    LoopbackServer server([&](PeerConnection& c) { received.set_value(c.recv(3, kPeerWait)); });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port())) << client.lastError();

    EXPECT_EQ(TCustomIPClientHelper::WriteAnsiStr(client, ""), 0);
    EXPECT_EQ(TCustomIPClientHelper::WriteAnsiStr(client, utf8ToCp1252("é€")), 2);
    EXPECT_EQ(TCustomIPClientHelper::WriteAnsiStr(client, "!"), 1);
    // The empty write put nothing in front of the two bytes.
    EXPECT_EQ(toHex(received.get_future().get()), "E9 80 21");
}

TEST(TcpClientHelper, NotConnectedReadsNothingAndWritesNothing) {
    TcpStream client;
    EXPECT_EQ(TCustomIPClientHelper::ReadAvailable(client), "");
    EXPECT_LE(TCustomIPClientHelper::WriteAnsiStr(client, "x"), 0);
}

TEST(TcpStream, SilentServerNeverBlocksTheRead) {
    LoopbackServer server([&](PeerConnection& c) { c.waitClosed(kPeerWait); });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port())) << client.lastError();
    auto reads = std::async(std::launch::async, [&] {
        std::string all;
        for (int i = 0; i < 3; ++i) all += TCustomIPClientHelper::ReadAvailable(client);
        return all;
    });
    ASSERT_EQ(reads.wait_for(kPeerWait), std::future_status::ready);
    EXPECT_EQ(reads.get(), "");
    EXPECT_TRUE(client.connected());
}

TEST(TcpStream, PeerCloseClearsTheConnectedState) {
    LoopbackServer server([&](PeerConnection& c) {
        c.send("bye");
        c.close();
    });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server.port())) << client.lastError();
    std::string got;
    ASSERT_TRUE(eventually([&] {
        got += client.readAvailable(100);
        return !client.connected();
    }));
    EXPECT_EQ(got, "bye");
    EXPECT_EQ(client.readAvailable(100), "");
}

TEST(TcpStream, ConnectFailuresStayWithinTheTimeOut) {
    UnansweredPort silent;
    std::uint16_t closedPort;
    {
        LoopbackServer gone([](PeerConnection&) {});
        closedPort = gone.port();
    }
    struct Case {
        const char* name;
        std::uint16_t port;
    } cases[] = {{"never answers", silent.port()}, {"refused", closedPort}};
    for (const auto& tc : cases) {
        SCOPED_TRACE(tc.name);
        TcpStream client;
        auto start = steady_clock::now();
        EXPECT_FALSE(client.connect("127.0.0.1", tc.port, 300ms));
        EXPECT_LT(steady_clock::now() - start, 3s);
        EXPECT_FALSE(client.connected());
        EXPECT_NE(client.lastError(), "");
    }
}

TEST(TcpStream, CancelFromAnotherThreadEndsAConnect) {
    UnansweredPort silent;
    TcpStream client;
    auto connecting = std::async(std::launch::async, [&] { return client.connect("127.0.0.1", silent.port(), 60s); });
    std::this_thread::sleep_for(50ms);
    client.cancel();
    ASSERT_EQ(connecting.wait_for(kPeerWait), std::future_status::ready);
    EXPECT_FALSE(connecting.get());
}

class TcpStreamTransport : public ::testing::TestWithParam<bool> {
protected:
    std::unique_ptr<LoopbackServer> start(LoopbackServer::Handler h) {
        if (!GetParam()) return std::make_unique<LoopbackServer>(std::move(h));
        m_cert = makeSelfSignedCertificate(m_dir.path());
        return std::make_unique<LoopbackServer>(std::move(h), &m_cert);
    }
    TlsOptions tls() const {
        TlsOptions o;
        o.enabled = GetParam();
        return o;
    }
    TempDir m_dir;
    TestCertificate m_cert;
};

// Several megabytes go out through short sends, complete and in order.
TEST_P(TcpStreamTransport, WriteAllSendsEverything) {
    std::string big(3 * 1024 * 1024, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7) & 0xFF);
    std::promise<std::string> received;
    auto server = start([&](PeerConnection& c) { received.set_value(c.recv(big.size(), 20s)); });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server->port(), 5s, tls())) << client.lastError();
    EXPECT_EQ(client.writeAll(big), static_cast<long>(big.size()));
    EXPECT_TRUE(received.get_future().get() == big);
}

// Writing to a peer that has gone must not raise SIGPIPE (it would end the
// process); the write fails and the stream reports itself disconnected.
TEST_P(TcpStreamTransport, WritingToAClosedPeerFailsQuietly) {
    auto server = start([&](PeerConnection& c) { c.close(); });
    TcpStream client;
    ASSERT_TRUE(client.connect("127.0.0.1", server->port(), 5s, tls())) << client.lastError();
    ASSERT_TRUE(eventually([&] {
        client.writeAll(std::string(1024, 'x'), 1s);
        client.readAvailable(1024);
        return !client.connected();
    }));
    EXPECT_EQ(client.writeAll("more"), -1);
}

INSTANTIATE_TEST_SUITE_P(PlainAndTls, TcpStreamTransport, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Tls" : "Plain"; });

struct TlsCase {
    const char* name;
    bool verify;
    bool trustTestCa;
    bool connects;
};

class TcpStreamTls : public ::testing::TestWithParam<TlsCase> {};

TEST_P(TcpStreamTls, SelfSignedServer) {
    const TlsCase& tc = GetParam();
    TempDir dir;
    TestCertificate cert = makeSelfSignedCertificate(dir.path());
    std::promise<std::string> seen;
    LoopbackServer server(
        [&](PeerConnection& c) {
            std::string line = c.recvUntil("\n", kPeerWait);
            seen.set_value(c.serverName() + "|" + line);
            c.send("world\n");
            c.waitClosed(kPeerWait);
        },
        &cert);
    TlsOptions o;
    o.enabled = true;
    o.verifyPeer = tc.verify;
    o.serverName = "localhost";
    if (tc.trustTestCa) o.caFile = cert.certFile.string();

    TcpStream client;
    ASSERT_EQ(client.connect("127.0.0.1", server.port(), 5s, o), tc.connects) << client.lastError();
    if (!tc.connects) {
        EXPECT_NE(client.lastError().find("certificate"), std::string::npos) << client.lastError();
        return;
    }
    EXPECT_TRUE(client.isTls());
    EXPECT_EQ(client.writeAll("hello\n"), 6);
    EXPECT_EQ(seen.get_future().get(), "localhost|hello\n");
    std::string reply;
    ASSERT_TRUE(eventually([&] {
        reply += client.readAvailable(100);
        return reply.size() >= 6;
    }));
    EXPECT_EQ(reply, "world\n");
}

INSTANTIATE_TEST_SUITE_P(Cases, TcpStreamTls,
                         ::testing::Values(TlsCase{"NoVerification", false, false, true},
                                           TlsCase{"VerifiedAgainstTheTestCa", true, true, true},
                                           TlsCase{"UntrustedIsRefused", true, false, false}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace nv::test
