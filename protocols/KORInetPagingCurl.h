#pragma once
// libcurl settings shared by the WCTP and the e-mail side: one easy handle per
// request, never a signal, no proxy taken from the environment, and a
// progress hook that ends a transfer when the caller's cancel flag is set.
#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <string>

namespace nv::inet {

struct CurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlHandle = std::unique_ptr<CURL, CurlDeleter>;

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, SlistDeleter>;

// Replies larger than this are refused rather than held in memory.
inline constexpr std::size_t kMaxReplyBytes = 4u << 20;

// A handle with the settings every request shares; `errorBuffer` must hold
// CURL_ERROR_SIZE bytes and outlive the handle's use.
CurlHandle newHandle(char* errorBuffer, const std::atomic<bool>* cancel);

// Appends received bytes to the std::string passed as user data.
size_t appendReply(char* data, size_t size, size_t count, void* user);

// The error buffer's text, or libcurl's text for `code` when it is empty.
std::string errorText(CURLcode code, const char* errorBuffer);

}  // namespace nv::inet
