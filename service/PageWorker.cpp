// The page worker: one delivery attempt for a page that is not queued. The
// senders of the delivery methods come with their own work; until a method's
// sender exists, its pages are logged as failed, counted as errors and freed.
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// The log tag of a delivery type.
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

bool failLineNamesProvider(std::uint8_t type) {
    return type == dtBrevicor || type == dtSnpp || type == dtSmpp || type == dtTapOverIp;
}

// "[<tag> Delivery Fail] <reply> ID: <id> - <recipient> PIN:<pin>[ Provider: <name>] Msg: <message>"
std::string failLine(const TQueueRec& page, const std::string& reply) {
    std::uint8_t type = page.PrimaryProvider->DeliveryType();
    std::string line = "[" + methodTag(type) + " Delivery Fail] " + reply + " ID: " + " - " +
                       page.Recipient->UserID() + " PIN:" + page.Recipient->PIN();
    if (failLineNamesProvider(type)) line += " Provider: " + page.PrimaryProvider->CompanyName();
    return line + " Msg: " + page.MessageText;
}

}  // namespace

bool TNerivaleSvcMain::StartPageWorker(PageRecordPtr& page) {
    return m_workers.start(page, [this](PageRecordPtr p) { BMDThread1Execute(std::move(p)); });
}

void TNerivaleSvcMain::BMDThread1Execute(PageRecordPtr page) {
    if (!page || !page->PrimaryProvider || !page->Recipient) return;
    if (Cancelcall.load()) {
        // Taken in before the cancel: report it rather than drop it unseen.
        WriteToLog(failLine(*page, "Call Canceled"));
        PostUpdateCounters(kCtError);
        FreePageRecord(page);
        return;
    }
    switch (page->PrimaryProvider->DeliveryType()) {
    // Each method's sender takes its place here.
    case dtTnpp: SendTNPPWorkerPage(page); break;
    case dtSmsModem: SendSMSWorkerPage(page); break;
    default:
        WriteToLog(failLine(*page, "No Sender For " + methodTag(page->PrimaryProvider->DeliveryType())));
        PostUpdateCounters(kCtError);
        FreePageRecord(page);
        break;
    }
}

}  // namespace nv
