#pragma once
// The engine thread's message loop. Posting a function here is what posting a
// window message was: it runs later, in order, on the thread that runs the loop.
// Timers and signal watches deliver on that thread too. Asio stays inside
// platform/; callers see only this interface.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <vector>

namespace nv {

class EventLoop {
public:
    EventLoop();
    ~EventLoop();
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    // Any thread. Functions run in posting order.
    void post(std::function<void()> fn);

    // Runs until quit(); returns at once when quit() came earlier.
    void run();
    // Any thread (a signal watch, a test). Sticky: later run() calls return at once,
    // while poll() and pumpFor() still work, so a stop sequence can drain the loop.
    void quit();
    bool quitRequested() const { return m_quit.load(); }

    // Runs the functions that are ready now; returns how many ran.
    std::size_t poll();
    // Runs functions as they come for `d` (a sleep that keeps the loop serving).
    void pumpFor(std::chrono::milliseconds d);
    // Runs functions as they come until `done` says so or `d` has passed;
    // `done` is asked first and after each function, so whoever changes what
    // it reads posts something to wake the loop. Returns what `done` says.
    bool pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds d);

    struct Impl;
    Impl& impl() { return *m_impl; }

private:
    std::unique_ptr<Impl> m_impl;
    std::atomic<bool> m_quit{false};
};

// Calls `tick` every `period` on the loop's thread, first after one period.
// Create and destroy it on the loop's thread; no tick runs after destruction.
class RepeatingTimer {
public:
    RepeatingTimer(EventLoop& loop, std::chrono::milliseconds period, std::function<void()> tick);
    ~RepeatingTimer();
    RepeatingTimer(const RepeatingTimer&) = delete;
    RepeatingTimer& operator=(const RepeatingTimer&) = delete;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// Delivers the given signals (SIGTERM, SIGINT) to `handler` on the loop's thread.
class SignalWatch {
public:
    SignalWatch(EventLoop& loop, const std::vector<int>& signals, std::function<void(int)> handler);
    ~SignalWatch();
    SignalWatch(const SignalWatch&) = delete;
    SignalWatch& operator=(const SignalWatch&) = delete;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

}  // namespace nv
