#pragma once
// The engine's counter ids and the keys of its "all_counters" message, shared
// by the engine that sends them and the manager that shows them.
namespace nv {

// Counter ids as posted and as sent in "cntrupd". 13 and 15 are not used.
enum CounterId : int {
    kCtWCTP = 4,
    kCtSNPP = 5,
    kCtTap = 6,
    kCtEPages = 7,
    kCtSMS = 8,
    kCtError = 9,
    kCtTransaction = 10,
    kCtQueued = 11,
    kCtBrevicor = 12,
    kCtNerivaleIn = 14,
    kCtTNPP = 16,
    kCtSMPP = 17,
};

struct CounterKey {
    CounterId id;
    const char* key;
};

// The counter lines of "all_counters", in the order the engine sends them.
inline constexpr CounterKey kAllCountersKeys[] = {
    {kCtWCTP, "ctWCTPCount"},
    {kCtSNPP, "ctSNPPCount"},
    {kCtSMPP, "ctSMPPCount"},
    {kCtTap, "ctTapCount"},
    {kCtEPages, "ctEPagesSent"},
    {kCtSMS, "ctSMSCount"},
    {kCtError, "ctErrorCount"},
    {kCtTransaction, "ctTransactionCount"},
    {kCtQueued, "ctQueuedMgs"},
    {kCtNerivaleIn, "ctNerivaleInCount"},
    {kCtTNPP, "ctTNPPCounter"},
    {kCtBrevicor, "ctBrevicorCount"},
};
// The on-line time and the cancelled-calls flag that follow them.
inline constexpr const char* kCtHoursKey = "ctHours";
inline constexpr const char* kCtMinutesKey = "ctMinutes";
inline constexpr const char* kCancelCallKey = "cancelcall1";

// The key of a counter id; nullptr for an id outside the table.
constexpr const char* counterKeyOf(int id) {
    for (const auto& c : kAllCountersKeys)
        if (c.id == id) return c.key;
    return nullptr;
}

}  // namespace nv
