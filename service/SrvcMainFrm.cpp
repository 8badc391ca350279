#include "service/SrvcMainFrm.h"

#include <algorithm>
#include <exception>

#include "platform/PipeMessage.h"
#include "service/InboundPort.h"

namespace nv {

TNerivaleSvcMain::TNerivaleSvcMain(EventLoop& loop, EngineOptions options)
    : m_loop(loop),
      m_options(std::move(options)),
      m_clock(m_options.clock ? *m_options.clock : steadyClock()),
      m_createdAt(m_clock.now()),
      m_prompt([this](const std::string& text) { WriteToLog("[System] " + text); }),
      m_log(m_options.dataDir, m_options.localNow, m_options.logFailure),
      m_pipeClient(m_options.dataDir / kConfigPipeName) {
    m_timer = std::make_unique<RepeatingTimer>(m_loop, m_options.timerPeriod, [this] { Timer2Timer(); });
    m_outbound = MakeOutboundPorts();
    BindNetworkSenders(m_outbound->ctx.senders);
    m_workers.setErrorLog([this](const std::string& what) { WriteToLog("[Exception Error] In Page Worker: " + what); });
}

TNerivaleSvcMain::~TNerivaleSvcMain() {
    if (Shutdown.exchange(true)) return;
    try {
        StopServer();
    } catch (const std::exception& e) {
        // The rest of the teardown still runs: the queue is saved below.
        WriteToLog(std::string("[Exception Error] In Stop Server: ") + e.what());
    }
    m_spoolStop.store(true);
    // A thread that outlived the stop's deadline is joined here, so that it
    // has given its batch back before the queue is saved and what it still
    // posts is written by the last poll below.
    m_outbound->threads.clear();
    m_outbound->spooler.reset();
    m_pelmoraPort.reset();
    // Every port thread has given its batch back: what the queue and the
    // secondary list hold now is kept in hQueue.Dat for the next start.
    try {
        SaveQueueFile();
    } catch (const std::exception& e) {
        WriteToLog(std::string("[Exception Error] In Save Queue File: ") + e.what());
    }
    m_pages.lockQueue().takeAll();
    m_pages.lockSecondary().takeAll();
    m_timer.reset();
    m_pipeServer.reset();
    // Every thread has been joined, so nothing posts any more: run what is
    // posted (the last log lines) while the engine still exists.
    while (m_loop.poll() > 0) {
    }
}

void TNerivaleSvcMain::pumpMessages() { m_loop.poll(); }

void TNerivaleSvcMain::sleepPumping(std::chrono::milliseconds d) {
    if (d.count() > 0)
        m_loop.pumpFor(d);
    else
        m_loop.poll();
}

bool TNerivaleSvcMain::StartServer() {
    WriteToLog("[System] Nerivale Server Start Requested!");
    pumpMessages();
    StartTNPPLink();
    StartBrevicorPort();
    StartSMSModem();
    sleepPumping(m_options.startPause);
    StartOutboundThreads();
    RestoreQueueFile();
    pumpMessages();
    sleepPumping(m_options.startPause);
    StartSpoolThread();
    StartPipeServer();
    WriteToLog("[System] Starting Pelmoar Services!");
    StartPelmoraPortThread();
    WriteToLog("[System] All Services Active!");
    return true;
}

void TNerivaleSvcMain::StartPipeServer() {
    try {
        if (!m_pipeServer)
            m_pipeServer = std::make_unique<LocalPipeServer>(
                m_loop, [this](const std::string& msg) { PipeServer1PipeMessage(msg); });
        m_pipeServer->listen(m_options.dataDir / kServerPipeName);
    } catch (const std::exception& e) {
        WriteToLog(std::string("[System] Failed To Start IPC: ") + e.what());
    }
}

// The device links, the port threads, the spooler and the inbound port live
// in their own units (DeviceLinks, OutboundPorts, InboundPort).

void TNerivaleSvcMain::StartPelmoraPortThread() {
    m_pelmoraPort = std::make_unique<PelmoraPortThread>(*this);
    m_pelmoraPort->Start([this] { wakeLoop(); });
}

bool TNerivaleSvcMain::PelmoraPortThreadRunning() const { return m_pelmoraPort && m_pelmoraPort->Running(); }

bool TNerivaleSvcMain::StopServer() {
    WriteToLog("[System] Server ShutDown Requested");
    pumpMessages();
    // Every stop flag first, the page workers' included, so that every thread
    // is on its way out before anything is waited for.
    if (m_pelmoraPort) m_pelmoraPort->RequestStop();
    m_outboundStop.store(true);
    for (auto& t : m_outbound->threads) t->requestStop();
    m_spoolStop.store(true);
    if (m_outbound->spooler) m_outbound->spooler->requestStop();
    m_workers.requestStop();
    Terminate.store(true);

    // The waits share one deadline: a thread that ignores its stop cannot
    // hold the service past systemd's stop time-out.
    m_stopDeadline = std::chrono::steady_clock::now() + m_options.joinBound;
    CancelAllCalls();
    waitForThreads([this] { return PelmoraPortThreadRunning(); });
    sleepPumping(m_options.stopPause);

    // Workers use the encoder port, the TNPP link and the lists: they are all
    // waited for before any of those closes or goes away.
    waitForThreads([this] { return m_workers.running() > 0; });
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_stopDeadline -
                                                                            std::chrono::steady_clock::now());
    m_workers.stopAll(std::max(left, std::chrono::milliseconds(0)), [this] { pumpMessages(); });
    waitForThreads([this] { return SpoolThreadRunning() || OutboundThreadsRunning() > 0; });

    CloseDevices();
    WriteToLog("[System] Server ShutDown");
    pumpMessages();
    return true;
}

void TNerivaleSvcMain::waitForThreads(const std::function<bool()>& running) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_stopDeadline - std::chrono::steady_clock::now());
    m_loop.pumpUntil([&] { return !running(); }, std::max(left, std::chrono::milliseconds(0)));
}

// A no-op on the loop: a pumpUntil in progress asks its question again.
void TNerivaleSvcMain::wakeLoop() {
    m_loop.post([] {});
}

void TNerivaleSvcMain::Timer2Timer() {
    m_log.archiveIfDue();
    // On-line time from the monotonic start, so a late or early tick can neither
    // skip nor double a minute.
    auto minutes = std::chrono::duration_cast<std::chrono::minutes>(m_clock.now() - m_createdAt).count();
    m_counters.rHours = static_cast<std::int32_t>(minutes / 60);
    m_counters.rMin = static_cast<std::int32_t>(minutes % 60);
    m_pages.postLength();
    m_workers.reap();
}

std::size_t TNerivaleSvcMain::queueLength() const { return m_pages.size(); }

bool TNerivaleSvcMain::flushPipe(std::chrono::milliseconds bound) { return m_pipeClient.flush(bound); }

}  // namespace nv
