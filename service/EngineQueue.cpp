// The engine's side of the page queue: AddToQueue, the queue's entrance, and
// hQueue.Dat, the pages kept from one stop to the next start. The spooler
// (Spooler.cpp) takes pages out of the queue for the outbound port threads;
// while no port thread runs, AddToQueue refuses every page that is not forced.
#include <algorithm>
#include <exception>

#include "foundation/FileUtil.h"
#include "service/EngineLog.h"
#include "service/QueueFile.h"
#include "service/SrvcMainFrm.h"

namespace nv {

bool TNerivaleSvcMain::AddToQueue(PageRecordPtr& page, bool force) {
    if (!force && OutboundThreadsRunning() == 0) return false;
    try {
        m_pages.add(page);  // a duplicate is freed there and counts as queued
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
// (the port threads have given their batches back to the queue) and the pages
// still waiting for a page worker go to hQueue.Dat, replaced atomically.
// Nothing held: the file is left as it is.
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
        PageQueue::Queue queue = m_pages.lockQueue();
        std::vector<PageRecordPtr> pages = queue.takeAll();
        take(pages);
        PageQueue::Secondary secondary = m_pages.lockSecondary();
        pages = secondary.takeAll();
        take(pages);
    }
    // Pages the page workers had not started go back to the workers.
    const std::size_t queued = saved.size();
    std::vector<PageRecordPtr> unstarted = m_workers.takeWaiting();
    take(unstarted);
    for (std::size_t i = queued; i < saved.size(); ++i) saved[i].forWorker = true;
    if (saved.empty()) return;
    const fs::path file = resolveFileNoCase(m_options.dataDir, kQueueFileName);
    std::string error;
    if (writeFileAtomic(file, encodeQueueFile(saved), kLogFileMode, &error)) {
        if (queued > 0)
            WriteToLog("[System] " + std::to_string(queued) + " Queued Pages Kept In " + kQueueFileName +
                       " For The Next Start");
        if (saved.size() > queued)
            WriteToLog("[System] " + std::to_string(saved.size() - queued) +
                       " Pages Waiting For A Page Worker Kept In " + kQueueFileName + " For The Next Start");
    } else
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
            PageQueue::Queue queue = m_pages.lockQueue();
            for (auto& s : saved) {
                if (s.forWorker) continue;
                PageRecordPtr page = std::move(s.page);
                page->Serial = m_pages.newSerial();
                ConnectionErrors& errors = connectionErrors();
                restoreErrors(errors, ConnectionErrors::pageKey(*page), s.pageErrors);
                restoreErrors(errors, ConnectionErrors::primaryKey(*page), s.primaryErrors);
                restoreErrors(errors, ConnectionErrors::secondaryKey(*page), s.secondaryErrors);
                queue.insert(std::move(page));
                ++n;
            }
            queue.postLength();
        }
        fs::remove(*file, ec);
        const bool anyForWorkers =
            std::any_of(saved.begin(), saved.end(), [](const SavedPage& s) { return s.forWorker; });
        if (n > 0 || !anyForWorkers)
            WriteToLog("[System] " + std::to_string(n) + " Queued Pages Restored From " + kQueueFileName);
        // Pages that waited for a page worker go back to the workers, in their order.
        std::size_t toWorkers = 0, refused = 0;
        for (auto& s : saved) {
            if (!s.forWorker) continue;
            if (StartPageWorker(s.page)) {
                ++toWorkers;
            } else {
                ++refused;
                FreePageRecord(s.page);
            }
        }
        if (toWorkers > 0)
            WriteToLog("[System] " + std::to_string(toWorkers) + " Pages Restored From " + kQueueFileName +
                       " Handed To The Page Workers");
        if (refused > 0)
            WriteToLog("[System] " + std::to_string(refused) + " Pages Restored From " + kQueueFileName +
                       " Lost, No Page Worker Available");
        return;
    }
    const fs::path aside = m_options.dataDir / kUnreadableQueueFileName;
    fs::rename(*file, aside, ec);
    WriteToLog(std::string("[System] ") + kQueueFileName + " Unreadable (" + error + "), " +
               (ec ? "Left In Place: " + ec.message() : "Moved To " + aside.filename().string()));
}

}  // namespace nv
