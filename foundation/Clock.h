#pragma once
// Time source for every wait. Waits and the seconds counter take a Clock so the
// service runs on the steady clock while tests drive a ManualClock and run
// second-long waits in milliseconds.
#include <atomic>
#include <chrono>
#include <functional>

namespace nv {

class Clock {
public:
    using Duration = std::chrono::steady_clock::duration;
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
    // A plain pause (no fd to watch). Waits on descriptors poll in real slices
    // and only read the time from here.
    virtual void sleepFor(std::chrono::milliseconds d) = 0;
};

// std::chrono::steady_clock and std::this_thread::sleep_for.
class SteadyClock final : public Clock {
public:
    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds d) override;
};

// The shared real clock; it holds no state, so sharing it is harmless.
Clock& steadyClock();

// Sleeps `d` on `clock` in slices, asking `stop` (when given) before each;
// false as soon as it says stop, true once the time has passed.
bool sleepUnless(Clock& clock, std::chrono::milliseconds d, const std::function<bool()>& stop,
                 std::chrono::milliseconds slice = std::chrono::milliseconds(50));

// A clock that moves only when told to. sleepFor advances it by the asked time
// (and yields briefly for real), so code that only sleeps finishes at once;
// a test moves it with advance() from any thread.
class ManualClock final : public Clock {
public:
    ManualClock() = default;
    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds d) override;
    void advance(Duration d);
    // When false, sleepFor yields without moving the time.
    void setAdvanceOnSleep(bool on) { m_advanceOnSleep.store(on); }

private:
    std::atomic<Duration::rep> m_ticks{0};
    std::atomic<bool> m_advanceOnSleep{true};
};

}  // namespace nv
