// The TNPP link, the encoder port and the GSM modem at start and stop, and the
// link's log lines.
#include "service/DeviceLinks.h"

#include "platform/KORCom32.h"
#include "protocols/KORTNPP.h"
#include "service/SmsSender.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// The link's event texts, as the engine logs them.
constexpr const char* kTnppActive = "[System] TNPP Services Active!";
constexpr const char* kTnppPortClosed = "[TNPP] TNPP Port Closed";
constexpr const char* kTnppLinkTest = "[TNPP] Link Test OK!";
constexpr const char* kTnppLinkError = "[TNPP] TNPP Link Lost Or Unable To Astablish Link";
constexpr const char* kTnppCrcError = "[TNPP] CRC Error: ";
constexpr const char* kTnppRemoteCancel = "[TNPP] Remote Caneled: ";
constexpr const char* kTnppSending = "[TNPP] Sending Packet: ";
constexpr const char* kTnppRequeued = "[TNPP] Packet Requeued: ";
constexpr const char* kTnppSent = "[TNPP] Packet Sent: ";
// A queued page the link gave up on: without this line it would vanish after
// the worker had already logged it as delivered.
constexpr const char* kTnppDropped = "[TNPP] Packet Dropped: ";

}  // namespace

void applyComIndex(TKORCom32& port, int comIndex) {
    if (comIndex >= 0 && comIndex < kComPortCount) port.SetComPort(static_cast<TComPortNumber>(comIndex));
}

void applySpeedIndex(TKORCom32& port, int speedIndex) {
    if (speedIndex >= br110 && speedIndex <= br115200) port.SetComPortSpeed(static_cast<TComPortBaudRate>(speedIndex));
}

void applyCharFormat(TKORCom32& port, const std::optional<ConfigCharFormat>& format) {
    if (!format) return;
    port.SetComPortDataBits(format->dataBits == 7 ? db7BITS : db8BITS);
    port.SetComPortParity(format->parity == 'E' ? ptEVEN : ptNONE);
    port.SetComPortStopBits(sb1BITS);
}

void applyFlowControl(TKORCom32& port, const std::optional<ConfigFlowControl>& flow) {
    if (!flow) return;
    const bool hw = *flow == ConfigFlowControl::RtsCts || *flow == ConfigFlowControl::Both;
    const bool sw = *flow == ConfigFlowControl::XonXoff || *flow == ConfigFlowControl::Both;
    port.SetComPortHwHandshaking(hw ? hhRTSCTS : hhNONE);
    port.SetComPortSwHandshaking(sw ? shXONXOFF : shNONE);
}

void applyTnppSection(TKORTNPP& link, const TnppSection& s) {
    link.DestAddr = static_cast<std::uint32_t>(s.DestAddr.value);
    link.SourceAddress = static_cast<std::uint32_t>(s.SourceAddr.value);
    link.BusyRspTout = s.BusyRtyTO.value;
    link.ENQRetries = s.ENQRetries.value;
    link.ENQRspTout = s.ENQTO.value;
    link.IdleRspTout = s.IdelTO.value;
    link.Retrycount = s.RetryCount.value;
    link.InterCharTime = s.IntCharTime.value;
    link.KeepAliveTout = s.KeepAliveTO.value;
    link.RSHoldRetry = s.RSHoldRetry.value;
    link.RSHoldTime = s.RSHoldTime.value;
    link.STXInit = s.STXInit;
    link.TransparentCRC = s.TransparentCRC;
    applyComIndex(link, s.UseCom);
    applyCharFormat(link, tnppComSettings(s.ComSettings));
    applyFlowControl(link, tnppHandShake(s.HandShake));
    applySpeedIndex(link, s.ComSpeed);
    link.SetDPSerNum(0);
}

void applyBrevicorSection(TKORCom32& port, const BrevicorPortSection& s) {
    applyComIndex(port, s.ComPort);
    applyCharFormat(port, portDataSettings(s.DataSettings));
    applyFlowControl(port, portFlowCtrl(s.FlowCtrl));
    applySpeedIndex(port, s.ComSpeed);
}

void bindTnppEvents(TKORTNPP& link, const DeviceLogFn& log) {
    auto line = [log](const char* text) { return [log, text] { log(text); }; };
    auto packetLine = [log](const char* head) {
        return [log, head](const std::string& packet) { log(head + packet); };
    };
    link.OnPortOpened = line(kTnppActive);
    link.OnPortClosed = line(kTnppPortClosed);
    link.OnLinkTest = line(kTnppLinkTest);
    link.OnLinkError = line(kTnppLinkError);
    link.OnCRCError = packetLine(kTnppCrcError);
    link.OnRmtCancel = packetLine(kTnppRemoteCancel);
    link.OnSendPacket = packetLine(kTnppSending);
    link.OnPacketRequeue = packetLine(kTnppRequeued);
    link.OnPacketSent = packetLine(kTnppSent);
    link.OnPacketDropped = packetLine(kTnppDropped);
}

// --- the engine's steps ---

void TNerivaleSvcMain::StartTNPPLink() {
    if (!KORTNPP1) KORTNPP1 = std::make_shared<TKORTNPP>(m_options.dataDir, m_clock);
    const TnppSection s = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service).tnpp();
    if (!s.EnableTNPP) return;
    WriteToLog(kStartingTnpp);
    applyTnppSection(*KORTNPP1, s);
    bindTnppEvents(*KORTNPP1, [this](const std::string& text) { WriteToLog(text); });
    KORTNPP1->OpenPort();
    if (!KORTNPP1->Connected()) WriteToLog(kTnppOpenFailed);
}

void TNerivaleSvcMain::StartBrevicorPort() {
    const BrevicorPortSection s = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service).brevicorPort();
    if (!s.Enabled) return;
    WriteToLog(kStartingBrevicor);
    applyBrevicorSection(SendBrevicor, s);
    if (!SendBrevicor.Connect()) WriteToLog(kBrevicorOpenFailed);
}

void TNerivaleSvcMain::StartSMSModem() {
    if (!KORSMSMessaging1) KORSMSMessaging1 = makeSmsModem(m_options.dataDir, m_clock);
    // The port threads' SMS pages, before any port thread starts; with [SMS]
    // off the sender itself says so.
    m_outbound->ctx.senders.SendSMSPage = [this](const NetworkSend& s, std::string&, std::string& reply,
                                                 std::vector<std::string>&) {
        return SendSMSPage(s.provider.SMSServiceProvider(), s.PIN, s.message, s.provider.SmsPduMode() ? 1 : 0,
                           s.provider.SmsComPort(), s.provider.Reserved1833(), reply, s.hold,
                           s.page.Recipient && s.page.Recipient->ReverseOrder());
    };
    const SmsSection s = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service).sms();
    if (!s.Enabled) return;
    sleepPumping(m_options.smsPause);
    const std::string status =
        openSmsModem(*KORSMSMessaging1, s, [this](const std::string& text) { WriteToLog(text); });
    WriteToLog("[SMS Status] " + status);
    sleepPumping(m_options.smsPause);
}

void TNerivaleSvcMain::CloseSMSModem() {
    if (KORSMSMessaging1) closeSmsModem(*KORSMSMessaging1);
}

void TNerivaleSvcMain::CloseDevices() {
    if (KORTNPP1 && KORTNPP1->Connected()) KORTNPP1->ClosePort();
    if (SendBrevicor.Connected()) SendBrevicor.Disconnect();
    CloseSMSModem();
}

}  // namespace nv
