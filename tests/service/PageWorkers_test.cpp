#include "service/PageWorkers.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>
#include <thread>

namespace nv {
namespace {
using namespace std::chrono_literals;

PageRecordPtr page(const std::string& msg) {
    auto p = NewPageRecord();
    p->MessageText = msg;
    return p;
}

TEST(PageWorkers, FinishedWorkersAreReapedSoTheSetDoesNotGrow) {
    PageWorkers workers;
    std::atomic<bool> release{false};
    std::atomic<int> seen{0};
    for (int i = 0; i < 5; ++i) {
        auto p = page("m" + std::to_string(i));
        ASSERT_TRUE(workers.start(p, [&](PageRecordPtr mine) {
            EXPECT_EQ(mine->MessageText.substr(0, 1), "m");  // the worker owns the page
            while (!release.load()) std::this_thread::sleep_for(1ms);
            ++seen;
        }));
        EXPECT_FALSE(p);
    }
    EXPECT_EQ(workers.count(), 5u);
    EXPECT_EQ(workers.running(), 5u);
    release = true;
    auto until = std::chrono::steady_clock::now() + 5s;
    while (workers.running() > 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    workers.reap();
    EXPECT_EQ(workers.count(), 0u);
    EXPECT_EQ(seen.load(), 5);
}

TEST(PageWorkers, StopWaitsForEveryWorkerEvenPastTheBoundAndRefusesNewOnes) {
    PageWorkers workers;
    std::atomic<bool> politeDone{false}, stubbornDone{false};
    auto a = page("polite");
    ASSERT_TRUE(workers.start(a, [&](PageRecordPtr) {
        while (!workers.stopFlag().load()) std::this_thread::sleep_for(1ms);
        politeDone = true;
    }));
    auto b = page("stubborn");
    ASSERT_TRUE(workers.start(b, [&](PageRecordPtr) {
        while (!workers.stopFlag().load()) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(100ms);  // outlives the bound below
        stubbornDone = true;
    }));
    int pumps = 0;
    EXPECT_FALSE(workers.stopAll(10ms, [&] { ++pumps; }));
    // Whatever the bound, nothing a worker uses may go away before it ends.
    EXPECT_TRUE(politeDone.load());
    EXPECT_TRUE(stubbornDone.load());
    EXPECT_GT(pumps, 0);
    EXPECT_EQ(workers.count(), 0u);
    auto late = page("late");
    EXPECT_FALSE(workers.start(late, [](PageRecordPtr) {}));
    EXPECT_TRUE(late);  // still the caller's to free
}

// Beyond the bound pages wait in arrival order; at stop the worker finishes
// the page in hand and the waiting ones go back to the caller, in order.
TEST(PageWorkers, PagesBeyondTheBoundWaitAndThoseLeftAtStopGoBackInOrder) {
    PageWorkers workers({}, 1);
    std::atomic<bool> inHand{false};
    std::vector<std::string> worked;  // only the one worker writes it
    auto body = [&](PageRecordPtr mine) {
        worked.push_back(mine->MessageText);
        inHand = true;
        while (!workers.stopFlag().load()) std::this_thread::sleep_for(1ms);
    };
    for (const char* m : {"a", "b", "c"}) {
        auto p = page(m);
        ASSERT_TRUE(workers.start(p, body));
        EXPECT_FALSE(p);
    }
    while (!inHand.load()) std::this_thread::yield();
    EXPECT_EQ(workers.running(), 1u);
    EXPECT_EQ(workers.waiting(), 2u);
    EXPECT_TRUE(workers.stopAll(std::chrono::minutes(1), {}));
    EXPECT_EQ(worked, std::vector<std::string>{"a"});
    auto left = workers.takeWaiting();
    ASSERT_EQ(left.size(), 2u);
    EXPECT_EQ(left[0]->MessageText, "b");
    EXPECT_EQ(left[1]->MessageText, "c");
    EXPECT_EQ(workers.waiting(), 0u);
    EXPECT_EQ(workers.peak(), 1u);
}

TEST(PageWorkers, AnExceptionABodyLetsOutIsLoggedAndTheWorkerTakesTheNextPage) {
    PageWorkers workers({}, 1);
    std::mutex m;
    std::vector<std::string> errors;
    workers.setErrorLog([&](const std::string& what) {
        std::lock_guard<std::mutex> lock(m);
        errors.push_back(what);
    });
    std::atomic<bool> release{false};
    std::atomic<int> done{0};
    auto first = page("first");
    ASSERT_TRUE(workers.start(first, [&](PageRecordPtr) {
        while (!release.load()) std::this_thread::sleep_for(1ms);
        throw std::runtime_error("sender went away");
    }));
    auto second = page("second");  // waits for the one worker
    ASSERT_TRUE(workers.start(second, [&](PageRecordPtr mine) {
        EXPECT_EQ(mine->MessageText, "second");
        ++done;
    }));
    release = true;
    auto until = std::chrono::steady_clock::now() + 5s;
    while (done.load() == 0 && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(1ms);
    EXPECT_EQ(done.load(), 1);
    EXPECT_TRUE(workers.stopAll(5s, [] {}));
    EXPECT_EQ(errors, std::vector<std::string>{"sender went away"});
}

}  // namespace
}  // namespace nv
