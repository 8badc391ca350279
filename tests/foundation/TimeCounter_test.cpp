#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>

#include "foundation/Clock.h"
#include "foundation/KORComCls.h"

namespace nv::test {
namespace {

enum class Variant { Com, Inet };

// Steps, blank-separated: "on", "off", "clear" (TimedOut := False), "+<ms>"
// (advance the clock), "T"/"F" (TimedOut expected), "c<n>" (count expected).
struct CounterCase {
    const char* name;
    Variant variant;
    int timeOut;
    const char* steps;
};

const CounterCase kCases[] = {
    {"zero times out at the first second", Variant::Com, 0, "on +999 F c0 +1 T c-1"},
    {"negative times out at the first second", Variant::Inet, -3, "on +999 F +1 T"},
    {"five times out at five seconds, not four", Variant::Com, 5, "on +4000 F c1 +999 F +1 T c0"},
    {"count keeps running below zero", Variant::Com, 2, "on +5500 T c-3"},
    {"Com: re-arm after time-out counts afresh", Variant::Com, 1, "on +1000 T on F c1 +999 F +1 T"},
    {"Inet: re-arm after time-out stays timed out", Variant::Inet, 1, "on +1000 T on T c1 +3000 T"},
    {"Inet: cleared then re-armed counts afresh", Variant::Inet, 1, "on +1000 T clear on F +999 F +1 T"},
    {"Inet: cleared while running is set again at the next tick", Variant::Inet, 1,
     "on +1000 T clear F +999 F +1 T"},
    {"off freezes the count", Variant::Com, 3, "on +2000 c1 off +10000 c1 F"},
    {"off then on restarts from TimeOut", Variant::Com, 3, "on +2000 off +5000 on c3 +2999 F +1 T"},
    {"off keeps a cleared flag clear", Variant::Inet, 1, "on +1000 T off clear +5000 F"},
    {"never switched on never times out", Variant::Com, 0, "+10000 F c0"},
};

class TimeCounterTable : public ::testing::TestWithParam<CounterCase> {};

TEST_P(TimeCounterTable, FollowsTheCountingRule) {
    const CounterCase& tc = GetParam();
    ManualClock clock;
    std::unique_ptr<TimeCounterBase> counter;
    if (tc.variant == Variant::Com) counter = std::make_unique<TTimeCounter>(clock);
    else counter = std::make_unique<TInetTimeCounter>(clock);
    counter->SetTimeOut(tc.timeOut);

    std::istringstream steps(tc.steps);
    std::string step;
    int index = 0;
    while (steps >> step) {
        SCOPED_TRACE("step " + std::to_string(index++) + " '" + step + "'");
        if (step == "on") counter->TimerOn();
        else if (step == "off") counter->TimerOff();
        else if (step == "clear") counter->SetTimedOut(false);
        else if (step[0] == '+') clock.advance(std::chrono::milliseconds(std::stoi(step.substr(1))));
        else if (step == "T") EXPECT_TRUE(counter->TimedOut());
        else if (step == "F") EXPECT_FALSE(counter->TimedOut());
        else if (step[0] == 'c') EXPECT_EQ(counter->Count(), std::stoi(step.substr(1)));
        else FAIL() << "bad step";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, TimeCounterTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return n;
                         });

TEST(TimeCounter, DefaultsToSixtySecondsNotTimedOut) {
    ManualClock clock;
    TTimeCounter c(clock);
    EXPECT_EQ(c.TimeOut(), 60);
    EXPECT_FALSE(c.TimedOut());
    EXPECT_FALSE(c.Running());
}

// On the real clock, from a thread that runs no event loop: the time-out does
// come, and never before its first second.
TEST(TimeCounter, TimesOutOnTheSteadyClockWithoutAnEventLoop) {
    bool timedOut = false;
    std::chrono::steady_clock::duration took{};
    std::thread worker([&] {
        TTimeCounter c;
        c.SetTimeOut(0);
        auto start = std::chrono::steady_clock::now();
        c.TimerOn();
        while (!c.TimedOut() && std::chrono::steady_clock::now() - start < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        timedOut = c.TimedOut();
        took = std::chrono::steady_clock::now() - start;
    });
    worker.join();
    EXPECT_TRUE(timedOut);
    EXPECT_GE(took, std::chrono::seconds(1));
}

}  // namespace
}  // namespace nv::test
