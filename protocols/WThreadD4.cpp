#include "protocols/WThreadD4.h"

#include <chrono>
#include <system_error>
#include <thread>
#include <vector>

namespace nv {

struct TWinThread::Worker {
    TWinThreadInfo info;
    WorkerThread thread;
    int priority = 0;
    bool ended = false;  // guarded by the component's m_mutex

    // The start signal of this one thread. A signal shared between spawns
    // (let alone components or processes) could be taken by another spawn.
    std::mutex startMutex;
    std::condition_variable startCv;
    bool started = false;
    bool resumed = false;
    bool abandoned = false;
};

TWinThread::TWinThread() = default;

TWinThread::~TWinThread() {
    {
        std::lock_guard lk(m_mutex);
        m_destroying = true;
    }
    // Nothing can be killed: ask the workers to stop and wait for them.
    setTag(1);
    Wait();
    std::lock_guard lk(m_mutex);
    reapLocked();
}

void TWinThread::setTag(std::intptr_t value) {
    {
        std::lock_guard lk(m_tagMutex);
        m_tag.store(value);
    }
    m_tagCv.notify_all();
}

bool TWinThread::sleepOrStop(int ms) {
    std::unique_lock lk(m_tagMutex);
    return m_tagCv.wait_for(lk, std::chrono::milliseconds(ms), [this] { return m_tag.load() != 0; });
}

int TWinThread::Count() {
    std::lock_guard lk(m_mutex);
    return static_cast<int>(m_workers.size());
}

NativeUInt TWinThread::SpawnThread(void* Param) {
    if (!ThreadProc) return 0;
    auto w = std::make_shared<Worker>();
    {
        std::lock_guard lk(m_mutex);
        reapLocked();
        w->info = TWinThreadInfo{this, ThreadProc, Param, m_nextHandle++, true};
        m_workers.push_back(w);
        try {
            w->thread.start([this, w] { entry(w); });
        } catch (const std::system_error&) {
            m_workers.remove(w);
            throw EWinThread("Could not create thread");
        }
    }
    std::unique_lock sl(w->startMutex);
    auto isStarted = [&] { return w->started; };
    bool ok = true;
    if (TimeOut < 0) w->startCv.wait(sl, isStarted);
    else ok = w->startCv.wait_for(sl, std::chrono::milliseconds(TimeOut), isStarted);
    if (!ok) w->abandoned = true;  // the thread ends without running ThreadProc
    w->resumed = true;
    sl.unlock();
    w->startCv.notify_all();
    if (!ok) throw EWinThread(std::to_string(w->info.ThreadHandle) + "-0 Spawn event not triggered");
    return w->info.ThreadHandle;
}

void TWinThread::entry(const std::shared_ptr<Worker>& w) {
    bool run = false;
    {
        std::unique_lock sl(w->startMutex);
        w->started = true;
        w->startCv.notify_all();
        w->startCv.wait(sl, [&] { return w->resumed; });
        run = !w->abandoned;
    }
    if (run) {
        // Nothing thrown by the body may leave this thread.
        try {
            w->info.ThreadProc(*this, TWinThreadParam{this, w->info.ThreadParam, w->info.ThreadHandle});
        } catch (const std::exception& e) {
            if (ThreadException) {
                try {
                    ThreadException(*this, w->info, e);
                } catch (...) {
                }
            }
        } catch (...) {
        }
    }
    finish(w);
}

void TWinThread::finish(const std::shared_ptr<Worker>& w) {
    bool fire = false;
    {
        std::lock_guard lk(m_mutex);
        fire = !m_destroying && ThreadTerminate && (!m_killing || CallOnKill);
    }
    if (fire) {
        try {
            ThreadTerminate(*this, TWinThreadParam{this, w->info.ThreadParam, w->info.ThreadHandle});
        } catch (...) {
        }
    }
    std::lock_guard lk(m_mutex);
    m_workers.remove(w);
    w->ended = true;
    m_finished.push_back(w);
    m_changed.notify_all();
}

void TWinThread::reapLocked() {
    for (auto it = m_finished.begin(); it != m_finished.end();) {
        // A worker cannot join itself: a later reap from another thread does.
        if ((*it)->thread.onThread()) {
            ++it;
            continue;
        }
        (*it)->thread.join();  // past its last use of the lock: returns at once
        it = m_finished.erase(it);
    }
}

bool TWinThread::KillThreads() {
    {
        std::lock_guard lk(m_mutex);
        m_killing = true;
    }
    setTag(1);
    std::unique_lock lk(m_mutex);
    while (!m_workers.empty()) {
        auto w = m_workers.front();
        if (!m_changed.wait_for(lk, std::chrono::milliseconds(1000), [&] { return w->ended; })) break;
    }
    m_killing = false;
    reapLocked();
    return m_workers.empty();
}

std::int64_t TWinThread::WaitWithTimeOut(int aTimeOut) {
    std::unique_lock lk(m_mutex);
    if (m_workers.empty()) {
        reapLocked();
        return kNoWorker;
    }
    auto none = [this] { return m_workers.empty(); };
    if (aTimeOut < 0) m_changed.wait(lk, none);
    else if (!m_changed.wait_for(lk, std::chrono::milliseconds(aTimeOut), none)) return kWaitTimeout;
    reapLocked();
    return kWaitObject0;
}

std::shared_ptr<TWinThread::Worker> TWinThread::workerAt(int index) {
    if (index < 0 || index >= static_cast<int>(m_workers.size())) throw EWinThread("Invalid thread index");
    auto it = m_workers.begin();
    std::advance(it, index);
    return *it;
}

int TWinThread::GetPriority(int Index) {
    std::lock_guard lk(m_mutex);
    return workerAt(Index)->priority;
}

void TWinThread::SetPriority(int Index, int Value) {
    std::lock_guard lk(m_mutex);
    workerAt(Index)->priority = Value;
}

void TWinThread::SafeExec(int Param) {
    if (SafeExecCode) SafeExecCode(Param);
}

void TWinThread::WaitExec(int Param) {
    if (SafeExecCode) SafeExecCode(Param);
}

void TWinThread::Lock() {
    try {
        m_userLock.lock();
    } catch (const std::system_error&) {
        throw EWinThread("Could not obtain lock mutex");
    }
}

void TWinThread::Unlock() { m_userLock.unlock(); }

}  // namespace nv
