// A port thread's life: start, passes (idle hang-up or a batch), the end; and
// the routines that move a batch's pages back to the queue or the secondary
// list. The deliveries themselves are in OutboundDelivery.cpp.
#include <algorithm>
#include <exception>
#include <thread>

#include "service/Counters.h"
#include "service/DeliveryMethods.h"
#include "service/OutboundWorker.h"
#include "service/TapOverIpSender.h"

namespace nv {

// ------------------------------------------------------------ context

void OutboundContext::freePage(PageRecordPtr& page) {
    if (page) errors.forgetPage(*page);
    FreePageRecord(page);
}

std::string deliveryFailLine(const TQueueRec& page, const std::string& providerName) {
    return "[Delivery Fail] " + std::string() + " Error Sending To Provider \"" + providerName + "\" ID: " + " - " +
           page.Recipient->UserID() + " PIN:" + page.Recipient->PIN() + " Msg: " + page.MessageText;
}

// ------------------------------------------------------------ thread handle

OutboundThread::OutboundThread(OutboundContext& ctx, PageQueue& pages, const PortRec& port, int threadNo,
                               std::atomic<int>& running)
    : m_ctx(ctx), m_pages(pages), m_rec(std::make_shared<TOutboundThreadRec>(port)), m_threadNo(threadNo), m_running(running) {
    m_rec->Port.setPortThread(threadNo);
}

void OutboundThread::start(std::function<void()> onEnd) {
    m_running.fetch_add(1);
    m_thread.start(
        [this] {
            // The count drops however the body ends; the worker logged what it could.
            struct Leave {
                std::atomic<int>& running;
                ~Leave() { running.fetch_sub(1); }
            } leave{m_running};
            Worker(m_ctx, m_pages, m_rec, m_threadNo, m_thread).run();
        },
        std::move(onEnd));
}

// ------------------------------------------------------------ worker

OutboundThread::Worker::Worker(OutboundContext& ctx, PageQueue& pages, OutboundThreadRecPtr rec, int threadNo,
                               WorkerThread& thread)
    : m_ctx(ctx), m_pages(pages), m_rec(std::move(rec)), m_threadNo(threadNo), m_thread(thread) {}

OutboundThread::Worker::~Worker() = default;

bool OutboundThread::Worker::stopRequested() const {
    return m_ctx.Cancelcall.load() || m_ctx.outboundStop.load() || m_thread.stopRequested();
}

void OutboundThread::Worker::waitMs(std::chrono::milliseconds d) {
    m_thread.pause(d, [this] { return stopRequested(); });
}

bool OutboundThread::Worker::connected() const { return m_pager && m_pager->bConnected; }

void OutboundThread::Worker::hangUpAndWait(std::chrono::milliseconds slice) {
    if (!connected()) return;
    try {
        m_pager->Hangup();
    } catch (const std::exception& e) {
        m_ctx.log("[System] " + portName() + " Hang-Up Error: " + e.what());
    } catch (...) {
        m_ctx.log("[System] " + portName() + " Hang-Up Error");
    }
    // Hangup ends the call or the stream; a few slices cover a slow modem.
    for (int i = 0; i < 200 && connected(); ++i) {
        m_pager->pump();
        std::this_thread::sleep_for(slice);
    }
}

void OutboundThread::Worker::startUp() {
    {
        std::lock_guard<std::mutex> l(m_ctx.threadListLock);
        m_ctx.threadList.push_back(m_rec);
    }
    {
        std::lock_guard<std::mutex> p(m_rec->PagesLock);
        m_rec->State = PortState::Idle;  // Busy set, Claimed clear
        m_rec->Hold = false;
    }
    m_rec->Clear.store(false);
    m_pager = std::make_unique<TKORAlpaPage>(m_ctx.dataDir, m_ctx.clock);
    m_pager->Name = "Outbound" + std::to_string(m_threadNo);
    m_pager->FPortName = portName();
    m_pager->DevIdToInitialize = static_cast<std::uint16_t>(m_rec->Port.TapiDevice());
    m_pager->LineInstance = m_threadNo;
    m_pager->ShowDialDialog = m_pager->ShowErrorDialogs = m_pager->ShowNoModemsDialog = false;
    // A stop or a cancel ends the pager's dial and reply waits at once, so the
    // thread reports its page and ends while the engine still writes its log.
    m_pager->CancelRequested = [this] { return stopRequested(); };
    try {
        m_pager->InitTap();
    } catch (const std::exception& e) {
        // A port without a modem line still serves direct and TCP pages.
        m_ctx.log("[System] " + portName() + " Exception: " + e.what());
    }
    // The engine's TAP handlers: progress, busy, line busy, unexpected close.
    bindTapEvents(*m_pager, m_ctx.log);
    waitMs(m_ctx.timing.threadStart);
    m_ctx.log("[System] " + portName() + " Active, Ready To Send Pages");
}

void OutboundThread::Worker::run() {
    startUp();
    try {
        while (!m_end && !stopRequested()) {
            // A stop ends the pause; the pass still runs, as it did after a full one.
            m_thread.pause(m_ctx.timing.passPause);
            m_rec->Clear.store(false);
            PortState state;
            {
                std::lock_guard<std::mutex> p(m_rec->PagesLock);
                state = m_rec->State;
            }
            if (state == PortState::Idle)
                idlePass();
            else
                workPass();
        }
    } catch (const std::exception& e) {
        m_ctx.log("[System] " + portName() + " Exception: " + e.what());
    }
    finish();
}

// The port was examined without pages, or its batch ended: give up the line.
void OutboundThread::Worker::idlePass() {
    if (connected()) {
        m_ctx.log("[TAP Connection Status] " + portName() + " Hanging-Up Port");
        hangUpAndWait(std::chrono::milliseconds(10));
        waitMs(m_ctx.timing.hangupSettle);
        if (stopRequested()) return;
    }
    std::lock_guard<std::mutex> p(m_rec->PagesLock);
    m_rec->State = PortState::Free;
    m_msgCount = 0;
}

void OutboundThread::Worker::workPass() {
    bool working = false;
    {
        std::lock_guard<std::mutex> p(m_rec->PagesLock);
        if (m_rec->State == PortState::Working) {
            working = true;
            m_batch.swap(m_rec->Pages);
            m_hold = m_rec->Hold;
        }
    }
    if (working) {
        if (m_hold) {
            m_ctx.SecondaryRunning.store(true);
            m_ctx.log("[System] " + portName() + " Sending Secondary Connections");
        }
        try {
            handleBatch();
        } catch (...) {
            if (m_hold) m_ctx.SecondaryRunning.store(false);
            throw;
        }
        if (m_hold) m_ctx.SecondaryRunning.store(false);
        if (!m_batch.empty()) giveBack("Call Canceled");
        std::lock_guard<std::mutex> p(m_rec->PagesLock);
        m_rec->Hold = false;
        m_rec->State = PortState::Idle;  // the next pass hangs up and frees the port
        m_hold = false;
    }
    waitMs(m_ctx.timing.afterPass);
}

void OutboundThread::Worker::handleBatch() {
    while (!m_batch.empty() && !m_end) {
        if (m_rec->Clear.load()) {
            dropCleared();
            continue;
        }
        handleFirst();
    }
}

void OutboundThread::Worker::handleFirst() {
    TQueueRec* page = m_batch.front().get();
    if (!page || !page->Recipient || !page->PrimaryProvider) {
        m_ctx.freePage(m_batch.front());
        m_batch.erase(m_batch.begin());
        return;
    }
    Mode mode;
    if (m_hold) {
        mode.provider = page->SecondaryProvider.get();
        mode.PIN = page->Recipient->SecPIN();
        mode.providerName = page->Recipient->SecProviderName();
    } else {
        mode.provider = page->PrimaryProvider.get();
        mode.PIN = page->Recipient->PIN();
        mode.providerName = page->Recipient->ProviderName();
    }
    if (mode.provider) {
        std::uint8_t type = mode.provider->DeliveryType();
        bool countsCalls = type != dtSnpp && type != dtWctp && type != dtSmsModem && type != dtFleetSync &&
                           type != dtTnpp;
        int limit = mode.provider->MaxMsgsPerCall();
        if (countsCalls && limit != 0 && m_msgCount >= limit) {
            m_ctx.log("[TAP Status] Max Messages Per Call Reached!");
            hangUpAndWait(std::chrono::milliseconds(50));
            waitMs(m_ctx.timing.redialPause);
            m_msgCount = 0;
        }
    }
    if (m_provider.empty()) m_provider = mode.providerName;
    if (mode.providerName != m_provider) {
        m_provider = mode.providerName;
        hangUpAndWait(std::chrono::milliseconds(50));
        waitMs(m_ctx.timing.redialPause);
    }
    if (m_ctx.Cancelcall.load()) {
        m_end = true;
        return;
    }
    dispatch(mode);
}

// ------------------------------------------------------------ outcomes

void OutboundThread::Worker::doneStep() {
    PageRecordPtr page = std::move(m_batch.front());
    m_batch.erase(m_batch.begin());
    m_ctx.freePage(page);
}

// A failed attempt of the first page: its secondary provider (primary mode,
// with the secondary's record), else the queue again, else given up.
void OutboundThread::Worker::failRule(const Mode& mode, const std::string& deliveryErrorLine, bool stats) {
    TQueueRec& page = *m_batch.front();
    if (!m_hold && handsOnToSecondary(page, DeliveryPath::PortThread)) {
        PageRecordPtr p = std::move(m_batch.front());
        m_batch.erase(m_batch.begin());
        m_pages.toSecondary(std::move(p));
        if (!deliveryErrorLine.empty()) m_ctx.log(deliveryErrorLine);
        return;
    }
    if (m_ctx.errors.AddConnectionError(ConnectionErrors::pageKey(page))) {
        PageRecordPtr p = std::move(m_batch.front());
        m_batch.erase(m_batch.begin());
        m_pages.requeue(std::move(p));
        return;
    }
    m_ctx.log("[System] " + portName() + " Message Deleted, To Many Connection Errors - " + mode.PIN + " From " +
              page.Originator);
    m_ctx.counter(kCtError, 0);
    if (stats) m_ctx.updateProviderStats(mode.provider);
    doneStep();
}

void OutboundThread::Worker::SetSecondaryProvider(const TQueueRec& failed) {
    const std::string name = failed.PrimaryProvider->CompanyName();
    std::vector<PageRecordPtr> batch;
    batch.swap(m_batch);
    try {
        while (!batch.empty()) {
            PageRecordPtr p = std::move(batch.back());
            batch.pop_back();
            if (!p) continue;
            bool same = p->PrimaryProvider && p->PrimaryProvider->CompanyName() == name;
            if (same && p->SecondaryProvider)
                m_pages.toSecondary(std::move(p));
            else
                m_pages.requeue(std::move(p));
        }
    } catch (const std::exception& e) {
        m_ctx.log(std::string("[Exception Error] In Set Secondary Provider: ") + e.what());
        for (auto& p : batch) m_pages.requeue(std::move(p));
    }
}

void OutboundThread::Worker::SetPrimaryProvider() {
    std::vector<PageRecordPtr> batch;
    batch.swap(m_batch);
    try {
        while (!batch.empty()) {
            m_pages.requeue(std::move(batch.back()));
            batch.pop_back();
        }
    } catch (const std::exception& e) {
        m_ctx.log(std::string("[Exception Error] In Set Primary Provider: ") + e.what());
        for (auto& p : batch) m_pages.requeue(std::move(p));
    }
}

void OutboundThread::Worker::DeleteProviderFromQueue(const std::string& name) {
    try {
        for (std::size_t i = m_batch.size(); i-- > 0;) {
            TQueueRec* p = m_batch[i].get();
            if (!p) continue;
            const ProviderRec* prov = m_hold ? p->SecondaryProvider.get() : p->PrimaryProvider.get();
            if (!prov || prov->CompanyName() != name) continue;
            m_ctx.errors.ClearConnectionError(ConnectionErrors::primaryKey(*p));
            m_ctx.errors.ClearConnectionError(ConnectionErrors::secondaryKey(*p));
            m_ctx.log("[Delivery Fail] " + portName() + " Error Connecting To Provider \"" + name +
                      "\" ID: " + m_pager->ETapMsgID + " - " + p->Recipient->UserID() +
                      " PIN:" + p->Recipient->PIN() + " Msg: " + p->MessageText);
            m_ctx.freePage(m_batch[i]);
            m_batch.erase(m_batch.begin() + static_cast<std::ptrdiff_t>(i));
            m_ctx.counter(kCtError, 0);
        }
    } catch (const std::exception& e) {
        m_ctx.log(std::string("[Exception Error] In Delete Provider From Queue: ") + e.what());
    }
}

// clear_queues while the batch is worked: the page leaves unsent. It is freed
// here (and said so), so it does not linger unseen.
void OutboundThread::Worker::dropCleared() {
    PageRecordPtr p = std::move(m_batch.front());
    m_batch.erase(m_batch.begin());
    if (p && p->Recipient)
        m_ctx.log("[System] " + portName() + " Message Cleared From Queue - " + p->Recipient->PIN() + " From " +
                  p->Originator);
    m_ctx.freePage(p);
    m_pages.postLength();
}

// Pages the thread still holds when it ends go back to the queue, said so.
void OutboundThread::Worker::giveBack(const std::string& why) {
    std::size_t n = 0;
    while (!m_batch.empty()) {
        PageRecordPtr p = std::move(m_batch.back());
        m_batch.pop_back();
        if (!p) continue;
        m_pages.requeue(std::move(p));
        ++n;
    }
    if (n > 0)
        m_ctx.log("[System] " + portName() + " " + std::to_string(n) + " Unsent Messages Returned To Queue, " + why);
}

void OutboundThread::Worker::finish() {
    {
        std::lock_guard<std::mutex> l(m_ctx.threadListLock);
        auto& list = m_ctx.threadList;
        list.erase(std::remove(list.begin(), list.end(), m_rec), list.end());
    }
    // Pages the spooler gave just before the record left the list.
    {
        std::lock_guard<std::mutex> p(m_rec->PagesLock);
        for (auto& page : m_rec->Pages) m_batch.push_back(std::move(page));
        m_rec->Pages.clear();
        m_rec->State = PortState::Idle;
    }
    if (m_hold) m_ctx.SecondaryRunning.store(false);
    giveBack("Port Thread Ended");
    m_ctx.log("[System] " + portName() + " Disabled!");
    try {
        hangUpAndWait(std::chrono::milliseconds(50));
    } catch (const std::exception& e) {
        m_ctx.log("[System] " + portName() + " Hang-Up Error: " + e.what());
    }
    m_pager.reset();
}

}  // namespace nv
