#include "service/Counters.h"

#include "platform/PipeMessage.h"

namespace nv {

namespace {

// Counts wrap like the Windows version's 32-bit integers instead of overflowing.
void bump(std::int32_t& c) {
    c = static_cast<std::int32_t>(static_cast<std::uint32_t>(c) + 1u);
}

std::int32_t* counterFor(Counters& c, int id) {
    switch (id) {
    case kCtWCTP: return &c.WCTPCount;
    case kCtSNPP: return &c.SNPPCount;
    case kCtTap: return &c.TapCount;
    case kCtEPages: return &c.EPagesSent;
    case kCtSMS: return &c.SMSCount;
    case kCtError: return &c.ErrorCount;
    case kCtTransaction: return &c.TransactionCount;
    case kCtQueued: return &c.QueuedMgs;
    case kCtBrevicor: return &c.BrevicorCount;
    case kCtNerivaleIn: return &c.PelmoraInCounter;
    case kCtTNPP: return &c.TNPPCounter;
    case kCtSMPP: return &c.SMPPCount;
    default: return nullptr;
    }
}

}  // namespace

bool Counters::apply(int id, std::int32_t value) {
    std::int32_t* c = counterFor(*this, id);
    if (!c) return false;
    if (id == kCtQueued)
        *c = value;
    else
        bump(*c);
    return true;
}

std::int32_t Counters::valueOf(int id) const {
    const std::int32_t* c = counterFor(const_cast<Counters&>(*this), id);
    return c ? *c : 0;
}

void Counters::resetStats() {
    WCTPCount = SNPPCount = SMPPCount = SMSCount = TapCount = EPagesSent = 0;
    ErrorCount = TransactionCount = PelmoraInCounter = TNPPCounter = BrevicorCount = 0;
}

std::string Counters::allCountersMessage(bool cancelCall) const {
    PipeFields fields{{"cmd", "all_counters"}};
    for (const auto& c : kAllCountersKeys) fields.emplace_back(c.key, std::to_string(valueOf(c.id)));
    fields.emplace_back(kCtHoursKey, std::to_string(rHours));
    fields.emplace_back(kCtMinutesKey, std::to_string(rMin));
    fields.emplace_back(kCancelCallKey, cancelCall ? "1" : "0");
    return buildPipeMessage(fields, true);
}

std::string Counters::counterUpdateMessage(int id, std::int32_t value) {
    return buildPipeMessage(
        {{"cmd", "cntrupd"}, {"counter", std::to_string(id)}, {"value", std::to_string(value)}}, false);
}

}  // namespace nv
