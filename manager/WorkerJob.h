#pragma once
// One blocking job (an HTTP request, a mail) on a thread of its own, for a
// window that must not block. `done` runs on the GUI thread once the job ended.
// Destroying the job cancels it through the shared flag the job's own code
// polls, drops its result and waits for the thread: what the job uses lives on.
#include <QObject>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>

namespace nv {

class WorkerJob {
public:
    explicit WorkerJob(QObject* owner) : m_owner(owner) {}
    ~WorkerJob() {
        if (!m_thread) return;
        m_cancel->store(true);
        QObject::disconnect(m_thread, nullptr, m_owner, nullptr);
        m_thread->wait();
        delete m_thread;
    }
    WorkerJob(const WorkerJob&) = delete;
    WorkerJob& operator=(const WorkerJob&) = delete;

    bool busy() const { return m_thread != nullptr; }
    // The flag the job polls; it stays valid for as long as the job runs.
    std::atomic<bool>* cancelFlag() const { return m_cancel.get(); }

    // False (nothing started) while a job runs. Clears the cancel flag.
    bool start(std::function<void()> work, std::function<void()> done) {
        if (m_thread) return false;
        m_cancel->store(false);
        auto cancel = m_cancel;  // the thread's copy keeps the flag alive
        m_thread = QThread::create([work = std::move(work), cancel] { work(); });
        QObject::connect(m_thread, &QThread::finished, m_owner, [this, done = std::move(done)] {
            m_thread->deleteLater();
            m_thread = nullptr;
            done();
        });
        m_thread->start();
        return true;
    }

private:
    QObject* m_owner;
    QThread* m_thread = nullptr;
    std::shared_ptr<std::atomic<bool>> m_cancel = std::make_shared<std::atomic<bool>>(false);
};

}  // namespace nv
