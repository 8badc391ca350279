#pragma once
// Name look-up bounded by a deadline. getaddrinfo() itself cannot be bounded:
// with a name server that does not answer it waits for the resolver's own
// retries (tens of seconds), which would break every connect time-out. The
// look-up therefore runs on a thread of its own; a caller that stops waiting
// leaves it behind to finish and free its result.
#include <netdb.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

namespace nv {

// The addresses found; freed with the object.
class AddressList {
public:
    AddressList() = default;
    explicit AddressList(addrinfo* list) : m_list(list, &::freeaddrinfo) {}
    const addrinfo* first() const { return m_list.get(); }
    explicit operator bool() const { return m_list != nullptr; }

private:
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> m_list{nullptr, &::freeaddrinfo};
};

// getaddrinfo() or a stand-in with its contract (tests).
using LookupFn = std::function<int(const std::string& host, const std::string& service, const addrinfo& hints,
                                   addrinfo** result)>;

int systemLookup(const std::string& host, const std::string& service, const addrinfo& hints, addrinfo** result);

// Stream-socket addresses of `host`. A numeric address is taken at once; a name
// is looked up by `lookup` until `deadline` or until `cancelled` is set. False
// with the reason in `error` ("Cannot resolve <host>: ...").
bool lookUpHost(const std::string& host, const std::string& service, std::chrono::steady_clock::time_point deadline,
                const std::atomic<bool>& cancelled, AddressList& out, std::string& error,
                const LookupFn& lookup = systemLookup);

}  // namespace nv
