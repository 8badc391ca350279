// A port thread's deliveries: TAP by the port's direct line, its modem or TCP,
// and the network senders for the other methods.
#include <algorithm>
#include <exception>

#include "foundation/FileUtil.h"
#include "service/Counters.h"
#include "service/OutboundWorker.h"

namespace nv {

namespace {

enum Method { kSmtp, kSms, kSnpp, kSmpp, kWctp };

// The texts and counters of each network method, in the order they are used.
struct MethodTexts {
    const char* name;
    const char* okTag;
    const char* transactionTag;  // "" = none
    const char* errorTag;
    int firstCounter, secondCounter;
};
const MethodTexts kMethods[] = {
    {"SMTP", "[SMTP Delivery OK] ", "[SMTP Transaction]", "[SMTP Delivery Error]", kCtEPages, kCtTransaction},
    {"SMS", "[SMS Delivery OK]", "[SMS Transaction] ", "[SMS Delivery Error]", kCtTransaction, kCtSMS},
    {"SNPP", "[SNPP Delivery OK] ", "[SNPP Transaction]", "[SNPP Delivery Error] ", kCtTransaction, kCtSNPP},
    {"SMPP", "[SMPP Delivery OK] ", "[SMPP Transaction]", "[SMPP Delivery Error] ", kCtTransaction, kCtSMPP},
    {"WCTP", "[WCTP Delivery OK] ", "", "[WCTP Delivery Error] ", kCtTransaction, kCtWCTP},
};

const char* const kStatusRead = "Message Delivered and Read by Recipient";
const char* const kStatusDelivered = "Message Delivered, Awaiting Reply";
const char* const kStatusQueued = "Message Queued; Awaiting Delivery";

std::string replyValue(const std::vector<std::string>& list, const std::string& name) {
    for (const auto& line : list) {
        auto eq = line.find('=');
        if (eq != std::string::npos && equalsNoCase(line.substr(0, eq), name)) return line.substr(eq + 1);
    }
    return {};
}

// A status query is a text that begins with "MSTA "; elsewhere it is text.
bool isStatusQuery(const std::string& message) { return message.rfind("MSTA ", 0) == 0; }

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
    switch (mode.provider->DeliveryType()) {
    case dtSmsModem: sendNetwork(kSms, mode); break;
    case dtSnpp: sendNetwork(kSnpp, mode); break;
    case dtSmpp: sendNetwork(kSmpp, mode); break;
    case dtWctp: sendNetwork(kWctp, mode); break;
    case dtBrevicor:
    case dtTnpp: noSender(mode); break;
    default: sendTap(mode); break;
    }
}

// No sender here (encoder, TNPP, or a secondary record the page lacks): a
// failed attempt at once, without a line of its own.
void OutboundThread::Worker::noSender(const Mode& mode) { failRule(mode, "", true); }

void OutboundThread::Worker::sendEmail(const Mode& mode) {
    const MethodTexts& t = kMethods[kSmtp];
    TQueueRec& page = *m_batch.front();
    const ProviderRec& prov = *mode.provider;
    NetworkSend send{page, prov, mode.PIN, "", page.MessageText, m_hold};
    if (prov.DeliveryType() == dtEPageSubject) {
        send.subject = mode.PIN;
        send.PIN = prov.SNPPServer();
    } else if (mode.PIN.find('@') == std::string::npos) {
        send.PIN = mode.PIN + prov.SNPPServer();
    }
    std::string msgId, reply;
    bool ok = false;
    m_replyList.clear();
    try {
        if (m_ctx.senders.SendSMTPMessage)
            ok = m_ctx.senders.SendSMTPMessage(send, msgId, reply, m_replyList);
        else
            reply = std::string("No Sender For ") + t.name;
    } catch (const std::exception& e) {
        reply = e.what();
    }
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    const std::string who = page.Recipient->UserID();
    if (ok) {
        m_ctx.log(std::string(t.okTag) + portName() + " Message Sent ID:  - " + who + " PIN:" + send.PIN +
                  " Msg: " + text);
        m_ctx.counter(t.firstCounter, 0);
        m_ctx.counter(t.secondCounter, 0);
        doneStep();
        return;
    }
    m_ctx.log(std::string(t.transactionTag) + portName() + " Error Sending Message To \"" + who + " " + send.PIN +
              "\"");
    failRule(mode, std::string(t.errorTag) + " ID:  - " + who + " PIN: " + send.PIN + " Msg: " + page.MessageText,
             false);
}

void OutboundThread::Worker::sendNetwork(int method, const Mode& mode) {
    const MethodTexts& t = kMethods[method];
    TQueueRec& page = *m_batch.front();
    if (m_ctx.Cancelcall.load()) {
        m_end = true;
        return;
    }
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    NetworkSend send{page, *mode.provider, mode.PIN, "", text, m_hold};
    const NetworkSenderFn* fn = method == kSms    ? &m_ctx.senders.SendSMSPage
                                : method == kSnpp ? &m_ctx.senders.SendSNPPPage
                                : method == kSmpp ? &m_ctx.senders.SendSMPPPage
                                                  : &m_ctx.senders.SendWCTPPage;
    std::string reply;
    bool ok = false;
    m_replyList.clear();
    if (method == kSmpp) m_messageId.clear();
    // A sender's exception is a failed attempt like any other: the page is
    // never dropped without a line.
    try {
        if (*fn)
            ok = (*fn)(send, m_messageId, reply, m_replyList);
        else
            reply = std::string("No Sender For ") + t.name;
    } catch (const std::exception& e) {
        reply = e.what();
    }
    std::string msgId = method == kSms ? std::string() : m_messageId;
    if (method == kWctp) {
        msgId = replyValue(m_replyList, "trackingNumber");
        if (ok && isStatusQuery(page.MessageText)) {
            reply = replyValue(m_replyList, "Content");
            std::string status = kStatusQueued;
            for (const auto& line : m_replyList) {
                if (line == "type=READ") { status = kStatusRead; break; }
                if (line == "type=DELIVERED") { status = kStatusDelivered; break; }
            }
            if (reply.empty()) reply = status;
        } else if (!m_replyList.empty() || ok) {
            reply = replyValue(m_replyList, "successText");
            if (reply.empty()) reply = replyValue(m_replyList, "errorText");
        }
    }
    const std::string who = page.Recipient->UserID();
    if (ok) {
        m_ctx.log(std::string(t.okTag) + portName() + " " + reply + " ID: " + msgId + " - " + who + " PIN:" +
                  mode.PIN + " Msg: " + text);
        m_ctx.counter(t.firstCounter, 0);
        m_ctx.counter(t.secondCounter, 0);
        m_ctx.updateProviderStats(mode.provider);
        doneStep();
        return;
    }
    if (*t.transactionTag)
        m_ctx.log(std::string(t.transactionTag) + portName() + " Error Sending Message To \"" + who + " " +
                  mode.PIN + "\"");
    failRule(mode, std::string(t.errorTag) + reply + " ID: " + msgId + " - " + who + " PIN: " + mode.PIN +
                       " Msg: " + text,
             true);
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
    TQueueRec& page = *m_batch.front();
    const ProviderRec& prov = *mode.provider;
    std::string why;
    bool up = false;
    try {
        up = setUpLine(prov, why) && (m_pager->bConnected || m_pager->Dial());
    } catch (const std::exception& e) {
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
    p.SMSType = stNone;
    p.ETapMsgID.clear();
    p.ETAPCommand = dcTap;
    p.NumericOnly = page.Recipient->NumericOnly();
    std::string msg = page.MessageText;
    if (msg.find(")#*&(") != std::string::npos) p.SMSType = stAldiscon;
    auto nextel = msg.find("(N)#*&(");
    if (nextel != std::string::npos) {
        p.SMSType = stNextel;
        msg.erase(nextel, 2);
    }
    bool sent = false, raised = false;
    try {
        sent = p.SendTextMessage(mode.PIN, msg);
    } catch (const std::exception&) {
        raised = true;
    }
    std::string status = tapStatusText(p.SendResult);
    std::string text = page.MessageText;
    StripMessageMarkers(text);
    const std::string tail = " ID: " + p.ETapMsgID + " - " + page.Recipient->UserID() + " PIN:" + mode.PIN +
                             " Msg: " + text;
    if (sent) {
        m_msgCount += p.MsgsSubmited;
        m_ctx.log("[TAP Delivery OK] " + portName() + " " + status + tail);
        m_ctx.counter(kCtTransaction, 0);
        m_ctx.counter(kCtTap, 0);
        m_ctx.updateProviderStats(mode.provider);
        doneStep();
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
    m_ctx.log("[TAP Delivery Fail] " + portName() + " " + status + tail);
    failRule(mode, "", !raised);
}

}  // namespace nv
