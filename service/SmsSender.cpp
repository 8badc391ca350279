#include "service/SmsSender.h"

#include <algorithm>
#include <exception>

#include "protocols/KORSMSMsg.h"
#include "service/DeviceLinks.h"

namespace nv {

namespace {

constexpr const char* kNoMessage = "No Message To Send!";
constexpr const char* kSendError = "Error Sending SMS Message!";
constexpr const char* kSendErrorWith = "Error Sending SMS Message: ";
constexpr const char* kConnectionError = "[SMS Connection Error] Error Sending Message ID: ";
constexpr const char* kSendingBlock = "[SMS Delivery Status] Sending Block ";

constexpr std::size_t kSinglePartMax = 158;
constexpr std::size_t kCutWindow = 136;  // 158 - 22
constexpr std::size_t kSmsChars = 160;
constexpr const char* kContMark = "  (CONT.)";
constexpr const char* kEndMark = " (END)";
constexpr std::chrono::milliseconds kPartPause{1500};
constexpr std::chrono::milliseconds kExceptionPause{1000};

std::string label(int i, int n) { return "(" + std::to_string(i) + " of " + std::to_string(n) + ")  "; }

bool blank(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](unsigned char c) { return c <= ' '; });
}

}  // namespace

std::vector<std::string> splitSmsPage(const std::string& message) {
    if (message.size() <= kSinglePartMax) return {message};
    std::vector<std::string> parts;
    std::string rest = message;
    while (parts.size() < static_cast<std::size_t>(kSmsPageMaxParts)) {
        // The rest ends the page once it fits one SMS with its label and mark.
        const int n = static_cast<int>(parts.size()) + 1;
        const std::size_t lastFits = kSmsChars - std::string(kEndMark).size() - label(n, n).size();
        if (!parts.empty() && rest.size() <= lastFits) {
            parts.push_back(rest + kEndMark);
            break;
        }
        // Cut after the last blank of the window, or at the window's end.
        std::size_t cut = kCutWindow;
        const std::size_t b = rest.substr(0, kCutWindow).rfind(' ');
        if (b != std::string::npos) cut = b + 1;
        parts.push_back(rest.substr(0, cut) + kContMark);
        rest.erase(0, cut);
    }
    return parts;
}

std::string labelSmsPart(int i, int n, const std::string& part) { return n > 1 ? label(i, n) + part : part; }

std::string smsGatewayStatus(bool opened, std::uint8_t sysReg, const std::string& networkName) {
    if (!opened) return "SMS Gateway Off-Line, Unable To Open Port";
    switch (sysReg) {
    case srIdle: return "SMS Gateway Off-Line, No Service";
    case srRegistered: return "SMS Gateway On-Line with " + networkName;
    case srScanning: return "SMS Gateway Off-Line, Scanning";
    case srDenied: return "SMS Gateway Off-Line, Scanning";
    case srRoaming: return "SMS Gateway On-Line Roaming with " + networkName;
    default: return "SMS Gateway Off-Line, Unknown";
    }
}

void applySmsSection(TKORSMSMessaging& modem, const SmsSection& s) {
    applyComIndex(modem, s.COMPort);
    applySpeedIndex(modem, s.COMSpeed);
    if (s.Mode == 0) modem.SetSendMode(smText);
    if (s.Mode == 1) modem.SetSendMode(smPDU);
    modem.SetEnableRXMsgs(false);
}

void bindSmsEvents(TKORSMSMessaging& modem, const SmsLogFn& log) {
    modem.OnStatus = [log](TKORSMSMessaging&, tStatusType status, const std::string& msg) {
        if (status == stStatus) log("[SMS Status]" + msg);
        else if (status == stError) log("[SMS Error] " + msg);
    };
}

SmsPageSender::SmsPageSender(TKORSMSMessaging* modem, std::filesystem::path dataDir, SmsLogFn log, PauseFn pause)
    : m_modem(modem), m_dataDir(std::move(dataDir)), m_log(std::move(log)), m_pause(std::move(pause)) {}

bool SmsPageSender::send(const SmsPageArgs& page, std::string& reply) {
    const SmsSection cfg = ConfigFile::inDataDirectory(m_dataDir, ConfigSide::Service).sms();
    if (!cfg.Enabled) {
        reply = kSmsNotEnabled;
        return false;
    }
    if (page.message.empty()) {
        reply = kNoMessage;
        m_log(kConnectionError + page.smsCentre + " PIN: " + page.PIN + " Msg: " + reply);
        return false;
    }
    const std::vector<std::string> parts = splitSmsPage(page.message);
    if (!m_modem || !m_modem->Connected()) {
        reply = "SMS COM" + std::to_string(cfg.COMPort + 1) + ": Not Open!";
        return false;
    }
    const int n = static_cast<int>(parts.size());
    // Port threads and workers share the modem: one page's parts go out together.
    auto hold = m_modem->lockModem();
    for (int k = 0; k < n; ++k) {
        const int i = page.reverseOrder ? n - k : k + 1;
        if (!sendBlock(page, parts, i, reply)) return false;
        if (n > 1) m_pause(kPartPause);
    }
    return true;
}

// SendSMSBlocks: part i of n.
bool SmsPageSender::sendBlock(const SmsPageArgs& page, const std::vector<std::string>& parts, int i,
                              std::string& reply) {
    const int n = static_cast<int>(parts.size());
    m_log(kSendingBlock + std::to_string(i) + " of " + std::to_string(n));
    const std::string text = labelSmsPart(i, n, parts[static_cast<std::size_t>(i - 1)]);
    try {
        const int result = page.smsMode == 0
                               ? m_modem->SendSMSTextMode(page.smsCentre, page.PIN, text, "", false, reply)
                               : m_modem->SendSMSPDUMode(page.smsCentre, page.PIN, text, false, reply, true);
        if (result >= 0) return true;
        if (blank(reply)) reply = kSendError;
        return false;
    } catch (const std::exception& e) {
        reply = kSendErrorWith + std::string(e.what());
        m_pause(kExceptionPause);
        return false;
    }
}

std::shared_ptr<TKORSMSMessaging> makeSmsModem(const std::filesystem::path& dataDir, Clock& clock) {
    return std::make_shared<TKORSMSMessaging>(dataDir, clock);
}

std::string openSmsModem(TKORSMSMessaging& modem, const SmsSection& s, const SmsLogFn& log) {
    applySmsSection(modem, s);
    bindSmsEvents(modem, log);
    const bool opened = modem.OpenPort();
    return smsGatewayStatus(opened, modem.SysReg(), modem.NetworkName());
}

void closeSmsModem(TKORSMSMessaging& modem) { modem.ClosePort(); }

}  // namespace nv
