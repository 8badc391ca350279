#pragma once
// One page to a carrier's SNPP server: the message cut into numbered parts,
// one whole SNPP dialogue (its own connection, through SnppClient) per part.
// It runs on the calling thread (a page worker or a port thread) and starts
// none. The engine's SendSNPPPage fills the request from the provider and the
// recipient; everything that goes on the wire is decided here.
//
// Mended against the Windows version, on purpose:
// - the cancel test is only read, never cleared: clearing the shared flag per
//   page undid an operator's cancel that other threads had not seen yet;
// - a part the server accepted counts as delivered even when a cancel comes
//   afterwards; a cancel only stops the parts not yet sent;
// - the reply to every command is read, PAGE's included, so replies never
//   drift one line behind their commands;
// - CR and LF never reach a command line (PIN, message, login, coverage);
// - a refused or unreachable host is logged with its reason;
// - a part length of 0 or less means no cutting, and the cutting window is at
//   least one character, so no part is ever empty;
// - a two-way message id is taken only from an 8xx or 9xx reply;
// - the pauses between parts end at a cancel (or stop) within a slice.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "protocols/SnppClient.h"

namespace nv {

// The time limits and pauses of one SNPP page; tests shorten them.
struct SnppTiming {
    std::chrono::milliseconds connectWait{5000};  // TCP, TLS and the greeting
    std::chrono::milliseconds replyWait{20000};   // each command's reply
    std::chrono::milliseconds quitWait{2000};     // QUIT's reply
    std::chrono::milliseconds partPause{250};     // after every dialogue
    std::chrono::milliseconds oneWayPause{2000};  // after each one-way part of several
};

// One page as the session sends it.
struct SnppRequest {
    std::string server;
    std::string port;      // decimal text, as the provider holds it
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
    std::string messageId;  // the id a status query ("MSTA " text) asks about

    SnppTiming timing;
    // Read throughout; true ends every wait and pause. Never cleared here.
    std::function<bool()> cancelled;
    // Gets every log line of the page ("[SNPP Connection] ...").
    std::function<void(const std::string&)> log;
};

struct SnppResult {
    bool delivered = false;  // every part was accepted
    std::string messageId;   // a two-way delivery's id; else the request's
    std::string reply;       // the server's last reply text, or the error text
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

class SnppSession {
public:
    // Opens one dialogue's connection on `client` and reads the greeting.
    using OpenFn = std::function<SnppClient::Result(SnppClient& client, const std::string& host, std::uint16_t port,
                                                    const TlsOptions& tls, std::chrono::milliseconds timeout)>;
    using PauseFn = std::function<void(std::chrono::milliseconds)>;

    // `ioClock` gives the connect and reply deadlines; `pauseClock` the pauses,
    // slept in slices that the request's cancel test ends.
    explicit SnppSession(Clock& ioClock = steadyClock(), Clock& pauseClock = steadyClock());

    // Tests and fuzz targets: the connection from a scripted stream (default: TCP).
    void setOpen(OpenFn open) { m_open = std::move(open); }
    // Tests: the pauses handed over instead of slept.
    void setPause(PauseFn pause) { m_pause = std::move(pause); }

    // SendSNPPPage's dialogue for every part.
    SnppResult send(const SnppRequest& request);

private:
    struct Call;
    bool runSession(Call& call, int part);
    bool connectionError(Call& call, const std::string& error);
    bool callAborted(Call& call);
    bool finishSend(Call& call, const std::string& answer, bool multi);
    void pause(const Call& call, std::chrono::milliseconds d);

    Clock& m_ioClock;
    Clock& m_pauseClock;
    OpenFn m_open;
    PauseFn m_pause;
};

}  // namespace nv
