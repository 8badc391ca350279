// A port thread's deliveries: TAP by the port's direct line, its modem or TCP,
// and the network senders for the other methods. Their tags, counters and
// statistics are the methods' rows in DeliveryMethods.h.
#include <algorithm>
#include <exception>

#include "foundation/FileUtil.h"
#include "protocols/WctpReply.h"
#include "service/Counters.h"
#include "service/DeliveryMethods.h"
#include "service/OutboundWorker.h"
#include "service/TapOverIpSender.h"

namespace nv {

namespace {

std::string tapStatusText(std::string result) {
    auto dash = result.find(" - ");
    if (dash != std::string::npos) result.erase(0, dash + 3);
    if (result.size() < 7 || !equalsNoCase(result.substr(0, 7), "Message")) result = "Message " + result;
    return result;
}

}  // namespace

void OutboundThread::Worker::dispatch(const Mode& mode) {
    if (!mode.provider) {
        noSender(mode);
        return;
    }
    if (m_provider == "E-Page") {
        sendEmail(mode);
        return;
    }
    const NetworkSenders& s = m_ctx.senders;
    switch (mode.provider->DeliveryType()) {
    case dtSmsModem: sendNetwork(kMethodSms, s.SendSMSPage, mode); break;
    case dtSnpp: sendNetwork(kMethodSnpp, s.SendSNPPPage, mode); break;
    case dtSmpp: sendNetwork(kMethodSmpp, s.SendSMPPPage, mode); break;
    case dtWctp: sendNetwork(kMethodWctp, s.SendWCTPPage, mode); break;
    case dtBrevicor:
    case dtTnpp: noSender(mode); break;
    default: sendTap(mode); break;
    }
}

// No sender here (encoder, TNPP, or a secondary record the page lacks): a
// failed attempt at once, without a line of its own; statistics when given up,
// as those methods' rows say (a missing record writes none).
void OutboundThread::Worker::noSender(const Mode& mode) { failRule(mode, "", true); }

// One send through a network sender; false with the exception's text, or with
// "No Sender For <method>" when none is set, as the reply.
bool OutboundThread::Worker::callSender(const DeliveryMethod& m, const NetworkSenderFn& fn, const NetworkSend& send,
                                        std::string& messageId, std::string& reply) {
    m_replyList.clear();
    // A sender's exception is a failed attempt like any other: the page is
    // never dropped without a line.
    try {
        if (fn) return fn(send, messageId, reply, m_replyList);
        reply = std::string("No Sender For ") + m.name;
    } catch (const std::exception& e) {
        reply = e.what();
    }
    return false;
}

void OutboundThread::Worker::sendEmail(const Mode& mode) {
    const DeliveryMethod& m = kMethodSmtp;
    TQueueRec& page = *m_batch.front();
    const MailPage mail = mailPage(*mode.provider, mode.PIN, page.MessageText, DeliveryPath::PortThread);
    NetworkSend send{page, *mode.provider, mail.to, mail.subject, mail.body, m_hold};
    std::string msgId, reply;
    const bool ok = callSender(m, m_ctx.senders.SendSMTPMessage, send, msgId, reply);
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    AttemptTexts a{"Message Sent", "", page.Recipient->UserID(), send.PIN, text};
    if (ok) {
        delivered(m, mode, a);
        return;
    }
    m_ctx.log(addresseeLine(m.port.transactionTag + portName(), a));
    // Its delivery-error line shows the text as sent, markers included.
    a.reply.clear();
    a.message = page.MessageText;
    failRule(mode, deliveryErrorLine(m.port.errorTag, a), m.port.stats);
}

void OutboundThread::Worker::sendNetwork(const DeliveryMethod& m, const NetworkSenderFn& fn, const Mode& mode) {
    TQueueRec& page = *m_batch.front();
    if (m_ctx.Cancelcall.load()) {
        m_end = true;
        return;
    }
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    NetworkSend send{page, *mode.provider, mode.PIN, "", text, m_hold};
    std::string reply;
    // SNPP reads and keeps the thread's message ID (a status query asks about
    // it); SMPP starts afresh; an SMS line shows none, the ID being an earlier
    // page's.
    if (&m == &kMethodSmpp) m_messageId.clear();
    const bool ok = callSender(m, fn, send, m_messageId, reply);
    AttemptTexts a{reply, &m == &kMethodSms ? std::string() : m_messageId, page.Recipient->UserID(), mode.PIN, text};
    if (&m == &kMethodWctp) {
        a.id = replyListValue(m_replyList, "trackingNumber");
        a.reply = wctpLogReply(DeliveryPath::PortThread, m_replyList, ok, page.MessageText, reply);
    }
    if (ok) {
        delivered(m, mode, a);
        return;
    }
    if (*m.port.transactionTag) m_ctx.log(addresseeLine(m.port.transactionTag + portName(), a));
    failRule(mode, deliveryErrorLine(m.port.errorTag, a), m.port.stats);
}

// A delivered page: its line, its counters and statistics, the done step.
void OutboundThread::Worker::delivered(const DeliveryMethod& m, const Mode& mode, const AttemptTexts& a) {
    m_ctx.log(resultLine(m.port.okTag + portName() + " ", a));
    countDelivered(
        m, DeliveryPath::PortThread, [this](int id) { m_ctx.counter(id, 0); },
        [this, &mode] { m_ctx.updateProviderStats(mode.provider); });
    doneStep();
}

// The pager's line for the provider. False (with the reason) when the port
// cannot serve the mode, such as a modem device beyond the modem lines.
bool OutboundThread::Worker::setUpLine(const ProviderRec& prov, std::string& why) {
    TKORAlpaPage& p = *m_pager;
    const PortRec& port = m_rec->Port;
    p.DTMFOnly = false;
    p.PhoneNumber = (port.DialPrefix() + prov.TerminalAccessNum()).substr(0, 50);
    p.Password = prov.Password();
    p.MsgLength = prov.MsgLength();
    p.MaxMessagesPerCall = prov.MaxMsgsPerCall();
    std::uint8_t type = prov.DeliveryType();
    if (type == dtTapDirect && port.IsDirect()) {
        p.DeviceOperationMode = opmaDirect;
        p.ComPort = static_cast<TAComPortNumber>(std::min<int>(port.ComPort(), pnaCOM20));
        p.ComPortSpeed = static_cast<TAComPortBaudRate>(std::min<int>(port.ComSpeed(), bra115200));
        // 0 is 7,E,1; 2 is 8,N,2 (the port editor's third choice); the rest 8,N,1.
        p.ComPortDataBits = port.ComData() == 0 ? dba7BITS : dba8BITS;
        p.ComPortParity = port.ComData() == 0 ? ptaEVEN : ptaNONE;
        p.ComPortStopBits = port.ComData() == 2 ? sba2BITS : sba1BITS;
        switch (port.ComFlow()) {
        case 0: p.ComPortHwHandshaking = hhaNONE; p.ComPortSwHandshaking = shaNONE; break;
        case 1: p.ComPortHwHandshaking = hhaRTSCTS; p.ComPortSwHandshaking = shaNONE; break;
        case 2: p.ComPortHwHandshaking = hhaNONE; p.ComPortSwHandshaking = shaXONXOFF; break;
        case 3: p.ComPortHwHandshaking = hhaRTSCTS; p.ComPortSwHandshaking = shaXONXOFF; break;
        default: break;
        }
    } else if (type == dtTapOverIp) {
        p.DeviceOperationMode = opmaTCP;
        p.TAPIPAddress = prov.TapOverIPAddr();
        p.TAPIPPort = prov.TapOverIPPort();
    } else if (type != dtTapDirect && !p.bConnected) {
        p.DeviceOperationMode = opmaModem;
        p.InitTap();
        int dev = static_cast<std::uint16_t>(port.TapiDevice());
        // Never another port's modem: device 0 is no stand-in for a missing one.
        if (dev >= p.NumDevs) {
            why = "[TAP Connection Error] " + portName() + " Modem Device Num. " + std::to_string(dev) +
                  " Not Found";
            return false;
        }
        p.DevIdToInitialize = static_cast<std::uint32_t>(dev);
        p.InitTap();
    }
    const std::string dir = m_ctx.dataDir.string();
    p.ModemSysConfig = dir + "/system.mcf";
    p.ModemAltConfig = dir + "/" + port.Modem() + ".mcf";
    p.ModemTermConfig = dir + "/" + prov.CompanyName() + ".mcf";
    return true;
}

void OutboundThread::Worker::dialFailed(const Mode& mode, const std::string& why) {
    const ProviderRec& prov = *mode.provider;
    if (!why.empty()) m_ctx.log(why);
    const char* tag = m_pager->DeviceOperationMode == opmaDirect ? "[TAPDC Connection Error] Unable To Connect To "
                      : m_pager->DeviceOperationMode == opmaTCP  ? "[TAPIP Connection Error]Unable To Connect To "
                                                                 : "[TAP Connection Error] Unable To Connect To ";
    m_ctx.log(tag + prov.CompanyName());
    hangUpAndWait(std::chrono::milliseconds(15));
    waitMs(m_ctx.timing.redialPause);
    TQueueRec& page = *m_batch.front();
    // The provider key belongs to the page's own copy of the provider record:
    // three failed connections are counted per page, and the third gives up
    // every page of that provider in this batch.
    const std::string key = m_hold ? ConnectionErrors::secondaryKey(page) : ConnectionErrors::primaryKey(page);
    if (m_ctx.errors.AddConnectionError(key)) {
        if (m_hold)
            SetPrimaryProvider();
        else
            SetSecondaryProvider(page);
        return;
    }
    const std::string name = prov.CompanyName();
    DeleteProviderFromQueue(name);
    m_ctx.errors.ClearConnectionError(key);
}

void OutboundThread::Worker::sendTap(const Mode& mode) {
    const DeliveryMethod& m = kMethodTap;
    TQueueRec& page = *m_batch.front();
    const ProviderRec& prov = *mode.provider;
    std::string why;
    bool up = false;
    try {
        up = setUpLine(prov, why) && (m_pager->bConnected || m_pager->Dial());
    } catch (const std::exception& e) {
        m_ctx.log("[System] " + portName() + " Dial Error: " + e.what());
        up = false;
    }
    if (!up) {
        dialFailed(mode, why);
        return;
    }
    TKORAlpaPage& p = *m_pager;
    m_ctx.errors.ClearConnectionError(m_hold ? ConnectionErrors::secondaryKey(page)
                                             : ConnectionErrors::primaryKey(page));
    p.SendReverseOrder = page.Recipient->ReverseOrder();
    p.ETapMsgID.clear();
    p.ETAPCommand = dcTap;
    p.NumericOnly = page.Recipient->NumericOnly();
    std::string msg = page.MessageText;
    p.SMSType = static_cast<TSMSType>(applyTapSmsMarkers(msg));
    bool sent = false, raised = false;
    try {
        sent = p.SendTextMessage(mode.PIN, msg);
    } catch (const std::exception& e) {
        m_ctx.log("[System] " + portName() + " Send Error: " + e.what());
        raised = true;
    }
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    const AttemptTexts a{tapStatusText(p.SendResult), p.ETapMsgID, page.Recipient->UserID(), mode.PIN, text};
    if (sent) {
        m_msgCount += p.MsgsSubmited;
        delivered(m, mode, a);
        return;
    }
    if (!raised && p.LastSendOutcome == SendOutcome::CallQuotaUsed) {
        // The page does not fit what is left of this call's quota: no failure,
        // it goes out on a fresh call (the batch loop dials again).
        m_ctx.log("[TAP Status] Max Messages Per Call Reached!");
        hangUpAndWait(std::chrono::milliseconds(50));
        waitMs(m_ctx.timing.redialPause);
        m_msgCount = 0;
        return;
    }
    m_ctx.log(resultLine(m.port.failTag + portName() + " ", a));
    // A send that raised writes no statistics when the page is given up.
    failRule(mode, "", m.port.stats && !raised);
}

}  // namespace nv
