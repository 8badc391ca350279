#include "foundation/Clock.h"

#include <algorithm>
#include <thread>

namespace nv {

Clock::TimePoint SteadyClock::now() const { return std::chrono::steady_clock::now(); }

void SteadyClock::sleepFor(std::chrono::milliseconds d) {
    if (d.count() > 0) std::this_thread::sleep_for(d);
}

Clock& steadyClock() {
    static SteadyClock clock;
    return clock;
}

bool sleepUnless(Clock& clock, std::chrono::milliseconds d, const std::function<bool()>& stop,
                 std::chrono::milliseconds slice) {
    const auto end = clock.now() + d;
    for (;;) {
        if (stop && stop()) return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - clock.now());
        if (left.count() <= 0) return true;
        clock.sleepFor(std::min(left, slice));
    }
}

// Starts well away from the epoch so "now - something" never underflows.
Clock::TimePoint ManualClock::now() const {
    return TimePoint(std::chrono::hours(1)) + Duration(m_ticks.load());
}

void ManualClock::sleepFor(std::chrono::milliseconds d) {
    if (m_advanceOnSleep.load() && d.count() > 0) advance(d);
    std::this_thread::yield();
}

void ManualClock::advance(Duration d) { m_ticks.fetch_add(d.count()); }

}  // namespace nv
