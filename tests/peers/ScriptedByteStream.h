#pragma once
// A ByteStream played from a script, for tests and fuzz targets: a dialogue
// runs against it without a socket, a device, a thread or real waiting.
//
// - deliver(): a chunk readable at once. Chunks keep their boundaries: one
//   readAvailable() never returns bytes of two chunks, so a script (or a fuzz
//   input) decides how the peer's bytes are cut.
// - deliverAfterWrite(trigger, chunk): the chunk becomes readable once the
//   bytes written since the previous such step hold `trigger` (steps fire in
//   order; an empty trigger fires on the next write).
// - onWrite(): a hook called after each write with the bytes of that write,
//   for answers a fixed script cannot hold.
// - endWhenDrained(): up() turns false once every chunk was read and no step
//   waits for a write; close() ends the stream at once.
// - waitReadable() returns at once. When nothing is readable it moves the
//   clock given to the constructor (a ManualClock, or a SteppedClock in fuzz
//   targets) by the asked time, so a dialogue timing out against that clock
//   finishes without sleeping.
//
// Header only: the fuzz targets include it without linking the test peers.
// Threads: the dialogue's thread drives it; a test may read written() and add
// chunks from another (one mutex, never held while the hook runs).
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"

namespace nv::test {

// A clock for one thread that moves only when slept on or told to and never
// yields the processor (ManualClock does, which on a busy machine makes a
// fuzz run of many short pauses slow).
class SteppedClock final : public Clock {
public:
    TimePoint now() const override { return TimePoint(std::chrono::hours(1)) + m_elapsed; }
    void sleepFor(std::chrono::milliseconds d) override {
        if (d.count() > 0) m_elapsed += d;
    }
    void advance(Duration d) { m_elapsed += d; }

private:
    Duration m_elapsed{};
};

class ScriptedByteStream final : public ByteStream {
public:
    using WriteHook = std::function<void(std::string_view written, ScriptedByteStream& stream)>;

    explicit ScriptedByteStream(ManualClock* clock = nullptr) {
        if (clock) m_advance = [clock](std::chrono::milliseconds d) { clock->advance(d); };
    }
    explicit ScriptedByteStream(SteppedClock& clock)
        : m_advance([&clock](std::chrono::milliseconds d) { clock.advance(d); }) {}

    void deliver(std::string chunk) {
        std::lock_guard lock(m_mutex);
        if (!chunk.empty()) m_chunks.push_back(std::move(chunk));
    }
    void deliverAfterWrite(std::string trigger, std::string chunk) {
        std::lock_guard lock(m_mutex);
        m_steps.push_back({std::move(trigger), std::move(chunk)});
    }
    void onWrite(WriteHook hook) {
        std::lock_guard lock(m_mutex);
        m_hook = std::move(hook);
    }
    void endWhenDrained(bool on = true) {
        std::lock_guard lock(m_mutex);
        m_endWhenDrained = on;
    }
    void close() {
        std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    // Every later writeAll() fails (and keeps nothing), as a dead line would.
    void failWrites(bool on = true) {
        std::lock_guard lock(m_mutex);
        m_failWrites = on;
    }

    // Every byte written so far, in order.
    std::string written() const {
        std::lock_guard lock(m_mutex);
        return m_written;
    }
    // Bytes delivered and not yet read.
    std::size_t pending() const {
        std::lock_guard lock(m_mutex);
        std::size_t n = 0;
        for (const auto& c : m_chunks) n += c.size();
        return n;
    }
    int waitCalls() const {
        std::lock_guard lock(m_mutex);
        return m_waitCalls;
    }

    std::string readAvailable(std::size_t maxBytes) override {
        std::lock_guard lock(m_mutex);
        if (m_chunks.empty() || maxBytes == 0) return {};
        std::string& head = m_chunks.front();
        if (head.size() <= maxBytes) {
            std::string out = std::move(head);
            m_chunks.pop_front();
            return out;
        }
        std::string out = head.substr(0, maxBytes);
        head.erase(0, maxBytes);
        return out;
    }

    bool waitReadable(std::chrono::milliseconds timeout) override {
        {
            std::lock_guard lock(m_mutex);
            ++m_waitCalls;
            if (!m_chunks.empty()) return true;
        }
        if (m_advance && timeout.count() > 0) m_advance(timeout);
        return false;
    }

    bool writeAll(std::string_view data, std::chrono::milliseconds /*timeout*/) override {
        WriteHook hook;
        {
            std::lock_guard lock(m_mutex);
            if (m_failWrites || downLocked()) return false;
            m_written.append(data);
            m_sinceStep.append(data);
            // One step per write: the next step waits for bytes of a later write.
            if (!m_steps.empty() && m_sinceStep.find(m_steps.front().trigger) != std::string::npos) {
                m_sinceStep.clear();
                if (!m_steps.front().chunk.empty()) m_chunks.push_back(std::move(m_steps.front().chunk));
                m_steps.pop_front();
            }
            hook = m_hook;
        }
        if (hook) hook(data, *this);
        return true;
    }

    bool up() const override {
        std::lock_guard lock(m_mutex);
        return !downLocked();
    }

private:
    struct Step {
        std::string trigger;
        std::string chunk;
    };

    bool downLocked() const {
        return m_closed || (m_endWhenDrained && m_chunks.empty() && m_steps.empty());
    }

    std::function<void(std::chrono::milliseconds)> m_advance;
    mutable std::mutex m_mutex;
    std::deque<std::string> m_chunks;
    std::deque<Step> m_steps;
    std::string m_written;
    std::string m_sinceStep;
    WriteHook m_hook;
    bool m_endWhenDrained = false;
    bool m_closed = false;
    bool m_failWrites = false;
    int m_waitCalls = 0;
};

}  // namespace nv::test
