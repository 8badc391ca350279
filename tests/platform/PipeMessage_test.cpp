#include "platform/PipeMessage.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

TEST(PipeMessage, SplitsAtEveryKindOfLineEnd) {
    struct Case {
        std::string text;
        std::vector<std::string> lines;
    } cases[] = {
        {"cmd=ping", {"cmd=ping"}},
        {"cmd=send_counters\r\n", {"cmd=send_counters"}},
        {"cmd=test_page\r\npin=123\r\n", {"cmd=test_page", "pin=123"}},
        {"a=1\rb=2\nc=3", {"a=1", "b=2", "c=3"}},
        {"a=1\r\n\r\nb=2", {"a=1", "", "b=2"}},
        {"", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(PipeMessage::parse(c.text).lines(), c.lines) << c.text;
}

TEST(PipeMessage, NamesIgnoreCaseValuesStayExact) {
    auto m = PipeMessage::parse("CMD=Ping\r\npin=12=34\r\nPIN=other\r\nnoequals\r\n");
    EXPECT_EQ(m.command(), "Ping");
    EXPECT_EQ(m.value("Pin"), "12=34");  // the first matching line, text after the first "="
    EXPECT_TRUE(m.has("pin"));
    EXPECT_FALSE(m.has("noequals"));
    EXPECT_EQ(m.value("missing"), "");
}

TEST(PipeMessage, BuildsWithOrWithoutFinalLineEnd) {
    PipeFields f{{"cmd", "cntrupd"}, {"counter", "14"}, {"value", "1"}};
    EXPECT_EQ(buildPipeMessage(f, false), "cmd=cntrupd\r\ncounter=14\r\nvalue=1");
    EXPECT_EQ(buildPipeMessage(f, true), "cmd=cntrupd\r\ncounter=14\r\nvalue=1\r\n");
}

}  // namespace
}  // namespace nv
