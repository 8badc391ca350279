#include "service/TapOverIpSender.h"

#include "foundation/PageRecord.h"
#include "protocols/KORAlphaPage.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

constexpr const char* kDialUp = "[Dial-up Connection]";

}  // namespace

std::string tapProgressLine(const std::string& portName, const std::string& eventMsg, const std::string& eventType) {
    if (eventType.find("Delivery") != std::string::npos) return {};
    return "[TAP " + eventType + "] " + portName + " " + eventMsg;
}

void bindTapEvents(TKORAlpaPage& pager, const TapLogFn& log) {
    pager.OnPageProgress = [log](TKORAlpaPage& sender, const std::string& msg, const std::string& type) {
        std::string line = tapProgressLine(sender.FPortName, msg, type);
        if (!line.empty()) log(line);
    };
    pager.OnBusy = [log](TKORAlpaPage& sender) {
        log(std::string(kDialUp) + " " + sender.FPortName + " Dialed Number Busy");
    };
    pager.OnLineBusy = [log](TKORAlpaPage& sender) {
        log(std::string(kDialUp) + " " + sender.FPortName + " Port In Use By Another Application!");
    };
    // No blank before the port name in this one.
    pager.OnUnexpectedClose = [log](TKORAlpaPage& sender) {
        log(std::string(kDialUp) + sender.FPortName + " Port Has Been Unexpectedly Closed!");
    };
}

int applyTapSmsMarkers(std::string& message) {
    TSMSType type = stNone;
    if (message.find(kAldisconMarker) != std::string::npos) type = stAldiscon;
    const std::size_t nextel = message.find(kNextelMarker);
    if (nextel != std::string::npos) {
        type = stNextel;
        message.erase(nextel, 2);
    }
    return type;
}

bool sendTapOverIp(const TapOverIpPage& page, const std::filesystem::path& dataDir, Clock& clock,
                   const TapLogFn& log) {
    TKORAlpaPage pager(dataDir, clock);
    pager.DeviceOperationMode = opmaTCP;
    pager.FPortName = kTapOverIpPortName;
    bindTapEvents(pager, log);
    pager.ShowDialDialog = false;
    pager.ShowErrorDialogs = false;
    pager.ShowNoModemsDialog = false;
    pager.TAPIPAddress = page.address;
    pager.TAPIPPort = page.port;
    pager.SendReverseOrder = page.reverseOrder;
    pager.SMSType = stNone;
    pager.ETapMsgID.clear();
    pager.ETAPCommand = dcTap;
    pager.NumericOnly = page.numericOnly;
    pager.Password = page.password;
    pager.MsgLength = page.partLength;
    pager.MaxMessagesPerCall = page.messagesPerCall;
    pager.CancelRequested = page.cancelled;

    std::string message = page.message;
    pager.SMSType = static_cast<TSMSType>(applyTapSmsMarkers(message));

    bool sent = false;
    try {
        if (pager.Dial()) sent = pager.SendTextMessage(page.PIN, message);
    } catch (const std::exception& e) {
        log(std::string("[System] TAPIP Send Error: ") + e.what());
        sent = false;
    }
    try {
        pager.Drop();
    } catch (const std::exception& e) {
        log(std::string("[System] TAPIP Drop Error: ") + e.what());
    }
    return sent;
}

// --- the engine's side ---

void TNerivaleSvcMain::BindTapEvents(TKORAlpaPage& pager) {
    bindTapEvents(pager, [this](const std::string& text) { WriteToLog(text); });
}

bool TNerivaleSvcMain::SendTAPOverIP(const std::string& address, const std::string& port, const std::string& PIN,
                                     const std::string& password, const std::string& message, int partLength,
                                     int messagesPerCall, bool reverseOrder, bool numericOnly) {
    TapOverIpPage page{address, port, PIN, password, message, partLength, messagesPerCall, reverseOrder, numericOnly,
                       [this] { return Cancelcall.load() || Terminate.load() || m_workers.stopFlag().load(); }};
    return sendTapOverIp(page, m_options.dataDir, m_clock, [this](const std::string& text) { WriteToLog(text); });
}

}  // namespace nv
