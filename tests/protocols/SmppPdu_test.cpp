#include "protocols/SmppPdu.h"

#include <gtest/gtest.h>

#include "tests/peers/TestSupport.h"

namespace nv::smpp {
namespace {

using test::fromHex;
using test::toHex;

TEST(SmppPdu, BindTransmitterBytes) {
    EXPECT_EQ(toHex(bindTransmitter(1, "user", "pw", "PRI")),
              toHex(fromHex("00000020 00000002 00000000 00000001"
                            "7573657200 707700 50524900 34 00 00 00")));
}

TEST(SmppPdu, LongBindFieldsAreCutToTheirSizes) {
    std::string pdu = bindTransmitter(1, std::string(25, 'u'), std::string(25, 'p'), "PRI");
    // 15 + NUL, 8 + NUL, "PRI" + NUL, four octets.
    EXPECT_EQ(pdu.size(), 16u + 16 + 9 + 4 + 4);
}

TEST(SmppPdu, SubmitSmBytes) {
    EXPECT_EQ(toHex(submitSm(7, "5551234", "Hi")),
              toHex(fromHex("0000002A 00000004 00000000 00000007"
                            "00 00 00 00 00 00 3535353132333400"
                            "00 00 00 00 00 00 00 00 00 02 4869")));
}

TEST(SmppPdu, QuerySmCarriesTheIdAskedAbout) {
    EXPECT_EQ(toHex(querySm(3, "ab12")),
              toHex(fromHex("00000018 00000003 00000000 00000003 6162313200 00 00 00")));
}

TEST(SmppPdu, TakesWholePdusOnlyAndKeepsTheRest) {
    std::string buf = fromHex("00000017 80000004 00000000 00000002 49443132333400") + fromHex("0000");
    Pdu pdu;
    ASSERT_EQ(takePdu(buf, pdu), Parse::Complete);
    EXPECT_EQ(pdu.header.commandId, kSubmitSmResp);
    EXPECT_EQ(pdu.header.sequence, 2u);
    EXPECT_EQ(messageIdOf(pdu).value(), "ID1234");
    EXPECT_EQ(toHex(buf), "00 00");
    EXPECT_EQ(takePdu(buf, pdu), Parse::NeedMore);

    std::string bad = fromHex("00000004 80000004 00000000 00000002");
    EXPECT_EQ(takePdu(bad, pdu), Parse::Invalid);
}

TEST(SmppPdu, QuerySmRespFields) {
    std::string buf = fromHex("00000016 80000003 00000000 00000004 414200 00 06 00");
    Pdu pdu;
    ASSERT_EQ(takePdu(buf, pdu), Parse::Complete);
    auto r = parseQuerySmResp(pdu);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->messageId, "AB");
    EXPECT_EQ(r->finalDate, "");
    EXPECT_EQ(r->messageState, 6);
    EXPECT_EQ(r->errorCode, 0);

    pdu.body = fromHex("414200");  // truncated
    EXPECT_FALSE(parseQuerySmResp(pdu));
}

TEST(SmppPdu, StatusTexts) {
    EXPECT_EQ(statusText(0x0E), "ESME_RINVPASWD (0x0000000E)");
    EXPECT_EQ(statusText(0x1234), "SMPP error 0x00001234");
}

}  // namespace
}  // namespace nv::smpp
