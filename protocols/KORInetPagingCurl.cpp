#include "protocols/KORInetPagingCurl.h"

#include "protocols/KORInetPaging.h"

namespace nv {

bool initInternetPaging() { return curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; }

void cleanupInternetPaging() { curl_global_cleanup(); }

namespace inet {
namespace {

int progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* cancel = static_cast<const std::atomic<bool>*>(user);
    return cancel && cancel->load() ? 1 : 0;
}

}  // namespace

CurlHandle newHandle(char* errorBuffer, const std::atomic<bool>* cancel) {
    CurlHandle handle(curl_easy_init());
    if (!handle) return handle;
    CURL* h = handle.get();
    errorBuffer[0] = '\0';
    curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer);
    // Worker threads: no SIGALRM-based name look-up time-outs.
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    // Only the configured proxy, never one from http_proxy in the environment.
    curl_easy_setopt(h, CURLOPT_PROXY, "");
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &progress);
    curl_easy_setopt(h, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(cancel));
    return handle;
}

size_t appendReply(char* data, size_t size, size_t count, void* user) {
    auto* out = static_cast<std::string*>(user);
    const size_t bytes = size * count;
    if (out->size() + bytes > kMaxReplyBytes) return 0;
    out->append(data, bytes);
    return bytes;
}

std::string errorText(CURLcode code, const char* errorBuffer) {
    if (errorBuffer && errorBuffer[0]) {
        std::string text = errorBuffer;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        return text;
    }
    return curl_easy_strerror(code);
}

}  // namespace inet
}  // namespace nv
