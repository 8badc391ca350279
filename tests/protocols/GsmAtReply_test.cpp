#include "protocols/GsmAtReply.h"

#include <gtest/gtest.h>

#include <vector>

namespace nv::test {
namespace {

using Final = GsmAtReply::Final;

struct ReplyCase {
    const char* name;
    std::string sent;
    bool wantPrompt;
    std::vector<std::string> chunks;  // fed in turn
    Final final;
    std::vector<std::string> lines;
    std::string finalLine;
};

TEST(GsmAtReply, Table) {
    const ReplyCase cases[] = {
        {"plain ok", "AT\r\n", false, {"\r\nOK\r\n"}, Final::Ok, {}, "OK"},
        {"maker holding OK", "AT+CGMI\r\n", false, {"\r\nNOKIA\r\n\r\nOK\r\n"}, Final::Ok, {"NOKIA"}, "OK"},
        {"echo skipped", "AT+CGMI\r\n", false, {"AT+CGMI\r\r\nNOKIA\r\n\r\nOK\r\n"}, Final::Ok, {"NOKIA"}, "OK"},
        {"cms error", "x\x1A", false, {"\r\n+CMS ERROR: 500\r\n"}, Final::Error, {}, "+CMS ERROR: 500"},
        {"cme error", "AT+CPAS\r\n", false, {"\r\n+CME ERROR: 10\r\n"}, Final::Error, {}, "+CME ERROR: 10"},
        {"error", "AT\r\n", false, {"\r\nERROR\r\n"}, Final::Error, {}, "ERROR"},
        {"split over reads", "AT\r\n", false, {"\r\nO", "K", "\r\n"}, Final::Ok, {}, "OK"},
        {"text echo holding OK", "OK call me\x1A", false,
         {"OK call me", "\x1A", "\r\n+CMGS: 12\r\n", "\r\nOK\r\n"}, Final::Ok, {"+CMGS: 12"}, "OK"},
        {"text that is OK", "OK\x1A", false, {"OK\x1A\r\n", "\r\n+CMGS: 3\r\n\r\nOK\r\n"}, Final::Ok,
         {"+CMGS: 3"}, "OK"},
        {"no echo of OK text", "OK\x1A", false, {"\r\n+CMGS: 3\r\n\r\nOK\r\n"}, Final::Ok, {"+CMGS: 3"}, "OK"},
        {"multi-line echo with prompts", "a\rb\x1A", false, {"a\r\n> b\r\n\r\nOK\r\n"}, Final::Ok, {}, "OK"},
        {"prompt", "AT+CMGS=17\r", true, {"AT+CMGS=17\r", "\r\n> "}, Final::Prompt, {}, "> "},
        {"prompt refused", "AT+CMGS=\"1\"\r\n", true, {"\r\n+CMS ERROR: 304\r\n"}, Final::Error, {},
         "+CMS ERROR: 304"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        GsmAtReply r(c.sent, c.wantPrompt);
        Final got = Final::None;
        for (std::size_t i = 0; i < c.chunks.size(); ++i) {
            got = r.feed(c.chunks[i]);
            if (i + 1 < c.chunks.size()) {
                EXPECT_EQ(got, Final::None) << "after chunk " << i;
            }
        }
        EXPECT_EQ(got, c.final);
        EXPECT_EQ(r.lines(), c.lines);
        EXPECT_EQ(r.finalLine(), c.finalLine);
    }
}

TEST(GsmAtReply, UnfinishedAnswersStayOpen) {
    // A lone "O" is no answer, and neither is an "OK" inside a longer line.
    for (std::string bytes : {"\r\nO", "\r\nOK call me\r\n", "\r\nNOK\r\n", "\r\n> "}) {
        GsmAtReply r("AT\r\n");
        EXPECT_EQ(r.feed(bytes), Final::None) << bytes;
    }
}

TEST(GsmAtReply, TextAndRest) {
    GsmAtReply r("AT+COPS?\r\n");
    EXPECT_EQ(r.feed("\r\n+COPS: 0,0,\"Net\"\r\n\r\nOK\r\n\r\n+CMTI: \"SM\",1\r\n"), Final::Ok);
    EXPECT_EQ(r.text(), "+COPS: 0,0,\"Net\"");
    EXPECT_EQ(r.rest(), "\r\n+CMTI: \"SM\",1\r\n");
}

}  // namespace
}  // namespace nv::test

namespace nv::test {
namespace {

TEST(GsmAtReply, ReadingAnswers) {
    struct Reg {
        const char* reply;
        int state;
    };
    const Reg regs[] = {
        {"+CREG: 0,1", 1}, {"+CREG: 0,5", 5}, {"+CREG: 2,1,\"1A2B\",\"0012\"", 1}, {"+CREG: 1", 1},
        {"0,2", 2},        {"+CREG: 0,10", 10}, {"+CREG: 0,x", -1}, {"garbage", -1}, {"", -1},
    };
    for (const auto& r : regs) EXPECT_EQ(atRegistration(r.reply), r.state) << r.reply;

    EXPECT_EQ(atIdentity("  +CGMI: Nokia Mobile ", true), "Nokia Mobile");
    EXPECT_EQ(atIdentity(" NOKIA ", true), "NOKIA");
    EXPECT_EQ(atIdentity("+CPAS: 0", true), "0");
    EXPECT_EQ(atIdentity(" 35 12 ", false), "35 12");

    EXPECT_EQ(atMessageReference({"+CMGS: 12"}), 12);
    EXPECT_EQ(atMessageReference({"junk", "+CMGS:   7 "}), 7);
    EXPECT_EQ(atMessageReference({"+CMGS: x"}), 0);
    EXPECT_EQ(atMessageReference({}), 0);

    EXPECT_EQ(atQuotedFields("+CMT: \"+49\",\"\",\"24/01/02\""), (std::vector<std::string>{"+49", "", "24/01/02"}));
    EXPECT_EQ(atQuotedFields("+CMT: \"+49\",,\"x"), (std::vector<std::string>{"+49"}));
}

}  // namespace
}  // namespace nv::test
