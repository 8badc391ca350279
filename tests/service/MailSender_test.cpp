// The engine's e-mail sender: E-Page pages (types 8 and 10) go from the page
// worker and the port threads to a scripted SMTP server on loopback; the
// dialogue, the message, the log lines and the counters show what happened.
#include <gtest/gtest.h>

#include "tests/peers/HttpPeer.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/service/InetEngine.h"

namespace nv {
namespace {

using namespace std::chrono_literals;
using test::SmtpPeer;
using test::SmtpPeerOptions;
using Lines = std::vector<std::string>;

std::string smtpConfig(bool enabled, const SmtpPeer& peer) {
    return "[SMTP]\r\nEnabled=" + std::string(enabled ? "1" : "0") + "\r\nServer=127.0.0.1\r\nPort=" +
           std::to_string(peer.port()) + "\r\nSender=gateway@example.net\r\n";
}

// The header `name` of a received message, without its name; "(none)" when absent.
std::string header(const std::string& data, const std::string& name) {
    const std::string text = "\r\n" + data;
    const std::string key = "\r\n" + name + ": ";
    const auto at = text.find(key);
    if (at == std::string::npos) return "(none)";
    const auto from = at + key.size();
    return text.substr(from, text.find("\r\n", from) - from);
}

class MailSenderTest : public test::InetEngineTest {};

TEST_F(MailSenderTest, WorkerMailsToTheRoutesAddressOrDomain) {
    struct Case {
        const char* name;
        std::string pin, eddr;
        bool pinAsSubject;
        std::string rcpt, subject;
    } cases[] = {
        {"type 8: PIN at the route's domain", "5551234", "@example.com", false, "5551234@example.com", ""},
        {"type 8: PIN is an address", "bob@example.org", "@example.com", false, "bob@example.org", ""},
        {"type 10: route's address, PIN as subject", "5551234", "ops@example.com", true, "ops@example.com",
         "5551234"},
    };
    for (const auto& c : cases) {
        SmtpPeer peer;
        makeEngine();
        config(smtpConfig(true, peer));
        route("E-Page", "NONE", c.eddr, c.pinAsSubject);
        page(c.pin, "hi there");
        EXPECT_EQ(waitLine("[SMTP Delivery"), "[SMTP Delivery OK]  ID:  - " + c.rcpt + " PIN:" + c.rcpt +
                                                  " Msg: hi there")
            << c.name;
        settle();
        EXPECT_EQ(engine->counters().EPagesSent, 1) << c.name;
        EXPECT_EQ(engine->counters().TransactionCount, 1) << c.name;
        EXPECT_EQ(engine->counters().ErrorCount, 0) << c.name;
        auto messages = peer.messages();
        ASSERT_EQ(messages.size(), 1u) << c.name;
        EXPECT_EQ(messages[0].mailFrom, "gateway@example.net") << c.name;
        EXPECT_EQ(messages[0].rcpts, Lines{c.rcpt}) << c.name;
        EXPECT_EQ(header(messages[0].data, "To"), c.rcpt) << c.name;
        EXPECT_EQ(header(messages[0].data, "Subject"), c.subject) << c.name;
        EXPECT_TRUE(messages[0].data.ends_with("\r\n\r\nhi there") ||
                    messages[0].data.ends_with("\r\n\r\nhi there\r\n"))
            << c.name;
    }
}

TEST_F(MailSenderTest, RefusedRecipientGivesOneConnectionErrorLine) {
    SmtpPeer peer(SmtpPeerOptions(SmtpPeerOptions::Tls::None, {}, {}, "220 peer.test ESMTP",
                                  {{"5551234@example.com", "550 5.1.1 No such user"}}));
    makeEngine();
    config(smtpConfig(true, peer));
    route("E-Page", "NONE", "@example.com");
    page("5551234", "hi");
    EXPECT_EQ(waitLine("[SMTP Delivery"), "[SMTP Delivery Fail] ID:  - 5551234@example.com PIN:5551234@example.com Msg: hi");
    const Lines errors = linesStarting("[SMTP Connection Error] ");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_TRUE(errors[0].ends_with(" PIN: 5551234@example.com Msg: hi")) << errors[0];
    EXPECT_GT(errors[0].size(), std::string("[SMTP Connection Error]  PIN: 5551234@example.com Msg: hi").size())
        << "the reason is missing";
    settle();
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(engine->counters().EPagesSent, 0);
    EXPECT_TRUE(peer.messages().empty());
}

// [SMTP] is read for every page: switched off, a page fails at once with no
// connection and no connection-error line; switched on, the next one goes out.
TEST_F(MailSenderTest, ConfigEditReachesTheNextPage) {
    SmtpPeer peer;
    makeEngine();
    route("E-Page", "NONE", "@example.com");
    config(smtpConfig(false, peer));
    page("5551234", "first");
    EXPECT_EQ(waitLine("[SMTP Delivery"),
              "[SMTP Delivery Fail] ID:  - 5551234@example.com PIN:5551234@example.com Msg: first");
    EXPECT_EQ(peer.connections(), 0);
    EXPECT_TRUE(linesStarting("[SMTP Connection Error]").empty());

    config(smtpConfig(true, peer));
    page("5551234", "second");
    EXPECT_EQ(waitLine("[SMTP Delivery OK]"),
              "[SMTP Delivery OK]  ID:  - 5551234@example.com PIN:5551234@example.com Msg: second");
    ASSERT_EQ(peer.messages().size(), 1u);
    settle();
    EXPECT_EQ(engine->counters().ErrorCount, 1);
    EXPECT_EQ(engine->counters().EPagesSent, 1);
}

// A port thread mails a page whose secondary provider is "E-Page", to the
// route's secondary address.
TEST_F(MailSenderTest, PortThreadMailsToTheSecondaryEPage) {
    test::HttpPeer refusing;
    refusing.setReply({200, "OK",
                       "<?xml version=\"1.0\"?><wctp-Operation><wctp-Failure errorCode=\"401\" "
                       "errorText=\"Invalid PIN\"/></wctp-Operation>"});
    SmtpPeer peer;
    config(smtpConfig(true, peer));
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "Refuser",
                                      .secProvider = "E-Page", .secEddr = "@backup.example.com"}}));
    providers({{.name = "Refuser",
                .type = dtWctp,
                .texts = {{test::kWCTPServer, "http://127.0.0.1:" + std::to_string(refusing.port()) + "/"}}}});
    makeEngine({{.name = "Modem1"}});
    page("5551234", "hi");
    EXPECT_EQ(waitLine("[SMTP Delivery OK] "),
              "[SMTP Delivery OK] Modem1 Message Sent ID:  - Nerivale Server PIN:5551234@backup.example.com Msg: hi");
    auto messages = peer.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rcpts, Lines{"5551234@backup.example.com"});
    EXPECT_EQ(header(messages[0].data, "Subject"), "");
    settle();
    EXPECT_EQ(engine->counters().EPagesSent, 1);
    engine->StopServer();
}

}  // namespace
}  // namespace nv
