#include "platform/WorkerThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <thread>

namespace nv {
namespace {
using namespace std::chrono_literals;

// Far longer than any test runs: a pause of this length that returns was cut
// short, and a join bounded by it fails only when something hangs.
constexpr auto kForever = std::chrono::hours(24);
constexpr auto kGenerous = std::chrono::milliseconds(60000);

TEST(WorkerThread, StopEndsALongPauseAndTheThreadIsJoined) {
    WorkerThread t;
    std::atomic<bool> inPause{false};
    std::atomic<int> result{-1};
    t.start([&] {
        inPause = true;
        result = t.pause(kForever) ? 1 : 0;
    });
    while (!inPause.load()) std::this_thread::yield();
    EXPECT_TRUE(t.running());
    t.requestStop();
    ASSERT_TRUE(t.join(kGenerous));
    EXPECT_EQ(result.load(), 0);  // ended for the stop
    EXPECT_FALSE(t.running());
    EXPECT_FALSE(t.joinable());
}

TEST(WorkerThread, OwnersFlagEndsAPauseAndWakeEndsItWithoutAStop) {
    WorkerThread t;
    std::atomic<bool> ownerStop{false};
    std::atomic<int> phase{0};
    std::atomic<int> woken{-1}, stopped{-1};
    t.start([&] {
        phase = 1;
        woken = t.pause(kForever) ? 1 : 0;  // a wake-up: goes on
        phase = 2;
        // A late wake-up from the loop below may end one pause early; only a
        // stop ends them for good.
        while (t.pause(kForever, [&] { return ownerStop.load(); })) {
        }
        stopped = 0;
    });
    while (phase.load() != 1) std::this_thread::yield();
    // A wake-up before the pause began must not be lost either: repeat until seen.
    while (phase.load() == 1) {
        t.wake();
        std::this_thread::yield();
    }
    ownerStop = true;
    ASSERT_TRUE(t.join(kGenerous));
    EXPECT_EQ(woken.load(), 1);
    EXPECT_EQ(stopped.load(), 0);
    EXPECT_FALSE(t.stopRequested());  // only the owner's flag was raised
}

TEST(WorkerThread, BoundedJoinReportsAThreadThatDoesNotEnd) {
    WorkerThread t;
    std::atomic<bool> release{false};
    t.start([&] {
        while (!release.load()) std::this_thread::sleep_for(1ms);  // deaf to the stop flag
    });
    t.requestStop();
    EXPECT_FALSE(t.join(20ms));
    EXPECT_TRUE(t.joinable());
    EXPECT_TRUE(t.running());
    release = true;
    EXPECT_TRUE(t.join(kGenerous));
    EXPECT_FALSE(t.joinable());
}

TEST(WorkerThread, WaitUntilSeesAStateChangedBeforeTheWakeUp) {
    WorkerThread t;
    std::atomic<bool> ready{false};
    std::atomic<bool> go{false};
    t.start([&] {
        while (!go.load()) std::this_thread::yield();
        ready = true;
        t.wake();
        t.pause(kForever);
    });
    go = true;
    EXPECT_TRUE(t.waitUntil([&] { return ready.load(); }, kGenerous));
    // Without the state, the wait ends at its bound with false.
    EXPECT_FALSE(t.waitUntil([] { return false; }, 1ms));
    t.requestStop();
    EXPECT_FALSE(t.waitUntil([] { return false; }, kGenerous));  // a stop ends it too
    EXPECT_TRUE(t.join(kGenerous));
}

TEST(WorkerThread, ExceptionStaysOnTheThreadAndTheEndHookSeesItEnded) {
    WorkerThread t;
    std::atomic<int> runningAtEnd{-1};
    t.start([] { throw std::runtime_error("body failed"); },
            [&] { runningAtEnd = t.running() ? 1 : 0; });
    ASSERT_TRUE(t.join(kGenerous));
    EXPECT_EQ(runningAtEnd.load(), 0);
    // Started again after the join, with the stop flag cleared.
    t.requestStop();
    std::atomic<bool> sawStop{true};
    t.start([&] { sawStop = t.stopRequested(); });
    t.join();
    EXPECT_FALSE(sawStop.load());
}

TEST(WorkerThread, DestructorStopsAndJoins) {
    std::atomic<bool> ended{false};
    {
        WorkerThread t;
        t.start([&] {
            while (t.pause(kForever)) {
            }
            ended = true;
        });
    }
    EXPECT_TRUE(ended.load());
}

}  // namespace
}  // namespace nv
