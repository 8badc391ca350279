// Pages through the engine's own devices: SendSMSPage, and the page worker's
// TNPP pages (queued on the TNPP link) and SMS pages (a primary provider of
// the GSM modem type is sent here rather than freed unsent).
#include <algorithm>

#include "foundation/DataFile.h"
#include "foundation/RecordAccess.h"
#include "protocols/KORTNPP.h"
#include "service/SmsSender.h"
#include "foundation/TextUtil.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {

// The three lines a worker's result may log.
struct ResultLines {
    std::string ok, error, fail;
};

// One more page and its time for a provider of Provider.dat; nothing for the
// built-in providers, which are never stored.
void storeProviderStats(const ProviderRec& rec, const std::filesystem::path& dataDir) {
    if (rec.FilePos() < 0) return;
    try {
        SaveProviderStats(rec, recordTimeNow(), dataDir);
    } catch (const std::exception&) {
    }
}

// What the worker does after the sender answered. As for every method of the
// worker, a failed page counts one error and one statistics update, whichever
// way it goes on.
void finishWorkerPage(TNerivaleSvcMain& engine, PageRecordPtr& page, bool delivered, const ResultLines& lines,
                      std::initializer_list<int> okCounters) {
    const ProviderRec& provider = *page->PrimaryProvider;
    if (delivered) {
        for (int id : okCounters) engine.PostUpdateCounters(id);
        storeProviderStats(provider, engine.WorkDir());
        engine.WriteToLog(lines.ok);
        FreePageRecord(page);
        return;
    }
    storeProviderStats(provider, engine.WorkDir());
    engine.PostUpdateCounters(kCtError);
    if (namesSecondary(*page)) {
        // On to the queue, where a port thread tries the primary once more and
        // then the secondary provider.
        if (engine.AddToQueue(page, false)) {
            engine.WriteToLog(lines.error);
            return;
        }
    }
    engine.WriteToLog(lines.fail);
    FreePageRecord(page);
}

}  // namespace

bool TNerivaleSvcMain::SendSMSPage(const std::string& smsCentre, const std::string& PIN, const std::string& message,
                                   std::uint8_t smsMode, std::uint8_t /*smsPort*/, std::uint8_t /*smsByte1833*/,
                                   std::string& reply, bool /*secondary*/, bool reverseOrder) {
    // A pause between parts ends early when the service stops.
    auto pause = [this](std::chrono::milliseconds d) {
        const auto end = m_clock.now() + d;
        for (auto now = m_clock.now(); !Terminate.load() && now < end; now = m_clock.now())
            m_clock.sleepFor(std::min<std::chrono::milliseconds>(
                std::chrono::milliseconds(50), std::chrono::ceil<std::chrono::milliseconds>(end - now)));
    };
    SmsPageSender sender(KORSMSMessaging1.get(), m_options.dataDir,
                         [this](const std::string& text) { WriteToLog(text); }, pause);
    return sender.send({smsCentre, PIN, message, smsMode, reverseOrder}, reply);
}

void TNerivaleSvcMain::SendTNPPWorkerPage(PageRecordPtr& page) {
    const std::string text = withoutLineBreaks(page->MessageText);
    const std::string PIN = page->Recipient->PIN();
    const std::string who = page->Recipient->UserID();
    const TnppSection cfg = ConfigFile::inDataDirectory(m_options.dataDir, ConfigSide::Service).tnpp();
    // True means queued on the link; what becomes of the packet the link logs.
    const bool sent = KORTNPP1 && KORTNPP1->SendIDPage(static_cast<std::uint32_t>(cfg.DestAddr.value),
                                                       static_cast<std::uint32_t>(cfg.Inertia.value), PIN, text, "");
    const std::string to = " Error Sending Message To \"" + who + " " + PIN + "\"";
    finishWorkerPage(*this, page, sent,
                     {"[TNPP Delivery OK]  ID:  - " + who + " PIN:" + PIN + " Msg: " + text,
                      "[TNPP Delivery Error]" + to, "[TNPP Delivery Fail]" + to},
                     {kCtTransaction, kCtTNPP});
}

void TNerivaleSvcMain::SendSMSWorkerPage(PageRecordPtr& page) {
    const ProviderRec& provider = *page->PrimaryProvider;
    std::string text = page->MessageText;
    StripMessageMarkers(text);
    const std::string PIN = page->Recipient->PIN();
    std::string reply;
    bool sent = false;
    try {
        sent = SendSMSPage(provider.SMSServiceProvider(), PIN, text, provider.SmsPduMode() ? 1 : 0,
                           provider.SmsComPort(), provider.Reserved1833(), reply, false,
                           page->Recipient->ReverseOrder());
    } catch (const std::exception& e) {
        reply = e.what();
    }
    const std::string tail = " ID:  - " + page->Recipient->UserID() + " PIN:" + PIN + " Msg: " + text;
    finishWorkerPage(*this, page, sent,
                     {"[SMS Delivery OK] " + reply + tail, "[SMS Delivery Error] " + reply + tail,
                      "[SMS Delivery Fail] " + reply + tail},
                     {kCtTransaction, kCtSMS});
}

}  // namespace nv
