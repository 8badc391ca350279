#include "service/PageWorkers.h"

#include <algorithm>

namespace nv {

namespace {
// How long stopAll waits between two pumps when no worker ends.
constexpr std::chrono::milliseconds kPumpSlice{50};
}  // namespace

PageWorkers::~PageWorkers() {
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.swap(m_workers);
    }
    for (auto& w : all) w->thread.join();
}

bool PageWorkers::start(PageRecordPtr& page, Body body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop.load()) return false;
    reapLocked();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    // Held by a shared pointer: the thread's function must be copyable.
    auto held = std::make_shared<PageRecordPtr>(std::move(page));
    // The thread only runs the body; no exception leaves it.
    w->thread.start([body = std::move(body), held] { body(std::move(*held)); }, [this, w] { ended(*w); });
    m_workers.push_back(std::move(worker));
    return true;
}

void PageWorkers::ended(Worker& w) {
    {
        // Under the lock, so a waiter between its check and its wait sees it.
        std::lock_guard<std::mutex> lock(m_mutex);
        w.done.store(true);
    }
    m_ended.notify_all();
    if (m_onEnd) m_onEnd();
}

void PageWorkers::reapLocked() {
    for (auto it = m_workers.begin(); it != m_workers.end();) {
        if ((*it)->done.load()) {
            (*it)->thread.join();
            it = m_workers.erase(it);
        } else {
            ++it;
        }
    }
}

void PageWorkers::reap() {
    std::lock_guard<std::mutex> lock(m_mutex);
    reapLocked();
}

std::size_t PageWorkers::count() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_workers.size();
}

std::size_t PageWorkers::runningLocked() const {
    return static_cast<std::size_t>(std::count_if(m_workers.begin(), m_workers.end(),
                                                  [](const auto& w) { return !w->done.load(); }));
}

std::size_t PageWorkers::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return runningLocked();
}

bool PageWorkers::stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump) {
    requestStop();
    const auto until = std::chrono::steady_clock::now() + bound;
    bool inTime = true;
    for (;;) {
        if (pump) pump();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (runningLocked() == 0) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            inTime = false;
            break;
        }
        m_ended.wait_for(lock, std::min<std::chrono::steady_clock::duration>(until - now, kPumpSlice));
    }
    // No new worker can start now (the flag is set), so the list is final.
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.swap(m_workers);
    }
    for (auto& w : all) w->thread.join();
    return inTime;
}

}  // namespace nv
