#include "protocols/WctpReply.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

using List = std::vector<std::string>;

TEST(WctpReply, LinesSplitAtLineEndsWithoutEmptyOnes) {
    EXPECT_EQ(replyLines("a=1\r\nb=2\n\r\nc=3"), (List{"a=1", "b=2", "c=3"}));
    EXPECT_EQ(replyLines(""), List{});
}

TEST(WctpReply, ValueOfTheFirstLineByNameWithoutCase) {
    const List list{"errorCode=401", "ERRORTEXT=", "errorText=second", "successTextX=no", "Content=a=b"};
    EXPECT_EQ(replyListValue(list, "errorCode"), "401");
    EXPECT_EQ(replyListValue(list, "errorText"), "");  // the first line wins, empty or not
    EXPECT_EQ(replyListValue(list, "successText"), "");
    EXPECT_EQ(replyListValue(list, "content"), "a=b");
}

TEST(WctpReply, ReplyTextAndStatusText) {
    struct Case {
        List list;
        std::string reply, status;
    };
    const Case cases[] = {
        {{"successText=Accepted", "errorText=x"}, "Accepted", kWctpStatusQueued},
        {{"errorText=Invalid PIN"}, "Invalid PIN", kWctpStatusQueued},
        {{"type=DELIVERED", "type=READ"}, "", kWctpStatusDelivered},
        {{"type=READ", "type=DELIVERED"}, "", kWctpStatusRead},
        {{"type=read"}, "", kWctpStatusQueued},  // exact lines only
        {{"type=READ", "Content=Yes, on my way"}, "", "Yes, on my way"},
        {{}, "", kWctpStatusQueued},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(wctpReplyText(c.list), c.reply) << ::testing::PrintToString(c.list);
        EXPECT_EQ(wctpStatusText(c.list), c.status) << ::testing::PrintToString(c.list);
    }
}

}  // namespace
}  // namespace nv
