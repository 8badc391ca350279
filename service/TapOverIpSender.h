#pragma once
// TAP over TCP for the engine: one pager per page, connected, logged in, sent
// and dropped; and the engine's TAP handlers, which turn a pager's events into
// log lines (the port threads bind them to their own pagers too).
//
// Mended against the Windows version, on purpose: the Nextel marker loses the "(N"
// that begins it, not the first "(N" anywhere in the text.
#include <filesystem>
#include <functional>
#include <string>

#include "foundation/Clock.h"

namespace nv {

class TKORAlpaPage;

using TapLogFn = std::function<void(const std::string&)>;

inline constexpr const char* kTapOverIpPortName = "TAP Over IP";

// A pager's progress event as the engine logs it; empty (nothing logged) for
// every event type that contains "Delivery".
std::string tapProgressLine(const std::string& portName, const std::string& eventMsg, const std::string& eventType);
// OnPageProgress, OnBusy, OnLineBusy, OnUnexpectedClose onto `pager`.
void bindTapEvents(TKORAlpaPage& pager, const TapLogFn& log);

struct TapOverIpPage {
    std::string address;  // TapOverIPAddr
    std::string port;     // TapOverIPPort, decimal text
    std::string PIN;
    std::string password;
    std::string message;
    int partLength = 0;       // MsgLength
    int messagesPerCall = 0;  // MaxMsgsPerCall
    bool reverseOrder = false;
    bool numericOnly = false;
    std::function<bool()> cancelled;  // stop or cancel: the pager's waits end
};

// The pager's SMSType for the vendor markers (foundation/PageRecord.h) in a
// TAP page's text: Aldiscon or Nextel; the "(N" that begins a Nextel marker
// goes. The port threads and TAP over TCP both set their pagers by it.
int applyTapSmsMarkers(std::string& message);

// SendTAPOverIP: true when the page was sent. The pager's events are the only
// log lines. `clock` drives the pager's waits.
bool sendTapOverIp(const TapOverIpPage& page, const std::filesystem::path& dataDir, Clock& clock,
                   const TapLogFn& log);

}  // namespace nv
