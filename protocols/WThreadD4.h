#pragma once
// TWinThread: starts worker threads that run its ThreadProc, keeps count of
// them and ends them on request. There is no window here: ThreadTerminate and
// ThreadException fire at the end of the worker itself, and SafeExec /
// WaitExec run SafeExecCode in the caller's thread; handlers that must reach
// another thread post there themselves.
//
// Stop is cooperative: KillThreads and the owner raise `Tag` and wake
// sleepers; ThreadProc is expected to watch Tag (or use sleepOrStop). A
// thread is never killed.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "platform/WorkerThread.h"

namespace nv {

class TWinThread;

class EWinThread : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

using NativeUInt = std::uintptr_t;

struct TWinThreadParam {
    TWinThread* ThreadComp = nullptr;
    void* ThreadParam = nullptr;
    NativeUInt ThreadHandle = 0;
};

using TWinThreadEvent = std::function<NativeUInt(TWinThread& Sender, const TWinThreadParam& ThreadInfo)>;

struct TWinThreadInfo {
    TWinThread* ThreadComp = nullptr;
    TWinThreadEvent ThreadProc;
    void* ThreadParam = nullptr;
    NativeUInt ThreadHandle = 0;
    bool UserThread = true;
};

using TWinThreadException =
    std::function<void(TWinThread& Sender, const TWinThreadInfo& ThreadInfo, const std::exception& E)>;
using TSafeExecCode = std::function<void(int Param)>;

class TWinThread {
public:
    // The result of WaitWithTimeOut: all ended, time ran out, or no worker.
    static constexpr std::int64_t kWaitObject0 = 0;
    static constexpr std::int64_t kWaitTimeout = 258;
    static constexpr std::int64_t kNoWorker = -100;

    TWinThread();
    virtual ~TWinThread();
    TWinThread(const TWinThread&) = delete;
    TWinThread& operator=(const TWinThread&) = delete;

    // Properties. Attributes and StackSize are kept for callers that set
    // them; std::thread takes neither.
    std::uint32_t Attributes = 0;
    bool CallOnKill = false;
    int StackSize = 0;
    int TimeOut = -1;  // ms SpawnThread waits for a thread's start signal (-1: no limit)

    TSafeExecCode SafeExecCode;
    TWinThreadException ThreadException;
    TWinThreadEvent ThreadProc;
    TWinThreadEvent ThreadTerminate;

    // The owner's stop flag (0 = run). Setting it wakes sleepOrStop.
    std::intptr_t Tag() const { return m_tag.load(); }
    void setTag(std::intptr_t value);
    // Sleeps up to `ms` or until Tag becomes non-zero; true when Tag is set.
    bool sleepOrStop(int ms);

    int Count();
    // Starts one worker running ThreadProc(Param); its handle, or 0 when
    // ThreadProc is unassigned. Raises EWinThread when the thread cannot start.
    NativeUInt SpawnThread(void* Param);
    // Asks every worker to stop (Tag := 1) and waits up to 1000 ms for each;
    // True when none remains.
    bool KillThreads();
    std::int64_t Wait() { return WaitWithTimeOut(-1); }
    std::int64_t WaitWithTimeOut(int aTimeOut);
    bool CanClose() { return Count() == 0; }
    // Priorities are kept per worker and returned; Linux under SCHED_OTHER
    // gives them no meaning. An index outside 0..Count-1 raises.
    int GetPriority(int Index);
    void SetPriority(int Index, int Value);

    void SafeExec(int Param);
    void WaitExec(int Param);

    virtual void Lock();
    virtual void Unlock();

private:
    struct Worker;
    void entry(const std::shared_ptr<Worker>& w);
    void finish(const std::shared_ptr<Worker>& w);
    void reapLocked();
    std::shared_ptr<Worker> workerAt(int index);

    std::atomic<std::intptr_t> m_tag{0};
    std::mutex m_tagMutex;
    std::condition_variable m_tagCv;

    std::recursive_mutex m_userLock;  // Lock / Unlock
    std::mutex m_mutex;               // guards the lists below
    std::condition_variable m_changed;
    std::list<std::shared_ptr<Worker>> m_workers;   // running
    std::list<std::shared_ptr<Worker>> m_finished;  // ended, to be joined
    NativeUInt m_nextHandle = 1;
    bool m_destroying = false;
    bool m_killing = false;
};

}  // namespace nv
