#include "service/Counters.h"

#include <gtest/gtest.h>

namespace nv {
namespace {

TEST(Counters, AllCountersAtStartAreTheExactBytes) {
    Counters c;
    EXPECT_EQ(c.allCountersMessage(false),
              "cmd=all_counters\r\nctWCTPCount=0\r\nctSNPPCount=0\r\nctSMPPCount=0\r\nctTapCount=0\r\n"
              "ctEPagesSent=0\r\nctSMSCount=0\r\nctErrorCount=0\r\nctTransactionCount=0\r\nctQueuedMgs=0\r\n"
              "ctNerivaleInCount=0\r\nctTNPPCounter=0\r\nctBrevicorCount=0\r\nctHours=0\r\nctMinutes=0\r\n"
              "cancelcall1=0\r\n");
    EXPECT_NE(c.allCountersMessage(true).find("\r\ncancelcall1=1\r\n"), std::string::npos);
}

TEST(Counters, EachIdReachesItsKeyAndOnlyTableIdsCount) {
    struct Case {
        int id;
        const char* key;
    } cases[] = {{4, "ctWCTPCount"},    {5, "ctSNPPCount"},        {6, "ctTapCount"},
                 {7, "ctEPagesSent"},   {8, "ctSMSCount"},         {9, "ctErrorCount"},
                 {10, "ctTransactionCount"}, {12, "ctBrevicorCount"}, {14, "ctNerivaleInCount"},
                 {16, "ctTNPPCounter"}, {17, "ctSMPPCount"}};
    for (const auto& k : cases) {
        Counters c;
        ASSERT_TRUE(c.apply(k.id, 0));
        ASSERT_TRUE(c.apply(k.id, 99));  // the value only matters for id 11
        EXPECT_EQ(c.valueOf(k.id), 2) << k.id;
        EXPECT_NE(c.allCountersMessage(false).find(std::string("\r\n") + k.key + "=2\r\n"), std::string::npos)
            << k.key;
    }
    Counters c;
    EXPECT_TRUE(c.apply(kCtQueued, 3));
    EXPECT_EQ(c.QueuedMgs, 3);
    EXPECT_TRUE(c.apply(kCtQueued, 0));
    EXPECT_EQ(c.QueuedMgs, 0);
    for (int unused : {0, 3, 13, 15, 18}) EXPECT_FALSE(c.apply(unused, 1)) << unused;
}

TEST(Counters, ResetKeepsQueueLengthAndOnlineTime) {
    Counters c;
    for (int id : {4, 5, 6, 7, 8, 9, 10, 12, 14, 16, 17}) c.apply(id, 0);
    c.apply(kCtQueued, 7);
    c.rHours = 2;
    c.rMin = 41;
    c.resetStats();
    Counters expected;
    expected.QueuedMgs = 7;
    expected.rHours = 2;
    expected.rMin = 41;
    EXPECT_EQ(c.allCountersMessage(false), expected.allCountersMessage(false));
}

TEST(Counters, UpdateMessageHasNoFinalLineEnd) {
    EXPECT_EQ(Counters::counterUpdateMessage(14, 1), "cmd=cntrupd\r\ncounter=14\r\nvalue=1");
    Counters c;
    c.ErrorCount = 2147483647;
    c.apply(kCtError, 0);  // wraps like the Windows version's 32-bit integer
    EXPECT_EQ(c.ErrorCount, -2147483647 - 1);
}

}  // namespace
}  // namespace nv
