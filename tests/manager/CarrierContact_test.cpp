// The carrier contact window: its buttons, the links they open, and the
// carrier-update mail of the provider editor's "Submit To KOR" through a
// loopback SMTP server found as the recipient domain's mail exchanger.
#include <QCheckBox>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <stdlib.h>

#include "manager/CarrierContactInfoFrm.h"
#include "manager/PCDForm.h"
#include "tests/manager/ProviderTestSupport.h"
#include "tests/peers/DnsPeer.h"
#include "tests/peers/SmtpPeer.h"

namespace nv::test {
namespace {

void leave(QLineEdit* e) { QMetaObject::invokeMethod(e, "editingFinished"); }

TEST(CarrierContact, ButtonsFollowTheirFields) {
    struct Case {
        const char* field;
        const char* button;
        const char* text;
        bool enabled;
    };
    const std::vector<Case> cases = {
        {"SalesEMail", "SendSales", "sales@acme.test", true},
        {"SalesEMail", "SendSales", "sales@acme", false},
        {"SupportEMail", "SendSupport", "help.acme.test", false},
        {"SupportEMail", "SendSupport", "help@acme.test", true},
        {"WebSite", "GoToWeb", "www.acme.test", false},
        {"WebSite", "GoToWeb", "https://www.acme.test", true},
        {"WebSite", "GoToWeb", "see http://acme.test", true},
        {"WebSite", "GoToWeb", "http://", false},
    };
    WindowEnv env;
    TCarrierContactInfoFrm w(env.ctx);
    EXPECT_FALSE(child<QPushButton>(w, "GoToWeb")->isEnabled());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        auto* edit = child<QLineEdit>(w, c.field);
        edit->setText(c.text);
        leave(edit);
        EXPECT_EQ(child<QPushButton>(w, c.button)->isEnabled(), c.enabled);
    }
}

TEST(CarrierContact, LinksOpenOnlyWebAddressesAndOneMailAddress) {
    struct Case {
        const char* field;
        const char* button;
        const char* text;
        const char* url;  // nullptr: nothing opened, a plain beep
    };
    const std::vector<Case> cases = {
        {"SalesEMail", "SendSales", "sales@acme.test", "mailto:sales@acme.test"},
        {"SupportEMail", "SendSupport", " help+pager@acme.test ", "mailto:help%2Bpager@acme.test"},
        {"SupportEMail", "SendSupport", "a?cc=x@acme.test", "mailto:a%3Fcc%3Dx@acme.test"},
        {"SalesEMail", "SendSales", "a@b.c?subject=x", nullptr},
        {"SalesEMail", "SendSales", "a@b.c, x@y.z", nullptr},
        {"WebSite", "GoToWeb", "https://www.acme.test/contact", "https://www.acme.test/contact"},
        {"WebSite", "GoToWeb", "javascript:alert(1)//http://x.y", nullptr},
        {"WebSite", "GoToWeb", "file:///etc/passwd?http://x.y", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        WindowEnv env;
        TCarrierContactInfoFrm w(env.ctx);
        auto* edit = child<QLineEdit>(w, c.field);
        edit->setText(c.text);
        leave(edit);
        click(w, c.button);
        if (c.url) {
            ASSERT_EQ(env.ui.urls.size(), 1u);
            EXPECT_EQ(env.ui.urls[0].toString(QUrl::FullyEncoded).toStdString(), c.url);
            EXPECT_TRUE(env.ui.beeps.empty());
        } else {
            EXPECT_TRUE(env.ui.urls.empty());
            EXPECT_EQ(env.ui.beeps, std::vector<BeepKind>{BeepKind::Plain});
        }
    }
}

struct SubmitEnv : WindowEnv {
    DnsPeer dns;
    SmtpPeer smtp;
    explicit SubmitEnv(SmtpPeerOptions options = {}, const char* install = nullptr) : smtp(std::move(options)) {
        dns.addMx("nerivale.test", 10, "mx.nerivale.test");
        writeFile(file("Nerivale.ini"),
                  install ? install : "[Nerivale]\nSubmitFrom=updates@gateway.test\nSubmitTo=support@nerivale.test\n");
        ::setenv("NERIVALE_CONF", file("Nerivale.ini").c_str(), 1);
    }
    ~SubmitEnv() { ::unsetenv("NERIVALE_CONF"); }
    void route(TPCDForm& ed) {
        InetPagingOptions options;
        options.resolver = {dns.address(), 1, 1};
        options.connectTo = {"mx.nerivale.test:25:127.0.0.1:" + std::to_string(smtp.port())};
        ed.contactForm()->setMailOptions(options);
    }
};

void fillSnppProvider(TPCDForm& ed) {
    ed.prepareNew();
    setText(ed, "CompanyName", "Acme");
    setText(ed, "ProtocolMethod", "Internet SNPP");
    child<QPlainTextEdit>(ed, "Notes")->setPlainText("n1\nn2");
    setText(ed, "SNPPServer", "snpp.acme.test");
    setText(ed, "SNPPUser", "u");
    setText(ed, "SNPPPass", "p");
    child<QCheckBox>(ed, "TwoWay")->setChecked(true);
    TCarrierContactInfoFrm& contact = *ed.contactForm();
    setText(contact, "CarrierName", "Acme Inc");
    setText(contact, "Conatct", "Jo");
    setText(contact, "Address", "1 Main St");
    setText(contact, "City", "Dallas");
    setText(contact, "State", "TX");
    setText(contact, "Zip", "75201");
    setText(contact, "Phone", "555-1212");
    setText(contact, "SupportEMail", "help@acme.test");
    setText(contact, "SalesEMail", "sales@acme.test");
    setText(contact, "WebSite", "https://acme.test");
}

bool submit(TPCDForm& ed) {
    QSignalSpy done(ed.contactForm(), &TCarrierContactInfoFrm::mailFinished);
    click(ed, "SpeedButton2");
    return done.wait(20000);
}

TEST(CarrierContact, SubmitMailsTheProviderAndItsContactLines) {
    SubmitEnv env;
    TPCDForm ed(env.ctx);
    env.route(ed);
    fillSnppProvider(ed);
    ASSERT_TRUE(submit(ed));
    EXPECT_EQ(env.ui.texts(), std::vector<QString>{"Update Sent"});
    const auto messages = env.smtp.messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].mailFrom, "updates@gateway.test");
    EXPECT_EQ(messages[0].rcpts, std::vector<std::string>{"support@nerivale.test"});
    const std::string& data = messages[0].data;
    EXPECT_NE(data.find("\r\nSubject: Carrier Update Submision\r\n"), std::string::npos) << data;
    const std::string body =
        "ConnectionName:=Acme\r\nLength:=160\r\nNotes:=n1\r\nn2\r\n\r\n"
        "SNPPServer:=snpp.acme.test\r\nSNPPPort:=444\r\nSNPPUser:=u\r\nSNPPPass:=p\r\n"
        "NoQueue:=0\r\nTwoWay:=1\r\nPing:=0\r\nCove:=0\r\nHold:=0\r\nLevel:=0\r\n\r\n"
        "CarrierName:=Acme Inc\r\nConContact:=Jo\r\nConAddress:=1 Main St\r\nConCity:=Dallas\r\nConState:=TX\r\n"
        "ConZip:=75201\r\nConPhone:=555-1212\r\nConSuport:=help@acme.test\r\nConSales:=sales@acme.test\r\n"
        "ConWeb:=https://acme.test\r\n";
    const std::size_t start = data.find("\r\n\r\n");
    ASSERT_NE(start, std::string::npos);
    EXPECT_EQ(data.substr(start + 4), body);
}

TEST(CarrierContact, SubmitOfWctpAndTapProvidersHasTheirLines) {
    struct Case {
        const char* method;
        std::function<void(TPCDForm&)> fill;
        std::string lines;
    };
    const std::vector<Case> cases = {
        {"Tap Modem",
         [](TPCDForm& ed) {
             setText(ed, "TerminalAccessNum", "5551212");
             setText(ed, "Password", "pw");
             setText(ed, "ETAP", "Aldiscon SMS");
         },
         "\r\n\r\nPassword:=pw\r\nAccessNumber:=5551212\r\nETap:=Aldiscon SMS\r\n\r\nCarrierName:="},
        {"Internet WCTP",
         [](TPCDForm& ed) {
             setText(ed, "WCTPServer", "https://w.test/wctp");
             child<QCheckBox>(ed, "WCTPNotifyWhenRead")->setChecked(true);
         },
         "\r\n\r\nWCTPServer:=https://w.test/wctp\r\nWCTPPort:=80\r\nWCTPUser:=\r\nWCTPPass:=\r\n"
         "WCTPNotifyWhenQueued=0\r\nWCTPNotifyWhenDelivered=0\r\nWCTPNotifyWhenRead:=1\r\n"
         "WCTPDocType:=http://dtd.wctp.org/wctp-dtd-v1r1.dtd\r\n\r\nCarrierName:="},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.method);
        SubmitEnv env;
        TPCDForm ed(env.ctx);
        env.route(ed);
        ed.prepareNew();
        setText(ed, "CompanyName", "Acme");
        setText(ed, "ProtocolMethod", c.method);
        c.fill(ed);
        ASSERT_TRUE(submit(ed));
        ASSERT_EQ(env.smtp.messages().size(), 1u);
        EXPECT_NE(env.smtp.messages()[0].data.find("Notes:=" + c.lines), std::string::npos)
            << env.smtp.messages()[0].data;
    }
}

TEST(CarrierContact, AFailedSendShowsTheCutErrorDialog) {
    SubmitEnv env({SmtpPeerOptions::Tls::None, "", "", "220 peer.test ESMTP",
                   {{"support@nerivale.test", "550 5.1.1 No such mailbox here at all, sorry about that"}}});
    TPCDForm ed(env.ctx);
    env.route(ed);
    fillSnppProvider(ed);
    ASSERT_TRUE(submit(ed));
    ASSERT_EQ(env.ui.shown.size(), 1u);
    EXPECT_EQ(env.ui.shown[0].kind, DialogKind::Error);
    const QString text = env.ui.shown[0].text;
    EXPECT_TRUE(text.startsWith("SMTP Send Errror: ")) << text.toStdString();
    EXPECT_LE(text.size(), 68);
    EXPECT_GT(text.size(), 18);
}

TEST(CarrierContact, SubmitNeedsASubmittableMethodAndTheAddresses) {
    struct Case {
        const char* what;
        const char* method;
        const char* install;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"TAP over IP", "TAP Over IP", nullptr, "Only WCTP, SNPP, or TAP Modem connections can be submitted!"},
        {"SMPP", "Internet SMPP", nullptr, "Only WCTP, SNPP, or TAP Modem connections can be submitted!"},
        {"no recipient", "Internet SNPP", "[Nerivale]\nSubmitFrom=updates@gateway.test\n",
         "No carrier update mail is configured: set SubmitFrom and SubmitTo in the [Nerivale] section of the "
         "install file."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SubmitEnv env({}, c.install);
        TPCDForm ed(env.ctx);
        env.route(ed);
        ed.prepareNew();
        setText(ed, "ProtocolMethod", c.method);
        click(ed, "SpeedButton2");
        EXPECT_EQ(env.ui.texts(), std::vector<QString>{c.message});
        EXPECT_FALSE(ed.contactForm()->sending());
        EXPECT_EQ(env.smtp.connections(), 0);
    }
}

}  // namespace
}  // namespace nv::test
