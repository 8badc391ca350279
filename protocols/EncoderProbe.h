#pragma once
// The port tester's dialogue with a serial paging encoder: one frame out, the
// echo and the status reply back, within one answer wait.
//
// Input left over from an earlier frame (a late reply, the rest of an echo) is
// discarded before the frame goes out, so no reply is taken for the wrong
// recipient. The outcome is decided on the encoder's reply, never on the echo
// of our own frame.
#include <chrono>
#include <string>
#include <string_view>

#include "foundation/Clock.h"

namespace nv {

class TKORCom32;

struct ProbeResult {
    enum class Kind {
        Accepted,    // SOH ACK ... EOT
        Refused,     // SOH NAK or the error byte, a code, EOT
        NoResponse,  // no whole reply within the wait (or the frame could not be written)
        Cancelled    // the port was closed while waiting
    };
    Kind kind = Kind::NoResponse;
    std::string code;  // Refused: the code as the encoder sent it
};

inline constexpr std::chrono::milliseconds kProbeAnswerWait{30000};

// Sends `frame` on the open `port` and reads until the reply's EOT, the end of
// `wait` or the port's closing (Disconnect from another thread ends the wait).
ProbeResult probeEncoder(TKORCom32& port, std::string_view frame,
                         std::chrono::milliseconds wait = kProbeAnswerWait, Clock& clock = steadyClock());

}  // namespace nv
