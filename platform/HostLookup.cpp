#include "platform/HostLookup.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace nv {

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

constexpr milliseconds kSlice{50};

// Shared by the caller and the look-up thread; whoever leaves last frees it.
struct Pending {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    AddressList result;
};

addrinfo streamHints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags;
    return hints;
}

}  // namespace

int systemLookup(const std::string& host, const std::string& service, const addrinfo& hints, addrinfo** result) {
    return ::getaddrinfo(host.c_str(), service.c_str(), &hints, result);
}

bool lookUpHost(const std::string& host, const std::string& service, steady_clock::time_point deadline,
                const std::atomic<bool>& cancelled, AddressList& out, std::string& error, const LookupFn& lookup) {
    // An address needs no name server and no thread.
    addrinfo* numeric = nullptr;
    addrinfo hints = streamHints(AI_NUMERICHOST);
    if (systemLookup(host, service, hints, &numeric) == 0) {
        out = AddressList(numeric);
        return true;
    }

    auto pending = std::make_shared<Pending>();
    try {
        std::thread([pending, host, service, lookup] {
            addrinfo* list = nullptr;
            int rc = lookup(host, service, streamHints(0), &list);
            std::lock_guard<std::mutex> g(pending->mutex);
            pending->rc = rc;
            if (rc == 0) pending->result = AddressList(list);
            pending->finished = true;
            pending->done.notify_all();
        }).detach();
    } catch (const std::system_error& e) {
        error = "Cannot resolve " + host + ": " + e.what();
        return false;
    }

    std::unique_lock<std::mutex> lock(pending->mutex);
    while (!pending->finished) {
        if (cancelled.load()) {
            error = "Cannot resolve " + host + ": cancelled";
            return false;
        }
        auto now = steady_clock::now();
        if (now >= deadline) {
            error = "Cannot resolve " + host + ": no answer in time";
            return false;
        }
        pending->done.wait_for(lock, std::min<steady_clock::duration>(kSlice, deadline - now));
    }
    if (pending->rc != 0) {
        error = "Cannot resolve " + host + ": " + gai_strerror(pending->rc);
        return false;
    }
    out = std::move(pending->result);
    return true;
}

}  // namespace nv
