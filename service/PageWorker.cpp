// The page worker: one delivery attempt for a page that is not queued. It calls
// the sender of the primary provider's method, then counts, logs and either
// finishes with the page or hands it to the queue on its way to the secondary
// provider.
//
// Mended against the Windows version, on purpose:
// - a failed page raises the error counter once and updates the statistics
//   once, whatever branch it takes;
// - an encoder port that is not open fails the page instead of dropping it
//   without a trace;
// - types without a sender here (5, 6) are logged as failed, not dropped.
// SMS pages (type 4) go to the GSM modem's sender instead of being freed.
#include <exception>

#include "service/EncoderSender.h"
#include "service/InetSenders.h"
#include "service/PageIntake.h"
#include "service/SnppSender.h"
#include "foundation/TextUtil.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// How a method's result is counted and logged.
struct WorkerMethod {
    const char* tag;
    int okCounters[2];         // posted in this order on success
    bool statsOnSuccess;
    bool statsBeforeCounters;  // WCTP: statistics first on success, counter first on failure
    bool failNamesProvider;    // " Provider: <name>" in the Fail and Error lines
};

constexpr WorkerMethod kEMail{"SMTP", {kCtEPages, kCtTransaction}, true, false, false};
constexpr WorkerMethod kBrevicor{"Brevicor", {kCtBrevicor, kCtTransaction}, false, false, true};
constexpr WorkerMethod kSnpp{"SNPP", {kCtSNPP, kCtTransaction}, true, false, true};
constexpr WorkerMethod kSmpp{"SMPP", {kCtSMPP, kCtTransaction}, true, false, true};
constexpr WorkerMethod kWctp{"WCTP", {kCtWCTP, kCtTransaction}, true, true, false};
constexpr WorkerMethod kTapIp{"TAPIP", {kCtTap, kCtTransaction}, true, false, true};


// One attempt's texts, as the sender left them.
struct Attempt {
    std::string message;  // the page's text as taken in
    std::string PIN;      // or, for e-mail, the address used
    std::string reply;
    std::string id;
};

// "[<tag> Delivery <result>] <reply> ID: <id> - <PIN> PIN:<PIN>[ Provider: <name>] Msg: <message>"
std::string resultLine(const WorkerMethod& m, const std::string& result, const TQueueRec& page, const Attempt& a) {
    std::string line = "[" + std::string(m.tag) + " Delivery " + result + "] " + a.reply + " ID: " + a.id + " - " +
                       a.PIN + " PIN:" + a.PIN;
    if (result != "OK" && m.failNamesProvider) line += " Provider: " + page.PrimaryProvider->CompanyName();
    return line + " Msg: " + a.message;
}

// What every method of the worker does once its sender answered.
void finishWorkerPage(TNerivaleSvcMain& engine, PageRecordPtr& page, const WorkerMethod& m, bool delivered,
                      const Attempt& a) {
    auto stats = [&] { engine.UpdateProviderStats(page.get(), page->PrimaryProvider.get(), false); };
    if (delivered) {
        if (m.statsOnSuccess && m.statsBeforeCounters) stats();
        for (int id : m.okCounters) engine.PostUpdateCounters(id);
        if (m.statsOnSuccess && !m.statsBeforeCounters) stats();
        engine.WriteToLog(resultLine(m, "OK", *page, a));
        FreePageRecord(page);
        return;
    }
    const bool email = &m == &kEMail;
    // An e-mail page handed on goes without a line, counter or statistics.
    if (email && namesSecondary(*page) && engine.AddToQueue(page, false)) return;
    if (m.statsBeforeCounters) {
        engine.PostUpdateCounters(kCtError);
        stats();
    } else {
        stats();
        engine.PostUpdateCounters(kCtError);
    }
    if (!email && namesSecondary(*page)) {
        // The queue gives the page to a port thread, which tries the primary
        // once more and then the secondary provider.
        std::string error = resultLine(m, "Error", *page, a);
        if (engine.AddToQueue(page, false)) {
            engine.WriteToLog(error);
            return;
        }
    }
    std::string fail = resultLine(m, "Fail", *page, a);
    if (email) fail.erase(std::string("[SMTP Delivery Fail]").size(), 1);  // no blank after the bracket
    engine.WriteToLog(fail);
    FreePageRecord(page);
}

// The log tag of a delivery type without a method of its own here.
std::string methodTag(std::uint8_t type) {
    switch (type) {
    case dtSnpp: return "SNPP";
    case dtWctp: return "WCTP";
    case dtSmsModem: return "SMS";
    case dtTnpp: return "TNPP";
    case dtEPage:
    case dtEPageSubject: return "SMTP";
    case dtBrevicor: return "Brevicor";
    case dtTapOverIp: return "TAPIP";
    case dtSmpp: return "SMPP";
    default: return "Delivery Type " + std::to_string(type);
    }
}

// A page that is freed unsent, with its Fail line and one error count.
void failUnsent(TNerivaleSvcMain& engine, PageRecordPtr& page, Attempt& a, const std::string& reply) {
    const std::string tag = methodTag(page->PrimaryProvider->DeliveryType());
    WorkerMethod m{tag.c_str(), {0, 0}, false, false, false};
    a.reply = reply;
    engine.WriteToLog(resultLine(m, "Fail", *page, a));
    engine.PostUpdateCounters(kCtError);
    FreePageRecord(page);
}

void sendEMailPage(TNerivaleSvcMain& engine, PageRecordPtr& page, Attempt& a, const std::string& cleaned) {
    const ProviderRec& provider = *page->PrimaryProvider;
    std::string subject;
    if (provider.DeliveryType() == dtEPageSubject) {
        // The route's address, the PIN as the subject.
        subject = a.PIN;
        a.PIN = provider.SNPPServer();
    } else if (a.PIN.find('@') == std::string::npos) {
        // The PIN at the route's mail domain, unless it is an address already.
        a.PIN += provider.SNPPServer();
    }
    bool ok = false;
    try {
        ok = engine.SendSMTPMessage(a.PIN, subject, cleaned);
    } catch (const std::exception&) {
    }
    finishWorkerPage(engine, page, kEMail, ok, a);
}

}  // namespace

bool TNerivaleSvcMain::StartPageWorker(PageRecordPtr& page) {
    return m_workers.start(page, [this](PageRecordPtr p) { BMDThread1Execute(std::move(p)); });
}

void TNerivaleSvcMain::BMDThread1Execute(PageRecordPtr page) {
    if (!page || !page->PrimaryProvider || !page->Recipient) return;
    const ProviderRec& provider = *page->PrimaryProvider;
    const UserRec& user = *page->Recipient;
    Attempt a{page->MessageText, user.PIN(), {}, {}};
    const std::string cleaned = withoutLineBreaks(a.message);
    if (Cancelcall.load()) {
        // Taken in before the cancel: report it rather than drop it unseen.
        failUnsent(*this, page, a, "Call Canceled");
        return;
    }
    const std::uint8_t type = provider.DeliveryType();
    switch (type) {
    case dtEPage:
    case dtEPageSubject:
        sendEMailPage(*this, page, a, cleaned);
        break;
    case dtBrevicor: {
        EncoderResult r = sendToEncoder(SendBrevicor, csBrevicor, page->RawBlock, cleaned);
        a.reply = r.reply;
        finishWorkerPage(*this, page, kBrevicor, r.kind == EncoderResult::Kind::Delivered, a);
        break;
    }
    case dtSnpp: {
        bool ok = false;
        try {
            ok = SendSNPPPage(provider.SNPPServer(), provider.SNPPPort(), a.PIN,
                              provider.SNPPUser() + " " + provider.SNPPPass(), provider.Coverage(),
                              provider.SNPPCallerID(), a.message, static_cast<int>(a.message.size()) + 1,
                              provider.SNPPSecure(), provider.TwoWay(), false, user.NumericOnly(), a.id, a.reply);
        } catch (const std::exception& e) {
            a.reply = e.what();
        }
        finishWorkerPage(*this, page, kSnpp, ok, a);
        break;
    }
    case dtSmpp: {
        bool ok = false;
        try {
            ok = SendSMPPPage(provider.SMPPServer(), std::to_string(provider.SMPPort()), a.PIN,
                              provider.SMPPUserName(), provider.SMPPPassword(), a.message, provider.SMPPSecureMode(),
                              provider.SMPPProtocol(), user.ReverseOrder(), user.NumericOnly(), a.id, a.reply);
        } catch (const std::exception& e) {
            a.reply = e.what();
        }
        finishWorkerPage(*this, page, kSmpp, ok, a);
        break;
    }
    case dtWctp: {
        std::vector<std::string> replies;
        bool ok = false;
        try {
            ok = SendWCTPPage(*page, a.message, replies, nullptr, false);
        } catch (const std::exception& e) {
            replies = {std::string("errorText=") + e.what()};
        }
        a.reply = wctpReplyText(replies);
        a.id = replyListValue(replies, "trackingNumber");
        finishWorkerPage(*this, page, kWctp, ok, a);
        break;
    }
    case dtTapOverIp: {
        bool ok = false;
        try {
            ok = SendTAPOverIP(provider.TapOverIPAddr(), provider.TapOverIPPort(), a.PIN, provider.Password(),
                               a.message, provider.MsgLength(), provider.MaxMsgsPerCall(), user.ReverseOrder(),
                               user.NumericOnly());
        } catch (const std::exception&) {
        }
        finishWorkerPage(*this, page, kTapIp, ok, a);
        break;
    }
    case dtTnpp:
        // A cancel is looked at once, at the start, where it gets its line.
        SendTNPPWorkerPage(page);
        break;
    case dtSmsModem:
        SendSMSWorkerPage(page);
        break;
    default:
        // 5 and 6 come only from old files: no method sends them.
        failUnsent(*this, page, a, "No Sender For " + methodTag(type));
        break;
    }
}

bool TNerivaleSvcMain::SendSNPPPage(const std::string& server, const std::string& port, const std::string& PIN,
                                    const std::string& login, const std::string& coverage,
                                    const std::string& callerId, const std::string& message, int partLength,
                                    std::int32_t secureMode, bool twoWay, bool reverse, bool numericOnly,
                                    std::string& messageId, std::string& reply) {
    SnppPage page{server, port, PIN, login, coverage, callerId, message, partLength, secureMode, twoWay, reverse,
                  numericOnly};
    // Stop ends the waits as a cancel does; the cancel flag itself is only read.
    auto cancelled = [this] { return Cancelcall.load() || Terminate.load() || m_workers.stopFlag().load(); };
    SnppSender sender([this](const std::string& line) { WriteToLog(line); }, cancelled, m_options.snpp, [this](std::chrono::milliseconds d) { m_clock.sleepFor(d); });
    return sender.send(page, messageId, reply);
}

}  // namespace nv
