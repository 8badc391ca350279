#include "foundation/Win1252.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

TEST(Win1252, KnownCharacters) {
    struct Case { std::string cp; std::string utf8; };
    const Case cases[] = {
        {"abc", "abc"},
        {"\xE9", "\xC3\xA9"},                     // é
        {"\x80", "\xE2\x82\xAC"},                 // €
        {"\x9F", "\xC5\xB8"},                     // Ÿ
        {"\x81", "\xC2\x81"},                     // undefined byte kept as C1
        {std::string("a\0b", 3), std::string("a\0b", 3)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(cp1252ToUtf8(c.cp), c.utf8);
        EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp);
    }
}

TEST(Win1252, EveryByteRoundTrips) {
    std::string all;
    for (int i = 0; i < 256; ++i) all += static_cast<char>(i);
    EXPECT_EQ(utf8ToCp1252(cp1252ToUtf8(all)), all);
}

TEST(Win1252, UnrepresentableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(utf8ToCp1252("\xE4\xB8\xAD"), "?");      // CJK
    EXPECT_EQ(utf8ToCp1252("x\xC3"), "x?");            // truncated sequence
    EXPECT_EQ(utf8ToCp1252("\xFF" "a"), "?a");
}

// Overlong forms and surrogates are malformed like any other bad sequence: each
// byte becomes '?', so "c0 8d c0 8a" can no longer smuggle in a CR LF.
TEST(Win1252, OverlongFormsAndSurrogatesAreMalformed) {
    struct Case { std::string utf8; std::string cp; };
    const Case cases[] = {
        {"\xC0\x8D\xC0\x8A", "????"},           // overlong CR LF
        {"\xC1\xBF", "??"},                       // overlong 0x7F
        {"\xE0\x80\x8A", "???"},                 // three-byte overlong LF
        {"\xE0\x82\xA9", "???"},                 // three-byte overlong (c)
        {"\xF0\x80\x80\x8A", "????"},           // four-byte overlong LF
        {"\xED\xA0\x80", "???"},                 // high surrogate
        {"\xED\xBF\xBF", "???"},                 // low surrogate
        {"\xF4\x90\x80\x80", "????"},           // beyond U+10FFFF
        {"a\xC2\xA9\xE2\x82\xAC" "b", "a\xA9\x80" "b"},  // shortest forms still decode
        {"\xEF\xBF\xBF", "?"},                   // U+FFFF: valid, not in the code page
    };
    for (const Case& c : cases) EXPECT_EQ(utf8ToCp1252(c.utf8), c.cp);
}

}  // namespace
}  // namespace nv
