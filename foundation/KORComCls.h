#pragma once
// The seconds counter with which most waits count their time-outs.
//
// The count is TimeOut minus the whole seconds elapsed since TimerOn, read from
// a Clock (steady clock by default), so it runs on any thread; a timer that
// needs an event loop would never fire on the port threads and workers.
// Ticks fall at 1 s, 2 s, ... after TimerOn; at the first tick whose count is
// 0 or below TimedOut becomes true (a TimeOut of 0 or less times out at 1 s).
// TimerOff freezes count and TimedOut. Each counter belongs to one thread.
//
// Two variants exist and each user takes a fixed one: TTimeCounter (TimerOn
// clears TimedOut: serial component, TNPP, inbound host, SNPP/SMPP senders,
// port threads) and TInetTimeCounter (TimerOn leaves TimedOut as it is: TCP
// helper, TAP pager, TAPI line component; its users clear TimedOut
// themselves before re-arming).
#include "foundation/Clock.h"

namespace nv {

class TimeCounterBase {
public:
    static constexpr int kDefaultTimeOut = 60;

    TimeCounterBase(const TimeCounterBase&) = delete;
    TimeCounterBase& operator=(const TimeCounterBase&) = delete;

    int TimeOut() const { return m_timeOut; }
    void SetTimeOut(int seconds) { m_timeOut = seconds; }
    bool TimedOut();
    void SetTimedOut(bool value);

    void TimerOn();
    void TimerOff();

    // Seconds left (below zero once the time is over and the counter still runs).
    int Count();
    bool Running() const { return m_running; }

protected:
    TimeCounterBase(Clock& clock, bool timerOnClearsTimedOut);

private:
    // Applies the ticks that fell due since the last look.
    void catchUp();

    Clock& m_clock;
    bool m_timerOnClears;
    int m_count = 0;
    int m_timeOut = kDefaultTimeOut;
    bool m_timedOut = false;
    bool m_running = false;
    int m_armedCount = 0;
    long long m_ticksApplied = 0;
    Clock::TimePoint m_start{};
};

// KORComCls variant: TimerOn starts a fresh count with TimedOut false.
class TTimeCounter : public TimeCounterBase {
public:
    explicit TTimeCounter(Clock& clock = steadyClock()) : TimeCounterBase(clock, true) {}
};

// KORINetSocketHelper variant: a timed-out counter stays timed out after
// TimerOn until its user sets TimedOut false.
class TInetTimeCounter : public TimeCounterBase {
public:
    explicit TInetTimeCounter(Clock& clock = steadyClock()) : TimeCounterBase(clock, false) {}
};

}  // namespace nv
