#include "platform/EventLoop.h"

#include "platform/AsioContext.h"

namespace nv {

EventLoop::EventLoop() : m_impl(std::make_unique<Impl>()) {}

EventLoop::~EventLoop() = default;

void EventLoop::post(std::function<void()> fn) {
    asio::post(m_impl->io, std::move(fn));
}

void EventLoop::run() {
    auto guard = asio::make_work_guard(m_impl->io);
    while (!m_quit.load()) {
        m_impl->io.restart();
        m_impl->io.run();
    }
}

void EventLoop::quit() {
    m_quit.store(true);
    m_impl->io.stop();
}

std::size_t EventLoop::poll() {
    if (m_impl->io.stopped()) m_impl->io.restart();
    return m_impl->io.poll();
}

void EventLoop::pumpFor(std::chrono::milliseconds d) {
    auto until = std::chrono::steady_clock::now() + d;
    auto guard = asio::make_work_guard(m_impl->io);
    // run_until returns early when the loop is stopped; keep serving to the end.
    while (std::chrono::steady_clock::now() < until) {
        if (m_impl->io.stopped()) m_impl->io.restart();
        m_impl->io.run_until(until);
    }
}

bool EventLoop::pumpUntil(const std::function<bool()>& done, std::chrono::milliseconds d) {
    auto until = std::chrono::steady_clock::now() + d;
    auto guard = asio::make_work_guard(m_impl->io);
    while (!done()) {
        if (std::chrono::steady_clock::now() >= until) return done();
        if (m_impl->io.stopped()) m_impl->io.restart();
        m_impl->io.run_one_until(until);
    }
    return true;
}

struct RepeatingTimer::State : std::enable_shared_from_this<RepeatingTimer::State> {
    State(asio::io_context& io, std::chrono::milliseconds p, std::function<void()> t)
        : timer(io), period(p), tick(std::move(t)) {}
    asio::steady_timer timer;
    std::chrono::milliseconds period;
    std::function<void()> tick;
    bool alive = true;

    void arm() {
        // From the previous expiry, so the ticks do not drift with handler time.
        timer.expires_at(timer.expiry() + period);
        timer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            if (ec || !self->alive) return;
            self->tick();
            if (self->alive) self->arm();
        });
    }
};

RepeatingTimer::RepeatingTimer(EventLoop& loop, std::chrono::milliseconds period,
                               std::function<void()> tick)
    : m_state(std::make_shared<State>(loop.impl().io, period, std::move(tick))) {
    m_state->timer.expires_at(asio::steady_timer::clock_type::now());
    m_state->arm();
}

RepeatingTimer::~RepeatingTimer() {
    m_state->alive = false;
    m_state->timer.cancel();
}

struct SignalWatch::State : std::enable_shared_from_this<SignalWatch::State> {
    State(asio::io_context& io, std::function<void(int)> h) : set(io), handler(std::move(h)) {}
    asio::signal_set set;
    std::function<void(int)> handler;
    bool alive = true;

    void arm() {
        set.async_wait([self = shared_from_this()](const asio::error_code& ec, int sig) {
            if (ec || !self->alive) return;
            self->handler(sig);
            if (self->alive) self->arm();
        });
    }
};

SignalWatch::SignalWatch(EventLoop& loop, const std::vector<int>& signals,
                         std::function<void(int)> handler)
    : m_state(std::make_shared<State>(loop.impl().io, std::move(handler))) {
    for (int s : signals) m_state->set.add(s);
    m_state->arm();
}

SignalWatch::~SignalWatch() {
    m_state->alive = false;
    asio::error_code ec;
    m_state->set.cancel(ec);
    m_state->set.clear(ec);
}

}  // namespace nv
