#include "service/PageWorkers.h"

#include <algorithm>
#include <system_error>

namespace nv {

namespace {
// How long stopAll waits between two pumps when no worker ends.
constexpr std::chrono::milliseconds kPumpSlice{50};
}  // namespace

PageWorkers::PageWorkers(std::function<void()> onEnd, std::size_t maxWorkers)
    : m_onEnd(std::move(onEnd)), m_max(std::max<std::size_t>(maxWorkers, 1)) {}

PageWorkers::~PageWorkers() {
    requestStop();
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
    // Every worker busy: a worker takes it when free. (Workers end only when
    // nothing waits, so with one free nothing waits and the order is kept.)
    if (m_live >= m_max) {
        m_waiting.push_back(Job{std::move(page), std::move(body)});
        return true;
    }
    // A new worker starts with this page: started, it is worked even when
    // the stop comes before the thread runs.
    auto worker = std::make_unique<Worker>();
    Worker* w = worker.get();
    auto first = std::make_shared<Job>(Job{std::move(page), std::move(body)});
    try {
        w->thread.start([this, w, first] { work(*w, std::move(*first)); },
                        [this] {
                            m_ended.notify_all();
                            if (m_onEnd) m_onEnd();
                        });
    } catch (const std::system_error&) {
        // No thread to be had: a running worker takes the page later; with
        // none running it goes back to the caller.
        if (m_live > 0) {
            m_waiting.push_back(std::move(*first));
            return true;
        }
        page = std::move(first->page);
        return false;
    }
    m_workers.push_back(std::move(worker));
    ++m_live;
    m_peak = std::max(m_peak, m_live);
    return true;
}

// One worker: its first page, then the next waiting page, until none waits
// or the stop came.
void PageWorkers::work(Worker& w, Job job) {
    for (;;) {
        try {
            job.body(std::move(job.page));
        } catch (const std::exception& e) {
            // Nothing leaves the worker: the page's end is said in one line.
            if (m_errorLog) m_errorLog(e.what());
        } catch (...) {
            if (m_errorLog) m_errorLog("unknown exception");
        }
        job = Job{};
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stop.load() || m_waiting.empty()) {
                --m_live;
                w.done.store(true);
                return;
            }
            job = std::move(m_waiting.front());
            m_waiting.pop_front();
        }
    }
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
    return m_live;
}

std::size_t PageWorkers::waiting() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_waiting.size();
}

std::size_t PageWorkers::peak() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_peak;
}

bool PageWorkers::stopAll(std::chrono::milliseconds bound, const std::function<void()>& pump) {
    requestStop();
    const auto until = std::chrono::steady_clock::now() + bound;
    bool inTime = true;
    for (;;) {
        if (pump) pump();
        std::unique_lock<std::mutex> lock(m_mutex);
        if (m_live == 0) break;
        const auto now = std::chrono::steady_clock::now();
        if (now >= until) {
            inTime = false;
            break;
        }
        m_ended.wait_for(lock, std::min<std::chrono::steady_clock::duration>(until - now, kPumpSlice));
    }
    // No worker can start now (the flag is set), so the list is final.
    std::list<std::unique_ptr<Worker>> all;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        all.swap(m_workers);
    }
    for (auto& w : all) w->thread.join();
    return inTime;
}

std::vector<PageRecordPtr> PageWorkers::takeWaiting() {
    std::vector<PageRecordPtr> pages;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& job : m_waiting) pages.push_back(std::move(job.page));
    m_waiting.clear();
    return pages;
}

}  // namespace nv
