#pragma once
// The engine's SMS pages through the GSM modem: the modem's set-up from [SMS]
// at start with its status line, its log handler, and SendSMSPage, which cuts
// a page into labelled parts and hands them to the modem one by one.
//
// Mended against the Windows version, on purpose:
// - the cut leaves room for the label and the mark: every part, as sent, fits
//   one SMS of 160 characters, so the modem never cuts a part again;
// - the not-open reply names the port of [SMS] COMPort (the provider's port
//   byte is never set by the editors);
// - the shared cancel flag is left alone;
// - the parts of one page hold the modem, so two pages never interleave.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/ConfigFile.h"

namespace nv {

class TKORSMSMessaging;

using SmsLogFn = std::function<void(const std::string&)>;

inline constexpr const char* kSmsNotEnabled = "SMS Messaging Not Enabled!";
inline constexpr int kSmsPageMaxParts = 20;

// The parts of a page with their marks ("  (CONT.)", " (END)"), before their
// labels. Text of 158 characters or less is one part as it is.
std::vector<std::string> splitSmsPage(const std::string& message);
// "(i of n)  " before the part when n > 1.
std::string labelSmsPart(int i, int n, const std::string& part);

// The status line text after the modem was opened ([SMS Status] follows it).
std::string smsGatewayStatus(bool opened, std::uint8_t sysReg, const std::string& networkName);

// [SMS] onto the modem: port, speed, send mode, no reception.
void applySmsSection(TKORSMSMessaging& modem, const SmsSection& s);
// OnStatus: "[SMS Status]" + text, or "[SMS Error] " + text.
void bindSmsEvents(TKORSMSMessaging& modem, const SmsLogFn& log);

// For the engine, which does not include the modem's header: make, open
// (settings, handler, OpenPort; the status text) and close.
std::shared_ptr<TKORSMSMessaging> makeSmsModem(const std::filesystem::path& dataDir, Clock& clock);
std::string openSmsModem(TKORSMSMessaging& modem, const SmsSection& s, const SmsLogFn& log);
void closeSmsModem(TKORSMSMessaging& modem);

struct SmsPageArgs {
    std::string smsCentre;
    std::string PIN;
    std::string message;
    std::uint8_t smsMode = 0;  // 0 text mode, any other PDU mode
    bool reverseOrder = false;
};

// SendSMSPage against one modem (null: none). [SMS] is read from `dataDir` for
// every page. `pause` waits between parts.
class SmsPageSender {
public:
    using PauseFn = std::function<void(std::chrono::milliseconds)>;
    SmsPageSender(TKORSMSMessaging* modem, std::filesystem::path dataDir, SmsLogFn log, PauseFn pause);

    bool send(const SmsPageArgs& page, std::string& reply);

private:
    bool sendBlock(const SmsPageArgs& page, const std::vector<std::string>& parts, int i, std::string& reply);

    TKORSMSMessaging* m_modem;
    std::filesystem::path m_dataDir;
    SmsLogFn m_log;
    PauseFn m_pause;
};

}  // namespace nv
