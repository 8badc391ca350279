// The GSM receive thread's "+CMT:" reading, on a scripted stream: each chunk
// is one read of the port.
#include "protocols/GsmRxIndication.h"

#include <gtest/gtest.h>

#include "tests/peers/ScriptedByteStream.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;

struct Case {
    const char* name;
    std::vector<std::string> reads;
    std::vector<std::string> progress;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class GsmRxIndication : public ::testing::TestWithParam<Case> {};

TEST_P(GsmRxIndication, OnePoll) {
    ManualClock clock;
    ScriptedByteStream in(&clock);
    for (const auto& r : GetParam().reads) in.deliver(r);
    std::vector<std::string> got;
    readGsmRxIndications(in, clock, GsmRxOptions{}, [&](const std::string& p) { got.push_back(p); });
    EXPECT_EQ(got, GetParam().progress);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, GsmRxIndication,
    ::testing::Values(
        Case{"Whole", {"\r\n+CMT: \"+4917012345\",,\"26/12/11,09:00:00+04\"\r\nHello\r\n"},
             {"4, +4917012345|26/12/11,09:00:00+04|Hello"}},
        Case{"TextInALaterRead", {"noise\r\n+CMT: \"0123\",\"26/12/11,09:00:00+04\"\r\n", "Hi", " there\r\n"},
             {"4, 0123|26/12/11,09:00:00+04|Hi there"}},
        Case{"AlphaBetweenSenderAndStamp", {"+CMT: \"0123\",\"Alice\",\"26/12/11,09:00:00+04\"\r\nx\r\n"},
             {"4, 0123|26/12/11,09:00:00+04|x"}},
        Case{"TwoInOneRead", {"+CMT: \"1\",,\"t1\"\r\none\r\n+CMT: \"2\",,\"t2\"\n\ntwo\r\n"},
             {"4, 1|t1|one", "4, 2|t2|two"}},
        Case{"OtherIndicationsAreNotRead", {"\r\n+CMTI: \"SM\",3\r\n+CMT: \"1\",,\"t\"\r\nx\r\n"}, {}},
        Case{"NoPlusNoRead", {"\r\nOK\r\n", "+CMT: \"1\",,\"t\"\r\nx\r\n"}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(GsmRxIndicationWait, TextThatNeverComesIsDroppedAfterTheLineWait) {
    ManualClock clock;
    ScriptedByteStream in(&clock);
    in.deliver("+CMT: \"1\",,\"t\"\r\nno line end");
    GsmRxOptions options;
    options.rxLine = 2s;
    const auto start = clock.now();
    int calls = 0;
    readGsmRxIndications(in, clock, options, [&](const std::string&) { ++calls; });
    EXPECT_EQ(calls, 0);
    EXPECT_GE(clock.now() - start, 2s);
    EXPECT_EQ(in.pending(), 0u);
}

TEST(GsmRxIndicationWait, StopEndsTheLineWait) {
    ManualClock clock;
    ScriptedByteStream in(&clock);
    in.deliver("+CMT: \"1\",,\"t\"\r\n");
    GsmRxOptions options;
    options.stop = [] { return true; };
    const auto start = clock.now();
    readGsmRxIndications(in, clock, options, [](const std::string&) {});
    EXPECT_EQ(clock.now(), start);
}

}  // namespace
}  // namespace nv::test
