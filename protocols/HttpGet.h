#pragma once
// One HTTP(S) GET on the libcurl layer of the internet pager, in the calling
// thread (the manager runs it on a worker): the carrier list download. The
// proxy is only the one given (never the environment's), redirects are not
// followed, only http and https are spoken, and certificates are verified
// unless switched off.
#include <atomic>
#include <chrono>
#include <functional>
#include <string>

namespace nv {

struct HttpGetOptions {
    std::string proxyHost;  // empty: no proxy
    long proxyPort = 80;
    std::string proxyUser;  // empty: no proxy login
    std::string proxyPassword;
    bool verifyTls = true;
    std::chrono::milliseconds timeout{60000};
    const std::atomic<bool>* cancel = nullptr;  // set: the transfer ends as failed
};

enum class HttpGetStep {
    Connected,      // the connection (and TLS, proxy tunnel) is up; the request goes out
    StartTransfer,  // the reply's first bytes arrived
    Transfer,       // more of the body arrived; percent of Content-Length, 0 when unknown
};

struct HttpGetResult {
    bool ok = false;     // a 2xx reply was read whole
    long status = 0;     // the HTTP status, 0 when none arrived
    std::string body;    // bytes as received
    std::string error;   // why not ok: libcurl's text or the status line ("404 Not Found")
};

// `progress` is called in the calling thread, during the transfer.
HttpGetResult httpGet(const std::string& url, const HttpGetOptions& options,
                      const std::function<void(HttpGetStep step, int percent)>& progress = {});

}  // namespace nv
