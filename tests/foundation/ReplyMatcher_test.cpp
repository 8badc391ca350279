#include <gtest/gtest.h>

#include <string>

#include "foundation/ReplyMatcher.h"

namespace nv::test {
namespace {

using namespace std::string_literals;

struct MatchCase {
    const char* name;
    std::string match;
    std::string input;
    int completed;         // index completed while feeding, -1 when none
    std::size_t consumed;  // characters fed up to the completion
    int atTimeOut;         // result() when nothing completed
};

const MatchCase kCases[] = {
    {"reply with line ends completes at the K", "OK|ERROR", "\r\nOK\r\n", 0, 4, 0},
    {"second alternative", "OK|ERROR", "ERROR", 1, 5, 1},
    {"silence", "OK|ERROR", "", -1, 0, -1},
    {"partial match counts at the time-out", "OK|ERROR", "O", -1, 0, 0},
    {"breaking character is dropped, the K alone stays partial", "OK|ERROR", "OOK", -1, 0, 0},
    {"reply starting inside the breaking character is missed", "OK|ERROR", "OERROR", -1, 0, 1},
    {"leading noise is skipped", "OK|ERROR", "xyz\x00OK"s, 0, 6, 0},
    {"noise after a partial match ends it", "OK|ERROR", "Ox", -1, 0, -1},
    {"short alternative after a longer one holding it never completes", "OK|K", "K", -1, 0, 0},
    {"a repeated first character resets the candidate", "ID=", "IID=", -1, 0, 0},
    {"empty alternative never matches", "|OK", "OK", 1, 2, 1},
    {"empty list", "", "anything", -1, 0, -1},
    {"encoder error reply, code left unread", "\x04\x01\x06|\x04\x01\x0F", "\x04\x01\x0F" "08\x04", 1, 3, 1},
    {"encoder acknowledgement after the echo", "\x04\x01\x06|\x04\x01\x0F",
     "\x01" "A1234\x02hi\x03\x04\x01\x06V8.01", 0, 13, 0},
    {"alternatives with line ends", "\r\n|\x04", "text\r\n", 0, 6, 0},
    {"TAP acknowledgement cut off at the time-out", "\r\x15\r|\r\x06\r", "\r\x06", -1, 0, 1},
};

class ReplyMatcherTable : public ::testing::TestWithParam<MatchCase> {};

TEST_P(ReplyMatcherTable, FollowsTheCandidateRule) {
    const MatchCase& tc = GetParam();
    ReplyMatcher m(tc.match);
    int completed = -1;
    std::size_t consumed = 0;
    for (char c : tc.input) {
        ++consumed;
        completed = m.feed(c);
        if (completed >= 0) break;
    }
    EXPECT_EQ(completed, tc.completed);
    if (tc.completed >= 0) {
        EXPECT_EQ(consumed, tc.consumed);
    } else {
        EXPECT_EQ(m.result(), tc.atTimeOut);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ReplyMatcherTable, ::testing::ValuesIn(kCases), [](const auto& info) {
    std::string n;
    for (const char* p = info.param.name; *p; ++p) n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
    return n;
});

TEST(ReplyMatcher, ClampsTheMatchTextAtOneHundredCharacters) {
    std::string longText(150, 'A');
    longText += "|B";
    ReplyMatcher m(longText);
    ASSERT_EQ(m.alternatives().size(), 1u);
    EXPECT_EQ(m.alternatives()[0].size(), ReplyMatcher::kMaxMatchLength);
    EXPECT_EQ(m.feed('B'), -1);
    EXPECT_EQ(m.result(), -1);
}

TEST(ReplyMatcher, TextAfterTheLastBarIsTheLastAlternative) {
    ReplyMatcher m("a|b|cd");
    ASSERT_EQ(m.alternatives(), (std::vector<std::string>{"a", "b", "cd"}));
    EXPECT_EQ(m.feed('c'), -1);
    EXPECT_EQ(m.feed('d'), 2);
}

TEST(ReplyMatcher, ResetForgetsThePartialMatch) {
    ReplyMatcher m("OK");
    m.feed('O');
    ASSERT_EQ(m.result(), 0);
    m.reset();
    EXPECT_EQ(m.result(), -1);
    EXPECT_EQ(m.feed('K'), -1);
}

}  // namespace
}  // namespace nv::test
