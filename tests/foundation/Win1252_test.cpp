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

}  // namespace
}  // namespace nv
