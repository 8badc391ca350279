#pragma once
// Port-thread and spooler pauses short enough for tests, shared by the
// engine fixtures so they all run the same timing.
#include <chrono>

#include "service/OutboundThread.h"

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

}  // namespace nv::test
