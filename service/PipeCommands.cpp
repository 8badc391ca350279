// The manager's commands, the log writer, the counters and the messages to the
// manager.
#include <exception>

#include "foundation/FileUtil.h"
#include "platform/PipeMessage.h"
#include "service/QueueFile.h"
#include "service/SrvcMainFrm.h"

namespace nv {

void TNerivaleSvcMain::WriteToLog(std::string text) {
    m_loop.post([this, t = std::move(text)] { WriteToLogPost(t); });
}

void TNerivaleSvcMain::WriteToLogPost(const std::string& text) {
    std::string line = m_log.write(EngineLog::cleanText(text));
    if (m_options.logEcho) m_options.logEcho(line);
    SendPipeDataPost("cmd=log\r\ndata=" + line + "\r\n");
}

void TNerivaleSvcMain::SendPipeData(std::string text) {
    m_loop.post([this, t = std::move(text)] { SendPipeDataPost(t); });
}

// The sender thread connects with the short wait, bounds every write and drops
// what cannot go: a slow or absent manager never holds up the engine.
void TNerivaleSvcMain::SendPipeDataPost(const std::string& text) { m_pipeClient.send(text); }

void TNerivaleSvcMain::PostUpdateCounters(int id, std::int32_t value) {
    m_loop.post([this, id, value] { ApplyCounter(id, value); });
}

void TNerivaleSvcMain::ApplyCounter(int id, std::int32_t value) {
    if (!m_counters.apply(id, value)) return;
    SendPipeDataPost(Counters::counterUpdateMessage(id, m_counters.valueOf(id)));
}

void TNerivaleSvcMain::PipeServer1PipeMessage(const std::string& message) {
    PipeMessage msg = PipeMessage::parse(message);
    std::string cmd = msg.command();
    try {
        if (cmd == "ping") {
            SendPipeDataPost("cmd=ping");
        } else if (cmd == "send_counters") {
            SendPipeDataPost(m_counters.allCountersMessage(Cancelcall.load()));
        } else if (cmd == "clear_queues") {
            ClearQueues();
        } else if (cmd == "reset_stats") {
            m_counters.resetStats();
        } else if (cmd == "test_page") {
            bool submitted = false;
            KORTap1MsgReceived(nullptr, msg.value("pin"), kTestMessage, submitted);
        } else if (cmd == "cancel_call") {
            CancelCall();
        }
    } catch (const std::exception& e) {
        // An exception must not end the engine's loop; the command is abandoned.
        WriteToLog(std::string("[Exception Error] ") + e.what());
    }
}

void TNerivaleSvcMain::ClearQueues() {
    std::error_code ec;
    if (auto file = findFileNoCase(m_options.dataDir, kQueueFileName)) std::filesystem::remove(*file, ec);
    {
        PageQueue::Queue queue = m_pages.lockQueue();
        for (std::vector<PageRecordPtr> pages = queue.takeAll(); !pages.empty(); pages.pop_back()) {
            if (pages.back()) connectionErrors().forgetPage(*pages.back());
            FreePageRecord(pages.back());
        }
        WriteToLog("[Operator Action] Message Queue Cleared!");
        PostUpdateCounters(kCtQueued, 0);
        // The port threads drop the batch they work on (the list's lock is
        // taken after the queue's).
        SetPortsClear();
    }
}

void TNerivaleSvcMain::CancelCall() {
    // Stays set until the engine stops; the intake refuses pages meanwhile.
    Cancelcall.store(true);
    // Dropping the engine's own pager call comes with the TAP pager.
    WriteToLog("[Operator Action] Call Canceled!");
}

}  // namespace nv
