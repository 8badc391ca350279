// The GET helper against the loopback HTTP peer: the reply and its progress
// steps, statuses that are failures (redirects included), certificate checks.
#include "protocols/HttpGet.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/peers/HttpPeer.h"
#include "tests/peers/PeerNet.h"
#include "tests/protocols/InetPagingEnvironment.h"

namespace nv::test {
namespace {

const bool kCurlEnv = useInetPagingEnvironment();

std::string at(const HttpPeer& peer, const char* scheme, const std::string& path) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(peer.port()) + path;
}

TEST(HttpGet, ReadsTheBodyAndReportsItsSteps) {
    HttpPeer peer;
    HttpReply reply;
    reply.body = std::string(5000, 'x');
    peer.addQueryReply("cmd=RmtCarrierInfo", reply);
    std::vector<HttpGetStep> steps;
    int lastPercent = -1;
    HttpGetResult r = httpGet(at(peer, "http", "/korpc.icd?cmd=RmtCarrierInfo"), {}, [&](HttpGetStep s, int p) {
        if (steps.empty() || steps.back() != s) steps.push_back(s);
        if (s == HttpGetStep::Transfer) lastPercent = p;
    });
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, reply.body);
    EXPECT_EQ(steps, (std::vector<HttpGetStep>{HttpGetStep::Connected, HttpGetStep::StartTransfer,
                                               HttpGetStep::Transfer}));
    EXPECT_EQ(lastPercent, 100);
    EXPECT_EQ(peer.requests().at(0).requestLine, "GET /korpc.icd?cmd=RmtCarrierInfo HTTP/1.1");
}

TEST(HttpGet, StatusesOutside2xxFailWithTheirStatusLine) {
    struct Case {
        int status;
        const char* reason;
    };
    for (const Case& c : {Case{302, "Found"}, Case{404, "Not Found"}, Case{500, "Internal Server Error"}}) {
        HttpPeer peer;
        HttpReply reply;
        reply.status = c.status;
        reply.reason = c.reason;
        reply.body = "<PRE>\nAcme - Dallas|TAP|1\n</PRE>";
        peer.setReply(reply);
        HttpGetResult r = httpGet(at(peer, "http", "/x"), {});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.error, std::to_string(c.status) + " " + c.reason);
        EXPECT_EQ(r.body, "");
        EXPECT_EQ(peer.requests().size(), 1u);  // a redirect is not followed
    }
}

TEST(HttpGet, CertificatesAreCheckedUnlessSwitchedOff) {
    HttpPeer peer(HttpPeer::Tls::On);
    HttpReply reply;
    reply.body = "ok";
    peer.setReply(reply);
    HttpGetResult checked = httpGet(at(peer, "https", "/"), {});
    EXPECT_FALSE(checked.ok);
    EXPECT_NE(checked.error, "");
    HttpGetOptions off;
    off.verifyTls = false;
    HttpGetResult unchecked = httpGet(at(peer, "https", "/"), off);
    ASSERT_TRUE(unchecked.ok) << unchecked.error;
    EXPECT_EQ(unchecked.body, "ok");
}

TEST(HttpGet, OnlyHttpAndHttpsAndNoServerIsAnError) {
    EXPECT_FALSE(httpGet("file:///etc/passwd", {}).ok);
    HttpGetResult refused = httpGet("http://127.0.0.1:" + std::to_string(freeLoopbackPort()) + "/", {});
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(refused.status, 0);
    EXPECT_NE(refused.error, "");
}

}  // namespace
}  // namespace nv::test
