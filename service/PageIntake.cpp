// The page intake: route by PIN, resolve the providers, build the page record
// and hand the page to the queue or to a page worker.
#include "service/PageIntake.h"

#include <algorithm>

#include "foundation/RecordAccess.h"
#include "foundation/TextUtil.h"
#include "protocols/EncoderFrame.h"
#include "service/SrvcMainFrm.h"

namespace nv {

namespace {
std::string inQuotes(const std::string& s) { return "\"" + s + "\""; }
}  // namespace

bool isAcceptablePin(std::string_view pin) {
    if (pin.empty() || pin.size() > kMaxPinLength) return false;
    return std::none_of(pin.begin(), pin.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; });
}

std::unique_ptr<ProviderRec> builtinProvider(const std::string& name, const RouteRec& route,
                                             const std::string& mailAddress) {
    std::uint8_t type = 0;
    if (name == kBuiltinTnpp)
        type = dtTnpp;
    else if (name == kBuiltinBrevicor)
        type = dtBrevicor;
    else if (name == kBuiltinEPage)
        type = route.PlacePinInSubPri() ? dtEPageSubject : dtEPage;
    else
        return nullptr;
    auto rec = std::make_unique<ProviderRec>();
    rec->setCompanyName(name);
    rec->setDeliveryType(type);
    if (type == dtEPage || type == dtEPageSubject) rec->setSNPPServer(mailAddress);
    return rec;
}

std::string routedPin(const std::string& pin, const RouteRec& route) {
    if (!route.RemoveRoutePrefix()) return pin;
    return pin.substr(std::min(pin.size(), route.NPANXX().size()));
}

PageRecordPtr buildIntakePage(std::unique_ptr<ProviderRec> primary, std::unique_ptr<ProviderRec> secondary,
                              const std::string& pin, const std::string& msg, std::string rawBlock) {
    PageRecordPtr page = NewPageRecord();
    // The server's name without the NUL the Windows version stored after it.
    page->Originator = kOriginator;
    auto user = std::make_unique<UserRec>();
    user->setUserID(kOriginator);
    user->setProviderName(primary->CompanyName());
    user->setReverseOrder(false);
    user->setSecProviderName(secondary ? secondary->CompanyName() : std::string(kNoSecondary));
    user->setNumericOnly(false);
    user->setPIN(pin);
    user->setSecPIN(pin);
    user->setPriority(kIntakePriority);
    page->Recipient = std::move(user);
    primary->setMsgLength(static_cast<std::int32_t>(msg.size()));
    page->PrimaryProvider = std::move(primary);
    page->SecondaryProvider = std::move(secondary);
    page->MessageText = msg;
    page->RawBlock = std::move(rawBlock);
    return page;
}

std::unique_ptr<ProviderRec> TNerivaleSvcMain::ResolveProvider(const std::string& name, const RouteRec& route,
                                                               const std::string& mailAddress) {
    if (auto builtin = builtinProvider(name, route, mailAddress)) return builtin;
    return FindProvider(name, m_options.dataDir, m_prompt);
}

void TNerivaleSvcMain::KORTap1MsgReceived(const std::string* rawBlock, const std::string& PIN,
                                          const std::string& Msg, bool& Submitted) {
    Submitted = false;
    if (!isAcceptablePin(PIN)) {
        // Empty, too long for its field or with control characters: refused, and
        // shown shortened so the line stays one short line.
        WriteToLog("[System] Delivery Failed For PIN: " + shortenedForLog(PIN, kPinShownInLog) +
                   ", Invalid PIN! Page Discarded!");
        return;
    }
    const std::string failed = "[System] Delivery Failed For PIN: " + PIN;
    if (Cancelcall.load()) {
        // After cancel_call no page would be sent: refuse it instead of accepting
        // a page that would be freed unsent.
        WriteToLog(failed + ", Calls Canceled! Page Discarded!");
        return;
    }
    std::unique_ptr<RouteRec> route = FindRoute(PIN, m_options.dataDir, false, m_prompt);
    if (!route) {
        WriteToLog(failed + ", Route Record not Found! Page Discarded!");
        return;
    }
    if (!route->Enabled()) {
        // Final: no fall-back to "Default".
        WriteToLog(failed + ", Route " + inQuotes(route->RouteName()) + " Disabled! Page Discarded!");
        return;
    }
    const std::string primaryName = route->Provider();
    std::unique_ptr<ProviderRec> primary = ResolveProvider(primaryName, *route, route->Eddr());
    if (!primary) {
        WriteToLog(failed + ", Provider " + inQuotes(primaryName) + " Not Found! Page Discarded!");
        return;
    }
    // "NONE", an empty name and an unknown one all mean: no secondary provider.
    std::unique_ptr<ProviderRec> secondary = ResolveProvider(route->SecProvider(), *route, route->SecEddr());
    PageRecordPtr page = buildIntakePage(std::move(primary), std::move(secondary), routedPin(PIN, *route), Msg,
                                         rawBlock ? *rawBlock : encoder::testPageBlock(PIN, Msg));

    WriteToLog("[Nerivale Connection] Message Received From Nerivale Port  PIN: " + PIN + " Provider: " +
               page->PrimaryProvider->CompanyName() + " Message: " + lineBreaksAsBlanks(Msg));

    std::uint8_t type = page->PrimaryProvider->DeliveryType();
    if (type == dtTapDirect || type == dtTapModem) {
        if (!AddToQueue(page, false)) {
            WriteToLog("[TAP Delivery Error] No Modem Queues Available!");
            FreePageRecord(page);
            return;
        }
        PostUpdateCounters(kCtNerivaleIn);
        Submitted = true;
        return;
    }
    if (!StartPageWorker(page)) {
        FreePageRecord(page);  // the engine is stopping
        return;
    }
    Submitted = true;
    PostUpdateCounters(kCtNerivaleIn);
}

}  // namespace nv
