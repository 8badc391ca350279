// The encoder frame codec: block ends, parsing, length rules, replies.
#include <gtest/gtest.h>

#include "foundation/ReplyMatcher.h"
#include "protocols/EncoderFrame.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

using test::fromHex;
using Verdict = encoder::Frame::Verdict;

// Frames spelt as the wire carries them: SOH 01, STX 02, ETX 03, EOT 04.
const std::string kEngineFrame = fromHex("01") + "A,1,12345," + fromHex("02") + "Hello" + fromHex("03 04 0D 0A");

TEST(EncoderFrameTest, RepliesAreTheEncodersBytes) {
    EXPECT_EQ(encoder::ackReply(), fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04"));
    EXPECT_EQ(encoder::errorReply("08"), fromHex("01 0F 30 38 04"));
    const std::string upToEot = kEngineFrame.substr(0, kEngineFrame.size() - 2);
    // The block taken at EOT: echo, then the reply.
    EXPECT_EQ(encoder::acceptAnswer(upToEot), upToEot + fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04"));
    // A block that ended in CR LF: the CR LF moves behind the reply.
    const std::string crlfBlock = fromHex("01") + "A1123" + fromHex("02") + "Hi" + fromHex("03 0D 0A");
    EXPECT_EQ(encoder::acceptAnswer(crlfBlock),
              fromHex("01") + "A1123" + fromHex("02") + "Hi" + fromHex("03 01 06") + "V8.01,00,1,1,1A" +
                  fromHex("04 0D 0A"));
    // A refused block is echoed whole, its CR LF included.
    EXPECT_EQ(encoder::refuseAnswer(crlfBlock, "03"), crlfBlock + fromHex("01 0F 30 33 04"));
}

TEST(EncoderFrameTest, WhereABlockEnds) {
    struct Case {
        std::string collected;
        bool ends;
    };
    const Case cases[] = {
        {fromHex("01") + "A1123" + fromHex("02") + "Hi" + fromHex("03 04"), true},
        {fromHex("01") + "A1123" + fromHex("02") + "Hi" + fromHex("03 0D 0A"), true},
        // A CR LF in the text of a frame is part of the message.
        {fromHex("01") + "A1123" + fromHex("02") + "line one" + fromHex("0D 0A"), false},
        {fromHex("01") + "A1123" + fromHex("02") + "one" + fromHex("0D 0A") + "two" + fromHex("03 04"), true},
        // Outside a frame CR LF stays a terminator.
        {"junk" + fromHex("0D 0A"), true},
        {fromHex("0D 0A"), true},
        {"X" + fromHex("01") + "A1123" + fromHex("02") + "line" + fromHex("0D 0A"), true},
        {fromHex("01") + "A1123" + fromHex("02") + "Hi", false},
    };
    for (const auto& c : cases) EXPECT_EQ(encoder::blockEnds(c.collected), c.ends) << test::toHex(c.collected);
    // The wait for a block completes at EOT and at CR LF.
    ReplyMatcher eot(encoder::kBlockMatch), crlf(encoder::kBlockMatch);
    EXPECT_EQ(eot.feed('\x04'), 1);
    EXPECT_EQ(crlf.feed('\r'), -1);
    EXPECT_EQ(crlf.feed('\n'), 0);
    EXPECT_TRUE(encoder::isLineEndOnly(fromHex("0D 0A")));
    EXPECT_TRUE(encoder::isLineEndOnly(fromHex("0A")));
    EXPECT_FALSE(encoder::isLineEndOnly(""));
    EXPECT_FALSE(encoder::isLineEndOnly(fromHex("20 0D 0A")));
}

TEST(EncoderFrameTest, ParsesHeaderAndText) {
    struct Case {
        std::string block;
        Verdict verdict;
        std::string pin;
        std::string message;
        bool hasEtx;
    };
    const std::string soh = fromHex("01"), stx = fromHex("02"), etxEot = fromHex("03 04");
    const Case cases[] = {
        {kEngineFrame, Verdict::Ok, "12345", "Hello", true},
        {soh + "A1" + "12345" + stx + "Hello" + etxEot, Verdict::Ok, "12345", "Hello", true},
        // Commas anywhere in the header carry no meaning.
        {soh + ",A,,1,123,45," + stx + "Hi" + etxEot, Verdict::Ok, "12345", "Hi", true},
        // Any type but the digits 1-4, any rate.
        {soh + "N9" + "777" + stx + "Hi" + etxEot, Verdict::Ok, "777", "Hi", true},
        {soh + "1,1,123," + stx + "Hi" + etxEot, Verdict::InvalidType, "", "", false},
        {soh + "2,1,123," + stx + "Hi" + etxEot, Verdict::InvalidType, "", "", false},
        {soh + "3" + stx + "Hi" + etxEot, Verdict::InvalidType, "", "", false},
        {soh + "4,1,123," + stx + "Hi" + etxEot, Verdict::InvalidType, "", "", false},
        {soh + "5,1,123," + stx + "Hi" + etxEot, Verdict::Ok, "123", "Hi", true},
        // The text ends at the first ETX.
        {soh + "A1123" + stx + "Hi" + fromHex("03") + "tail" + etxEot, Verdict::Ok, "123", "Hi", true},
        {soh + "A1123" + stx + "Hi" + fromHex("04"), Verdict::Ok, "123", "", false},
        {"X" + kEngineFrame, Verdict::NotSoh, "", "", false},
        {fromHex("0D 0A"), Verdict::NotSoh, "", "", false},
        {"", Verdict::NotSoh, "", "", false},
        // No STX, empty header, no recipient.
        {soh + "A,1,12345" + etxEot, Verdict::Malformed, "", "", false},
        {soh + stx + "Hi" + etxEot, Verdict::Malformed, "", "", false},
        {soh + ",," + stx + "Hi" + etxEot, Verdict::Malformed, "", "", false},
        {soh + "A,1," + stx + "Hi" + etxEot, Verdict::Malformed, "", "", false},
    };
    for (const auto& c : cases) {
        encoder::Frame f = encoder::parseFrame(c.block);
        SCOPED_TRACE(test::toHex(c.block));
        EXPECT_EQ(f.verdict, c.verdict);
        if (c.verdict != Verdict::Ok) continue;
        EXPECT_EQ(f.pin, c.pin);
        EXPECT_EQ(f.message, c.message);
        EXPECT_EQ(f.hasEtx, c.hasEtx);
    }
}

TEST(EncoderFrameTest, LengthRules) {
    struct Case {
        std::size_t length;
        int limit;
        bool truncate;
        bool passes;
        std::size_t after;
    };
    const Case cases[] = {
        {300, 230, true, true, 230},  {230, 230, true, true, 230}, {300, 230, false, false, 300},
        {230, 230, false, true, 230}, {300, 0, false, true, 300},  {300, 0, true, true, 0},
        {0, 0, true, true, 0},        {5, -1, true, true, 0},
    };
    for (const auto& c : cases) {
        std::string message(c.length, 'x');
        EXPECT_EQ(encoder::applyLengthRule(message, c.limit, c.truncate), c.passes)
            << c.length << " " << c.limit << " " << c.truncate;
        EXPECT_EQ(message.size(), c.after);
    }
}

TEST(EncoderFrameTest, LineBreaksAndCodeTexts) {
    EXPECT_EQ(encoder::stripLineBreaks("one\r\ntwo\n\rthree\r"), "onetwothree");
    EXPECT_EQ(encoder::errorCodeText("01"), "Invalid Message Type");
    EXPECT_EQ(encoder::errorCodeText("06"), "Invalid Setup/Status Command");
    EXPECT_EQ(encoder::errorCodeText("06", encoder::CodeTexts::Tester), "Invalid Status/Setup Command");
    EXPECT_EQ(encoder::errorCodeText("08", encoder::CodeTexts::Tester), "Invalid Command Format");
    EXPECT_EQ(encoder::errorCodeText("09"), "");
}

}  // namespace
}  // namespace nv
