#pragma once
// Engine, port-thread and spooler pauses short enough for tests, shared by the
// engine fixtures so they all run the same timing.
#include <chrono>
#include <filesystem>

#include "foundation/Clock.h"
#include "service/OutboundThread.h"
#include "service/SrvcMainFrm.h"

namespace nv::test {

inline OutboundTiming fastOutboundTiming() {
    using namespace std::chrono_literals;
    OutboundTiming t;
    t.threadStart = 0ms;
    t.passPause = 2ms;
    t.afterPass = 10ms;
    t.hangupSettle = 5ms;
    t.redialPause = 10ms;
    t.spoolStart = 10ms;
    t.spoolCycle = 10ms;
    t.spoolPagesWait = 20ms;
    t.secondaryBatchPause = 5ms;
    return t;
}

// The engine in-process on `dataDir`: no pauses around start, stop and
// cancel, and its timer out of the way (a test that wants a tick calls
// Timer2Timer itself). `joinBound` caps each wait for threads at stop.
inline EngineOptions inProcessOptions(const std::filesystem::path& dataDir, Clock& clock,
                                      std::chrono::milliseconds joinBound) {
    EngineOptions o;
    o.dataDir = dataDir;
    o.clock = &clock;
    o.timerPeriod = std::chrono::hours(1);
    o.startPause = o.stopPause = o.cancelPause = std::chrono::milliseconds(0);
    o.joinBound = joinBound;
    return o;
}

}  // namespace nv::test
