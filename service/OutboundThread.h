#pragma once
// The outbound port threads: one per enabled outbound port of Ports.dat, each
// with its own TAP pager, delivering the batches the spooler gives it.
//
// Hand-over between the spooler and a port thread: each port record has one
// mutex guarding its state, its Pages and Hold. The state is
//   Free    - the spooler may offer pages (Busy clear);
//   Working - the spooler gave pages (Busy set); the thread swaps them out;
//   Idle    - a batch ended, or the spooler examined the port and gave it
//             nothing (Busy set): the next pass hangs up and frees the port.
// Only the spooler moves Free -> Working/Idle, and it does so in one step
// under the port's mutex, so a port that has just been given pages never runs
// an idle pass first. Only the port thread moves Working -> Idle -> Free.
//
// The lock order is PageQueue.h's. A port thread takes its batch out of Pages
// before working and never holds its mutex while it puts pages back into the
// queue or the secondary list; nothing sleeps under a lock.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/PageRecord.h"
#include "foundation/Records.h"
#include "platform/WorkerThread.h"
#include "service/ConnectionErrors.h"
#include "service/PageQueue.h"

namespace nv {

enum class PortState { Free, Working, Idle };

struct TOutboundThreadRec {
    explicit TOutboundThreadRec(const PortRec& port) : Port(port) {}

    PortRec Port;
    std::mutex PagesLock;  // guards State, Pages and Hold
    PortState State = PortState::Idle;  // a new thread is free after its first pass
    std::vector<PageRecordPtr> Pages;
    bool Hold = false;                  // Pages is a secondary batch
    std::atomic<bool> Clear{false};     // clear_queues: drop the pages being worked

    // Under PagesLock.
    bool Busy() const { return State != PortState::Free; }
};

using OutboundThreadRecPtr = std::shared_ptr<TOutboundThreadRec>;

// One delivery by a network method, as a port thread hands it to a sender.
struct NetworkSend {
    const TQueueRec& page;
    const ProviderRec& provider;
    std::string PIN;       // of the current mode; for e-mail the address
    std::string subject;   // e-mail only
    std::string message;   // markers already removed where the method wants it
    bool hold = false;     // secondary mode
};
// True when delivered. `messageId` in and out (SNPP, SMPP); `reply` the
// sender's reply text; `replyList` the WCTP reply's name=value lines.
using NetworkSenderFn = std::function<bool(const NetworkSend& send, std::string& messageId, std::string& reply,
                                           std::vector<std::string>& replyList)>;

// The senders a port thread calls for pages that are not TAP. A sender that is
// not set fails its page with a reply naming the method.
struct NetworkSenders {
    NetworkSenderFn SendSMTPMessage;
    NetworkSenderFn SendSMSPage;
    NetworkSenderFn SendSNPPPage;
    NetworkSenderFn SendSMPPPage;
    NetworkSenderFn SendWCTPPage;
};

// Pauses of the port threads and the spooler; tests shorten them.
struct OutboundTiming {
    std::chrono::milliseconds threadStart{250};    // before the "Active" line
    std::chrono::milliseconds passPause{15};       // at the top of every pass
    std::chrono::milliseconds afterPass{500};      // after a pass that looked at Pages
    std::chrono::milliseconds hangupSettle{100};   // after an idle hang-up
    std::chrono::milliseconds redialPause{1000};   // provider change, call limit, failed dial
    std::chrono::milliseconds spoolStart{5000};    // spooler's first pause
    std::chrono::milliseconds spoolCycle{500};     // every cycle
    std::chrono::milliseconds spoolPagesWait{3000};  // more, while pages wait
    std::chrono::milliseconds secondaryBatchPause{500};
};

// What the spooler and the port threads share besides the page queue (which
// each gets in its constructor).
struct OutboundContext {
    std::filesystem::path dataDir;
    std::function<void(std::string)> log;
    std::function<void(int, std::int32_t)> counter;
    std::function<void(const ProviderRec*)> updateProviderStats;
    std::mutex& threadListLock;
    std::vector<OutboundThreadRecPtr>& threadList; // oThreadList
    ConnectionErrors& errors;
    std::atomic<bool>& SecondaryRunning;
    std::atomic<bool>& Cancelcall;
    std::atomic<bool>& outboundStop;               // OutBoundThread's flag
    std::atomic<bool>& spoolStop;                  // SpoolThread's flag
    Clock& clock;
    OutboundTiming timing;
    NetworkSenders senders;

    // Frees a page and its connection-error entries.
    void freePage(PageRecordPtr& page);
};

// The "[Delivery Fail]" line of a page no port could take.
std::string deliveryFailLine(const TQueueRec& page, const std::string& providerName);

// One port thread (OutBoundThreadExecute).
class OutboundThread {
public:
    // `threadNo` 1..16: the pager's name and its line slot.
    OutboundThread(OutboundContext& ctx, PageQueue& pages, const PortRec& port, int threadNo,
                   std::atomic<int>& running);
    OutboundThread(const OutboundThread&) = delete;
    OutboundThread& operator=(const OutboundThread&) = delete;

    // `onEnd` runs on the thread once it has ended (the engine wakes its loop).
    void start(std::function<void()> onEnd = {});
    // Ends the thread's pauses at once; the context's stop flag and the
    // cancel are read as well.
    void requestStop() { m_thread.requestStop(); }
    // Waits for the thread's end up to `bound`; true when it ended.
    bool join(std::chrono::milliseconds bound) { return m_thread.join(bound); }
    const OutboundThreadRecPtr& record() const { return m_rec; }

private:
    class Worker;
    OutboundContext& m_ctx;
    PageQueue& m_pages;
    OutboundThreadRecPtr m_rec;
    int m_threadNo;
    std::atomic<int>& m_running;
    // Last: its destructor stops and joins the thread before the rest goes.
    WorkerThread m_thread;
};

}  // namespace nv
