// The page queue's entrance. The spooler (Spooler.cpp) takes pages out of it
// for the outbound port threads; while no port thread runs, AddToQueue refuses
// every page that is not forced.
#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>

#include "foundation/FileUtil.h"
#include "service/EngineLog.h"
#include "service/QueueFile.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// Priorities compare as "%2.2d" texts, so 100 sorts before 20. The text is
// kept NUL-padded in a fixed array: comparing the arrays orders them as the
// texts, without a heap string.
using PriorityText = std::array<char, 16>;

std::int32_t priorityOf(const TQueueRec& page) { return page.Recipient ? page.Recipient->Priority() : 0; }

PriorityText priorityText(std::int32_t priority) {
    PriorityText key{};
    std::snprintf(key.data(), key.size(), "%2.2d", priority);
    return key;
}

bool isDuplicate(const TQueueRec& a, const TQueueRec& b) {
    if (!a.Recipient || !b.Recipient || !a.PrimaryProvider || !b.PrimaryProvider) return false;
    // The text first: it lives in the page, the others are read out of records.
    return a.MessageText == b.MessageText && a.Recipient->PIN() == b.Recipient->PIN() &&
           a.PrimaryProvider->CompanyName() == b.PrimaryProvider->CompanyName();
}

}  // namespace

// Sort order of the queue and of the secondary list. The texts hold digits and
// a sign only, so the comparison needs no case folding; equal priorities (the
// intake gives every page the same) are equal without formatting.
bool ComparePageOrder(const PageRecordPtr& a, const PageRecordPtr& b) {
    std::int32_t pa = priorityOf(*a), pb = priorityOf(*b);
    return pa != pb && priorityText(pa) < priorityText(pb);
}

void InsertInPageOrder(std::vector<PageRecordPtr>& list, PageRecordPtr page) {
    if (std::is_sorted(list.begin(), list.end(), ComparePageOrder)) {
        // Where a stable sort would leave the newest page: after its equals.
        auto at = std::upper_bound(list.begin(), list.end(), page, ComparePageOrder);
        list.insert(at, std::move(page));
        return;
    }
    // The spooler sorted by provider since; restore the order as a whole.
    list.push_back(std::move(page));
    std::stable_sort(list.begin(), list.end(), ComparePageOrder);
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
        InsertInPageOrder(m_queue, std::move(page));
        PostUpdateCounters(kCtQueued, static_cast<std::int32_t>(m_queue.size()));
    } catch (const std::exception& e) {
        WriteToLog(std::string("[Exception Error] Error In Add To Queue: ") + e.what());
    }
    return true;
}

namespace {
namespace fs = std::filesystem;

void restoreErrors(ConnectionErrors& errors, const std::string& key, int count) {
    for (int i = 0; i < count; ++i) errors.AddConnectionError(key);
}

}  // namespace

// At stop, after every thread has ended: the queue and the secondary list
// (the port threads have given their batches back to the queue) go to
// hQueue.Dat, replaced atomically. Nothing held: the file is left as it is.
void TNerivaleSvcMain::SaveQueueFile() {
    std::vector<SavedPage> saved;
    auto take = [&](std::vector<PageRecordPtr>& list) {
        for (auto& page : list) {
            if (!page || !page->Recipient || !page->PrimaryProvider) continue;
            ConnectionErrors& errors = connectionErrors();
            SavedPage s;
            s.pageErrors = errors.count(ConnectionErrors::pageKey(*page));
            s.primaryErrors = errors.count(ConnectionErrors::primaryKey(*page));
            s.secondaryErrors = errors.count(ConnectionErrors::secondaryKey(*page));
            s.page = std::move(page);
            saved.push_back(std::move(s));
        }
        list.clear();
    };
    {
        std::lock_guard<std::mutex> q(m_queueLock);
        take(m_queue);
        std::lock_guard<std::mutex> s(m_secondaryLock);
        take(m_secondary);
    }
    if (saved.empty()) return;
    const fs::path file = resolveFileNoCase(m_options.dataDir, kQueueFileName);
    std::string error;
    if (writeFileAtomic(file, encodeQueueFile(saved), kLogFileMode, &error))
        WriteToLog("[System] " + std::to_string(saved.size()) + " Queued Pages Kept In " + kQueueFileName +
                   " For The Next Start");
    else
        WriteToLog("[System] Unable To Write " + file.string() + ": " + error + ", " +
                   std::to_string(saved.size()) + " Queued Pages Lost");
}

// At start, before the spooler: the pages kept at the last stop join the
// queue, keeping their connection errors; the file is removed once they are
// in. A file that cannot be read is moved aside, never dropped in silence.
void TNerivaleSvcMain::RestoreQueueFile() {
    auto file = findFileNoCase(m_options.dataDir, kQueueFileName);
    if (!file) return;
    std::string bytes, error;
    std::vector<SavedPage> saved;
    std::error_code ec;
    if (!readWholeFile(*file, bytes)) {
        error = "cannot be read";
    } else if (decodeQueueFile(bytes, saved, error)) {
        std::size_t n = 0;
        {
            std::lock_guard<std::mutex> q(m_queueLock);
            for (auto& s : saved) {
                PageRecordPtr page = std::move(s.page);
                page->Serial = m_outbound->nextSerial.fetch_add(1);
                ConnectionErrors& errors = connectionErrors();
                restoreErrors(errors, ConnectionErrors::pageKey(*page), s.pageErrors);
                restoreErrors(errors, ConnectionErrors::primaryKey(*page), s.primaryErrors);
                restoreErrors(errors, ConnectionErrors::secondaryKey(*page), s.secondaryErrors);
                InsertInPageOrder(m_queue, std::move(page));
                ++n;
            }
            PostUpdateCounters(kCtQueued, static_cast<std::int32_t>(m_queue.size()));
        }
        fs::remove(*file, ec);
        WriteToLog("[System] " + std::to_string(n) + " Queued Pages Restored From " + kQueueFileName);
        return;
    }
    const fs::path aside = m_options.dataDir / kUnreadableQueueFileName;
    fs::rename(*file, aside, ec);
    WriteToLog(std::string("[System] ") + kQueueFileName + " Unreadable (" + error + "), " +
               (ec ? "Left In Place: " + ec.message() : "Moved To " + aside.filename().string()));
}

}  // namespace nv
