// The engine's WCTP and e-mail senders as the pager's job calls: settings from
// Config.Dat and the provider record, reply lines and the mail log line.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include "foundation/ConfigFile.h"
#include "foundation/ProfileFile.h"
#include "protocols/KORInetPagingJobs.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/SmtpPeer.h"
#include "tests/peers/TestSupport.h"
#include "tests/protocols/InetPagingEnvironment.h"

namespace nv::test {
namespace {

const bool kCurlEnv = useInetPagingEnvironment();

const char* kClientSuccess =
    "<?xml version=\"1.0\"?><wctp-Operation><wctp-SubmitClientResponse><wctp-ClientSuccess "
    "successCode=\"200\" successText=\"Accepted\"/></wctp-SubmitClientResponse></wctp-Operation>";

ProviderRec wctpProvider(const std::string& server) {
    ProviderRec p;
    p.setCompanyName("Carrier");
    p.setWCTPServer(server);
    p.setWCTPPort("80");
    p.setWCTPDocType("http://dtd.wctp.org/wctp-dtd-v1r1.dtd");
    p.setMsgLength(999);
    return p;
}

// [SMTP] as the service reads it, from the file as it is now.
SmtpSection readSmtp(const std::filesystem::path& file) {
    const ProfileSnapshot ini = ProfileSnapshot::load(file);
    SmtpSection smtp;
    smtp.Enabled = ini.readBool("SMTP", "Enabled", false);
    smtp.Server = ini.readString("SMTP", "Server", "");
    smtp.Port = NumberText::fromText(ini.readString("SMTP", "Port", "25"), 25);
    smtp.User = ini.readString("SMTP", "User", "");
    smtp.Pass = ini.readString("SMTP", "Pass", "");
    smtp.Sender = ini.readString("SMTP", "Sender", "");
    smtp.UseSSL = ini.readBool("SMTP", "UseSSL", false);
    return smtp;
}

pugi::xml_node posted(pugi::xml_document& doc, const HttpRequest& request, const char* element) {
    doc.load_buffer(request.body.data(), request.body.size());
    return doc.select_node((std::string("//") + element).c_str()).node();
}

TEST(InetPagingJobs, WctpJobTakesItsFieldsFromProviderAndConfig) {
    TKORInetPagingComp comp;
    struct Case {
        std::string configSender, wctpUser, wctpPass, expectSender, expectMisc;
    } cases[] = {
        {"NOYB", "", "", "NOYB", "misc"},
        {"", "", "", "NOYB", "misc"},
        {"gateway", "account", "", "account", "misc"},
        {"gateway", "", "secret", "gateway", "secret"},
    };
    for (const Case& c : cases) {
        ProviderRec provider = wctpProvider("http://wctp.example/path");
        provider.setWCTPUser(c.wctpUser);
        provider.setWCTPPass(c.wctpPass);
        provider.setWCTPPort("8080");
        provider.setMsgLength(120);
        provider.setWCTPNotifyWhenRead(true);
        WctpSection wctp;
        wctp.WCTPSenderID = c.configSender;
        wctp.WCTPMiscSenderInfo = "misc";
        wctp.WCTPFOBSSL = false;
        ProxySection proxy;
        proxy.Server = "proxy.example:3128";
        proxy.User = "u";
        auto job = makeWCTPJob(comp, provider, std::string(150, '7'), wctp, proxy);
        EXPECT_EQ(job->fSenderID, c.expectSender);
        EXPECT_EQ(job->fMiscSenderInfo, c.expectMisc);
        EXPECT_EQ(job->fSecurityCode, c.wctpPass);
        EXPECT_EQ(job->fPIN, std::string(100, '7'));
        EXPECT_EQ(job->fWCTPPort, 8080);
        EXPECT_EQ(job->fMaxLength, 120);
        EXPECT_TRUE(job->fWCTPNotifyWhenRead);
        EXPECT_FALSE(job->fFailOnBadSSL);
        EXPECT_FALSE(job->WCTPEnterprise);
        EXPECT_EQ(job->fProxyServer, "");  // [Proxy] Enabled off clears the proxy
        proxy.Enabled = true;
        job = makeWCTPJob(comp, provider, "1", wctp, proxy);
        EXPECT_EQ(job->fProxyServer, "proxy.example:3128");
        EXPECT_EQ(job->fProxyUserName, "u");
    }
}

TEST(InetPagingJobs, WctpPageSendsQueriesAndNumericOnlyText) {
    HttpPeer peer;
    peer.setReply({200, "OK", kClientSuccess});
    TKORInetPagingComp comp;
    const ProviderRec provider = wctpProvider("http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    const WctpSection wctp;
    const ProxySection proxy;
    struct Case {
        std::string message;
        bool numericOnly;
        bool ok;
        std::string reply;
        std::string posted;  // payload text, or "query:<id>", or "" for no post
    } cases[] = {
        {"Call 555 1212", true, true, "successCode=200\r\nsuccessText=Accepted\r\n", "5551212"},
        {"Call now", true, false, "errorText=No Message To Send, Numeric Only Pager!\r\n", ""},
        {"", false, false, "errorText=No Message To Send!\r\n", ""},
        {"Hi MSTA there", false, true, "successCode=200\r\nsuccessText=Accepted\r\n", "Hi MSTA there"},
        {"MSTA T42", false, true, "", "query:T42"},
    };
    std::size_t seen = 0;
    for (const Case& c : cases) {
        std::string reply;
        EXPECT_EQ(sendWCTPPage(comp, provider, "5551212", c.numericOnly, c.message, wctp, proxy, reply), c.ok)
            << c.message;
        EXPECT_EQ(reply, c.reply) << c.message;
        const auto requests = peer.requests();
        if (c.posted.empty()) {
            EXPECT_EQ(requests.size(), seen) << c.message;
            continue;
        }
        ASSERT_EQ(requests.size(), seen + 1) << c.message;
        pugi::xml_document doc;
        if (c.posted.rfind("query:", 0) == 0) {
            EXPECT_STREQ(posted(doc, requests[seen], "wctp-ClientQuery").attribute("trackingNumber").value(),
                         c.posted.substr(6).c_str());
        } else {
            EXPECT_EQ(posted(doc, requests[seen], "wctp-Alphanumeric").child_value(), c.posted);
            EXPECT_STREQ(posted(doc, requests[seen], "wctp-ClientOriginator").attribute("senderID").value(), "NOYB");
        }
        seen = requests.size();
    }
}

TEST(InetPagingJobs, MailPageFollowsTheSmtpSectionReadForEachPage) {
    TempDir dir;
    SmtpPeer first;
    SmtpPeer second;
    const std::filesystem::path config = dir / "Config.Dat";
    TKORInetPagingComp comp;
    std::string line;

    // No file: e-mail is off, nothing is sent and nothing logged.
    EXPECT_FALSE(sendSMTPPage(comp, readSmtp(config), "a@carrier.test", "5551212", "hi", line));
    EXPECT_EQ(line, "");

    writeFile(dir / "Config.Dat", "[SMTP]\r\nEnabled=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(first.port()) +
                                      "\r\nSender=gw@nerivale.test\r\n");
    EXPECT_TRUE(sendSMTPPage(comp, readSmtp(config), "a@carrier.test", "5551212", "hi", line));
    EXPECT_EQ(line, "");
    writeFile(dir / "Config.Dat", "[smtp]\r\nenabled=1\r\nserver=127.0.0.1\r\nport=" + std::to_string(second.port()) +
                                      "\r\n");
    EXPECT_TRUE(sendSMTPPage(comp, readSmtp(config), "b@carrier.test", "5551212", "again", line));
    ASSERT_EQ(first.messages().size(), 1u);
    ASSERT_EQ(second.messages().size(), 1u);
    EXPECT_EQ(first.messages()[0].mailFrom, "gw@nerivale.test");
    EXPECT_EQ(second.messages()[0].rcpts.at(0), "b@carrier.test");

    writeFile(dir / "Config.Dat", "[SMTP]\r\nEnabled=0\r\nServer=127.0.0.1\r\nPort=" + std::to_string(first.port()));
    EXPECT_FALSE(sendSMTPPage(comp, readSmtp(config), "a@carrier.test", "5551212", "hi", line));
    EXPECT_EQ(line, "");
    EXPECT_EQ(first.connections(), 1);
}

TEST(InetPagingJobs, RefusedMailGivesOneConnectionErrorLine) {
    TempDir dir;
    SmtpPeer peer({SmtpPeerOptions::Tls::None, "", "", "220 peer", {{"gone@carrier.test", "550 5.1.1 No such user"}}});
    writeFile(dir / "Config.Dat",
              "[SMTP]\r\nEnabled=1\r\nServer=127.0.0.1\r\nPort=" + std::to_string(peer.port()) + "\r\n");
    const std::filesystem::path config = dir / "Config.Dat";
    TKORInetPagingComp comp;
    std::string line;
    EXPECT_FALSE(sendSMTPPage(comp, readSmtp(config), "gone@carrier.test", "5551212", "Call me", line));
    EXPECT_EQ(line, "[SMTP Connection Error] SMTP Send Error: 550 5.1.1 No such user PIN: gone@carrier.test Msg: "
                    "Call me");

    SmtpSection smtp = readSmtp(config);
    smtp.Port = NumberText::fromText("twenty-five", 25);
    EXPECT_EQ(makeSMTPJob(smtp, "x@y.test", std::string(80, 's'), "b").SMTPPort, 25);
    EXPECT_EQ(makeSMTPJob(smtp, "x@y.test", std::string(80, 's'), "b").Subject, std::string(75, 's'));
    EXPECT_EQ(makeSMTPJob(smtp, "x@y.test", "s", "b").TimeOut, 60);
}

}  // namespace
}  // namespace nv::test
