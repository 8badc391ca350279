#pragma once
// The engine's SNPP sender: one page to a carrier's SNPP server, cut into
// numbered parts, one whole SNPP dialogue (its own connection) per part. It
// runs on the calling thread (a page worker or a port thread) and starts none.
//
// Mended against the Windows version, on purpose:
// - the shared cancel flag is only read, never cleared: clearing it per page
//   undid an operator's cancel that other threads had not seen yet;
// - a part the server accepted counts as delivered even when a cancel comes
//   afterwards; a cancel only stops the parts not yet sent;
// - the reply to every command is read, PAGE's included, so replies never
//   drift one line behind their commands;
// - CR and LF never reach a command line (PIN, message, login, coverage);
// - a refused or unreachable host is logged with its reason;
// - a part length of 0 or less means no cutting, and the cutting window is at
//   least one character, so no part is ever empty;
// - a two-way message id is taken only from an 8xx or 9xx reply.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Clock.h"

namespace nv {

// The time limits and pauses of one SNPP page; tests shorten them.
struct SnppTiming {
    std::chrono::milliseconds connectWait{5000};  // TCP, TLS and the greeting
    std::chrono::milliseconds replyWait{20000};   // each command's reply
    std::chrono::milliseconds quitWait{2000};     // QUIT's reply
    std::chrono::milliseconds partPause{250};     // after every dialogue
    std::chrono::milliseconds oneWayPause{2000};  // after each one-way part of several
};

// The arguments of SendSNPPPage, as the provider and recipient records give them.
struct SnppPage {
    std::string server;
    std::string port;      // decimal text
    std::string PIN;
    std::string login;     // "user password"; blank: no LOGI
    std::string coverage;  // empty: no COVE
    std::string callerId;  // kept for the record; nothing of it goes on the wire
    std::string message;
    int partLength = 0;
    std::int32_t secureMode = -1;  // -1 or 3: plain TCP; 0, 1, 2: TLS from the start
    bool twoWay = false;
    bool reverse = false;
    bool numericOnly = false;
};

inline constexpr int kSnppMaxParts = 20;
// Room left in each part for the label and the mark.
inline constexpr int kSnppMarkReserve = 20;

// The parts of `message` for a part length; `lastCut` receives the text of the
// last part cut before its mark ("" when nothing was cut). At most 20 parts;
// what does not fit in them is dropped.
std::vector<std::string> splitSnppMessage(std::string message, int partLength, std::string& lastCut);

// True for the secure-mode values that mean TLS.
bool snppUsesTls(std::int32_t secureMode);

class SnppSender {
public:
    using LogFn = std::function<void(const std::string&)>;
    using CancelTest = std::function<bool()>;
    using SleepFn = std::function<void(std::chrono::milliseconds)>;

    // `clock` gives the I/O deadlines, `sleep` the pauses between parts.
    SnppSender(LogFn log, CancelTest cancelled, SnppTiming timing = {}, SleepFn sleep = {},
               Clock& clock = steadyClock());

    // SendSNPPPage: true when every part was accepted. `messageId` in: the id a
    // status query ("MSTA " text) asks about; out: a two-way delivery's id.
    // `reply`: the server's last reply text, or the error text.
    bool send(const SnppPage& page, std::string& messageId, std::string& reply);

private:
    struct Call;
    bool runSession(Call& call, int part);
    bool connectionError(Call& call, const std::string& error);
    bool callAborted(Call& call);
    bool finishSend(Call& call, const std::string& answer, bool multi);
    void pause(std::chrono::milliseconds d);

    LogFn m_log;
    CancelTest m_cancelled;
    SnppTiming m_timing;
    SleepFn m_sleep;
    Clock& m_clock;
};

}  // namespace nv
