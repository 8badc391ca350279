#pragma once
// The engine's SMPP sender: one page to a carrier's short-message centre by
// SMPP 3.4 or CIMD2, cut into numbered parts, one connection and bind per part.
// It runs on the calling thread (a page worker or a port thread).
//
// Mended against the Windows version, on purpose:
// - the shared cancel flag is only read, never cleared per page;
// - a cancel during the connect wait fails the part; nothing is submitted on a
//   dropped connection, and a part the centre accepted counts as delivered;
// - a status query asks about the id it was given (the text after "MSTA "),
//   not an id cleared at the start of the page.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Clock.h"

namespace nv {

struct SmppTiming {
    std::chrono::milliseconds connectWait{5000};    // TCP, TLS and the bind
    std::chrono::milliseconds responseWait{25000};  // submit and query answers
    std::chrono::milliseconds partPause{1500};      // between the parts of a page
    std::chrono::milliseconds inPartPause{2000};    // inside each part of several
};

struct SmppPage {
    std::string server;
    std::string port;  // decimal text; blank means 2775
    std::string PIN;
    std::string user;
    std::string password;
    std::string message;
    std::int32_t secureMode = -1;  // -1 plain TCP, anything else TLS
    std::int32_t protocol = 0;     // 0 SMPP 3.4, 1 CIMD2
    bool reverse = false;
    bool numericOnly = false;
};

inline constexpr int kSmppPartLength = 153;
inline constexpr int kSmppMaxParts = 20;

// The parts of `message`; `lastCut` gets the last part cut before its mark.
std::vector<std::string> splitSmppMessage(std::string message, std::string& lastCut);

// The state text a status report sets; empty for a state that leaves it unchanged.
std::string smppStateText(int messageState);

class SmppSender {
public:
    using LogFn = std::function<void(const std::string&)>;
    using CancelTest = std::function<bool()>;
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    SmppSender(LogFn log, CancelTest cancelled, SmppTiming timing = {}, SleepFn sleep = {},
               Clock& clock = steadyClock());

    // SendSMPPPage: true when every part was submitted. `messageId` in: the id a
    // status query asks about when the text gives none; out: the last part's id.
    bool send(const SmppPage& page, std::string& messageId, std::string& reply);

private:
    struct Call;
    bool runSession(Call& call, int part);
    bool connectionError(Call& call, const std::string& error);
    void pause(std::chrono::milliseconds d);

    LogFn m_log;
    CancelTest m_cancelled;
    SmppTiming m_timing;
    SleepFn m_sleep;
    Clock& m_clock;
};

}  // namespace nv
