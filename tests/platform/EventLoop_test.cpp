#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <thread>

namespace nv {
namespace {
using namespace std::chrono_literals;

TEST(EventLoop, RunsPostsInOrderFromAnyThreadUntilQuit) {
    EventLoop loop;
    std::vector<int> seen;
    std::thread poster([&] {
        for (int i = 0; i < 100; ++i) loop.post([&seen, i] { seen.push_back(i); });
        loop.post([&] { loop.quit(); });
    });
    loop.run();
    poster.join();
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
    // quit is sticky for run(), while poll still drains.
    loop.post([&] { seen.push_back(-1); });
    loop.run();
    EXPECT_EQ(loop.poll(), 1u);
    EXPECT_EQ(seen.back(), -1);
}

TEST(EventLoop, PumpUntilServesPostsAndReturnsWhenTheStateIsReached) {
    EventLoop loop;
    std::atomic<bool> ended{false};
    std::vector<int> seen;
    std::thread other([&] {
        loop.post([&seen] { seen.push_back(1); });
        ended = true;
        loop.post([] {});  // the wake-up after the change
    });
    // A bound no test reaches: the post after the change ends the wait.
    EXPECT_TRUE(loop.pumpUntil([&] { return ended.load(); }, std::chrono::minutes(1)));
    other.join();
    loop.poll();
    EXPECT_EQ(seen, std::vector<int>{1});
    EXPECT_FALSE(loop.pumpUntil([] { return false; }, 1ms));
}

TEST(EventLoop, TimerTicksAndNeverTicksAfterItIsGone) {
    EventLoop loop;
    int ticks = 0;
    auto timer = std::make_unique<RepeatingTimer>(loop, 5ms, [&] { ++ticks; });
    auto until = std::chrono::steady_clock::now() + 5s;
    while (ticks < 3 && std::chrono::steady_clock::now() < until) loop.pumpFor(5ms);
    EXPECT_GE(ticks, 3);
    timer.reset();
    int after = ticks;
    loop.pumpFor(30ms);
    EXPECT_EQ(ticks, after);
}

TEST(EventLoop, SignalReachesTheLoopThread) {
    EventLoop loop;
    int got = 0;
    SignalWatch watch(loop, {SIGUSR1}, [&](int s) {
        got = s;
        loop.quit();
    });
    std::raise(SIGUSR1);
    loop.run();
    EXPECT_EQ(got, SIGUSR1);
}

}  // namespace
}  // namespace nv
