#include "foundation/PageRecord.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

TEST(PageRecord, NewRecordIsClearedAndFreeReleasesEverything) {
    PageRecordPtr rec = NewPageRecord();
    ASSERT_TRUE(rec);
    EXPECT_TRUE(rec->Originator.empty());
    EXPECT_FALSE(rec->Recipient);
    EXPECT_FALSE(rec->PrimaryProvider);
    EXPECT_FALSE(rec->SecondaryProvider);
    EXPECT_TRUE(rec->MessageText.empty());
    EXPECT_TRUE(rec->RawBlock.empty());

    rec->Recipient = std::make_unique<UserRec>();
    rec->PrimaryProvider = std::make_unique<ProviderRec>();
    rec->RawBlock = std::string("\x01" "A,1,\x00" "5", 7);  // bytes, NUL included
    EXPECT_EQ(rec->RawBlock.size(), 7u);
    EXPECT_TRUE(FreePageRecord(rec));  // under ASan a leak of any part would show
    EXPECT_FALSE(rec);

    PageRecordPtr none;
    EXPECT_TRUE(FreePageRecord(none));
}

TEST(PageRecord, StripMessageMarkers) {
    struct Case {
        std::string in, out;
    };
    const Case cases[] = {
        {"hello\r\nworld", "helloworld"},
        {"text)#*&(tail", "text"},
        {"a\rb(N)#*&(x)#*&(y", "ab"},
        {"(N)#*&(", ""},
        {"keep (N) and #*&( apart\n", "keep (N) and #*&( apart"},
        {"x)#*&(y(N)#*&(z", "x"},
        {"", ""},
    };
    for (const auto& c : cases) {
        std::string s = c.in;
        StripMessageMarkers(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

TEST(PageRecord, StatusQueryOnlyAtTheStart) {
    EXPECT_TRUE(isStatusQuery("MSTA 1234"));
    EXPECT_TRUE(isStatusQuery("MSTA "));
    EXPECT_FALSE(isStatusQuery("MSTA1234"));
    EXPECT_FALSE(isStatusQuery("msta 1234"));
    EXPECT_FALSE(isStatusQuery("Call MSTA 1234"));
    EXPECT_FALSE(isStatusQuery(""));
}

TEST(PageRecord, SecondaryNamedUnlessEmptyOrNone) {
    TQueueRec page;
    EXPECT_FALSE(namesSecondary(page));  // no recipient
    page.Recipient = std::make_unique<UserRec>();
    for (const auto& [name, named] : {std::pair{"", false}, {"NONE", false}, {"None", true}, {"Acme", true}}) {
        page.Recipient->setSecProviderName(name);
        EXPECT_EQ(namesSecondary(page), named) << name;
    }
}

}  // namespace
}  // namespace nv
