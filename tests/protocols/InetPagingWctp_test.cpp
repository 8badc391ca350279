// The internet pager's WCTP side against a loopback HTTP(S) server and proxy.
#include <gtest/gtest.h>

#include <pugixml.hpp>

#include <thread>

#include "protocols/KORInetPaging.h"
#include "protocols/KORInetPagingXml.h"
#include "tests/peers/HttpPeer.h"
#include "tests/peers/PeerNet.h"
#include "tests/peers/WctpReplies.h"
#include "tests/protocols/InetPagingEnvironment.h"

namespace nv::test {
namespace {

const bool kCurlEnv = useInetPagingEnvironment();

// 2024-01-02T03:04:05 UTC
std::chrono::system_clock::time_point fixedNow() { return std::chrono::system_clock::from_time_t(1704164645); }

InetPagingOptions fastOptions() {
    InetPagingOptions options;
    options.now = fixedNow;
    options.partPause = std::chrono::milliseconds(0);
    options.httpTimeout = std::chrono::milliseconds(5000);
    return options;
}

std::string crlf(const std::vector<std::string>& lines) {
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) out += (i ? "\r\n" : "") + lines[i];
    return out;
}

const char* kSuccess =
    "<?xml version=\"1.0\"?><wctp-Operation wctpVersion=\"wctp-dtd-v1r1\"><wctp-Confirmation>"
    "<wctp-Success successCode=\"200\" successText=\"Accepted\"/></wctp-Confirmation></wctp-Operation>";

std::unique_ptr<TWCTPData> pageTo(const TKORInetPagingComp& comp, const std::string& server) {
    auto data = comp.LoadWCTPData();
    data->fPIN = "5551212";
    data->fSenderID = "NOYB";
    data->fWCTPServer = server;
    data->fMessage = "hello";
    return data;
}

// The payload text of a posted client message.
std::string alphanumeric(const std::string& body) {
    pugi::xml_document doc;
    if (!doc.load_buffer(body.data(), body.size())) return "<not xml>";
    return doc.select_node("//wctp-Alphanumeric").node().child_value();
}

TEST(InetPagingWctp, GoldenClientMessageIsPostedByteForByte) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");

    ASSERT_TRUE(comp.SendWCTPMessage(*data));

    const std::string expected = crlf({
        "<?xml version=\"1.0\"?>",
        "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r1.dtd\">",
        "<wctp-Operation wctpVersion=\"wctp-dtd-v1r1\">",
        "  <wctp-SubmitClientMessage>",
        "     <wctp-SubmitClientHeader",
        "         submitTimestamp=\"2024-01-02T03:04:05\">",
        "         <wctp-ClientOriginator",
        "            senderID=\"NOYB\"",
        "         />",
        "         <wctp-ClientMessageControl",
        "         />",
        "         <wctp-Recipient",
        "             recipientID=\"5551212\"",
        "         />",
        "     </wctp-SubmitClientHeader>",
        "     <wctp-Payload>",
        "         <wctp-Alphanumeric>hello</wctp-Alphanumeric>",
        "     </wctp-Payload>",
        "  </wctp-SubmitClientMessage>",
        "</wctp-Operation>",
    });
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine, "POST /wctp HTTP/1.1");
    EXPECT_EQ(requests[0].header("Content-Type"), "text/xml");
    EXPECT_EQ(requests[0].header("Host"), "127.0.0.1:" + std::to_string(peer.port()));
    EXPECT_EQ(requests[0].header("Expect"), "");
    EXPECT_EQ(requests[0].body, expected);
    EXPECT_EQ(data->fRspData,
              "successCode=200\r\nsuccessText=Message Accepted\r\ntrackingNumber=T42\r\n");
    EXPECT_EQ(data->fWCTPPort, peer.port());
}

TEST(InetPagingWctp, EnterpriseRequestCarriesEveryOption) {
    TWCTPData d;
    d.WCTPEnterprise = true;
    d.fWCTPDocType = "http://example.net/dtd/wctpv1-0.dtd";
    d.fSenderID = "gw";
    d.fSecurityCode = "pw";
    d.fMiscSenderInfo = "misc";
    d.fMessageID = "M1";
    d.fTransactionID = "T1";
    d.fWCTPNotifyWhenQueued = d.fWCTPNotifyWhenDelivered = d.fWCTPNotifyWhenRead = true;
    d.fSendResponseTo = "me";
    d.fDeliverAfter = "a";
    d.fDeliverBefore = "b";
    d.fAllowResponse = true;
    d.fDeliveryPriority = TDeliveryPriority::dpHigh;
    d.fPreformatted = true;
    d.fPIN = "77";
    d.fMessage = "Pick";
    d.fMCRText = "Yes\r\nNo";
    EXPECT_EQ(wctp::buildSubmitRequest(d, "2024-01-02T03:04:05"),
              crlf({
                  "<?xml version=\"1.0\"?>",
                  "<!DOCTYPE wctp-Operation SYSTEM \"http://example.net/dtd/wctpv1-0.dtd\">",
                  "<wctp-Operation wctpVersion=\"wctp-dtd-v1r0\">",
                  "  <wctp-SubmitRequest>",
                  "     <wctp-SubmitHeader",
                  "         submitTimestamp=\"2024-01-02T03:04:05\">",
                  "         <wctp-Originator",
                  "            senderID=\"gw\"",
                  "            securityCode=\"pw\"",
                  "            miscInfo=\"misc\"",
                  "         />",
                  "         <wctp-MessageControl",
                  "            messageID=\"M1\"",
                  "            transactionID=\"T1\"",
                  "              notifyWhenQueued=\"true\"",
                  "              notifyWhenDelivered=\"true\"",
                  "              notifyWhenRead=\"true\"",
                  "              sendResponsesToID=\"me\"",
                  "              deliveryAfter=\"a\"",
                  "              deliveryBefore=\"b\"",
                  "              allowResponse=\"true\"",
                  "              deliveryPriority=\"HIGH\"",
                  "              preformatted=\"true\"",
                  "         />",
                  "         <wctp-Recipient",
                  "             recipientID=\"77\"",
                  "         />",
                  "     </wctp-SubmitHeader>",
                  "     <wctp-Payload>",
                  "         <wctp-MCR>",
                  "           <wctp-MessageText>Pick</wctp-MessageText>",
                  "           <wctp-Choice>Yes</wctp-Choice>",
                  "           <wctp-Choice>No</wctp-Choice>",
                  "         </wctp-MCR>",
                  "     </wctp-Payload>",
                  "  </wctp-SubmitRequest>",
                  "</wctp-Operation>",
              }));
}

TEST(InetPagingWctp, ClientMessagePutsThePasswordIntoMiscInfo) {
    TWCTPData d;
    d.fSenderID = "s";
    d.fPIN = "1";
    d.fMessage = "m";
    d.fMiscSenderInfo = "misc";
    d.fSecurityCode = "pw";
    d.fDeliveryPriority = TDeliveryPriority::dpLow;
    const std::string xml = wctp::buildSubmitRequest(d, "t");
    EXPECT_NE(xml.find("            miscInfo=\"pw\"\r\n         />"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("misc\""), std::string::npos);
    EXPECT_NE(xml.find("              deliveryPriority=\"LOW\""), std::string::npos);
    d.fSecurityCode.clear();
    EXPECT_NE(wctp::buildSubmitRequest(d, "t").find("            miscInfo=\"misc\""), std::string::npos);
}

TEST(InetPagingWctp, TextAndAttributesAreEscapedAndSentAsUtf8) {
    TWCTPData d;
    d.fSenderID = "a\"b&c";
    d.fSecurityCode = "p<w>\"";
    d.fPIN = "5<5";
    d.fMessage = "A&B 50% <b>caf\xE9</b>\x01";
    const std::string xml = wctp::buildSubmitRequest(d, "2024-01-02T03:04:05");
    EXPECT_NE(xml.find("senderID=\"a&quot;b&amp;c\""), std::string::npos);
    EXPECT_NE(xml.find("miscInfo=\"p&lt;w&gt;&quot;\""), std::string::npos);
    EXPECT_NE(xml.find("recipientID=\"5&lt;5\""), std::string::npos);
    EXPECT_NE(xml.find("<wctp-Alphanumeric>AB 50 &lt;b&gt;caf\xC3\xA9&lt;/b&gt;</wctp-Alphanumeric>"),
              std::string::npos)
        << xml;
    pugi::xml_document doc;
    ASSERT_TRUE(doc.load_buffer(xml.data(), xml.size()));
    EXPECT_STREQ(doc.select_node("//wctp-ClientOriginator").node().attribute("senderID").value(), "a\"b&c");
}

TEST(InetPagingWctp, VersionComesFromTheDocumentTypeName) {
    const std::pair<const char*, const char*> cases[] = {
        {"http://dtd.wctp.org/wctp-dtd-v1r1.dtd", "wctp-dtd-v1r1"},
        {"http://example.net/x/wctpv1-0.dtd", "wctp-dtd-v1r0"},
        {"WCTP-DTD-V1R3.DTD", "wctp-dtd-v1r3"},
        {"http://example.net/nothing.dtd", "wctp-dtd-v1r1"},
    };
    for (const auto& [docType, version] : cases) EXPECT_EQ(wctp::wctpVersion(docType), version) << docType;
    TWCTPData d;
    d.fWCTPDocType.clear();
    EXPECT_NE(wctp::buildSubmitRequest(d, "t").find("<wctp-Operation wctpVersion=\"wctp-dtd-v1r1\">"),
              std::string::npos);
}

TEST(InetPagingWctp, SplitTable) {
    struct Case {
        std::string text;
        int limit;
        std::vector<std::string> parts;
    } cases[] = {
        {"aaaa bbbb cccc", 5, {"(1 of 3)  aaaa   (CONT.)", "(2 of 3)  bbbb   (CONT.)", "(3 of 3)  cccc (END)"}},
        {"aaaa bbbb cccc", 10, {"(1 of 2)  aaaa bbbb   (CONT.)", "(2 of 2)  cccc (END)"}},
        {"aaaa bbbb cccc", 0, {"aaaa bbbb cccc"}},
        {"aaaa bbbb cccc", -1, {"aaaa bbbb cccc"}},  // used to send 20 posts of marks only
        {"aaaa bbbb cccc", 14, {"aaaa bbbb cccc"}},
        {"abcdefgh", 3, {"(1 of 3)  abc  (CONT.)", "(2 of 3)  def  (CONT.)", "(3 of 3)  gh (END)"}},
        {"", 5, {""}},
    };
    for (const Case& c : cases) EXPECT_EQ(wctp::splitWCTPMessage(c.text, c.limit), c.parts) << c.text << "/" << c.limit;

    const auto capped = wctp::splitWCTPMessage(std::string(100, 'x'), 2);
    ASSERT_EQ(capped.size(), 20u);
    EXPECT_EQ(capped.back(), "(20 of 20)  xx  (CONT.)");
}

TEST(InetPagingWctp, ReplyParsingTable) {
    struct Case {
        const char* body;
        wctp::ReplyKind kind;
        bool ok;
        const char* rsp;
    } cases[] = {
        {kWctpClientSuccess, wctp::ReplyKind::Submit, true,
         "successCode=200\r\nsuccessText=Message Accepted\r\ntrackingNumber=T42\r\n"},
        {kWctpFailure, wctp::ReplyKind::Submit, false, "errorCode=401\r\nerrorText=Invalid PIN\r\n"},
        {"<?xml version=\"1.0\"?><wctp-Operation><wctp-Error errorCode=\"500\" errorText=\"Down\"/></wctp-Operation>",
         wctp::ReplyKind::Submit, false, "errorCode=500\r\nerrorText=Down\r\n"},
        {kSuccess, wctp::ReplyKind::Request, true,
         "successCode=200\r\nsuccessText=Accepted\r\ntrackingNumber=\"M7\"\r\n"},
        {"<html>oops</html>", wctp::ReplyKind::Submit, false, "errorText=No Valid Reply From Server!\r\n"},
        {"not xml at all", wctp::ReplyKind::Submit, false, "errorText=Invalid XML Reply From Server!\r\n"},
        {"<?xml version=\"1.0\"?><wctp-Operation><wctp-QueryResponse><wctp-ClientResponseHeader "
         "responseTimestamp=\"2024-01-01T00:00:00\" trackingNumber=\"T42\"/><wctp-Notification type=\"Delivered\"/>"
         "<wctp-Alphanumeric>line\r\ntwo</wctp-Alphanumeric></wctp-QueryResponse></wctp-Operation>",
         wctp::ReplyKind::Query, true,
         "Content=line two\r\nresponseTimestamp=2024-01-01T00:00:00\r\ntrackingNumber=T42\r\ntype=Delivered\r\n"},
        {"<?xml version=\"1.0\"?><wctp-Operation><wctp-NoMessages/></wctp-Operation>", wctp::ReplyKind::Query, true,
         "type=Queued\r\n"},
        // Duplicates are dropped without regard to case; Latin-1 declared encodings are honoured.
        {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><r><wctp-ClientSuccess a=\"x\"/><WCTP-CLIENTSUCCESS A=\"X\"/>"
         "<wctp-ClientSuccess b=\"caf\xE9\"/></r>",
         wctp::ReplyKind::Submit, true, "a=x\r\nb=caf\xE9\r\n"},
        // Line breaks decoded from references, or from overlong UTF-8, cannot forge reply lines.
        {"<?xml version=\"1.0\"?><r><wctp-ClientSuccess successCode=\"200\" "
         "trackingNumber=\"a&#13;&#10;errorText=x\"/></r>",
         wctp::ReplyKind::Submit, true, "successCode=200\r\ntrackingNumber=a errorText=x\r\n"},
        {"<?xml version=\"1.0\"?><r><wctp-ClientSuccess trackingNumber=\"a\xC0\x8D\xC0\x8A" "errorText=x\"/></r>",
         wctp::ReplyKind::Submit, true, "trackingNumber=a????errorText=x\r\n"},
        {"<?xml version=\"1.0\"?><r><wctp-Failure errorCode=\"1&#10;successText=ok\" errorText=\"no\"/></r>",
         wctp::ReplyKind::Submit, false, "errorCode=1successText=ok\r\nerrorText=no\r\n"},
    };
    for (const Case& c : cases) {
        wctp::ReplyList list;
        bool isXml = false;
        EXPECT_EQ(wctp::readReply(c.body, c.kind, "M7", list, isXml), c.ok) << c.body;
        EXPECT_EQ(list.text(), c.rsp) << c.body;
    }
    EXPECT_EQ(wctp::wctpReplyValue("errorCode=401\r\nERRORTEXT=Invalid PIN\r\n", "errorText"), "Invalid PIN");
    EXPECT_EQ(wctp::wctpReplyValue("errorCode=401\r\n", "errorText"), "");
}

TEST(InetPagingWctp, InputChecksFailWithoutAConnection) {
    HttpPeer peer;
    TKORInetPagingComp comp(fastOptions());
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/";
    struct Case {
        std::string message, pin, server, rsp;
    } cases[] = {
        {"", "1", url, "errorText=No Message To Send!\r\n"},
        {"hi", "", url, "errorText=PIN Required!\r\n"},
        {"hi", "1", "", "errorText=No Server Specified!\r\n"},
        {"hi", "1", "ftp://127.0.0.1/", "errorText=http:// or https:// Required In URL!\r\n"},
    };
    for (const Case& c : cases) {
        auto data = comp.LoadWCTPData();
        data->fMessage = c.message;
        data->fPIN = c.pin;
        data->fWCTPServer = c.server;
        EXPECT_FALSE(comp.SendWCTPMessage(*data));
        EXPECT_EQ(data->fRspData, c.rsp);
        EXPECT_EQ(data->fMessage, c.message);
    }
    auto data = pageTo(comp, url);
    EXPECT_FALSE(comp.SendWCTPQuery("", *data));
    EXPECT_EQ(data->fRspData, "errorText=Message ID Required!\r\n");
    EXPECT_EQ(peer.connections(), 0);
}

TEST(InetPagingWctp, ServerRepliesTable) {
    struct Case {
        HttpReply reply;
        bool ok;
        std::string rsp;
    } cases[] = {
        {{200, "OK", kWctpClientSuccess}, true, "successCode=200\r\nsuccessText=Message Accepted\r\ntrackingNumber=T42\r\n"},
        {{200, "OK", kWctpFailure}, false, "errorCode=401\r\nerrorText=Invalid PIN\r\n"},
        {{200, "OK", "Service Unavailable", "text/plain"}, false, "errorText=Invalid XML Reply From Server!\r\n"},
        {{500, "Internal Server Error", kWctpClientSuccess}, false,
         "errorText=Error Connecting To Server, HTTP 500 Internal Server Error!\r\n"},
        {{302, "Found", ""}, false, "errorText=Error Connecting To Server, HTTP 302 Found!\r\n"},
    };
    for (const Case& c : cases) {
        HttpPeer peer;
        peer.setReply(c.reply);
        TKORInetPagingComp comp(fastOptions());
        auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
        EXPECT_EQ(comp.SendWCTPMessage(*data), c.ok) << c.reply.status;
        EXPECT_EQ(data->fRspData, c.rsp);
    }
}

TEST(InetPagingWctp, AReplySlowerThanTheTimeOutFails) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess, "text/xml", std::chrono::milliseconds(3000)});
    InetPagingOptions options = fastOptions();
    options.httpTimeout = std::chrono::milliseconds(200);
    TKORInetPagingComp comp(options);
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    EXPECT_FALSE(comp.SendWCTPMessage(*data));
    EXPECT_EQ(data->fRspData.rfind("errorText=Error Connecting To Server, ", 0), 0u) << data->fRspData;
    EXPECT_NE(data->fRspData.find("imed out"), std::string::npos) << data->fRspData;
}

TEST(InetPagingWctp, ACancelEndsThePostAsFailed) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess, "text/xml", std::chrono::milliseconds(5000)});
    std::atomic<bool> cancel{true};
    InetPagingOptions options = fastOptions();
    options.cancel = &cancel;
    options.httpTimeout = std::chrono::milliseconds(20000);
    TKORInetPagingComp comp(options);
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    EXPECT_FALSE(comp.SendWCTPMessage(*data));
    EXPECT_EQ(data->fRspData, "errorText=Error Connecting To Server, Call Cancelled!\r\n");
    EXPECT_EQ(peer.connections(), 0);

    // Set while the server is still thinking: the post ends without its reply.
    cancel = false;
    std::thread canceller([&] {
        for (int i = 0; i < 2000 && peer.requests().empty(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        cancel = true;
    });
    EXPECT_FALSE(comp.SendWCTPMessage(*data));
    canceller.join();
    EXPECT_EQ(data->fRspData, "errorText=Error Connecting To Server, Call Cancelled!\r\n");
}

TEST(InetPagingWctp, AddressWithoutPortUsesTheRecordPortAndOneWithPortStoresIt) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "HTTP://127.0.0.1/some/path?x=1");
    data->fWCTPPort = peer.port();
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;
    data->fWCTPServer = "http://127.0.0.1:" + std::to_string(peer.port());  // no path: posts to "/"
    data->fWCTPPort = 1;
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;
    EXPECT_EQ(data->fWCTPPort, peer.port());
    const auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine, "POST /some/path?x=1 HTTP/1.1");
    EXPECT_EQ(requests[1].requestLine, "POST / HTTP/1.1");

    std::uint16_t port = 80;
    EXPECT_EQ(wctp::postAddress("https://h.example:8443/wctp", port).url, "https://h.example:8443/wctp");
    EXPECT_EQ(port, 8443);
    EXPECT_TRUE(wctp::postAddress("https://h.example:8443/wctp", port).https);
    EXPECT_EQ(wctp::postAddress("http://h.example:99999/w", port).url, "http://h.example:8443/w");
    EXPECT_EQ(wctp::postAddress("http://[::1]:8080/w", port).url, "http://[::1]:8080/w");
}

TEST(InetPagingWctp, SelfSignedCertificateRefusedWhenFailOnBadSslIsOn) {
    HttpPeer peer(HttpPeer::Tls::On);
    peer.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "https://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    EXPECT_FALSE(comp.SendWCTPMessage(*data));
    EXPECT_NE(data->fRspData.find("errorText=SSL certificate problem"), std::string::npos) << data->fRspData;
    EXPECT_TRUE(peer.requests().empty());

    data->fFailOnBadSSL = false;
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(alphanumeric(peer.requests()[0].body), "hello");
}

TEST(InetPagingWctp, ProxyWithUserAndPassword) {
    HttpPeer origin(HttpPeer::Tls::On);
    origin.setReply({200, "OK", kWctpClientSuccess});
    HttpPeer proxy;
    proxy.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    const std::string basic = "Basic " + base64Encode("puser:p:ss");

    // Plain HTTP: the request goes to the proxy in absolute form.
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(origin.port()) + "/wctp");
    data->fProxyServer = " 127.0.0.1:" + std::to_string(proxy.port()) + " ";
    data->fProxyUserName = "puser";
    data->fProxyPassword = "p:ss";
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;
    // HTTPS: a CONNECT tunnel through the proxy to the origin.
    data->fWCTPServer = "https://127.0.0.1:" + std::to_string(origin.port()) + "/wctp";
    data->fFailOnBadSSL = false;
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;

    const auto requests = proxy.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].requestLine,
              "POST http://127.0.0.1:" + std::to_string(origin.port()) + "/wctp HTTP/1.1");
    EXPECT_EQ(requests[0].header("Proxy-Authorization"), basic);
    EXPECT_EQ(alphanumeric(requests[0].body), "hello");
    EXPECT_EQ(requests[1].requestLine, "CONNECT 127.0.0.1:" + std::to_string(origin.port()) + " HTTP/1.1");
    EXPECT_EQ(requests[1].header("Proxy-Authorization"), basic);
    ASSERT_EQ(origin.requests().size(), 1u);
    EXPECT_EQ(alphanumeric(origin.requests()[0].body), "hello");
}

TEST(InetPagingWctp, LongMessageIsSentInNumberedPartsAndStopsAtAFailure) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    data->fMessage = "aaaa bbbb cccc";
    data->fMaxLength = 5;
    EXPECT_TRUE(comp.SendWCTPMessage(*data));
    EXPECT_EQ(data->fMessage, "aaaa bbbb cccc");
    auto requests = peer.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(alphanumeric(requests[0].body), "(1 of 3)  aaaa   (CONT.)");
    EXPECT_EQ(alphanumeric(requests[2].body), "(3 of 3)  cccc (END)");

    // A limit of 0 sends the whole text at once; a body past 1 MB goes without
    // waiting for a 100-continue.
    data->fMessage = std::string(1100000, 'z');
    data->fMaxLength = 0;
    EXPECT_TRUE(comp.SendWCTPMessage(*data)) << data->fRspData;
    requests = peer.requests();
    ASSERT_EQ(requests.size(), 4u);
    EXPECT_EQ(alphanumeric(requests[3].body), std::string(1100000, 'z'));
    EXPECT_EQ(requests[3].header("Expect"), "");
    EXPECT_EQ(requests[3].raw.find("100-continue"), std::string::npos);

    data->fMessage = "aaaa bbbb cccc";
    data->fMaxLength = 5;
    peer.addReply("(2 of 3)", {200, "OK", kWctpFailure});
    EXPECT_FALSE(comp.SendWCTPMessage(*data));
    EXPECT_EQ(data->fRspData, "errorCode=401\r\nerrorText=Invalid PIN\r\n");
    EXPECT_EQ(peer.requests().size(), 6u);  // parts 1 and 2 only
    EXPECT_EQ(data->fMessage, "aaaa bbbb cccc");
}

TEST(InetPagingWctp, StatusQueryPostsAClientQuery) {
    HttpPeer peer;
    peer.setReply({200, "OK",
                   "<?xml version=\"1.0\"?><wctp-Operation><wctp-ClientQueryResponse><wctp-ClientResponseHeader "
                   "trackingNumber=\"T42\"/><wctp-Notification type=\"Read\"/></wctp-ClientQueryResponse>"
                   "</wctp-Operation>"});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    ASSERT_TRUE(comp.SendWCTPQuery("T42", *data)) << data->fRspData;
    EXPECT_EQ(data->fRspData, "trackingNumber=T42\r\ntype=Read\r\n");
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_EQ(peer.requests()[0].body, crlf({
                                           "<?xml version=\"1.0\"?>",
                                           "<!DOCTYPE wctp-Operation SYSTEM \"http://dtd.wctp.org/wctp-dtd-v1r1.dtd\">",
                                           "<wctp-Operation wctpVersion=\"wctp-dtd-v1r1\">",
                                           "  <wctp-ClientQuery",
                                           "      senderID=\"NOYB\"",
                                           "      recipientID=\"5551212\"",
                                           "      trackingNumber=\"T42\"",
                                           " />",
                                           "</wctp-Operation>",
                                       }));
}

TEST(InetPagingWctp, TwoThreadsOnOneInstanceEachGetTheirOwnReply) {
    HttpPeer peer;
    peer.addReply("recipientID=\"111\"", {200, "OK",
                                          "<r><wctp-ClientSuccess successText=\"for one\"/></r>", "text/xml",
                                          std::chrono::milliseconds(150)});
    peer.addReply("recipientID=\"222\"", {200, "OK", "<r><wctp-Failure errorText=\"for two\"/></r>"});
    TKORInetPagingComp comp(fastOptions());
    const std::string url = "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp";
    auto one = pageTo(comp, url);
    one->fPIN = "111";
    auto two = pageTo(comp, url);
    two->fPIN = "222";
    bool okOne = false, okTwo = true;
    for (int round = 0; round < 3; ++round) {
        std::thread a([&] { okOne = comp.SendWCTPMessage(*one); });
        std::thread b([&] { okTwo = comp.SendWCTPMessage(*two); });
        a.join();
        b.join();
        EXPECT_TRUE(okOne);
        EXPECT_FALSE(okTwo);
        EXPECT_EQ(one->fRspData, "successText=for one\r\n");
        EXPECT_EQ(two->fRspData, "errorText=for two\r\n");
    }
}

TEST(InetPagingWctp, FieldsAreCutToTheirCapacity) {
    HttpPeer peer;
    peer.setReply({200, "OK", kWctpClientSuccess});
    TKORInetPagingComp comp(fastOptions());
    auto data = pageTo(comp, "http://127.0.0.1:" + std::to_string(peer.port()) + "/wctp");
    data->fSecurityCode = std::string(65, 'p');
    data->fPIN = std::string(120, '9');
    EXPECT_TRUE(comp.SendWCTPMessage(*data));
    ASSERT_EQ(peer.requests().size(), 1u);
    EXPECT_NE(peer.requests()[0].body.find("miscInfo=\"" + std::string(35, 'p') + "\""), std::string::npos);
    EXPECT_NE(peer.requests()[0].body.find("recipientID=\"" + std::string(100, '9') + "\""), std::string::npos);
}

TEST(InetPagingWctp, FutureLocalTimeBecomesUtc) {
    const auto now = fixedNow();
    EXPECT_EQ(wctp::GetWCTPGMTTime("2000-01-01T00:00:00", now), "2000-01-01T00:00:00");
    EXPECT_EQ(wctp::GetWCTPGMTTime("tomorrow", now), "tomorrow");
    std::tm local{};
    local.tm_year = 2030 - 1900;
    local.tm_mon = 5;
    local.tm_mday = 1;
    local.tm_hour = 12;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    EXPECT_EQ(wctp::GetWCTPGMTTime("2030-06-01T12:00:00", now),
              wctp::FormatWCTPTime(std::chrono::system_clock::from_time_t(t)));
}

}  // namespace
}  // namespace nv::test
