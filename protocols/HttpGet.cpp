#include "protocols/HttpGet.h"

#include <algorithm>

#include "protocols/KORInetPagingCurl.h"

namespace nv {
namespace {

struct Transfer {
    const HttpGetOptions* options;
    const std::function<void(HttpGetStep, int)>* progress;
    CURL* handle = nullptr;
    std::string body;
    std::string statusLine;
    bool started = false;

    void report(HttpGetStep step, int percent) {
        if (*progress) (*progress)(step, percent);
    }
};

int cancelled(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return t->options->cancel && t->options->cancel->load() ? 1 : 0;
}

int connected(void* user, char*, char*, int, int) {
    static_cast<Transfer*>(user)->report(HttpGetStep::Connected, 0);
    return CURL_PREREQFUNC_OK;
}

size_t header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        const std::size_t space = line.find(' ');
        t->statusLine = space == std::string::npos ? std::string() : line.substr(space + 1);
        while (!t->statusLine.empty() && (t->statusLine.back() == '\r' || t->statusLine.back() == '\n'))
            t->statusLine.pop_back();
    }
    if (!t->started) {
        t->started = true;
        t->report(HttpGetStep::StartTransfer, 0);
    }
    return bytes;
}

size_t body(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t taken = inet::appendReply(data, size, count, &t->body);
    if (taken != size * count) return taken;
    curl_off_t total = -1;
    curl_easy_getinfo(t->handle, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
    int percent = 0;
    if (total > 0) percent = static_cast<int>(std::min<curl_off_t>(100, t->body.size() * 100 / total));
    t->report(HttpGetStep::Transfer, percent);
    return taken;
}

}  // namespace

HttpGetResult httpGet(const std::string& url, const HttpGetOptions& options,
                      const std::function<void(HttpGetStep, int)>& progress) {
    HttpGetResult result;
    char errorBuffer[CURL_ERROR_SIZE];
    inet::CurlHandle handle = inet::newHandle(errorBuffer, options.cancel);
    if (!handle) {
        result.error = "Unable to start an HTTP request";
        return result;
    }
    CURL* h = handle.get();
    Transfer t{&options, &progress, nullptr, {}, {}, false};
    t.handle = h;
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(options.timeout.count()));
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &cancelled);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(h, CURLOPT_PREREQFUNCTION, &connected);
    curl_easy_setopt(h, CURLOPT_PREREQDATA, &t);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &header);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &body);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, options.verifyTls ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, options.verifyTls ? 2L : 0L);
    if (!options.proxyHost.empty()) {
        // https goes through a CONNECT tunnel, http in absolute form.
        curl_easy_setopt(h, CURLOPT_PROXY, options.proxyHost.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPORT, options.proxyPort);
        curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        if (!options.proxyUser.empty()) {
            curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, options.proxyUser.c_str());
            curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, options.proxyPassword.c_str());
            curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
        }
    }
    const CURLcode code = curl_easy_perform(h);
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &result.status);
    if (code != CURLE_OK) {
        result.error = inet::errorText(code, errorBuffer);
        return result;
    }
    if (result.status < 200 || result.status >= 300) {
        result.error = t.statusLine.empty() ? "HTTP " + std::to_string(result.status) : t.statusLine;
        return result;
    }
    result.ok = true;
    result.body = std::move(t.body);
    return result;
}

}  // namespace nv
