#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "protocols/WThreadD4.h"

namespace nv::test {
namespace {

TEST(WThread, WithoutProcOrWorkers) {
    TWinThread t;
    EXPECT_EQ(t.SpawnThread(nullptr), 0u);
    EXPECT_EQ(t.Count(), 0);
    EXPECT_EQ(t.WaitWithTimeOut(1000), -100);
    EXPECT_TRUE(t.CanClose());
    EXPECT_TRUE(t.KillThreads());
    for (int index : {-1, 0}) {
        try {
            t.GetPriority(index);
            ADD_FAILURE() << index;
        } catch (const EWinThread& e) {
            EXPECT_STREQ(e.what(), "Invalid thread index");
        }
    }
}

TEST(WThread, RunsProcWithItsParamAndFiresTerminate) {
    TWinThread t;
    int param = 7;
    std::atomic<int> seen{0};
    std::atomic<NativeUInt> terminated{0};
    std::atomic<bool> release{false};
    t.ThreadProc = [&](TWinThread& sender, const TWinThreadParam& p) -> NativeUInt {
        EXPECT_EQ(&sender, &t);
        EXPECT_EQ(p.ThreadComp, &t);
        seen = *static_cast<int*>(p.ThreadParam);
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return 0;
    };
    t.ThreadTerminate = [&](TWinThread&, const TWinThreadParam& p) -> NativeUInt {
        terminated = p.ThreadHandle;
        return 0;
    };
    NativeUInt h = t.SpawnThread(&param);
    EXPECT_NE(h, 0u);
    EXPECT_EQ(t.Count(), 1);
    EXPECT_EQ(t.WaitWithTimeOut(0), TWinThread::kWaitTimeout);
    release = true;
    t.Wait();
    EXPECT_EQ(seen, 7);
    EXPECT_EQ(terminated, h);
    EXPECT_EQ(t.Count(), 0);
}

TEST(WThread, KillStopsCooperativeWorkersAndFiresTerminateOnlyWithCallOnKill) {
    for (bool callOnKill : {false, true}) {
        TWinThread t;
        t.CallOnKill = callOnKill;
        std::atomic<int> terminated{0};
        t.ThreadProc = [](TWinThread& sender, const TWinThreadParam&) -> NativeUInt {
            while (!sender.sleepOrStop(50)) {
            }
            return 0;
        };
        t.ThreadTerminate = [&](TWinThread&, const TWinThreadParam&) -> NativeUInt {
            ++terminated;
            return 0;
        };
        t.SpawnThread(nullptr);
        t.SpawnThread(nullptr);
        EXPECT_EQ(t.Count(), 2);
        EXPECT_FALSE(t.CanClose());
        t.SetPriority(1, 2);
        EXPECT_EQ(t.GetPriority(1), 2);
        EXPECT_EQ(t.GetPriority(0), 0);
        EXPECT_THROW(t.GetPriority(2), EWinThread);
        EXPECT_EQ(t.WaitWithTimeOut(20), TWinThread::kWaitTimeout);
        EXPECT_TRUE(t.KillThreads());
        EXPECT_EQ(t.Count(), 0);
        EXPECT_EQ(terminated, callOnKill ? 2 : 0);
    }
}

TEST(WThread, KillGivesUpOnAWorkerThatIgnoresTheStopFlag) {
    std::atomic<bool> release{false};
    TWinThread t;
    t.ThreadProc = [&](TWinThread&, const TWinThreadParam&) -> NativeUInt {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return 0;
    };
    t.SpawnThread(nullptr);
    EXPECT_FALSE(t.KillThreads());
    EXPECT_EQ(t.Count(), 1);
    release = true;
    t.Wait();
    EXPECT_EQ(t.Count(), 0);
}

TEST(WThread, ExceptionStaysInItsThreadAndReachesThreadException) {
    TWinThread t;
    std::string what;
    bool userThread = false;
    t.ThreadProc = [](TWinThread&, const TWinThreadParam&) -> NativeUInt { throw std::runtime_error("boom"); };
    t.ThreadException = [&](TWinThread&, const TWinThreadInfo& info, const std::exception& e) {
        what = e.what();
        userThread = info.UserThread;
    };
    t.SpawnThread(nullptr);
    t.Wait();
    EXPECT_EQ(what, "boom");
    EXPECT_TRUE(userThread);
    // Without a handler the exception is swallowed in the worker.
    t.ThreadException = nullptr;
    t.SpawnThread(nullptr);
    t.Wait();
    EXPECT_EQ(t.Count(), 0);
}

TEST(WThread, ConcurrentSpawnsOnSeveralComponentsAllStart) {
    // Each spawn has its own start signal; one shared signal could be taken
    // by another component's spawn and hang this one.
    constexpr int kComponents = 4, kSpawns = 25;
    std::atomic<int> ran{0};
    std::vector<std::unique_ptr<TWinThread>> comps;
    for (int i = 0; i < kComponents; ++i) {
        comps.push_back(std::make_unique<TWinThread>());
        comps.back()->TimeOut = 5000;
        comps.back()->ThreadProc = [&](TWinThread&, const TWinThreadParam&) -> NativeUInt {
            ++ran;
            return 0;
        };
    }
    std::vector<std::thread> spawners;
    for (auto& c : comps)
        spawners.emplace_back([&c] {
            for (int i = 0; i < kSpawns; ++i) c->SpawnThread(nullptr);
        });
    for (auto& s : spawners) s.join();
    for (auto& c : comps) c->Wait();
    EXPECT_EQ(ran, kComponents * kSpawns);
}

TEST(WThread, SafeExecRunsTheCodeAndLockIsReentrant) {
    TWinThread t;
    int got = 0;
    t.SafeExecCode = [&](int p) { got += p; };
    t.SafeExec(2);
    t.WaitExec(3);
    EXPECT_EQ(got, 5);
    t.Lock();
    t.Lock();
    t.Unlock();
    t.Unlock();
}

}  // namespace
}  // namespace nv::test
