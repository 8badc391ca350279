#include "protocols/TapCodec.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tests/peers/TestSupport.h"

#include "protocols/Tapi.h"

namespace nv::tap {
namespace {

std::string S(std::initializer_list<char> cs) { return std::string(cs); }

TEST(TapChecksum, PublishedVectors) {
    EXPECT_EQ(checksum(S({kSTX}) + "A" + S({kCR, kETX})), "053");
    EXPECT_EQ(checksum(S({kSTX}) + "123" + S({kCR}) + "ABC" + S({kCR, kETX})), "17;");
    // The sum wraps at 4096: 40 x 'z' (122) + 2 = 4882 -> 786 = 0x312.
    EXPECT_EQ(checksum(S({kSTX}) + std::string(40, 'z')), "312");
}

TEST(TapEscape, ControlCharactersAndHighBytes) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain text", "plain text"},
        {S({'a', kSTX, kETX, kEOT, kETB, kSUB, kESC, kUS, 'b'}),
         "a" + S({kSUB}) + "B" + S({kSUB}) + "C" + S({kSUB}) + "D" + S({kSUB}) + "W" + S({kSUB}) + "Z" +
             S({kSUB}) + "[" + S({kSUB}) + "_b"},
        {"line1\r\nline2", "line1\nline2"},
        {std::string("ab\0cd", 5), "ab"},
        {"caf\xe9 \x80\xff!", "caf !"},
        {"\xe9\xe8", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(escapeText(c.in), c.out) << test::toHex(c.in);
}

std::string words(int n) {
    // "word000 word001 ..." : blanks every 8th character.
    std::string s;
    for (int i = 0; i < n; ++i) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%sw%06d", i ? " " : "", i);
        s += buf;
    }
    return s;
}

TEST(TapSplit, TableOfWindowsAndMarks) {
    const std::string text300 = words(38).substr(0, 300);
    ASSERT_EQ(text300.size(), 300u);
    const std::string noBlank(300, 'x');

    // 300 characters at 140: cut at the last blank at or before 124.
    auto p = splitMessage(text300, {140, true, false});
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], text300.substr(0, 119) + " (CONT.)");  // blank at 120, trimmed
    EXPECT_EQ(p[1], text300.substr(120, 119) + " (CONT.)");
    EXPECT_EQ(p[2], text300.substr(240) + " (END)");

    // No blank: hard cut at 124.
    p = splitMessage(noBlank, {140, true, false});
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], std::string(124, 'x') + " (CONT.)");
    EXPECT_EQ(p[1], std::string(124, 'x') + " (CONT.)");
    EXPECT_EQ(p[2], std::string(52, 'x') + " (END)");

    // Without marks the window is the whole length and no mark is added.
    p = splitMessage(noBlank, {140, false, false});
    ASSERT_EQ(p.size(), 3u);
    EXPECT_EQ(p[0], std::string(140, 'x'));
    EXPECT_EQ(p[2], std::string(20, 'x'));

    // Length 0 (or below) is one part with the whole text, with or without truncation.
    for (int len : {0, -5}) {
        EXPECT_EQ(splitMessage(noBlank, {len, true, false}), std::vector<std::string>{noBlank});
        EXPECT_EQ(splitMessage(noBlank, {len, true, true}), std::vector<std::string>{noBlank});
    }
    // Truncation keeps one part of MsgLength characters, unmarked.
    EXPECT_EQ(splitMessage(noBlank, {140, true, true}), std::vector<std::string>{std::string(140, 'x')});
    // A short text is one unmarked part; an empty one stays one empty part.
    EXPECT_EQ(splitMessage("hello", {140, true, false}), std::vector<std::string>{"hello"});
    EXPECT_EQ(splitMessage("", {140, true, false}), std::vector<std::string>{""});
}

TEST(TapSplit, AtMostTwentyPartsAndTinyWindows) {
    // 30 parts' worth of text: 20 parts, the rest dropped, the 20th still CONT.
    auto p = splitMessage(std::string(30 * 124, 'y'), {140, true, false});
    ASSERT_EQ(p.size(), 20u);
    EXPECT_EQ(p.back(), std::string(124, 'y') + " (CONT.)");

    // A window of 16 or less with marks: one character per part, never empty parts.
    p = splitMessage("abcdefghijklmnopqrstuvwxyz", {10, true, false});
    ASSERT_EQ(p.size(), 20u);
    EXPECT_EQ(p[0], "a (CONT.)");
    EXPECT_EQ(p[19], "t (CONT.)");
}

TEST(TapBlocks, OnePartExactBytes) {
    auto blocks = buildBlocks("1234567", "", "Hi");
    ASSERT_EQ(blocks.size(), 1u);
    const std::string body = S({kSTX}) + "1234567" + S({kCR}) + "Hi" + S({kCR, kETX});
    EXPECT_EQ(blocks[0], body + checksum(body) + S({kCR}));

    blocks = buildBlocks("55", partLabel(2, 3), "");
    EXPECT_EQ(blocks[0].substr(0, 16), S({kSTX}) + "55" + S({kCR}) + "(2 of 3)  " + S({kCR, kETX}));
}

TEST(TapBlocks, LongPartsUseContinuationBlocksWithinTheLimit) {
    const std::string text(600, 'm');
    auto blocks = buildBlocks("12345", "", text);
    ASSERT_EQ(blocks.size(), 3u);
    // Later blocks carry 240 characters; the last ends in CR ETX, the others in US.
    EXPECT_EQ(blocks[1], S({kSTX}) + std::string(240, 'm') + S({kUS}) +
                             checksum(S({kSTX}) + std::string(240, 'm') + S({kUS})) + S({kCR}));
    EXPECT_EQ(blocks[2].substr(blocks[2].size() - 6, 2), S({kCR, kETX}));
    std::size_t carried = 0;
    for (const auto& b : blocks) {
        EXPECT_LE(b.size(), kMaxBlock);
        carried += static_cast<std::size_t>(std::count(b.begin(), b.end(), 'm'));
    }
    EXPECT_EQ(carried, 600u);

    // A long PIN and a label shrink the first block instead of passing 256.
    blocks = buildBlocks(std::string(20, '9'), partLabel(12, 20), text);
    EXPECT_EQ(blocks[0].size(), 255u);
    EXPECT_EQ(blocks[0][blocks[0].size() - 5], kUS);
}

TEST(TapEtap, SuffixTable) {
    using DC = DeliveryCommand;
    struct Case {
        EtapFields f;
        std::string part;
        EtapResult result;
    } cases[] = {
        {{DC::dcTap, "", "", ""}, "msg", EtapResult::Ok},
        {{DC::dcConfirm, "", "30", ""}, "msg)#*&(CV30", EtapResult::Ok},
        {{DC::dcDefered, "", "", ""}, "msg", EtapResult::NoSchedule},
        {{DC::dcDefered, "", "9", "1200"}, "msg)#*&(S1200V9", EtapResult::Ok},
        {{DC::dcReplace, "77", "9", "1200"}, "msg)#*&(R77V9S1200", EtapResult::Ok},
        {{DC::dcUpdate, "", "", ""}, "msg", EtapResult::NoMessageId},
        {{DC::dcUpdate, "5", "", ""}, "msg)#*&(U5", EtapResult::Ok},
        {{DC::dcQuery, "42", "", ""}, ")#*&(Q42", EtapResult::Ok},
        {{DC::dcDelete, "42", "", ""}, ")#*&(D42", EtapResult::Ok},
    };
    for (const auto& c : cases) {
        std::string part = "msg";
        EXPECT_EQ(applyEtapSuffix(part, c.f), c.result);
        EXPECT_EQ(part, c.part);
    }
}

TEST(TapReplies, ListsAndClassification) {
    EXPECT_EQ(loginReplyList(), S({kESC}) + "[p|" + S({kACK, kCR}) + "|" + S({kNAK, kCR}) + "|" +
                                    S({kESC, kEOT, kCR}) + "|" + S({kCR, kACK, kCR}) + "|" + S({kCR, kNAK, kCR}) +
                                    "|" + S({kCR, kESC, kEOT, kCR}) + "|" + S({kLF, kACK, kCR}) + "|" +
                                    S({kLF, kNAK, kCR}) + "|" + S({kLF, kESC, kEOT, kCR}) + "|ID=");
    EXPECT_EQ(classifyLoginReply(10), LoginReply::Retry);
    EXPECT_EQ(classifyLoginReply(7), LoginReply::Accepted);
    EXPECT_EQ(classifyLoginReply(-1), LoginReply::None);
    EXPECT_EQ(classifyBlockReply(2), BlockReply::InvalidPin);
    EXPECT_EQ(classifyBlockReply(10), BlockReply::InvalidPinAfterLineEnd);
    EXPECT_EQ(classifyBlockReply(11), BlockReply::Disconnect);
    EXPECT_EQ(classifyBlockReply(8), BlockReply::Ack);
    EXPECT_EQ(loginRequest(""), S({kESC}) + "PG1" + S({kCR}));
    EXPECT_EQ(loginRequest("pw"), S({kESC}) + "PG1pw" + S({kCR}));
}

TEST(TapiCheckTexts, Table) {
    constexpr std::int32_t base = INT32_MIN;
    struct Case {
        std::int32_t code;
        const char* text;
    } cases[] = {
        {base + 1, "TAPI Line: LINEERR_ALLOCATED"},
        {base + 4, "Unknown Error - -2147483644"},
        {base + 13, "TAPI Line: LINEERR_INCOMPATIBLEEXTVERSION"},
        {base + 14, "TAPI Line: LINEERR_INIFILECORRUPT"},
        {base + 32, "TAPI Line: LINEERR_INVALCONFCALLHANDLE"},
        {base + 49, "Unknown Error - -2147483599"},
        {base + 50, "TAPI Line: LINEERR_INVALPARAM"},
        {base + 57, "TAPI Line: LINEERR_INVALTERMINALID"},
        {base + 66, "TAPI Line: LINEERR_NODEVICE"},
        {base + 72, "TAPI Line: LINEERR_OPERATIONFAILED"},
        {base + 92, "TAPI Line: LINEERR_DIALVOICEDETECT"},
        {base + 96, "Unknown Error - -2147483552"},
        {-1, "Unknown Error - -1"},
    };
    for (const auto& c : cases) {
        try {
            TapiCheck(c.code);
            ADD_FAILURE() << c.code << " did not raise";
        } catch (const TapiError& e) {
            EXPECT_STREQ(e.what(), c.text);
        }
        std::string buffer;
        EXPECT_TRUE(TapiCheck(c.code, false, &buffer));
        EXPECT_EQ(buffer, c.text);
    }
    EXPECT_FALSE(TapiCheck(0));
    EXPECT_FALSE(TapiCheck(12345));
}

}  // namespace
}  // namespace nv::tap
