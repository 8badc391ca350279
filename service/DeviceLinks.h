#pragma once
// The engine's serial devices set up from Config.Dat: the TNPP link and the
// encoder port (DeviceLinks.cpp), and the event handlers that turn the TNPP
// link's events into log lines. The GSM modem's set-up and handlers live with
// the SMS sender (SmsSender.h), the TAP pagers' handlers with the TAP-over-TCP
// sender (TapOverIpSender.h).
//
// Handlers run on the thread that raises the event (the link thread, a modem
// thread, a port thread); they only post a log line, so any thread will do.
#include <functional>
#include <optional>
#include <string>

#include "foundation/ConfigFile.h"

namespace nv {

class TKORCom32;
class TKORTNPP;

using DeviceLogFn = std::function<void(const std::string&)>;

// Texts of the set-up steps.
inline constexpr const char* kStartingTnpp = "[System] Starting TNPP Services!";
inline constexpr const char* kStartingBrevicor = "[System] Starting Brevicor Services!";
inline constexpr const char* kBrevicorOpenFailed = "[System] Error: Unable To Open Brevi Cor ComPort!";
// The link raises no event when its port does not open; this line says so.
inline constexpr const char* kTnppOpenFailed = "[System] Error: Unable To Open TNPP ComPort!";

// Port settings by their Config.Dat codings. A value outside its list leaves
// the component's setting as it is.
void applyComIndex(TKORCom32& port, int comIndex);
void applySpeedIndex(TKORCom32& port, int speedIndex);
void applyCharFormat(TKORCom32& port, const std::optional<ConfigCharFormat>& format);
void applyFlowControl(TKORCom32& port, const std::optional<ConfigFlowControl>& flow);

// [TNPP] onto the link, in the order of the key mapping, and DPSerNum 0.
void applyTnppSection(TKORTNPP& link, const TnppSection& s);
// [Brevicor Port] onto the encoder port: port, data settings, flow control, speed.
void applyBrevicorSection(TKORCom32& port, const BrevicorPortSection& s);

// The link's events as the engine logs them (OnPortOpened ... OnPacketDropped).
void bindTnppEvents(TKORTNPP& link, const DeviceLogFn& log);

}  // namespace nv
