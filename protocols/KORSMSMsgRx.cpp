// The receive thread of the GSM SMS sender: reads "+CMT:" indications while
// EnableRXMsgs is set. Nothing it runs may throw out of the thread.
#include <exception>

#include "protocols/GsmAtReply.h"
#include "protocols/GsmRxIndication.h"
#include "protocols/KORSMSMsg.h"

namespace nv {
using std::chrono::milliseconds;

namespace {

constexpr const char* kRxException = "RX Data Exception: ";
constexpr milliseconds kRxPoll{10};

}  // namespace

void TKORSMSMessaging::TServerThread::start() { m_thread.start([this] { run(); }); }

void TKORSMSMessaging::TServerThread::waitStarted(milliseconds bound) {
    m_thread.waitUntil([this] { return ParentComp.m_threadStarted.load() || !m_thread.running(); }, bound);
}

void TKORSMSMessaging::TServerThread::join() {
    m_thread.requestStop();
    m_thread.join();
}

void TKORSMSMessaging::TServerThread::run() {
    try {
        Execute();
    } catch (const std::exception& e) {
        HandleException(e.what());
    } catch (...) {
        HandleException("unknown exception");
    }
}

// What escapes Execute is kept, and the thread counts as ended.
void TKORSMSMessaging::TServerThread::HandleException(const std::string& text) {
    ProgressMsg = text;
    ParentComp.m_threadStarted = false;
}

void TKORSMSMessaging::TServerThread::fire(const TNotifyEvent& ev) {
    try {
        if (ev) ev(ParentComp);
    } catch (...) {
        // A failing handler must not end the thread.
    }
}

void TKORSMSMessaging::TServerThread::Execute() {
    fire(ParentComp.OnPortOpen);
    ParentComp.m_threadStarted = true;
    m_thread.wake();
    // What the modem said after the last initialisation answer is no message.
    m_thread.pause(milliseconds(2));
    {
        std::lock_guard lock(ParentComp.m_modem);
        if (ParentComp.m_comState == csReady) ParentComp.FlushRXBuf();
    }
    while (!ParentComp.stopRequested()) {
        if (!m_thread.pause(kRxPoll, [this] { return ParentComp.stopRequested(); })) break;
        if (ParentComp.m_enableRx) CheckRxMsg();
    }
    fire(ParentComp.OnPortClosed);
    ParentComp.m_threadStarted = false;
}

// Reads "+CMT:" indications (protocols/GsmRxIndication) off the component's
// received bytes while the modem is otherwise idle.
void TKORSMSMessaging::TServerThread::CheckRxMsg() {
    TKORSMSMessaging& c = ParentComp;
    if (!c.Connected()) return;
    std::unique_lock lock(c.m_modem, std::try_to_lock);
    if (!lock.owns_lock() || c.m_comState != csReady) return;
    c.m_comState = csRX;
    try {
        Com32ByteStream in(c);
        GsmRxOptions options;
        options.rxLine = c.timings().rxLine;
        options.stop = [&c] { return c.stopRequested(); };
        readGsmRxIndications(in, c.m_clock, options, [this](const std::string& progress) {
            ProgressMsg = progress;
            SyncRxEvent();
        });
    } catch (const std::exception& e) {
        c.status(stError, std::string(kRxException) + e.what());
    }
    c.m_comState = csReady;
}

// The number before the comma names the event, as the Windows version's thread
// message did. The sender is given without the blank after the comma.
void TKORSMSMessaging::TServerThread::SyncRxEvent() {
    std::size_t comma = ProgressMsg.find(',');
    if (comma == std::string::npos) return;
    int kind = atNumber(ProgressMsg.substr(0, comma), 0);
    std::string rest = ProgressMsg.substr(comma + 1);
    if (rest.starts_with(' ')) rest.erase(0, 1);
    switch (kind) {
        case 1: fire(ParentComp.OnPortOpen); break;
        case 2: fire(ParentComp.OnPortClosed); break;
        case 3: fire(ParentComp.OnTimeOut); break;
        case 4: {
            std::size_t a = rest.find('|');
            std::size_t b = a == std::string::npos ? a : rest.find('|', a + 1);
            if (b == std::string::npos) return;
            try {
                if (ParentComp.OnRxMsg)
                    ParentComp.OnRxMsg(ParentComp, rest.substr(0, a), rest.substr(a + 1, b - a - 1),
                                       rest.substr(b + 1));
            } catch (...) {
            }
            break;
        }
        default: break;
    }
}

}  // namespace nv
