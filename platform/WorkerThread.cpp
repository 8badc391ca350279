#include "platform/WorkerThread.h"

#include <algorithm>

#include "foundation/Clock.h"

namespace nv {

namespace {
constexpr std::chrono::milliseconds kSlice{50};
}

// The steady clock whose sleeps a wake-up or a stop cuts short; pause() hands
// it to the sliced sleep, so there is one pause loop and it wakes at once.
class WorkerThread::WakeClock final : public Clock {
public:
    WakeClock(WorkerThread& owner, std::uint64_t since) : m_owner(owner), m_since(since) {}
    TimePoint now() const override { return std::chrono::steady_clock::now(); }
    void sleepFor(std::chrono::milliseconds d) override { m_owner.sleepSince(m_since, d); }

private:
    WorkerThread& m_owner;
    std::uint64_t m_since;
};

WorkerThread::~WorkerThread() {
    requestStop();
    // A body that drops its own handle (a component freed from its own thread)
    // cannot join itself; the thread is let go and ends on its own.
    if (m_thread.joinable() && onThread()) {
        m_thread.detach();
        return;
    }
    join();
}

void WorkerThread::start(Body body, Body onEnd) {
    m_stop.store(false);
    m_running.store(true);
    try {
        m_thread = std::thread([this, body = std::move(body), onEnd = std::move(onEnd)] {
            try {
                if (body) body();
            } catch (...) {
                // The owner's body logs what it can; nothing crosses the thread's edge.
            }
            m_running.store(false);
            wake();
            try {
                if (onEnd) onEnd();
            } catch (...) {
            }
        });
    } catch (...) {
        m_running.store(false);
        throw;
    }
}

std::uint64_t WorkerThread::wakes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_wakes;
}

void WorkerThread::bump() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_wakes;
    }
    m_cv.notify_all();
}

void WorkerThread::requestStop() {
    m_stop.store(true);
    bump();
}

void WorkerThread::wake() { bump(); }

void WorkerThread::sleepSince(std::uint64_t since, std::chrono::milliseconds d) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_cv.wait_for(lock, d, [&] { return m_wakes != since; });
}

bool WorkerThread::pause(std::chrono::milliseconds d, const std::function<bool()>& alsoStop) {
    const std::uint64_t since = wakes();
    bool stopped = false;
    WakeClock clock(*this, since);
    sleepUnless(clock, d, [&] {
        stopped = m_stop.load() || (alsoStop && alsoStop());
        return stopped || wakes() != since;
    });
    return !stopped;
}

bool WorkerThread::waitUntil(const std::function<bool()>& done, std::chrono::milliseconds bound) {
    const auto end = std::chrono::steady_clock::now() + bound;
    for (;;) {
        // Taken before asking `done`, so a wake-up between the two is not lost.
        const std::uint64_t since = wakes();
        if (done()) return true;
        if (m_stop.load()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        sleepSince(since, std::min(left, kSlice));
    }
}

bool WorkerThread::join(std::chrono::milliseconds bound) {
    if (!m_thread.joinable()) return true;
    const auto end = std::chrono::steady_clock::now() + bound;
    for (;;) {
        const std::uint64_t since = wakes();
        if (!m_running.load()) break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        sleepSince(since, std::min(left, kSlice));
    }
    m_thread.join();
    return true;
}

void WorkerThread::join() {
    if (m_thread.joinable()) m_thread.join();
}

}  // namespace nv
