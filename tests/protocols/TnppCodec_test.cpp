#include <gtest/gtest.h>

#include "protocols/TnppCodec.h"
#include "tests/peers/TestSupport.h"
#include "tests/peers/TnppPeer.h"

namespace nv::test {
namespace {

using namespace nv::tnpp;

TEST(TnppCodec, HeaderDigits) {
    EXPECT_EQ(formatHeader(1, 3, 2, 1), "000103000201");
    EXPECT_EQ(formatHeader(0xABCD, 0xEF, 0x1234, 0xFF), "ABCDEF1234FF");
    // A value wider than its field prints more digits; headerFits says so first.
    EXPECT_EQ(formatHeader(0x10000, 3, 0, 1), "1000003000001");
    EXPECT_TRUE(headerFits(0xFFFF, 0xFF, 0xFFFF, 0xFF));
    EXPECT_FALSE(headerFits(0x10000, 3, 0, 1));
    EXPECT_FALSE(headerFits(1, 0x100, 0, 1));
    EXPECT_FALSE(headerFits(1, 3, 0x10000, 1));
}

TEST(TnppCodec, CrcForms) {
    EXPECT_EQ(GetCRC("123456789", false), fromHex("3D BB"));
    EXPECT_EQ(GetCRC("123456789", true), "3DBB");
    // Transparent digits are the raw bytes' digits, low byte first.
    for (const char* text : {"", "A", "\x01" "000003000000\x02\x03", "123456789"}) {
        EXPECT_EQ(GetCRC(text, true), peerCrcText(text, true)) << text;
        EXPECT_EQ(GetCRC(text, false), peerCrcText(text, false)) << text;
    }
}

TEST(TnppCodec, IdPageAndLinkStartPackets) {
    const std::string idPage = "\x01" "000103000201\x02" "B@12345     Hello\x03";
    EXPECT_EQ(buildIdPagePacket("000103000201", "12345     ", "Hello", true), idPage + "8B78");
    EXPECT_EQ(buildIdPagePacket("000103000201", "12345     ", "Hello", false), idPage + fromHex("8B 78"));

    struct Case {
        bool stx, transparent;
        std::string crc;
    };
    const Case cases[] = {
        {true, false, fromHex("77 03")},
        {true, true, "7703"},
        {false, false, fromHex("C7 77")},
        {false, true, "C777"},
    };
    for (const auto& c : cases) {
        const std::string body = std::string("\x01" "000003000000") + (c.stx ? "\x02" : "") + "\x03";
        EXPECT_EQ(buildLinkStartPacket("000003000000", c.stx, c.transparent), body + c.crc)
            << c.stx << c.transparent;
    }
}

TEST(TnppCodec, IdFieldIsPaddedOrRefused) {
    EXPECT_EQ(idField(""), std::string(10, ' '));
    EXPECT_EQ(idField("123"), "123       ");
    EXPECT_EQ(idField("1234567890"), "1234567890");
    // Cutting would page another subscriber.
    EXPECT_EQ(idField("123456789012"), std::nullopt);
}

TEST(TnppCodec, LongestTextKeepsThePacketWithinItsSize) {
    struct Case {
        tPacketSize size;
        bool transparent;
        std::size_t maxText;
    };
    const Case cases[] = {
        {tPacketSize::ps4096, false, 4067},
        {tPacketSize::ps4096, true, 4065},
        {tPacketSize::ps1024, false, 995},
        {tPacketSize::ps1024, true, 993},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(maxIdPageText(c.size, c.transparent), c.maxText);
        const std::string p =
            buildIdPagePacket("000103000201", "12345     ", std::string(c.maxText, 'x'), c.transparent);
        EXPECT_EQ(p.size(), packetLimit(c.size));
    }
}

TEST(TnppCodec, ReceivedPacketChecks) {
    const std::string body = "\x01" "000103000201\x02" "B@12345     Hello\x03";
    EXPECT_TRUE(crcMatches(body + "8B78", true));
    EXPECT_FALSE(crcMatches(body + "8b78", true));
    EXPECT_FALSE(crcMatches(body + "8B79", true));
    EXPECT_TRUE(crcMatches(body + fromHex("8B 78"), false));
    EXPECT_FALSE(crcMatches("\x01", false));

    EXPECT_EQ(headerDigits(body), "000103000201");
    EXPECT_EQ(headerDigits("\x01" "0001G3000201\x02"), std::nullopt);
    EXPECT_EQ(headerDigits("\x01" "0001"), std::nullopt);
    EXPECT_EQ(packetInertia(body), 3u);
    EXPECT_EQ(packetInertia("\x01" "0001Ff000201"), 255u);
    EXPECT_EQ(withInertia(body, 2), "\x01" "000102000201\x02" "B@12345     Hello\x03");
    EXPECT_EQ(blockType(body), 'B');
    EXPECT_EQ(blockType("\x01" "000003000000\x03"), '\0');
    EXPECT_TRUE(isLinkStartPacket("\x01" "000003000000\x03"));
    EXPECT_FALSE(isLinkStartPacket(body));
}

TEST(TnppCodec, ReplyNamesAndLogText) {
    EXPECT_EQ(replyName(ACK), "ACK");
    EXPECT_EQ(replyName(NAK), "NAK");
    EXPECT_EQ(replyName(CAN), "CAN");
    EXPECT_EQ(replyName(RS), "RS");
    EXPECT_EQ(replyName('x'), "Unknown");
    const std::string wire = fromHex("24 01 41 03 0D 0A 00 8B");
    EXPECT_EQ(logText(wire), fromHex("24 01 41 03") + "<0D><0A><00>" + fromHex("8B"));
}

}  // namespace
}  // namespace nv::test
