#pragma once
// The internet pager: WCTP messages and status queries over HTTP(S), and e-mail
// pages by SMTP. Every call runs to its end in the caller's thread and keeps
// all its working state (reply, error text, server list, done flag, the
// certificate switch) in a context of its own: page workers and port threads
// may call one instance at the same time without reading each other's reply.
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "protocols/KORInetPagingDefs.h"
#include "protocols/MxLookup.h"

namespace nv {

// Once in the program's main, before any thread starts (curl_global_init is
// not thread-safe). Returns false when libcurl could not be set up.
bool initInternetPaging();
void cleanupInternetPaging();

struct InetPagingOptions {
    std::function<std::chrono::system_clock::time_point()> now;  // empty: the system clock
    std::chrono::milliseconds httpTimeout{15000};
    std::chrono::milliseconds partPause{1500};  // between the parts of a split message
    // Checked while waiting and during transfers; set: the call ends as failed.
    const std::atomic<bool>* cancel = nullptr;
    ResolverConfig resolver;  // MX look-ups
    // libcurl CONNECT_TO entries ("host:port:connect-host:connect-port"): lets
    // tests map mail exchanger names to loopback peers.
    std::vector<std::string> connectTo;
};

class TKORInetPagingComp {
public:
    explicit TKORInetPagingComp(InetPagingOptions options = {});

    // A request record with its defaults; freeing is the unique_ptr's.
    std::unique_ptr<TWCTPData> LoadWCTPData() const;

    // Splits data.fMessage and submits each part; true when every part was
    // accepted. data.fRspData holds the reply lines of the last part submitted;
    // data.fMessage is left as it came in.
    bool SendWCTPMessage(TWCTPData& data) const;
    // Status of the message with tracking number `id`.
    bool SendWCTPQuery(const std::string& id, TWCTPData& data) const;

    // Sends to each ";"-separated address of data.DestPin; true when the last
    // address was sent. data.SendError holds the errors of the call (50 characters).
    bool SendMailMessage(TSMTPData& data) const;

    std::string GetWCTPGMTTime(const std::string& localTime) const;

private:
    struct WctpCall;
    struct MailCall;

    std::chrono::system_clock::time_point now() const;
    bool cancelled() const { return m_options.cancel && m_options.cancel->load(); }
    // Waits in short slices so a cancel ends the pause at once.
    void pause(std::chrono::milliseconds span) const;

    bool SendWCTPBlock(TWCTPData& data, const std::string& part) const;
    bool SubmitWCTPMessage(TWCTPData& data) const;
    bool SubmitWCTPQuery(const std::string& id, TWCTPData& data) const;
    bool checkServer(TWCTPData& data) const;
    bool PostWCTPRequest(WctpCall& call, TWCTPData& data, const std::string& request) const;

    bool DoSendMail(TSMTPData& data) const;
    bool sendToAddress(MailCall& call, TSMTPData& data, const std::string& address) const;
    std::string NextMailServer(MailCall& call, TSMTPData& data) const;
    void AddMailError(MailCall& call, TSMTPData& data, const std::string& text) const;
    // One SMTP session; false with call.ErrorData set when it failed.
    bool sendOnce(MailCall& call, const TSMTPData& data, const std::string& server,
                  const std::string& address) const;

    InetPagingOptions m_options;
};

}  // namespace nv
