#pragma once
// WorkerThread: one thread of the service (spooler, port thread, page worker,
// inbound reader, TNPP link, GSM receiver) with a stop flag, a wake-up and a
// bounded join.
//
// A stop is the flag and a wake-up, never a kill: the body asks
// stopRequested() and pauses through pause(), the one sliced sleep of
// foundation/Clock.h whose slices a stop or a wake() cuts short, so a stop
// ends every pause at once and a stop flag of the owner's own within one
// slice. Nothing the body throws leaves the thread.
//
// Threads: start, join and the destructor from the owner's thread; everything
// else from any thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace nv {

class WorkerThread {
public:
    using Body = std::function<void()>;

    WorkerThread() = default;
    // Asks for a stop and joins without a bound: what the body uses must not
    // go away under it.
    ~WorkerThread();
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` on a new thread with the stop flag cleared. `onEnd` runs on
    // the thread after the body returned and running() turned false (an owner
    // that waits on something else, such as an event loop, wakes there).
    // A thread started before must have been joined. Raises std::system_error
    // when the system gives no thread.
    void start(Body body, Body onEnd = {});

    // Started and not joined yet.
    bool joinable() const { return m_thread.joinable(); }
    // Started and its body has not returned.
    bool running() const { return m_running.load(); }
    // True when called from the thread itself.
    bool onThread() const { return m_thread.get_id() == std::this_thread::get_id(); }

    // Sets the stop flag and wakes every pause and waitUntil.
    void requestStop();
    bool stopRequested() const { return m_stop.load(); }
    const std::atomic<bool>& stopFlag() const { return m_stop; }

    // Wakes every pause and waitUntil without asking for a stop: new work, a
    // state the waiter waits for. Change that state before calling wake().
    void wake();

    // Pauses `d` through the sliced sleep on the steady clock. A stop or a
    // wake() ends it at once; `alsoStop` (an owner's flag) is asked before each
    // slice. False when it ended for a stop (the own flag or `alsoStop`).
    bool pause(std::chrono::milliseconds d, const std::function<bool()>& alsoStop = {});

    // Waits until `done` says so, a stop is requested, or `bound` passed;
    // `done` is asked at each wake() and at least once a slice. Any thread.
    // Returns what `done` says at the end.
    bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound);

    // Waits up to `bound` for the body to return, then joins the thread. True
    // when it ended (or never started); false: it still runs and stays
    // joinable. Never from the thread itself.
    bool join(std::chrono::milliseconds bound);
    // Joins without a bound.
    void join();

private:
    class WakeClock;
    // Sleeps up to `d` unless a wake or stop comes after `since` was taken.
    void sleepSince(std::uint64_t since, std::chrono::milliseconds d);
    std::uint64_t wakes() const;
    void bump();

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_running{false};
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::uint64_t m_wakes = 0;  // under m_mutex: wake() calls and stops, so a waiter sees one it slept through
};

}  // namespace nv
