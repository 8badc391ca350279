#pragma once
// One page to a carrier's short-message centre by SMPP 3.4 or CIMD2: the
// message cut into numbered parts, one connection and bind (through
// SmppClient) per part. It runs on the calling thread (a page worker or a port
// thread). The engine's SendSMPPPage fills the request from the provider and
// the recipient; everything that goes on the wire is decided here.
//
// Mended against the Windows version, on purpose:
// - the cancel test is only read, never cleared per page;
// - a cancel during the connect wait fails the part; nothing is submitted on a
//   dropped connection, and a part the centre accepted counts as delivered;
// - a status query asks about the id it was given (the text after "MSTA "),
//   not an id cleared at the start of the page;
// - the pauses between and inside parts end at a cancel (or stop) within a slice.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "protocols/SmppClient.h"

namespace nv {

struct SmppTiming {
    std::chrono::milliseconds connectWait{5000};    // TCP, TLS and the bind
    std::chrono::milliseconds responseWait{25000};  // submit and query answers
    std::chrono::milliseconds partPause{1500};      // between the parts of a page
    std::chrono::milliseconds inPartPause{2000};    // inside each part of several
};

// One page as the session sends it.
struct SmppRequest {
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
    std::string messageId;  // the id a status query asks about when the text gives none

    SmppTiming timing;
    // Read throughout; true ends every wait and pause. Never cleared here.
    std::function<bool()> cancelled;
    // Gets every log line of the page ("[SMPP Connection] ...").
    std::function<void(const std::string&)> log;
};

struct SmppResult {
    bool delivered = false;  // every part was submitted (or the query answered)
    std::string messageId;   // the last submitted part's id; empty when nothing could be sent
    std::string reply;       // "Message Sent Successfully", a status text, or the error text
};

inline constexpr int kSmppPartLength = 153;
inline constexpr int kSmppMaxParts = 20;

// The parts of `message`; `lastCut` gets the last part cut before its mark.
std::vector<std::string> splitSmppMessage(std::string message, std::string& lastCut);

// The state text a status report sets; empty for a state that leaves it unchanged.
std::string smppStateText(int messageState);

class SmppSession {
public:
    // Opens one part's connection on `client` and binds (default: TCP, TLS by the settings).
    using OpenFn = std::function<bool(SmppClient& client, std::chrono::milliseconds timeout)>;
    using PauseFn = std::function<void(std::chrono::milliseconds)>;

    // `ioClock` gives the connect and answer deadlines; `pauseClock` the pauses,
    // slept in slices that the request's cancel test ends.
    explicit SmppSession(Clock& ioClock = steadyClock(), Clock& pauseClock = steadyClock());

    // Tests and fuzz targets: the connection from a scripted stream.
    void setOpen(OpenFn open) { m_open = std::move(open); }
    // Tests: the pauses handed over instead of slept.
    void setPause(PauseFn pause) { m_pause = std::move(pause); }

    // SendSMPPPage's sessions for every part.
    SmppResult send(const SmppRequest& request);

private:
    struct Call;
    bool runSession(Call& call, int part);
    bool connectionError(Call& call, const std::string& error);
    void pause(const Call& call, std::chrono::milliseconds d);

    Clock& m_ioClock;
    Clock& m_pauseClock;
    OpenFn m_open;
    PauseFn m_pause;
};

}  // namespace nv
