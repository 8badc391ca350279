#include "protocols/Cimd2Packet.h"

#include <gtest/gtest.h>

namespace nv::cimd2 {
namespace {

TEST(Cimd2Packet, LoginPacketWithChecksum) {
    Packet p{kLogin, 1, {{kUserIdentity, "u"}, {kPassword, "p"}}};
    std::string body = "\x02" "01:001\t010:u\t011:p\t";
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    char cs[3];
    std::snprintf(cs, sizeof cs, "%02X", sum & 0xFF);
    EXPECT_EQ(encode(p), body + cs + "\x03");
}

TEST(Cimd2Packet, ParsesResponsesWithAndWithoutChecksum) {
    Packet sent{kSubmitResp, 3, {{kDestinationAddress, "555"}, {kServiceCentreTimeStamp, "261210120000"}}};
    std::string buf = "noise" + encode(sent) + "\x02" "52:005\t\x03";
    Packet got;
    ASSERT_EQ(takePacket(buf, got), Parse::Complete);
    EXPECT_EQ(got.operation, kSubmitResp);
    EXPECT_EQ(got.number, 3);
    EXPECT_EQ(got.param(kServiceCentreTimeStamp).value(), "261210120000");
    EXPECT_FALSE(got.param(kErrorCode));
    ASSERT_EQ(takePacket(buf, got), Parse::Complete);
    EXPECT_EQ(got.operation, kLogoutResp);
    EXPECT_TRUE(buf.empty());
}

TEST(Cimd2Packet, WrongChecksumIsInvalidAndConsumed) {
    std::string buf = "\x02" "51:001\t00\x03";
    Packet got;
    EXPECT_EQ(takePacket(buf, got), Parse::Invalid);
    EXPECT_TRUE(buf.empty());
    std::string partial = "\x02" "51:001\t";
    EXPECT_EQ(takePacket(partial, got), Parse::NeedMore);
}

// Numbers beyond three digits' value are malformed; they used to overflow and
// could wrap onto a real operation.
TEST(Cimd2Packet, OutOfRangeNumbersAreInvalid) {
    struct Case { const char* why; std::string bytes; Parse want; };
    const Case cases[] = {
        {"found by fuzzing", std::string("\x02" "4306004001:\t\x03"), Parse::Invalid},
        {"operation wrapping to 51", std::string("\x02" "4294967347:001\t\x03"), Parse::Invalid},
        {"packet number wrapping to 1", std::string("\x02" "51:4294967297\t\x03"), Parse::Invalid},
        {"parameter code wrapping to 900", std::string("\x02" "53:001\t4294968196:x\t\x03"), Parse::Invalid},
        {"1000 is out of range", std::string("\x02" "51:1000\t\x03"), Parse::Invalid},
        {"999 is in range", std::string("\x02" "51:999\t\x03"), Parse::Complete},
        {"leading zeros count by value", std::string("\x02" "00051:001\t\x03"), Parse::Complete},
    };
    for (const Case& c : cases) {
        std::string buf = c.bytes;
        Packet got;
        EXPECT_EQ(takePacket(buf, got), c.want) << c.why;
        EXPECT_TRUE(buf.empty()) << c.why;
        if (c.want == Parse::Complete) {
            EXPECT_EQ(got.operation, kLoginResp) << c.why;
        }
    }
}

TEST(Cimd2Packet, UserDataCombinations) {
    EXPECT_EQ(encodeUserData("a@b_c"), "a_Oab_--c");
    EXPECT_EQ(encodeUserData("caf\xE9\t\xE4\xB8"), "caf_e' _a\"?");
}

TEST(Cimd2Packet, StatusMapsByMeaning) {
    struct Case { int cimd; int smpp; };
    for (auto c : {Case{1, 1}, Case{2, 3}, Case{3, 5}, Case{4, 2}, Case{5, 1}, Case{6, 5}, Case{7, 4},
                   Case{8, 4}, Case{9, 4}, Case{0, 7}, Case{42, 7}})
        EXPECT_EQ(statusToSmppState(c.cimd), c.smpp) << c.cimd;
}

}  // namespace
}  // namespace nv::cimd2
