// Pages through the engine's own devices: SendSMSPage, and the page worker's
// TNPP pages (queued on the TNPP link) and SMS pages (a primary provider of
// the GSM modem type is sent here rather than freed unsent).
#include <algorithm>

#include "foundation/ConfigFile.h"
#include "foundation/TextUtil.h"
#include "protocols/KORTNPP.h"
#include "service/DeliveryMethods.h"
#include "service/SmsSender.h"
#include "service/SrvcMainFrm.h"

namespace nv {

bool TNerivaleSvcMain::SendSMSPage(const std::string& smsCentre, const std::string& PIN, const std::string& message,
                                   std::uint8_t smsMode, std::uint8_t /*smsPort*/, std::uint8_t /*smsByte1833*/,
                                   std::string& reply, bool /*secondary*/, bool reverseOrder) {
    // A pause between parts ends early when the service stops.
    auto pause = [this](std::chrono::milliseconds d) { sleepUnless(m_clock, d, [this] { return Terminate.load(); }); };
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
    const AttemptTexts a{{}, {}, who, PIN, text};
    const DeliveryMethod& m = kMethodTnpp;
    // Its Error and Fail lines name the addressee only.
    finishWorkerPage(*this, page, m, sent,
                     {resultLine(m.worker.okTag, a), addresseeLine(m.worker.errorTag, a),
                      addresseeLine(m.worker.failTag, a)});
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
    const AttemptTexts a{reply, {}, page->Recipient->UserID(), PIN, text};
    finishWorkerPage(*this, page, kMethodSms, sent, workerLines(kMethodSms, a, provider.CompanyName()));
}

}  // namespace nv
