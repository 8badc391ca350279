#pragma once
// The engine's counters. Only the engine thread changes them, from the ids that
// other threads post; they live in memory only and start at zero.
#include <cstdint>
#include <string>

#include "platform/CounterIds.h"

namespace nv {

struct Counters {
    std::int32_t WCTPCount = 0;
    std::int32_t SNPPCount = 0;
    std::int32_t TapCount = 0;
    std::int32_t EPagesSent = 0;
    std::int32_t SMSCount = 0;
    std::int32_t ErrorCount = 0;
    std::int32_t BrevicorCount = 0;
    std::int32_t TransactionCount = 0;
    std::int32_t QueuedMgs = 0;
    std::int32_t PelmoraInCounter = 0;
    std::int32_t rHours = 0;
    std::int32_t rMin = 0;
    std::int32_t TNPPCounter = 0;
    std::int32_t SMPPCount = 0;

    // Id 11 takes `value`; every other id of the table adds one. False (nothing
    // changed) for an id outside the table.
    bool apply(int id, std::int32_t value);
    // The counter of an id of the table (0 for others).
    std::int32_t valueOf(int id) const;
    // reset_stats: everything but the queue length and the on-line time.
    void resetStats();

    // "cmd=all_counters" and one line per counter, each ending in CR LF.
    std::string allCountersMessage(bool cancelCall) const;
    // "cmd=cntrupd" CR LF "counter=" id CR LF "value=" v, without a final CR LF.
    static std::string counterUpdateMessage(int id, std::int32_t value);
};

}  // namespace nv
