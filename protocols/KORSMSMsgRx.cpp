// The receive thread of the GSM SMS sender: reads "+CMT:" indications while
// EnableRXMsgs is set. Nothing it runs may throw out of the thread.
#include <exception>

#include "protocols/GsmAtReply.h"
#include "protocols/KORSMSMsg.h"

namespace nv {
using std::chrono::milliseconds;

namespace {

constexpr const char* kRxException = "RX Data Exception: ";
constexpr milliseconds kRxPoll{10};

}  // namespace

void TKORSMSMessaging::TServerThread::start() { m_thread = std::thread([this] { run(); }); }

void TKORSMSMessaging::TServerThread::join() {
    if (m_thread.joinable()) m_thread.join();
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
    // What the modem said after the last initialisation answer is no message.
    std::this_thread::sleep_for(milliseconds(2));
    {
        std::lock_guard lock(ParentComp.m_modem);
        if (ParentComp.m_comState == csReady) ParentComp.FlushRXBuf();
    }
    while (!ParentComp.stopRequested()) {
        std::this_thread::sleep_for(kRxPoll);
        if (ParentComp.stopRequested()) break;
        if (ParentComp.m_enableRx) CheckRxMsg();
    }
    fire(ParentComp.OnPortClosed);
    ParentComp.m_threadStarted = false;
}

// Reads "+CMT:" indications (text mode): a header line with the sender and
// the time stamp in double quotes, then the message on the next line.
void TKORSMSMessaging::TServerThread::CheckRxMsg() {
    TKORSMSMessaging& c = ParentComp;
    if (!c.Connected()) return;
    std::unique_lock lock(c.m_modem, std::try_to_lock);
    if (!lock.owns_lock() || c.m_comState != csReady) return;
    c.m_comState = csRX;
    try {
        std::string buf = c.ReadBuffer();
        std::size_t plus = buf.find('+');
        if (plus != std::string::npos) {
            buf.erase(0, plus);
            while (buf.starts_with("+CMT:") && readIndication(buf)) {
                plus = buf.find('+');
                if (plus == std::string::npos) break;
                buf.erase(0, plus);
            }
        }
    } catch (const std::exception& e) {
        c.status(stError, std::string(kRxException) + e.what());
    }
    c.m_comState = csReady;
}

// Takes one indication off the front of buf; false when its text never came.
bool TKORSMSMessaging::TServerThread::readIndication(std::string& buf) {
    TKORSMSMessaging& c = ParentComp;
    const milliseconds bound = c.timings().rxLine;
    auto deadline = c.m_clock.now() + bound;
    for (;;) {
        std::size_t headerEnd = buf.find_first_of("\r\n");
        std::size_t textStart =
            headerEnd == std::string::npos ? std::string::npos : buf.find_first_not_of("\r\n", headerEnd);
        std::size_t textEnd =
            textStart == std::string::npos ? std::string::npos : buf.find_first_of("\r\n", textStart);
        if (textEnd != std::string::npos) {
            // Sender first, time stamp last: with a quoted alpha field between
            // them the second pair would be the alpha, not the time.
            std::vector<std::string> fields = atQuotedFields(buf.substr(0, headerEnd));
            std::string sender = fields.empty() ? std::string() : fields[0];
            std::string stamp = fields.size() >= 3 ? fields.back() : fields.size() == 2 ? fields[1] : std::string();
            ProgressMsg = "4, " + sender + "|" + stamp + "|" + buf.substr(textStart, textEnd - textStart);
            buf.erase(0, textEnd);
            SyncRxEvent();
            return true;
        }
        if (c.stopRequested() || c.m_clock.now() >= deadline) return false;
        c.m_clock.sleepFor(milliseconds(5));
        buf += c.ReadBuffer();
    }
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
