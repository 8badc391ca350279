#pragma once
// The page workers: one short-lived thread per page that is not queued. Two
// threads start workers (the inbound host's reader and the engine thread for
// test pages), so the registry is locked. Finished workers are reaped while the
// service runs, so the registry does not grow with every page; at stop every
// worker is told to stop and waited for before anything it uses goes away.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <thread>

#include "foundation/PageRecord.h"

namespace nv {

class PageWorkers {
public:
    using Body = std::function<void(PageRecordPtr page)>;

    PageWorkers() = default;
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

    // Sets the stop flag and waits, calling `pump` between slices, until every
    // worker has finished or `bound` passed; then joins them all. A worker that
    // outlives the bound is still joined: what it uses must not be freed under
    // it. True when every worker finished within the bound.
    bool stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump);

private:
    struct Worker {
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void reapLocked();

    mutable std::mutex m_mutex;
    std::list<std::unique_ptr<Worker>> m_workers;
    std::atomic<bool> m_stop{false};
};

}  // namespace nv
