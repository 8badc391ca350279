#pragma once
// The page workers (BMDThreadGroup1): every page that is not queued is worked
// by one of at most `maxWorkers` threads. A page handed over while all of them
// are busy waits in arrival order and starts when one is free, so a burst
// towards a carrier that hangs keeps the thread count and the memory flat,
// and the caller (the intake, on the inbound reader or the engine thread)
// never waits for a worker.
//
// A worker takes the next waiting page when it has finished one and ends when
// none waits; finished threads are reaped while the service runs. At stop the
// workers finish the page in hand and take no other: the pages still waiting
// stay here until the engine takes them (takeWaiting) to keep them for the
// next start.
//
// Threads: start from any thread (the registry is locked); stopAll, reap and
// takeWaiting from the engine thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/PageRecord.h"
#include "platform/WorkerThread.h"

namespace nv {

// Well above any realistic number of pages on the wire at once.
inline constexpr std::size_t kMaxPageWorkers = 256;

class PageWorkers {
public:
    using Body = std::function<void(PageRecordPtr page)>;

    // `onEnd` runs on a worker's thread when it ends (the engine wakes its
    // loop, which may be waiting for the workers).
    explicit PageWorkers(std::function<void()> onEnd = {}, std::size_t maxWorkers = kMaxPageWorkers);
    // Joins whatever still runs (stopAll should have come first).
    ~PageWorkers();
    PageWorkers(const PageWorkers&) = delete;
    PageWorkers& operator=(const PageWorkers&) = delete;

    // Hands the page over: it starts on a free worker, or waits for one. The
    // workers own the page from then on. False once stopping began (or when
    // no thread can be had and none runs): the page stays with the caller.
    bool start(PageRecordPtr& page, Body body);
    // Gets the text of an exception a page's body let out (the page's own
    // lines are the body's; this is the one line that it failed). Set before
    // the first start.
    void setErrorLog(std::function<void(const std::string&)> log) { m_errorLog = std::move(log); }

    // Joins the workers that have ended.
    void reap();
    // Worker threads not yet reaped.
    std::size_t count() const;
    // Worker threads that have not ended.
    std::size_t running() const;
    // Pages handed over that no worker has taken yet.
    std::size_t waiting() const;
    // The most worker threads that ran at once.
    std::size_t peak() const;

    // Workers (and the senders they call) poll this flag in their waits.
    const std::atomic<bool>& stopFlag() const { return m_stop; }
    void requestStop() { m_stop.store(true); }

    // Sets the stop flag and waits, calling `pump` before each wait, until
    // every worker has ended or `bound` passed; a worker's end wakes the wait.
    // Then joins them all: a worker that outlives the bound is still joined,
    // since what it uses must not be freed under it. True when every worker
    // ended within the bound. Pages still waiting are not started.
    bool stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump);

    // The pages no worker took, in arrival order; the list is empty after.
    std::vector<PageRecordPtr> takeWaiting();

private:
    struct Worker {
        WorkerThread thread;
        // Set under the registry's lock when the thread takes no more pages;
        // it takes the lock no more, so joining it never waits on the lock.
        std::atomic<bool> done{false};
    };
    struct Job {
        PageRecordPtr page;
        Body body;
    };
    void work(Worker& w, Job job);
    void reapLocked();

    std::function<void()> m_onEnd;
    std::function<void(const std::string&)> m_errorLog;
    const std::size_t m_max;
    mutable std::mutex m_mutex;
    std::condition_variable m_ended;  // a worker ended
    std::list<std::unique_ptr<Worker>> m_workers;
    std::deque<Job> m_waiting;  // arrival order
    std::size_t m_live = 0;     // workers not done
    std::size_t m_peak = 0;
    std::atomic<bool> m_stop{false};
};

}  // namespace nv
