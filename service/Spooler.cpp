#include "service/Spooler.h"

#include <algorithm>
#include <exception>

#include "foundation/FileUtil.h"
#include "service/Counters.h"

namespace nv {

namespace {

constexpr int kCycleBudget = 11;
constexpr std::size_t kBatchLimit = 10;

std::string primaryName(const TQueueRec& p) { return p.Recipient ? p.Recipient->ProviderName() : std::string(); }

std::string lengthAt(std::size_t size, std::size_t index) {
    return ": " + std::to_string(size) + "/" + std::to_string(index);
}

}  // namespace

void Spooler::start(std::function<void()> onEnd) { m_thread.start([this] { execute(); }, std::move(onEnd)); }

bool Spooler::pause(std::chrono::milliseconds d) {
    return m_thread.pause(d, [this] { return m_ctx.spoolStop.load(); });
}

void Spooler::execute() {
    m_ctx.SecondaryRunning.store(false);
    m_pages.postLength();
    while (!stopped()) {
        m_ctx.log("[System] Queue Services Active, Ready To Spool Pages");
        if (!pause(m_ctx.timing.spoolStart)) break;
        try {
            for (;;) {
                if (!pause(m_ctx.timing.spoolCycle)) break;
                if (!m_pages.empty() && !pause(m_ctx.timing.spoolPagesWait)) break;
                // What a pass does not catch ends this cycle only.
                try {
                    runCycle();
                } catch (const std::exception& e) {
                    m_ctx.log(std::string("[System] Main Queue Services Exception1: ") + e.what() +
                              lengthAt(m_pages.size(), 0));
                }
            }
        } catch (const std::exception& e) {
            m_ctx.log(std::string("[System] Main Queue Services Exception: ") + e.what());
        }
    }
    m_ctx.log("[System] Queue Services Disabled");
}

void Spooler::runCycle() {
    bool empty;
    {
        PageQueue::Queue queue = m_pages.lockQueue();
        empty = queue.empty();
        if (!empty) {
            try {
                queue.sortByProvider();
                primaryPass(queue);
            } catch (const std::exception& e) {
                m_ctx.log(std::string("[System] Primary Queue Services Exception: ") + e.what() +
                          lengthAt(queue.size(), 0));
            }
        }
    }
    if (empty) {
        try {
            secondaryPass();
        } catch (const std::exception& e) {
            m_ctx.log(std::string("[System] Secondary Queue Services Exception: ") + e.what() +
                      lengthAt(m_pages.size(), 0));
        }
    }
}

void Spooler::dropPage(PageRecordPtr& page, const std::string& providerName) {
    m_ctx.errors.ClearConnectionError(ConnectionErrors::primaryKey(*page));
    m_ctx.log(deliveryFailLine(*page, providerName));
    m_ctx.freePage(page);
    m_ctx.counter(kCtError, 0);
}

// The queue is held, sorted by provider and not empty.
bool Spooler::primaryPass(PageQueue::Queue& queue) {
    const auto& list = queue.pages();
    // The head is the first page of the provider after the one placed last.
    std::size_t head = 0;
    if (!m_lastPlaced.empty()) {
        auto it = std::find_if(list.begin(), list.end(), [&](const PageRecordPtr& p) {
            return p && p->PrimaryProvider && p->PrimaryProvider->CompanyName() > m_lastPlaced;
        });
        if (it != list.end()) head = static_cast<std::size_t>(it - list.begin());
    }
    TQueueRec& P = *queue[head];
    if (!P.Recipient || !P.PrimaryProvider) {
        m_ctx.log("[System] Primary Queue Services Exception: Page Without Recipient" + lengthAt(queue.size(), head));
        PageRecordPtr orphan = queue.take(head);
        m_ctx.freePage(orphan);
        return false;
    }
    const std::string N = primaryName(P);
    const std::string company = P.PrimaryProvider->CompanyName();
    const std::uint8_t type = P.PrimaryProvider->DeliveryType();
    bool taken = false, busy = false;
    int budget = 0;
    {
        std::lock_guard<std::mutex> t(m_ctx.threadListLock);
        for (const auto& rec : m_ctx.threadList) {
            if (stopped()) return false;
            std::lock_guard<std::mutex> pl(rec->PagesLock);
            if (rec->Busy()) {
                busy = true;
                continue;
            }
            bool takes = rec->Port.IsDirect()
                             ? (type == dtTapDirect || type == dtFleetSync || type == dtTnpp) &&
                                   equalsNoCase(N, rec->Port.DirectGroupName())
                             : type != dtTapDirect && type != dtTnpp;
            if (!takes) {
                // Examined and left busy: its thread gives up any line it holds.
                rec->State = PortState::Idle;
                continue;
            }
            m_ctx.log("[TAP Connection Status] " + N + " Assigned To " + rec->Port.Name() + " Using Device Num. " +
                      std::to_string(static_cast<std::uint16_t>(rec->Port.TapiDevice())));
            rec->Pages.push_back(queue.take(head));
            ++budget;
            while (head < queue.size() && budget < kCycleBudget && rec->Pages.size() < kBatchLimit &&
                   queue[head] && primaryName(*queue[head]) == N) {
                rec->Pages.push_back(queue.take(head));
                ++budget;
            }
            rec->Hold = false;
            rec->State = PortState::Working;
            taken = true;
            break;
        }
    }
    if (taken) {
        m_lastPlaced = company;  // P now belongs to the port thread
        queue.postLength();
        return true;
    }
    if (busy) return false;  // the head waits, and the pages behind it
    PageRecordPtr page = queue.take(head);
    queue.postLength();
    if (page->SecondaryProvider) {
        std::lock_guard<std::mutex> t(m_ctx.threadListLock);
        m_pages.lockSecondary().append(std::move(page));
        return false;
    }
    dropPage(page, N);
    return false;
}

void Spooler::secondaryPass() {
    {
        std::lock_guard<std::mutex> t(m_ctx.threadListLock);
        m_pages.lockSecondary().sortByProvider();
    }
    int budget = 0;
    for (;;) {
        bool pauseAfter = false;
        if (!secondaryStep(budget, pauseAfter)) return;
        if (pauseAfter && !pause(m_ctx.timing.secondaryBatchPause)) return;
    }
}

bool Spooler::secondaryStep(int& budget, bool& pauseAfter) {
    PageQueue::Queue queue = m_pages.lockQueue();
    std::lock_guard<std::mutex> t(m_ctx.threadListLock);
    PageQueue::Secondary sl = m_pages.lockSecondary();
    if (sl.empty() || m_ctx.SecondaryRunning.load() || budget >= kCycleBudget || stopped()) return false;
    ++budget;
    TQueueRec& P = *sl.front();
    const std::string S = P.Recipient->SecProviderName();
    const bool secDirect = P.SecondaryProvider && P.SecondaryProvider->DeliveryType() == dtTapDirect;
    bool taken = false, busy = false;
    for (const auto& rec : m_ctx.threadList) {
        std::lock_guard<std::mutex> pl(rec->PagesLock);
        if (rec->Busy()) {
            busy = true;
            continue;
        }
        bool takes = rec->Port.IsDirect() ? secDirect && equalsNoCase(S, rec->Port.DirectGroupName()) : !secDirect;
        if (!takes) {
            rec->State = PortState::Idle;
            continue;
        }
        rec->Hold = true;
        rec->Pages.push_back(sl.takeFront());
        while (!sl.empty() && budget < kCycleBudget && sl.front()->Recipient->SecProviderName() == S) {
            rec->Pages.push_back(sl.takeFront());
            ++budget;
        }
        pauseAfter = !sl.empty() && sl.front()->Recipient->SecProviderName() != S;
        rec->State = PortState::Working;
        taken = true;
        break;
    }
    if (taken || busy) return true;  // busy: P stays first and is tried again
    PageRecordPtr page = sl.takeFront();
    if (m_ctx.errors.AddConnectionError(ConnectionErrors::pageKey(*page))) {
        // Offered for its primary provider again.
        queue.insert(std::move(page));
        queue.postLength();
        return true;
    }
    dropPage(page, primaryName(*page));
    return true;
}

}  // namespace nv
