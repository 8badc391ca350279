#include <algorithm>
#include <cctype>
#include <thread>

#include "foundation/Clock.h"
#include "foundation/FileUtil.h"
#include "foundation/TextUtil.h"
#include "protocols/KORInetPaging.h"
#include "protocols/KORInetPagingCurl.h"
#include "protocols/KORInetPagingXml.h"

namespace nv {
namespace {

// Reply lines the pager writes itself.
constexpr const char* kNoMessage = "errorText=No Message To Send!";
constexpr const char* kPinRequired = "errorText=PIN Required!";
constexpr const char* kNoServer = "errorText=No Server Specified!";
constexpr const char* kSchemeRequired = "errorText=http:// or https:// Required In URL!";
constexpr const char* kIdRequired = "errorText=Message ID Required!";
constexpr const char* kConnectError = "Error Connecting To Server, ";


struct HeaderCapture {
    std::string status;  // "500 Internal Server Error" of the last status line
};

size_t captureHeader(char* data, size_t size, size_t count, void* user) {
    const size_t bytes = size * count;
    std::string line(data, bytes);
    if (line.rfind("HTTP/", 0) == 0) {
        std::size_t space = line.find(' ');
        std::string status = space == std::string::npos ? std::string() : line.substr(space + 1);
        while (!status.empty() && (status.back() == '\r' || status.back() == '\n' || status.back() == ' '))
            status.pop_back();
        static_cast<HeaderCapture*>(user)->status = status;
    }
    return bytes;
}

// https goes through a CONNECT tunnel, http in absolute form; libcurl copies the strings.
void useProxy(CURL* h, const TWCTPData& data) {
    long proxyPort = 80;
    const std::string proxyHost = wctp::proxyAddress(data.fProxyServer, proxyPort);
    curl_easy_setopt(h, CURLOPT_PROXY, proxyHost.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPORT, proxyPort);
    curl_easy_setopt(h, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
    if (!data.fProxyUserName.empty()) {
        curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, data.fProxyUserName.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, data.fProxyPassword.c_str());
        curl_easy_setopt(h, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC));
    }
}

}  // namespace

void TWCTPData::clampFields() {
    cutTo(fWCTPDocType, 255);
    cutTo(fPIN, 100);
    cutTo(fSenderID, 100);
    cutTo(fSecurityCode, 35);
    cutTo(fSendResponseTo, 100);
    cutTo(fDeliverBefore, 50);
    cutTo(fDeliverAfter, 50);
    cutTo(fMiscSenderInfo, 100);
    cutTo(fMessageID, 25);
    cutTo(fTransactionID, 35);
    cutTo(fWCTPServer, 255);
    cutTo(fProxyServer, 255);
    cutTo(fProxyUserName, 50);
    cutTo(fProxyPassword, 50);
}

// Everything one post fills; it lives on the caller's stack, never in the instance.
struct TKORInetPagingComp::WctpCall {
    std::string ResultData;
    std::string ErrorData;
    bool FailOnBadSSL = true;
};

TKORInetPagingComp::TKORInetPagingComp(InetPagingOptions options) : m_options(std::move(options)) {}

std::chrono::system_clock::time_point TKORInetPagingComp::now() const {
    return m_options.now ? m_options.now() : std::chrono::system_clock::now();
}

void TKORInetPagingComp::pause(std::chrono::milliseconds span) const {
    sleepUnless(steadyClock(), span, [this] { return cancelled(); });
}

std::unique_ptr<TWCTPData> TKORInetPagingComp::LoadWCTPData() const { return std::make_unique<TWCTPData>(); }

std::string TKORInetPagingComp::GetWCTPGMTTime(const std::string& localTime) const {
    return wctp::GetWCTPGMTTime(localTime, now());
}

bool TKORInetPagingComp::SendWCTPMessage(TWCTPData& data) const {
    data.clampFields();
    const std::string original = data.fMessage;
    const std::vector<std::string> parts = wctp::splitWCTPMessage(original, data.fMaxLength);
    bool ok = true;
    for (const std::string& part : parts) {
        if (!SendWCTPBlock(data, part)) {
            ok = false;
            break;
        }
        if (parts.size() > 1) pause(m_options.partPause);
    }
    data.fMessage = original;
    return ok;
}

bool TKORInetPagingComp::SendWCTPBlock(TWCTPData& data, const std::string& part) const {
    data.fMessage = part;
    return SubmitWCTPMessage(data);
}

bool TKORInetPagingComp::checkServer(TWCTPData& data) const {
    if (data.fWCTPServer.empty()) {
        data.fRspData = std::string(kNoServer) + "\r\n";
        return false;
    }
    const std::string server = lowerAscii(data.fWCTPServer);
    if (server.find("http://") == std::string::npos && server.find("https://") == std::string::npos) {
        data.fRspData = std::string(kSchemeRequired) + "\r\n";
        return false;
    }
    return true;
}

bool TKORInetPagingComp::SubmitWCTPMessage(TWCTPData& data) const {
    data.fCancelCall = false;
    data.fRspData.clear();
    if (data.fMessage.empty()) {
        data.fRspData = std::string(kNoMessage) + "\r\n";
        return false;
    }
    if (data.fPIN.empty()) {
        data.fRspData = std::string(kPinRequired) + "\r\n";
        return false;
    }
    if (!checkServer(data)) return false;
    const std::string request = wctp::buildSubmitRequest(data, wctp::FormatWCTPTime(now()));
    WctpCall call;
    wctp::ReplyList list;
    bool ok = false;
    if (PostWCTPRequest(call, data, request)) {
        bool isXml = false;
        ok = wctp::readReply(call.ResultData,
                             data.WCTPEnterprise ? wctp::ReplyKind::Request : wctp::ReplyKind::Submit,
                             data.fMessageID, list, isXml);
    } else {
        list.add("errorText=" + lineBreaksAsBlanks(call.ErrorData));
    }
    data.fRspData = list.text();
    return ok;
}

bool TKORInetPagingComp::SendWCTPQuery(const std::string& id, TWCTPData& data) const {
    data.clampFields();
    return SubmitWCTPQuery(id, data);
}

bool TKORInetPagingComp::SubmitWCTPQuery(const std::string& id, TWCTPData& data) const {
    data.fCancelCall = false;
    data.fRspData.clear();
    if (id.empty()) {
        data.fRspData = std::string(kIdRequired) + "\r\n";
        return false;
    }
    if (data.fPIN.empty()) {
        data.fRspData = std::string(kPinRequired) + "\r\n";
        return false;
    }
    if (!checkServer(data)) return false;
    WctpCall call;
    wctp::ReplyList list;
    bool ok = false;
    if (PostWCTPRequest(call, data, wctp::buildQueryRequest(data, id))) {
        bool isXml = false;
        ok = wctp::readReply(call.ResultData, wctp::ReplyKind::Query, data.fMessageID, list, isXml);
    } else {
        list.add("errorText=" + lineBreaksAsBlanks(call.ErrorData));
    }
    data.fRspData = list.text();
    return ok;
}

bool TKORInetPagingComp::PostWCTPRequest(WctpCall& call, TWCTPData& data, const std::string& request) const {
    call.ResultData.clear();
    call.ErrorData.clear();
    call.FailOnBadSSL = data.fFailOnBadSSL;
    const wctp::PostAddress address = wctp::postAddress(data.fWCTPServer, data.fWCTPPort);

    char errorBuffer[CURL_ERROR_SIZE];
    inet::CurlHandle handle = inet::newHandle(errorBuffer, m_options.cancel);
    if (!handle) {
        call.ErrorData = std::string(kConnectError) + "No HTTP Client!";
        return false;
    }
    CURL* h = handle.get();
    // An empty "Expect:" keeps libcurl from waiting for 100-continue on larger
    // bodies, which older WCTP servers never send.
    inet::CurlList headers(curl_slist_append(nullptr, "Content-Type: text/xml"));
    curl_slist_append(headers.get(), "Expect:");
    HeaderCapture capture;
    std::string body;
    curl_easy_setopt(h, CURLOPT_URL, address.url.c_str());
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.size()));
    curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, static_cast<long>(m_options.httpTimeout.count()));
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &inet::appendReply);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, &body);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &captureHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, &capture);
    // On: the certificate must verify against the system's CA store.
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, call.FailOnBadSSL ? 1L : 0L);
    curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, call.FailOnBadSSL ? 2L : 0L);
    if (!data.fProxyServer.empty()) useProxy(h, data);

    const CURLcode rc = cancelled() ? CURLE_ABORTED_BY_CALLBACK : curl_easy_perform(h);
    if (rc == CURLE_PEER_FAILED_VERIFICATION) {
        // The refused certificate's status is the error, as the certificate handler had it.
        call.ErrorData = inet::errorText(rc, errorBuffer);
        return false;
    }
    if (rc != CURLE_OK) {
        const std::string why = cancelled() ? std::string("Call Cancelled") : inet::errorText(rc, errorBuffer);
        call.ErrorData = kConnectError + why + "!";
        return false;
    }
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    if (status >= 300) {
        call.ErrorData = kConnectError + std::string("HTTP ") +
                         (capture.status.empty() ? std::to_string(status) : capture.status) + "!";
        return false;
    }
    call.ResultData = std::move(body);
    return true;
}

}  // namespace nv
