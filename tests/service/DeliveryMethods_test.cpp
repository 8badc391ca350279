// The small rules both roads take from the delivery table. The rows' texts,
// counters and statistics are pinned by DeliveryTable_test.cpp against real
// peers; these are the rules a row does not show.
#include "service/DeliveryMethods.h"

#include <gtest/gtest.h>

#include "protocols/WctpReply.h"

namespace nv {
namespace {

using Path = DeliveryPath;

ProviderRec mailProvider(std::uint8_t type, const std::string& server) {
    ProviderRec p;
    p.setDeliveryType(type);
    p.setSNPPServer(server);
    return p;
}

TEST(DeliveryMethods, MailAddressSubjectAndBody) {
    struct Case {
        std::uint8_t type;
        std::string server, PIN;
        Path path;
        MailPage want;
    };
    const std::string text = "line one\r\nline two";
    const Case cases[] = {
        {dtEPage, "@example.com", "5551234", Path::Worker, {"5551234@example.com", "", "line oneline two"}},
        {dtEPage, "@example.com", "me@other.org", Path::Worker, {"me@other.org", "", "line oneline two"}},
        {dtEPageSubject, "ops@example.com", "5551234", Path::Worker, {"ops@example.com", "5551234", "line oneline two"}},
        {dtEPageSubject, "ops@example.com", "me@other.org", Path::PortThread, {"ops@example.com", "me@other.org", text}},
        {dtEPage, "@example.com", "5551234", Path::PortThread, {"5551234@example.com", "", text}},
    };
    for (const Case& c : cases) {
        const MailPage got = mailPage(mailProvider(c.type, c.server), c.PIN, text, c.path);
        EXPECT_EQ(got.to, c.want.to) << c.PIN;
        EXPECT_EQ(got.subject, c.want.subject) << c.PIN;
        EXPECT_EQ(got.body, c.want.body) << c.PIN;
    }
}

TEST(DeliveryMethods, SnppWorkerSendsOnePartInOrderPortThreadCutsByTheProvider) {
    ProviderRec p;
    p.setMsgLength(80);
    UserRec u;
    u.setReverseOrder(true);
    const std::string message(300, 'x');
    const SnppParts worker = snppParts(p, u, message, Path::Worker);
    EXPECT_EQ(worker.partLength, 301);
    EXPECT_FALSE(worker.reverse);
    const SnppParts port = snppParts(p, u, message, Path::PortThread);
    EXPECT_EQ(port.partLength, 80);
    EXPECT_TRUE(port.reverse);
}

TEST(DeliveryMethods, SecondaryOnTheQueueByNameOnTheSecondaryListOnlyWithItsRecord) {
    TQueueRec page;
    page.Recipient = std::make_unique<UserRec>();
    page.Recipient->setSecProviderName("Carrier2");
    EXPECT_TRUE(handsOnToSecondary(page, Path::Worker));
    EXPECT_FALSE(handsOnToSecondary(page, Path::PortThread));
    page.SecondaryProvider = std::make_unique<ProviderRec>();
    EXPECT_TRUE(handsOnToSecondary(page, Path::PortThread));
    page.Recipient->setSecProviderName("NONE");
    EXPECT_FALSE(handsOnToSecondary(page, Path::Worker));
    EXPECT_FALSE(handsOnToSecondary(page, Path::PortThread));
}

TEST(DeliveryMethods, WctpReplyOfAStatusQueryOnEachRoad) {
    const std::vector<std::string> list{"successText=Accepted", "type=READ"};
    EXPECT_EQ(wctpLogReply(Path::PortThread, list, true, "MSTA 42", ""), kWctpStatusRead);
    EXPECT_EQ(wctpLogReply(Path::Worker, list, true, "MSTA 42", ""), "Accepted");
    EXPECT_EQ(wctpLogReply(Path::PortThread, list, true, "hello MSTA 42", ""), "Accepted");
    EXPECT_EQ(wctpLogReply(Path::PortThread, list, false, "MSTA 42", ""), "Accepted");
    // Nothing came back: the sender's own reason stands.
    EXPECT_EQ(wctpLogReply(Path::PortThread, {}, false, "hi", "No Sender For WCTP"), "No Sender For WCTP");
}

TEST(DeliveryMethods, CountersAndStatisticsInEachRoadsOrder) {
    struct Case {
        const DeliveryMethod* m;
        Path path;
        std::vector<int> want;  // counter ids; 0 the statistics write
    };
    const Case cases[] = {
        {&kMethodWctp, Path::Worker, {0, kCtWCTP, kCtTransaction}},
        {&kMethodWctp, Path::PortThread, {kCtTransaction, kCtWCTP, 0}},
        {&kMethodSnpp, Path::Worker, {kCtSNPP, kCtTransaction, 0}},
        {&kMethodBrevicor, Path::Worker, {kCtBrevicor, kCtTransaction}},
        {&kMethodSmtp, Path::PortThread, {kCtEPages, kCtTransaction}},
        {&kMethodTnpp, Path::Worker, {kCtTransaction, kCtTNPP, 0}},
    };
    for (const Case& c : cases) {
        std::vector<int> got;
        countDelivered(*c.m, c.path, [&](int id) { got.push_back(id); }, [&] { got.push_back(0); });
        EXPECT_EQ(got, c.want) << c.m->name << (c.path == Path::Worker ? " worker" : " port thread");
    }
}

}  // namespace
}  // namespace nv
