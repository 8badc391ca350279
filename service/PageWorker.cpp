// The page worker: one delivery attempt for a page that is not queued. It calls
// the sender of the primary provider's method; what it then counts, logs and
// does with the page is the method's row in DeliveryMethods.h.
//
// Mended against the Windows version, on purpose:
// - a failed page raises the error counter once and updates the statistics
//   once, whatever branch it takes;
// - an encoder port that is not open fails the page instead of dropping it
//   without a trace;
// - types without a sender here (5, 6) are logged as failed, not dropped.
// SMS pages (type 4) go to the GSM modem's sender instead of being freed.
#include <exception>

#include "foundation/TextUtil.h"
#include "protocols/WctpReply.h"
#include "service/DeliveryMethods.h"
#include "service/EncoderSender.h"
#include "service/PageIntake.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// The log tag's word of a delivery type; "Delivery Type <n>" for a type
// without a method of its own.
std::string methodTag(std::uint8_t type) {
    const DeliveryMethod* m = deliveryMethodOf(type);
    return m ? m->name : "Delivery Type " + std::to_string(type);
}

// The worker's own methods name the PIN (for e-mail the address used) in both
// places of their lines.
void finish(TNerivaleSvcMain& engine, PageRecordPtr& page, const DeliveryMethod& m, bool delivered,
            AttemptTexts& a) {
    a.who = a.PIN;
    finishWorkerPage(engine, page, m, delivered, workerLines(m, a, page->PrimaryProvider->CompanyName()));
}

// A page that is freed unsent, with its Fail line and one error count.
void failUnsent(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a, const std::string& reply) {
    a.reply = reply;
    a.who = a.PIN;
    engine.WriteToLog(resultLine("[" + methodTag(page->PrimaryProvider->DeliveryType()) + " Delivery Fail] ", a));
    engine.PostUpdateCounters(kCtError);
    FreePageRecord(page);
}

// Each method's attempt: the sender's call, then the method's row decides.
void sendEMailPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    const MailPage mail = mailPage(*page->PrimaryProvider, a.PIN, a.message, DeliveryPath::Worker);
    a.PIN = mail.to;
    bool ok = false;
    try {
        ok = engine.SendSMTPMessage(mail.to, mail.subject, mail.body);
    } catch (const std::exception& e) {
        engine.WriteToLog(std::string("[System] SMTP Send Error: ") + e.what());
    }
    finish(engine, page, kMethodSmtp, ok, a);
}

void sendEncoderPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    EncoderResult r = sendToEncoder(engine.SendBrevicor, engine.csBrevicor, page->RawBlock,
                                    withoutLineBreaks(a.message));
    a.reply = r.reply;
    finish(engine, page, kMethodBrevicor, r.kind == EncoderResult::Kind::Delivered, a);
}

void sendSnppPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    const ProviderRec& provider = *page->PrimaryProvider;
    const UserRec& user = *page->Recipient;
    const SnppParts parts = snppParts(provider, user, a.message, DeliveryPath::Worker);
    bool ok = false;
    try {
        ok = engine.SendSNPPPage(provider.SNPPServer(), provider.SNPPPort(), a.PIN,
                                 provider.SNPPUser() + " " + provider.SNPPPass(), provider.Coverage(),
                                 provider.SNPPCallerID(), a.message, parts.partLength, provider.SNPPSecure(),
                                 provider.TwoWay(), parts.reverse, user.NumericOnly(), a.id, a.reply);
    } catch (const std::exception& e) {
        a.reply = e.what();
    }
    finish(engine, page, kMethodSnpp, ok, a);
}

void sendSmppPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    const ProviderRec& provider = *page->PrimaryProvider;
    const UserRec& user = *page->Recipient;
    bool ok = false;
    try {
        ok = engine.SendSMPPPage(provider.SMPPServer(), std::to_string(provider.SMPPort()), a.PIN,
                                 provider.SMPPUserName(), provider.SMPPPassword(), a.message,
                                 provider.SMPPSecureMode(), provider.SMPPProtocol(), user.ReverseOrder(),
                                 user.NumericOnly(), a.id, a.reply);
    } catch (const std::exception& e) {
        a.reply = e.what();
    }
    finish(engine, page, kMethodSmpp, ok, a);
}

void sendWctpPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    std::vector<std::string> replies;
    bool ok = false;
    try {
        ok = engine.SendWCTPPage(*page, a.message, replies, nullptr, false);
    } catch (const std::exception& e) {
        replies = {std::string("errorText=") + e.what()};
    }
    a.reply = wctpLogReply(DeliveryPath::Worker, replies, ok, a.message, {});
    a.id = replyListValue(replies, "trackingNumber");
    finish(engine, page, kMethodWctp, ok, a);
}

void sendTapOverIpPage(TNerivaleSvcMain& engine, PageRecordPtr& page, AttemptTexts& a) {
    const ProviderRec& provider = *page->PrimaryProvider;
    const UserRec& user = *page->Recipient;
    bool ok = false;
    try {
        ok = engine.SendTAPOverIP(provider.TapOverIPAddr(), provider.TapOverIPPort(), a.PIN, provider.Password(),
                                  a.message, provider.MsgLength(), provider.MaxMsgsPerCall(), user.ReverseOrder(),
                                  user.NumericOnly());
    } catch (const std::exception& e) {
        engine.WriteToLog(std::string("[System] TAPIP Send Error: ") + e.what());
    }
    finish(engine, page, kMethodTap, ok, a);
}

}  // namespace

bool TNerivaleSvcMain::StartPageWorker(PageRecordPtr& page) {
    return m_workers.start(page, [this](PageRecordPtr p) { BMDThread1Execute(std::move(p)); });
}

void TNerivaleSvcMain::BMDThread1Execute(PageRecordPtr page) {
    if (!page || !page->PrimaryProvider || !page->Recipient) return;
    AttemptTexts a{{}, {}, {}, page->Recipient->PIN(), page->MessageText};
    if (Cancelcall.load()) {
        // Taken in before the cancel: report it rather than drop it unseen.
        failUnsent(*this, page, a, "Call Canceled");
        return;
    }
    const std::uint8_t type = page->PrimaryProvider->DeliveryType();
    switch (type) {
    case dtEPage:
    case dtEPageSubject: sendEMailPage(*this, page, a); break;
    case dtBrevicor: sendEncoderPage(*this, page, a); break;
    case dtSnpp: sendSnppPage(*this, page, a); break;
    case dtSmpp: sendSmppPage(*this, page, a); break;
    case dtWctp: sendWctpPage(*this, page, a); break;
    case dtTapOverIp: sendTapOverIpPage(*this, page, a); break;
    // A cancel is looked at once, at the start, where it gets its line.
    case dtTnpp: SendTNPPWorkerPage(page); break;
    case dtSmsModem: SendSMSWorkerPage(page); break;
    // 5 and 6 come only from old files: no method sends them.
    default: failUnsent(*this, page, a, "No Sender For " + methodTag(type)); break;
    }
}

}  // namespace nv
