#include "protocols/SmppSession.h"

#include <algorithm>

#include "foundation/PageRecord.h"
#include "foundation/TextUtil.h"

namespace nv {
namespace {

constexpr const char* kSearching = "[SMPP Connection] Searching For SMPP Host...";
constexpr const char* kConnectedTo = "[SMPP Connection] Connected To SMPP Server ";
constexpr const char* kAborted = "[SMPP Connection] Call Aborted By User!";
constexpr const char* kSendingBlock = "[SMPP Connection] Sending Block ";
constexpr const char* kConnectError = "Error, Conecting To Host: ";
constexpr const char* kNoResponse = "Error, No Responce From Host";
constexpr const char* kStatusNotSent = "Error, Sending Staus Request";
constexpr const char* kSent = "Message Sent Successfully";
constexpr const char* kNothingToSend = "No Message To Send!";
constexpr const char* kNothingNumeric = "No Message To Send, Numeric Only Pager!";

bool portNumber(const std::string& text, std::uint16_t& port) {
    std::string t = trimmed(text);
    if (t.empty()) {
        port = 2775;
        return true;
    }
    if (t.size() > 5 || !std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
    long v = std::stol(t);
    if (v < 1 || v > 65535) return false;
    port = static_cast<std::uint16_t>(v);
    return true;
}

}  // namespace

std::vector<std::string> splitSmppMessage(std::string message, std::string& lastCut) {
    // The same cut as SNPP and SMS: back to the nearest blank, which ends the part.
    const MarkedSplit rule{kSmppPartLength, kSmppPartLength, kSmppMaxParts};
    return splitWithMarks(std::move(message), rule, lastCut);
}

std::string smppStateText(int state) {
    switch (state) {
        case 0:
        case 1: return "Message Queued; Awaiting Delivery";
        case 2: return "Message Delivered (No Reply Pending)";
        case 3: case 4: case 5: case 7: case 8: case 9: return "Message Expired Before Delivery";
        case 6: return "Message Delivered and Read by Recipient";
        default: return {};
    }
}

struct SmppSession::Call {
    const SmppRequest& page;
    SmppResult& result;
    std::vector<std::string> parts;
    std::string workingText;  // the splitter's last cut, for the error line
    std::uint16_t port = 2775;

    bool cancelled() const { return page.cancelled && page.cancelled(); }
    void log(const std::string& line) const {
        if (page.log) page.log(line);
    }
};

SmppSession::SmppSession(Clock& ioClock, Clock& pauseClock)
    : m_ioClock(ioClock), m_pauseClock(pauseClock),
      m_open([](SmppClient& client, std::chrono::milliseconds timeout) { return client.connect(timeout); }) {}

void SmppSession::pause(const Call& call, std::chrono::milliseconds d) {
    if (d.count() <= 0) return;
    if (m_pause)
        m_pause(d);
    else
        sleepUnless(m_pauseClock, d, [&call] { return call.cancelled(); });
}

bool SmppSession::connectionError(Call& call, const std::string& error) {
    call.result.reply = withoutLineBreaks(error);
    call.log("[SMPP Connection] " + call.result.reply + " \"" + call.page.PIN + "\" at " + call.page.server +
             " - " + call.workingText);
    return false;
}

SmppResult SmppSession::send(const SmppRequest& page) {
    SmppResult result;
    Call call{page, result, {}, {}, 2775};
    // The id stays empty until the message is known to go out.

    std::string text = page.message;
    if (page.numericOnly) {
        text.erase(std::remove_if(text.begin(), text.end(), [](char c) { return c < '0' || c > '9'; }), text.end());
        call.workingText = text;
    }
    if (text.empty()) {
        result.reply = page.numericOnly ? kNothingNumeric : kNothingToSend;
        return result;
    }
    if (!portNumber(page.port, call.port)) {
        connectionError(call, std::string(kConnectError) + "'" + page.port + "' is not a valid port number");
        return result;
    }

    std::string lastCut;
    call.parts = splitSmppMessage(text, lastCut);
    if (!lastCut.empty()) call.workingText = lastCut;
    result.messageId = page.messageId;  // a status query asks about what it was given

    int n = static_cast<int>(call.parts.size());
    for (int k = 0; k < n; ++k) {
        int i = page.reverse ? n - 1 - k : k;
        if (!runSession(call, i + 1)) return result;
        if (n > 1 && k + 1 < n) pause(call, page.timing.partPause);
    }
    result.delivered = true;
    return result;
}

bool SmppSession::runSession(Call& call, int part) {
    const SmppRequest& page = call.page;
    int n = static_cast<int>(call.parts.size());
    if (call.cancelled()) return false;
    call.log(kSearching);

    SmppClient::Settings settings;
    settings.server = page.server;
    settings.port = call.port;
    settings.userId = page.user;
    settings.password = page.password;
    settings.protocol = page.protocol == 1 ? SmppClient::kCimd2 : SmppClient::kSmpp;
    settings.systemType = "PRI";
    // Carrier certificates are accepted as they come, as the gateway always did.
    settings.tls.enabled = page.secureMode != -1;
    settings.tls.verifyPeer = false;
    SmppClient client(settings, m_ioClock);
    client.setCancelTest([&call] { return call.cancelled(); });
    client.setResponseTimeout(page.timing.responseWait);

    if (!m_open(client, page.timing.connectWait)) {
        if (call.cancelled()) {
            call.log(kAborted);
            client.disconnect();
            return false;
        }
        std::string err = client.lastError();
        if (err == kNoResponse) return connectionError(call, kNoResponse);
        return connectionError(call, std::string(kConnectError) + err);
    }
    call.log(std::string(kConnectedTo) + page.server);

    const std::string& partText = call.parts[static_cast<std::size_t>(part - 1)];
    if (isStatusQuery(partText)) {
        std::string id = trimmed(partText.substr(5));
        if (id.empty()) id = call.result.messageId;
        SmppClient::MessageStatus status;
        if (!client.checkMessageStatus(id, page.PIN, status)) {
            client.disconnect();
            return connectionError(call, kStatusNotSent);
        }
        call.result.reply = smppStateText(status.messageState);
        client.disconnect();
        return !call.cancelled();
    }

    call.log(std::string(kSendingBlock) + std::to_string(part) + " of " + std::to_string(n));
    std::string text = n > 1 ? "(" + std::to_string(part) + " of " + std::to_string(n) + ")  " + partText : partText;
    std::string id;
    if (!client.sendMessage(page.PIN, text, id)) {
        std::string err = client.lastError();
        client.disconnect();
        return connectionError(call, err);
    }
    call.result.messageId = id;
    call.result.reply = kSent;
    client.disconnect();
    if (n > 1) pause(call, page.timing.inPartPause);
    return true;
}

}  // namespace nv
