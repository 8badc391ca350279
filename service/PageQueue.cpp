// The page queue's entrance. The spooler (Spooler.cpp) takes pages out of it
// for the outbound port threads; while no port thread runs, AddToQueue refuses
// every page that is not forced.
#include <algorithm>
#include <cstdio>
#include <exception>

#include "foundation/FileUtil.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// Priorities compare as "%2.2d" texts, so 100 sorts before 20.
std::string priorityKey(const TQueueRec& page) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%2.2d", page.Recipient ? page.Recipient->Priority() : 0);
    return buf;
}

bool isDuplicate(const TQueueRec& a, const TQueueRec& b) {
    if (!a.Recipient || !b.Recipient || !a.PrimaryProvider || !b.PrimaryProvider) return false;
    return a.Recipient->PIN() == b.Recipient->PIN() && a.MessageText == b.MessageText &&
           a.PrimaryProvider->CompanyName() == b.PrimaryProvider->CompanyName();
}

}  // namespace

// Sort order of the queue and of the secondary list.
bool ComparePageOrder(const PageRecordPtr& a, const PageRecordPtr& b) {
    std::string ka = priorityKey(*a), kb = priorityKey(*b);
    for (auto& c : ka) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (auto& c : kb) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ka < kb;
}

bool TNerivaleSvcMain::AddToQueue(PageRecordPtr& page, bool force) {
    if (!force && OutboundThreadsRunning() == 0) return false;
    try {
        std::lock_guard<std::mutex> q(m_queueLock);
        for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
            if (isDuplicate(**it, *page)) {
                FreePageRecord(page);
                return true;
            }
        }
        // The page's connection-error keys come from this number.
        if (page->Serial == 0) page->Serial = m_outbound->nextSerial.fetch_add(1);
        m_queue.push_back(std::move(page));
        std::stable_sort(m_queue.begin(), m_queue.end(), ComparePageOrder);
        PostUpdateCounters(kCtQueued, static_cast<std::int32_t>(m_queue.size()));
    } catch (const std::exception& e) {
        WriteToLog(std::string("[Exception Error] Error In Add To Queue: ") + e.what());
    }
    return true;
}

}  // namespace nv
