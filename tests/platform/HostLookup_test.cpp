// Name look-up bounded by the caller's deadline and cancel, with a stand-in
// resolver that answers only when the test lets it.
#include "platform/HostLookup.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace nv {
namespace {

using namespace std::chrono_literals;
using std::chrono::steady_clock;

// A resolver that hangs like one whose name server does not answer, until
// released; then it gives 127.0.0.1 (or the error it was set up with).
struct StuckResolver {
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool released = false;
        int calls = 0;
        int rc = 0;
    };
    std::shared_ptr<State> state = std::make_shared<State>();

    LookupFn fn() const {
        auto s = state;
        return [s](const std::string&, const std::string& service, const addrinfo& hints, addrinfo** result) {
            std::unique_lock<std::mutex> lock(s->m);
            ++s->calls;
            s->cv.wait(lock, [&] { return s->released; });
            if (s->rc != 0) return s->rc;
            addrinfo h = hints;
            h.ai_flags = AI_NUMERICHOST;
            return ::getaddrinfo("127.0.0.1", service.c_str(), &h, result);
        };
    }
    void release() {
        std::lock_guard<std::mutex> g(state->m);
        state->released = true;
        state->cv.notify_all();
    }
    int calls() const {
        std::lock_guard<std::mutex> g(state->m);
        return state->calls;
    }
};

TEST(HostLookup, NumericAddressNeedsNoResolver) {
    StuckResolver never;
    std::atomic<bool> cancel{false};
    AddressList list;
    std::string error;
    for (const char* host : {"127.0.0.1", "::1"}) {
        ASSERT_TRUE(lookUpHost(host, "444", steady_clock::now() + 1s, cancel, list, error, never.fn())) << host;
        ASSERT_TRUE(list.first());
        EXPECT_EQ(list.first()->ai_socktype, SOCK_STREAM);
    }
    EXPECT_EQ(never.calls(), 0);
    never.release();
}

TEST(HostLookup, AnswerInTimeGivesTheAddresses) {
    StuckResolver r;
    r.release();
    std::atomic<bool> cancel{false};
    AddressList list;
    std::string error;
    ASSERT_TRUE(lookUpHost("pager.example", "444", steady_clock::now() + 10s, cancel, list, error, r.fn())) << error;
    ASSERT_TRUE(list.first());
    const auto* in = reinterpret_cast<const sockaddr_in*>(list.first()->ai_addr);
    EXPECT_EQ(ntohs(in->sin_port), 444);
}

TEST(HostLookup, ResolverErrorIsReportedWithTheHost) {
    StuckResolver r;
    r.state->rc = EAI_NONAME;
    r.release();
    std::atomic<bool> cancel{false};
    AddressList list;
    std::string error;
    EXPECT_FALSE(lookUpHost("nowhere.example", "444", steady_clock::now() + 10s, cancel, list, error, r.fn()));
    EXPECT_EQ(error, std::string("Cannot resolve nowhere.example: ") + gai_strerror(EAI_NONAME));
    EXPECT_FALSE(list);
}

// The caller leaves at its deadline or on cancel; the stuck look-up finishes
// later on its own without touching the caller's objects.
TEST(HostLookup, DeadlineAndCancelEndTheWaitForAStuckResolver) {
    StuckResolver r;
    {
        std::atomic<bool> cancel{false};
        AddressList list;
        std::string error;
        auto start = steady_clock::now();
        EXPECT_FALSE(lookUpHost("slow.example", "444", start + 300ms, cancel, list, error, r.fn()));
        EXPECT_GE(steady_clock::now() - start, 300ms);
        EXPECT_EQ(error, "Cannot resolve slow.example: no answer in time");
        EXPECT_FALSE(list);
    }
    {
        std::atomic<bool> cancel{false};
        AddressList list;
        std::string error;
        std::thread canceller([&] {
            std::this_thread::sleep_for(100ms);
            cancel.store(true);
        });
        EXPECT_FALSE(lookUpHost("slow.example", "444", steady_clock::now() + 60s, cancel, list, error, r.fn()));
        canceller.join();
        EXPECT_EQ(error, "Cannot resolve slow.example: cancelled");
    }
    r.release();
    // Both abandoned look-ups ran and ended.
    auto until = steady_clock::now() + 10s;
    while (r.state.use_count() > 1 && steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(r.state.use_count(), 1);
    EXPECT_EQ(r.calls(), 2);
}

}  // namespace
}  // namespace nv
