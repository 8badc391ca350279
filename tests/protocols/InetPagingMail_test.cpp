// The internet pager's e-mail side against scripted SMTP servers and a
// loopback DNS responder for mail exchangers.
#include <gtest/gtest.h>

#include <thread>

#include "protocols/KORInetPaging.h"
#include "protocols/MxLookup.h"
#include "tests/peers/DnsPeer.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/peers/TestSupport.h"
#include "tests/protocols/InetPagingEnvironment.h"

namespace nv::test {
namespace {

const bool kCurlEnv = useInetPagingEnvironment();

std::string p(std::uint16_t port) { return std::to_string(port); }

TSMTPData mailTo(const std::string& to, std::uint16_t port, const std::string& server = "127.0.0.1") {
    TSMTPData d;
    d.SMTPServer = server;
    d.SMTPPort = port;
    d.SenderEMail = "gw@nerivale.test";
    d.DestPin = to;
    d.Subject = "5551212";
    d.MsgToSend = "Call me\nnow";
    d.TimeOut = 10;
    return d;
}

InetPagingOptions withDns(const DnsPeer& dns, std::vector<std::string> connectTo = {}) {
    InetPagingOptions options;
    options.resolver = {dns.address(), 1, 1};
    options.connectTo = std::move(connectTo);
    return options;
}

TEST(InetPagingMail, PlainMessageReachesTheServerWithItsHeaders) {
    SmtpPeer peer;
    TKORInetPagingComp comp;
    TSMTPData d = mailTo("pager@carrier.test", peer.port());
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    EXPECT_EQ(d.SendError, "");

    const auto messages = peer.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].mailFrom, "gw@nerivale.test");
    EXPECT_EQ(messages[0].rcpts, std::vector<std::string>{"pager@carrier.test"});
    EXPECT_FALSE(messages[0].tls);
    const std::string& data = messages[0].data;
    EXPECT_NE(data.find("\r\nFrom: gw@nerivale.test\r\n"), std::string::npos) << data;
    EXPECT_NE(data.find("\r\nTo: pager@carrier.test\r\n"), std::string::npos);
    EXPECT_NE(data.find("\r\nSubject: 5551212\r\n"), std::string::npos);
    EXPECT_NE(data.find("Content-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
    EXPECT_EQ(data.rfind("Date: ", 0), 0u);
    EXPECT_NE(data.find("\r\n\r\nCall me\r\nnow"), std::string::npos);

    const auto commands = peer.commands();
    ASSERT_GE(commands.size(), 4u);
    EXPECT_EQ(commands[0].rfind("EHLO ", 0), 0u);
    EXPECT_EQ(commands[1], "MAIL FROM:<gw@nerivale.test>");
    EXPECT_EQ(commands[2], "RCPT TO:<pager@carrier.test>");
    EXPECT_EQ(commands[3], "DATA");
}

TEST(InetPagingMail, TlsModesAndLogin) {
    struct Case {
        SmtpPeerOptions::Tls tls;
        bool useSsl;
        std::uint16_t port;  // 0: the peer's own
        bool secured;
    } cases[] = {
        {SmtpPeerOptions::Tls::None, false, 0, false},
        {SmtpPeerOptions::Tls::StartTls, true, 0, true},
        {SmtpPeerOptions::Tls::StartTls, true, 587, true},
        {SmtpPeerOptions::Tls::Implicit, true, 465, true},
    };
    for (const Case& c : cases) {
        SmtpPeer peer({c.tls, "mailer", "s3cret"});
        const std::uint16_t port = c.port ? c.port : peer.port();
        InetPagingOptions options;
        // Ports 465 and 587 as the configuration would name them, served by the peer.
        options.connectTo = {"127.0.0.1:" + p(port) + ":127.0.0.1:" + p(peer.port())};
        TKORInetPagingComp comp(options);
        TSMTPData d = mailTo("pager@carrier.test", port);
        d.UseSSL = c.useSsl;
        d.User = "mailer";
        d.Password = "s3cret";
        ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError << " port " << port;
        const auto messages = peer.messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].tls, c.secured) << port;
        EXPECT_EQ(messages[0].authUser, "mailer");
    }
}

TEST(InetPagingMail, StartTlsIsRequiredWhenUseSslIsOn) {
    SmtpPeer peer;  // offers no STARTTLS
    TKORInetPagingComp comp;
    TSMTPData d = mailTo("pager@carrier.test", peer.port());
    d.UseSSL = true;
    EXPECT_FALSE(comp.SendMailMessage(d));
    EXPECT_EQ(d.SendError.rfind("SMTP Send Error: ", 0), 0u) << d.SendError;
    EXPECT_TRUE(peer.messages().empty());
}

TEST(InetPagingMail, FailuresGiveTheirErrorText) {
    struct Case {
        SmtpPeerOptions options;
        std::string password;
        std::string error;
    } cases[] = {
        {{SmtpPeerOptions::Tls::None, "", "", "220 peer.test ESMTP", {{"pager@carrier.test", "550 5.1.1 No such user"}}},
         "",
         "SMTP Send Error: 550 5.1.1 No such user"},
        {{SmtpPeerOptions::Tls::None, "mailer", "right"}, "wrong", "SMTP Send Error: 535 5.7.8 Bad credentials"},
        {{SmtpPeerOptions::Tls::None, "", "", "421 Too busy"}, "", "SMTP Send Error: 421 Too busy"},
    };
    for (const Case& c : cases) {
        SmtpPeer peer(c.options);
        TKORInetPagingComp comp;
        TSMTPData d = mailTo("pager@carrier.test", peer.port());
        if (!c.password.empty()) {
            d.User = "mailer";
            d.Password = c.password;
        }
        EXPECT_FALSE(comp.SendMailMessage(d));
        EXPECT_EQ(d.SendError, c.error);
        EXPECT_TRUE(peer.messages().empty());
    }

    TKORInetPagingComp comp;
    TSMTPData d = mailTo("pager@carrier.test", freeLoopbackPort());
    EXPECT_FALSE(comp.SendMailMessage(d));
    EXPECT_EQ(d.SendError.size(), 50u);
    EXPECT_EQ(d.SendError.rfind("SMTP Send Error: Failed to connect to 127.0.0.1", 0), 0u) << d.SendError;
}

TEST(InetPagingMail, ExchangersAreTriedInNumericOrderAndTroubleMovesOn) {
    SmtpPeer dropping({SmtpPeerOptions::Tls::None, "", "", ""});
    SmtpPeer busy({SmtpPeerOptions::Tls::None, "", "", "220 busy", {{"pager@carrier.test", "450 4.2.1 Try later"}}});
    SmtpPeer taking;
    SmtpPeer spare;
    DnsPeer dns;
    // Listed as the answer gives them: "10=" sorted before "5=" in the old text order.
    dns.addMx("carrier.test", 10, "mx-b.carrier.test");
    dns.addMx("carrier.test", 5, "mx-a.carrier.test");
    dns.addMx("carrier.test", 30, "mx-d.carrier.test");
    dns.addMx("carrier.test", 20, "mx-c.carrier.test");
    TKORInetPagingComp comp(withDns(dns, {"mx-a.carrier.test:25:127.0.0.1:" + p(dropping.port()),
                                          "mx-b.carrier.test:25:127.0.0.1:" + p(busy.port()),
                                          "mx-c.carrier.test:25:127.0.0.1:" + p(taking.port()),
                                          "mx-d.carrier.test:25:127.0.0.1:" + p(spare.port())}));
    TSMTPData d = mailTo("pager@carrier.test", 25, "");
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    EXPECT_EQ(dropping.connections(), 1);
    EXPECT_EQ(busy.connections(), 1);
    EXPECT_TRUE(busy.messages().empty());
    EXPECT_EQ(taking.messages().size(), 1u);
    EXPECT_EQ(spare.connections(), 0);
    EXPECT_EQ(d.SendError, "");
}

TEST(InetPagingMail, A5xxForTheRecipientFailsThatAddressWithoutTryingMore) {
    SmtpPeer first({SmtpPeerOptions::Tls::None, "", "", "220 first", {{"pager@carrier.test", "550 5.1.1 No such user"}}});
    SmtpPeer second;
    DnsPeer dns;
    dns.addMx("carrier.test", 1, "mx-a.carrier.test");
    dns.addMx("carrier.test", 2, "mx-b.carrier.test");
    TKORInetPagingComp comp(withDns(dns, {"mx-a.carrier.test:25:127.0.0.1:" + p(first.port()),
                                          "mx-b.carrier.test:25:127.0.0.1:" + p(second.port())}));
    TSMTPData d = mailTo("pager@carrier.test", 25, "");
    EXPECT_FALSE(comp.SendMailMessage(d));
    EXPECT_EQ(d.SendError, "SMTP Send Error: 550 5.1.1 No such user");
    EXPECT_EQ(second.connections(), 0);
}

TEST(InetPagingMail, DomainWithoutExchangersIsTriedItselfAndLookupFailuresAreReported) {
    SmtpPeer peer;
    DnsPeer dns;
    dns.addDomain("plain.test");
    TKORInetPagingComp comp(withDns(dns, {"plain.test:25:127.0.0.1:" + p(peer.port())}));
    TSMTPData d = mailTo("pager@plain.test", 25, "");
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    EXPECT_EQ(peer.messages().size(), 1u);

    TSMTPData noAt = mailTo("5551212", 25, "");
    EXPECT_FALSE(comp.SendMailMessage(noAt));
    EXPECT_EQ(noAt.SendError, "MX Error: No Valid Server Found, Error Sending E-P");

    dns.setServerFailure(true);
    TSMTPData failing = mailTo("pager@plain.test", 25, "");
    EXPECT_FALSE(comp.SendMailMessage(failing));
    EXPECT_EQ(failing.SendError.rfind("MX Error: DNS Server Failed To Answer, ", 0), 0u) << failing.SendError;
    EXPECT_EQ(peer.messages().size(), 1u);
}

TEST(InetPagingMail, EachAddressIsJudgedOnItsOwnAndTheResultFollowsTheLast) {
    SmtpPeer peer({SmtpPeerOptions::Tls::None, "", "", "220 peer", {{"bad@carrier.test", "550 No such user"}}});
    TKORInetPagingComp comp;
    struct Case {
        std::string to;
        bool ok;
        std::vector<std::string> delivered;
        std::string error;
    } cases[] = {
        {"bad@carrier.test; good@carrier.test", true, {"good@carrier.test"}, "SMTP Send Error: 550 No such user"},
        {"good@carrier.test;bad@carrier.test", false, {"good@carrier.test"}, "SMTP Send Error: 550 No such user"},
        {"bad@carrier.test;bad@carrier.test", false, {},
         "SMTP Send Error: 550 No such user, SMTP Send Error"},
        {";;", false, {}, ""},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        TSMTPData d = mailTo(c.to, peer.port());
        EXPECT_EQ(comp.SendMailMessage(d), c.ok) << c.to;
        EXPECT_EQ(d.SendError, c.error) << c.to;
        const auto messages = peer.messages();
        std::vector<std::string> delivered;
        for (std::size_t i = seen; i < messages.size(); ++i) delivered.push_back(messages[i].rcpts.at(0));
        seen = messages.size();
        EXPECT_EQ(delivered, c.delivered) << c.to;
    }
}

TEST(InetPagingMail, LineBreaksNeverReachACommandOrAHeader) {
    SmtpPeer peer;
    TKORInetPagingComp comp;
    TSMTPData bad = mailTo("pager@carrier.test\r\nRCPT TO:<evil@elsewhere.test>", peer.port());
    EXPECT_FALSE(comp.SendMailMessage(bad));
    EXPECT_EQ(bad.SendError.rfind("Invalid E-Mail Address pager@carrier.test", 0), 0u) << bad.SendError;
    EXPECT_EQ(peer.connections(), 0);

    TSMTPData d = mailTo("pager@carrier.test", peer.port());
    d.Subject = "5551212\r\nBcc: evil@elsewhere.test";
    d.SenderEMail = "gw@nerivale.test>\r\nRCPT TO:<evil@elsewhere.test";
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    const auto messages = peer.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcpts, std::vector<std::string>{"pager@carrier.test"});
    EXPECT_EQ(messages[0].data.find("\r\nBcc:"), std::string::npos);
    EXPECT_NE(messages[0].data.find("\r\nSubject: 5551212Bcc: evil@elsewhere.test\r\n"), std::string::npos);
    // What is left of the sender stays inside the one MAIL command.
    int rcpts = 0;
    for (const std::string& command : peer.commands()) rcpts += command.rfind("RCPT", 0) == 0;
    EXPECT_EQ(rcpts, 1);
}

TEST(InetPagingMail, NonAsciiTextIsEncodedAndAnEmptySenderGivesANullPath) {
    SmtpPeer peer;
    TKORInetPagingComp comp;
    TSMTPData d = mailTo("pager@carrier.test", peer.port());
    d.SenderEMail.clear();
    d.Subject = "caf\xE9";
    d.MsgToSend = "na\xEFve \x80";
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    const auto messages = peer.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].mailFrom, "");
    EXPECT_NE(messages[0].data.find("\r\nSubject: =?UTF-8?B?Y2Fmw6k=?=\r\n"), std::string::npos) << messages[0].data;
    EXPECT_NE(messages[0].data.find("na\xC3\xAFve \xE2\x82\xAC"), std::string::npos);
    EXPECT_EQ(messages[0].data.find("\r\nFrom:"), std::string::npos);
}

TEST(InetPagingMail, AttachmentTravelsAsABase64Part) {
    TempDir dir;
    writeFile(dir / "info.txt", "provider data");
    SmtpPeer peer;
    TKORInetPagingComp comp;
    TSMTPData d = mailTo("pager@carrier.test", peer.port());
    d.Attachment = (dir / "info.txt").string();
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    d.Attachment = (dir / "missing.txt").string();  // left out, the mail still goes
    ASSERT_TRUE(comp.SendMailMessage(d)) << d.SendError;
    const auto messages = peer.messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].data.find("Content-Type: multipart/mixed"), std::string::npos);
    EXPECT_NE(messages[0].data.find("filename=\"info.txt\""), std::string::npos);
    EXPECT_NE(messages[0].data.find(base64Encode("provider data")), std::string::npos);
    EXPECT_EQ(messages[1].data.find("multipart"), std::string::npos);
}

TEST(InetPagingMail, TwoThreadsOnOneInstanceEachGetTheirOwnResult) {
    SmtpPeer peer({SmtpPeerOptions::Tls::None, "", "", "220 peer", {{"bad@carrier.test", "550 No such user"}}});
    TKORInetPagingComp comp;
    for (int round = 0; round < 3; ++round) {
        TSMTPData good = mailTo("good@carrier.test", peer.port());
        TSMTPData bad = mailTo("bad@carrier.test", peer.port());
        bool okGood = false, okBad = true;
        std::thread a([&] { okGood = comp.SendMailMessage(good); });
        std::thread b([&] { okBad = comp.SendMailMessage(bad); });
        a.join();
        b.join();
        EXPECT_TRUE(okGood) << good.SendError;
        EXPECT_EQ(good.SendError, "");
        EXPECT_FALSE(okBad);
        EXPECT_EQ(bad.SendError, "SMTP Send Error: 550 No such user");
    }
    EXPECT_EQ(peer.messages().size(), 3u);
}

TEST(MxLookup, AnswersAreSortedByPreference) {
    DnsPeer dns;
    dns.addMx("carrier.test", 10, "b.carrier.test");
    dns.addMx("carrier.test", 5, "a.carrier.test");
    dns.addMx("carrier.test", 20, "c.carrier.test");
    dns.addMx("carrier.test", 10, "b2.carrier.test");
    dns.addDomain("plain.test");
    const ResolverConfig config{dns.address(), 1, 1};
    std::vector<MxRecord> records;
    std::string error;
    ASSERT_EQ(lookupMx("CARRIER.test", config, records, error), MxStatus::Found) << error;
    std::vector<std::string> hosts;
    for (const MxRecord& r : records) hosts.push_back(std::to_string(r.preference) + "=" + r.host);
    EXPECT_EQ(hosts, (std::vector<std::string>{"5=a.carrier.test", "10=b.carrier.test", "10=b2.carrier.test",
                                               "20=c.carrier.test"}));
    EXPECT_EQ(lookupMx("plain.test", config, records, error), MxStatus::NoRecords);
    EXPECT_EQ(lookupMx("unknown.test", config, records, error), MxStatus::NoRecords);
    EXPECT_EQ(lookupMx("x.test", ResolverConfig{"not-an-address"}, records, error), MxStatus::Failed);
    EXPECT_EQ(error, "Invalid Name Server not-an-address");
}

}  // namespace
}  // namespace nv::test
