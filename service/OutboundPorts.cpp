// The engine's steps for the outbound side: the port threads, the spooler,
// the provider statistics and the end of all calls.
#include "service/OutboundPorts.h"

#include "foundation/DataFile.h"
#include "foundation/RecordAccess.h"
#include "platform/PipeMessage.h"
#include "service/PageIntake.h"
#include "service/SrvcMainFrm.h"

namespace nv {

std::unique_ptr<OutboundPorts> TNerivaleSvcMain::MakeOutboundPorts() {
    OutboundEngineParts parts{m_options.dataDir,
                              [this](std::string text) { WriteToLog(std::move(text)); },
                              [this](int id, std::int32_t value) { PostUpdateCounters(id, value); },
                              [this](const ProviderRec* p) { UpdateProviderStats(nullptr, p, false); },
                              Cancelcall,
                              m_outboundStop,
                              m_spoolStop,
                              m_options.pagerClock ? *m_options.pagerClock : steadyClock(),
                              m_options.outbound};
    return std::make_unique<OutboundPorts>(parts);
}

void TNerivaleSvcMain::StartOutboundThreads() {
    m_outboundStop.store(false);
    Cancelcall.store(false);
    int n = 1;
    for (const std::string& name : LoadPortNames(m_options.dataDir, m_prompt)) {
        std::unique_ptr<PortRec> port = FindPort(name, m_options.dataDir, m_prompt);
        // At most 16 port threads; further enabled ports are ignored unsaid.
        if (!port || port->Direction() == 0 || !port->PortEnabled() || n > kMaxOutboundThreads) continue;
        auto thread = std::make_unique<OutboundThread>(m_outbound->ctx, m_pages, *port, n, m_outbound->running);
        ++n;
        thread->start([this] { wakeLoop(); });
        m_outbound->threads.push_back(std::move(thread));
    }
}

void TNerivaleSvcMain::StartSpoolThread() {
    m_spoolStop.store(false);
    m_outbound->spooler = std::make_unique<Spooler>(m_outbound->ctx, m_pages);
    m_outbound->spooler->start([this] { wakeLoop(); });
}

std::size_t TNerivaleSvcMain::OutboundThreadsRunning() const {
    return static_cast<std::size_t>(std::max(0, m_outbound->running.load()));
}

bool TNerivaleSvcMain::SpoolThreadRunning() const { return m_outbound->spooler && m_outbound->spooler->running(); }

// Returns when no port thread runs: their pagers' waits end at the cancel, so
// each thread reports its page, gives back its batch and says "Disabled!"
// before the stop goes on. The stop's deadline bounds the wait.
void TNerivaleSvcMain::CancelAllCalls() {
    m_outboundStop.store(true);
    Cancelcall.store(true);
    waitForThreads([this] { return OutboundThreadsRunning() > 0; });
    for (auto& t : m_outbound->threads) t->join(std::chrono::milliseconds(0));
    Cancelcall.store(false);
    SendPipeData(buildPipeMessage({{"cmd", "cancelcall1"}, {"value", "0"}}, true));
    pumpMessages();
    sleepPumping(m_options.cancelPause);
}

// The one statistics write of the engine, for the page workers and the port
// threads alike. Only the two statistics fields, re-read under the file's
// lock: the page's copy carries the page's length as its limit and may be
// minutes old. A slot gone or renamed meanwhile is left alone.
void TNerivaleSvcMain::UpdateProviderStats(const TQueueRec*, const ProviderRec* provider, bool) {
    if (!provider) return;
    const std::string name = provider->CompanyName();
    if (name == kBuiltinEPage || name == kBuiltinTnpp || name == kBuiltinBrevicor) return;
    try {
        std::lock_guard<std::mutex> g(m_statsLock);
        SaveProviderStats(*provider, recordTimeNow(), m_options.dataDir);
    } catch (const std::exception& e) {
        WriteToLog("[System] Provider Statistics Error: " + name + " " + e.what());
    } catch (...) {
        WriteToLog("[System] Provider Statistics Error: " + name);
    }
}

void TNerivaleSvcMain::SetPortsClear() {
    std::lock_guard<std::mutex> t(m_outbound->threadListLock);
    for (auto& rec : m_outbound->threadList) rec->Clear.store(true);
}

}  // namespace nv
