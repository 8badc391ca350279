#include "service/PageWorkers.h"

namespace nv {

PageWorkers::~PageWorkers() {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& w : m_workers)
        if (w->thread.joinable()) w->thread.join();
}

bool PageWorkers::start(PageRecordPtr& page, Body body) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stop.load()) return false;
    reapLocked();
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    // The thread only runs the body; no exception leaves it.
    w->thread = std::thread([w, body = std::move(body), p = std::move(page)]() mutable {
        try {
            body(std::move(p));
        } catch (...) {
        }
        w->done.store(true);
    });
    m_workers.push_back(std::move(worker));
    return true;
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

std::size_t PageWorkers::running() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::size_t n = 0;
    for (const auto& w : m_workers)
        if (!w->done.load()) ++n;
    return n;
}

bool PageWorkers::stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump) {
    requestStop();
    auto until = std::chrono::steady_clock::now() + bound;
    bool inTime = true;
    while (running() > 0) {
        if (std::chrono::steady_clock::now() >= until) {
            inTime = false;
            break;
        }
        if (pump) pump();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // No new worker can start now (the flag is set), so the list is final.
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.swap(m_workers);
    }
    for (auto& w : all)
        if (w->thread.joinable()) w->thread.join();
    return inTime;
}

}  // namespace nv
