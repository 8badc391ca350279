#include "foundation/KORComCls.h"

namespace nv {

TimeCounterBase::TimeCounterBase(Clock& clock, bool timerOnClearsTimedOut)
    : m_clock(clock), m_timerOnClears(timerOnClearsTimedOut) {}

void TimeCounterBase::catchUp() {
    if (!m_running) return;
    auto elapsed = m_clock.now() - m_start;
    long long ticks = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
    if (ticks <= m_ticksApplied) return;
    m_ticksApplied = ticks;
    long long count = static_cast<long long>(m_armedCount) - ticks;
    m_count = count < -1000000000LL ? -1000000000 : static_cast<int>(count);
    // Only a tick sets the flag, so a flag cleared by the user stays clear
    // until the next tick (as with the Windows version's timer).
    if (m_count <= 0) m_timedOut = true;
}

bool TimeCounterBase::TimedOut() {
    catchUp();
    return m_timedOut;
}

void TimeCounterBase::SetTimedOut(bool value) {
    catchUp();
    m_timedOut = value;
}

int TimeCounterBase::Count() {
    catchUp();
    return m_count;
}

void TimeCounterBase::TimerOn() {
    catchUp();
    m_count = m_timeOut;
    m_armedCount = m_timeOut;
    if (m_timerOnClears) m_timedOut = false;
    m_start = m_clock.now();
    m_ticksApplied = 0;
    m_running = true;
}

void TimeCounterBase::TimerOff() {
    catchUp();
    m_running = false;
}

}  // namespace nv
