#include "protocols/GsmPdu.h"

#include <gtest/gtest.h>

#include <memory>

#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

std::string hexNoBlanks(const std::string& bytes) {
    std::string h = toHex(bytes);
    std::erase(h, ' ');
    return h;
}

struct SubmitCase {
    const char* centre;
    const char* address;
    std::string text;
    const char* pdu;
    int length;
};

TEST(GsmPdu, SubmitPduVectors) {
    const SubmitCase cases[] = {
        {"+4917", "+4912345", "hello", "0391947111000791942143F50000AA05E8329BFD06", 17},
        {"", "+4912345", "hello", "0011000791942143F50000AA05E8329BFD06", 17},
        // Without "+" the destination is national/unknown (81), digits unchanged.
        {"", "07700900123", "hello", "0011000B817007900021F30000AA05E8329BFD06", 19},
        {"", "+4912345", "", "0011000791942143F50000AA00", 12},
        // "[" is ESC + 3C: two septets 1B 3C pack to 1B 1E.
        {"", "+4912345", "[", "0011000791942143F50000AA021B1E", 14},
        // "@" sits at septet 0 in the GSM alphabet.
        {"", "+4912345", "@", "0011000791942143F50000AA0100", 13},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text + " to " + c.address);
        std::string pdu = EncodeSubmitPDU(c.centre, c.address, c.text);
        EXPECT_EQ(pdu, c.pdu);
        EXPECT_EQ(submitPduLength(pdu), c.length);
    }
}

TEST(GsmPdu, SubmitRefusesBadNumbers) {
    EXPECT_THROW(EncodeSubmitPDU("", "12\"3", "x"), std::invalid_argument);
    EXPECT_THROW(EncodeSubmitPDU("49\r", "123", "x"), std::invalid_argument);
    EXPECT_THROW(EncodeSubmitPDU("", "", "x"), std::invalid_argument);
}

TEST(GsmPdu, PackSeptetsVectors) {
    EXPECT_EQ(hexNoBlanks(PackSeptets("hello")), "E8329BFD06");
    EXPECT_EQ(hexNoBlanks(PackSeptets("12345678")), "31D98C56B3DD70");
    EXPECT_EQ(PackSeptets(""), "");
    EXPECT_EQ(PackSeptets(std::string(160, 'A')).size(), 140u);
}

TEST(GsmPdu, PackSeptetsWritesNothingPastTheEnd) {
    // Eight septets fill exactly seven octets; a heap block of that size lets
    // AddressSanitizer catch a write of an eighth.
    auto exact = std::make_unique<unsigned char[]>(7);
    EXPECT_EQ(PackSeptets("12345678", exact.get(), 7), 7u);
    EXPECT_EQ(hexNoBlanks(std::string(reinterpret_cast<char*>(exact.get()), 7)), "31D98C56B3DD70");

    unsigned char guarded[9] = {};
    guarded[7] = 0xEE;
    guarded[8] = 0xEE;
    EXPECT_EQ(PackSeptets(std::string(8, 'z'), guarded, 9), 7u);
    EXPECT_EQ(guarded[7], 0xEE);
    EXPECT_EQ(guarded[8], 0xEE);

    unsigned char small[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_THROW(PackSeptets("12345678", small, 6), std::length_error);
    EXPECT_EQ(small[0], 1);
}

TEST(GsmPdu, PackSeptetsErrors) {
    try {
        PackSeptets(std::string(161, 'A'));
        FAIL();
    } catch (const GsmPduError& e) {
        EXPECT_STREQ(e.what(), "Input string greater than 160 characters!");
    }
    try {
        PackSeptets("ab\x80");
        FAIL();
    } catch (const GsmPduError& e) {
        EXPECT_STREQ(e.what(), "Input string contains 8-bit data!");
    }
}

TEST(GsmPdu, AlphabetMapping) {
    struct Case {
        std::string text;
        std::string septets;
    };
    const Case cases[] = {
        {"Az09 !?", "Az09 !?"},
        {"@$_", std::string("\x00\x02\x11", 3)},
        {"[]{}", "\x1B\x3C\x1B\x3E\x1B\x28\x1B\x29"},
        {"\\^~|", "\x1B\x2F\x1B\x14\x1B\x3D\x1B\x40"},
        {"\x80", "\x1B\x65"},                           // euro sign
        {"\xE9\xC9\xFC\xE0\xA3", "\x05\x1F\x7E\x7F\x01"},  // é É ü à £
        {"a\r\nb", "a\r\nb"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(gsmSeptetsFromText(c.text), c.septets);
    }
    // Characters the alphabet lacks are refused, never sent as something else.
    for (const std::string& bad : {std::string("`"), std::string("\t"), std::string("\x81"),
                                    std::string("\xB5"), std::string(1, '\0')}) {
        SCOPED_TRACE(toHex(bad));
        EXPECT_THROW(gsmSeptetsFromText(bad), GsmPduError);
    }
}

TEST(GsmPdu, SeptetCount) {
    for (char c : std::string("[]{}\\^~|\x80\x0C")) EXPECT_EQ(gsmSeptetCount(c), 2u) << c;
    for (char c : std::string("a@$_\xE9\t`")) EXPECT_EQ(gsmSeptetCount(c), 1u) << c;
}

TEST(GsmPdu, EscapesCountTowardsTheLimit) {
    // 159 letters and one bracket are 161 septets: too long for one SMS.
    std::string text(159, 'a');
    text += '[';
    EXPECT_THROW(EncodeSubmitPDU("", "+1", text), GsmPduError);
    text.pop_back();
    text += 'b';
    EXPECT_NO_THROW(EncodeSubmitPDU("", "+1", text));
}

TEST(GsmPdu, NumberChecks) {
    struct Case {
        const char* number;
        bool ok;
    };
    const Case cases[] = {
        {"+4912345", true}, {"4912345", true}, {"12345678901234567890", true},
        {"123456789012345678901", false}, {"", false}, {"+", false}, {"++49", false},
        {"+49 123", false}, {"12\"3", false}, {"12\r", false}, {"12;", false},
    };
    for (const auto& c : cases) EXPECT_EQ(isValidSmsNumber(c.number), c.ok) << c.number;
    EXPECT_EQ(semiOctets("4912345"), "942143F5");
    EXPECT_EQ(semiOctets("4917"), "9471");
    EXPECT_EQ(submitPduLength("ZZ11"), 1);
}

}  // namespace
}  // namespace nv::test
