#pragma once
// The page workers: one short-lived thread per page that is not queued. Two
// threads start workers (the inbound host's reader and the engine thread for
// test pages), so the registry is locked. Finished workers are reaped while the
// service runs, so the registry does not grow with every page; at stop every
// worker is told to stop and waited for before anything it uses goes away.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>

#include "foundation/PageRecord.h"
#include "platform/WorkerThread.h"

namespace nv {

class PageWorkers {
public:
    using Body = std::function<void(PageRecordPtr page)>;

    // `onEnd` runs on each worker's thread after its body returned (the engine
    // wakes its loop, which may be waiting for the workers).
    explicit PageWorkers(std::function<void()> onEnd = {}) : m_onEnd(std::move(onEnd)) {}
    // Joins whatever still runs (stopAll should have come first).
    ~PageWorkers();
    PageWorkers(const PageWorkers&) = delete;
    PageWorkers& operator=(const PageWorkers&) = delete;

    // Starts `body` with the page on a thread of its own; the worker owns the page
    // from then on. False once stopping began: the page stays with the caller.
    bool start(PageRecordPtr& page, Body body);

    // Joins the workers that have finished.
    void reap();
    // Workers started and not yet reaped.
    std::size_t count() const;
    // Workers whose body has not returned.
    std::size_t running() const;

    // Workers (and the senders they call) poll this flag in their waits.
    const std::atomic<bool>& stopFlag() const { return m_stop; }
    void requestStop() { m_stop.store(true); }

    // Sets the stop flag and waits, calling `pump` before each wait, until
    // every worker has finished or `bound` passed; a worker's end wakes the
    // wait. Then joins them all: a worker that outlives the bound is still
    // joined, since what it uses must not be freed under it. True when every
    // worker finished within the bound.
    bool stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump);

private:
    struct Worker {
        WorkerThread thread;
        // Set under the registry's lock once the body returned; the thread
        // takes the lock no more, so joining it never waits on the lock.
        std::atomic<bool> done{false};
    };
    void reapLocked();
    std::size_t runningLocked() const;
    void ended(Worker& w);

    std::function<void()> m_onEnd;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;  // a worker's body returned
    std::list<std::unique_ptr<Worker>> m_workers;
    std::atomic<bool> m_stop{false};
};

}  // namespace nv
