#include "service/DeliveryMethods.h"

#include "foundation/TextUtil.h"
#include "protocols/WctpReply.h"
#include "service/SrvcMainFrm.h"

namespace nv {

const DeliveryMethod* deliveryMethodOf(std::uint8_t deliveryType) {
    switch (deliveryType) {
    case dtEPage:
    case dtEPageSubject: return &kMethodSmtp;
    case dtBrevicor: return &kMethodBrevicor;
    case dtSnpp: return &kMethodSnpp;
    case dtSmpp: return &kMethodSmpp;
    case dtWctp: return &kMethodWctp;
    case dtTnpp: return &kMethodTnpp;
    case dtSmsModem: return &kMethodSms;
    case dtTapOverIp: return &kMethodTap;
    default: return nullptr;
    }
}

std::string resultLine(std::string_view tag, const AttemptTexts& t, const std::string* provider) {
    std::string line = std::string(tag) + t.reply + " ID: " + t.id + " - " + t.who + " PIN:" + t.PIN;
    if (provider) line += " Provider: " + *provider;
    return line + " Msg: " + t.message;
}

std::string deliveryErrorLine(std::string_view tag, const AttemptTexts& t) {
    return std::string(tag) + t.reply + " ID: " + t.id + " - " + t.who + " PIN: " + t.PIN + " Msg: " + t.message;
}

std::string addresseeLine(std::string_view tag, const AttemptTexts& t) {
    return std::string(tag) + " Error Sending Message To \"" + t.who + " " + t.PIN + "\"";
}

void countDelivered(const DeliveryMethod& m, DeliveryPath path, const CounterFn& counter, const StatsFn& stats) {
    if (path == DeliveryPath::PortThread) {
        for (int id : m.port.okCounters) counter(id);
        if (m.port.stats) stats();
        return;
    }
    if (m.worker.stats == WorkerStats::BeforeCounters) stats();
    for (int id : m.worker.okCounters) counter(id);
    if (m.worker.stats == WorkerStats::AfterCounters) stats();
}

WorkerLines workerLines(const DeliveryMethod& m, const AttemptTexts& t, const std::string& providerName) {
    const std::string* named = m.worker.failNamesProvider ? &providerName : nullptr;
    return {resultLine(m.worker.okTag, t), *m.worker.errorTag ? resultLine(m.worker.errorTag, t, named) : "",
            resultLine(m.worker.failTag, t, named)};
}

void finishWorkerPage(TNerivaleSvcMain& engine, PageRecordPtr& page, const DeliveryMethod& m, bool delivered,
                      const WorkerLines& lines) {
    const CounterFn counter = [&](int id) { engine.PostUpdateCounters(id); };
    const StatsFn stats = [&] { engine.UpdateProviderStats(page.get(), page->PrimaryProvider.get(), false); };
    if (delivered) {
        countDelivered(m, DeliveryPath::Worker, counter, stats);
        engine.WriteToLog(lines.ok);
        FreePageRecord(page);
        return;
    }
    const bool silent = !*m.worker.errorTag;
    if (silent && handsOnToSecondary(*page, DeliveryPath::Worker) && engine.AddToQueue(page, false)) return;
    if (m.worker.stats == WorkerStats::BeforeCounters) {
        counter(kCtError);
        stats();
    } else {
        stats();
        counter(kCtError);
    }
    if (!silent && handsOnToSecondary(*page, DeliveryPath::Worker) && engine.AddToQueue(page, false)) {
        engine.WriteToLog(lines.error);
        return;
    }
    engine.WriteToLog(lines.fail);
    FreePageRecord(page);
}

bool handsOnToSecondary(const TQueueRec& page, DeliveryPath path) {
    // The queue needs no record: the port thread tries the primary first.
    if (path == DeliveryPath::Worker) return namesSecondary(page);
    return namesSecondary(page) && page.SecondaryProvider;
}

MailPage mailPage(const ProviderRec& provider, const std::string& PIN, const std::string& message,
                  DeliveryPath path) {
    // A worker mails the text without line breaks, a port thread as taken in,
    // as each road of the Windows version did.
    MailPage mail{PIN, "", path == DeliveryPath::Worker ? withoutLineBreaks(message) : message};
    if (provider.DeliveryType() == dtEPageSubject) {
        mail.subject = PIN;
        mail.to = provider.SNPPServer();
    } else if (PIN.find('@') == std::string::npos) {
        mail.to = PIN + provider.SNPPServer();
    }
    return mail;
}

SnppParts snppParts(const ProviderRec& provider, const UserRec& user, const std::string& message,
                    DeliveryPath path) {
    // A worker sends the page whole, in one part in the given order (the
    // carrier cuts it); a port thread cuts at the provider's limit and sends
    // the parts in the recipient's order.
    if (path == DeliveryPath::Worker) return {static_cast<int>(message.size()) + 1, false};
    return {provider.MsgLength(), user.ReverseOrder()};
}

std::string wctpLogReply(DeliveryPath path, const std::vector<std::string>& list, bool delivered,
                         const std::string& message, const std::string& senderReply) {
    // Only a port thread names the status a delivered query read; a worker
    // logs the reply text of every page, as the Windows version's did.
    if (path == DeliveryPath::PortThread && delivered && isStatusQuery(message)) return wctpStatusText(list);
    if (!list.empty() || delivered) return wctpReplyText(list);
    return senderReply;
}

}  // namespace nv
