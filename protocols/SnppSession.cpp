#include "protocols/SnppSession.h"

#include <algorithm>
#include <exception>
#include <memory>

#include "foundation/PageRecord.h"
#include "foundation/TextUtil.h"

namespace nv {

namespace {

// Texts of the log and of the reply argument.
constexpr const char* kSearching = "[SNPP Connection] Searching For SNPP Host...";
constexpr const char* kConnectedTo = "[SNPP Connection] Connected To SNPP Server ";
constexpr const char* kAborted = "[SNPP Connection] Call Aborted By User!";
constexpr const char* kSendingBlock = "[SNPP Connection] Sending Block ";
constexpr const char* kTwoWayEnabled = "[SNPP Connection] 2 Way Enabled";
constexpr const char* kTwoWayNotSupported = "[SNPP Connection] 2 Way Not Supported";
constexpr const char* kCoverageSelected = "[SNPP Delivery Status] Alt. Coverage Selected ";
constexpr const char* kCoverageNotSupported = "[SNPP Delivery Status] Alt. Coverage Not Supported ";
constexpr const char* kNoResponse = "Error, No Responce From Host";
constexpr const char* kLoginNotSent = "Error, Sending Login Request";
constexpr const char* kNoLoginAck = "Error, No Login Ack Received";
constexpr const char* kNoCoverageAck = "Error, No COVE Ack Received";
constexpr const char* kNoTwoWayAck = "Error, No ACK Responce From Host For 2WAY Request";
constexpr const char* kMstaNotSent = "Error, Sending MSTA Request";
constexpr const char* kPagerIdRejected = "Error, Pager ID Rejected";
constexpr const char* kMessNotAccepted = "Error, Sending MESS Request";
constexpr const char* kNoSendAck = "Error, No ACK Responce From Host For SEND Request";
constexpr const char* kNothingToSend = "No Message To Send!";
constexpr const char* kNothingNumeric = "No Message To Send, Numeric Only Pager!";

bool startsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// The reply without its code: the first four characters go when it is longer than `min`.
std::string withoutCode(const std::string& reply, std::size_t min) {
    return reply.size() > min ? reply.substr(4) : reply;
}

// The first blank-separated word of `rest`, taken out with the blank after it.
std::string takeWord(std::string& rest) {
    auto b = rest.find_first_not_of(' ');
    if (b == std::string::npos) {
        rest.clear();
        return {};
    }
    auto e = rest.find(' ', b);
    std::string word = rest.substr(b, e == std::string::npos ? std::string::npos : e - b);
    rest.erase(0, e == std::string::npos ? rest.size() : e + 1);
    return word;
}

// The port text as the Windows version's integer conversion took it.
bool portNumber(const std::string& text, std::uint16_t& port, std::string& error) {
    std::string t = trimmed(text);
    long value = 0;
    bool ok = !t.empty() && t.size() <= 6 && std::all_of(t.begin(), t.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (ok) value = std::stol(t);
    if (!ok || value < 1 || value > 65535) {
        error = "'" + text + "' is not a valid port number";
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

}  // namespace

bool snppUsesTls(std::int32_t secureMode) { return secureMode != -1 && secureMode != 3; }

std::vector<std::string> splitSnppMessage(std::string message, int partLength, std::string& lastCut) {
    // The window: the part length less the reserve for label and mark, at least
    // one character; a part length of 0 never cuts.
    const MarkedSplit rule{partLength > 0 ? static_cast<std::size_t>(partLength) : std::string::npos,
                           static_cast<std::size_t>(std::max(1, partLength - kSnppMarkReserve)), kSnppMaxParts};
    return splitWithMarks(std::move(message), rule, lastCut);
}

// What one page holds while its parts go out.
struct SnppSession::Call {
    const SnppRequest& page;
    SnppResult& result;
    std::vector<std::string> parts;
    std::string working;  // the last cut, then every reply read
    bool twoWay = false;  // set by the first accepted 2WAY, kept for later parts
    std::uint16_t port = 0;
    TlsOptions tls;
    std::unique_ptr<SnppClient> client;

    bool cancelled() const { return page.cancelled && page.cancelled(); }
    void log(const std::string& line) const {
        if (page.log) page.log(line);
    }
};

SnppSession::SnppSession(Clock& ioClock, Clock& pauseClock)
    : m_ioClock(ioClock), m_pauseClock(pauseClock),
      m_open([](SnppClient& client, const std::string& host, std::uint16_t port, const TlsOptions& tls,
                std::chrono::milliseconds timeout) { return client.connect(host, port, tls, timeout); }) {}

void SnppSession::pause(const Call& call, std::chrono::milliseconds d) {
    if (d.count() <= 0) return;
    if (m_pause)
        m_pause(d);
    else
        sleepUnless(m_pauseClock, d, [&call] { return call.cancelled(); });
}

bool SnppSession::connectionError(Call& call, const std::string& error) {
    call.result.reply = withoutLineBreaks(error);
    call.log("[SNPP Connection] " + call.result.reply + " \"" + call.page.PIN + "\" at " + call.page.server +
             " - " + call.working);
    call.client->disconnect(call.page.timing.quitWait);
    return false;
}

bool SnppSession::callAborted(Call& call) {
    call.log(kAborted);
    call.client->disconnect(call.page.timing.quitWait);
    return false;
}

SnppResult SnppSession::send(const SnppRequest& page) {
    SnppResult result;
    result.messageId = page.messageId;
    Call call{page, result, {}, {}, false, 0, {}, nullptr};
    std::string error;
    if (!portNumber(page.port, call.port, error)) {
        result.reply = error;
        call.log("[SNPP Connection] " + error + " \"" + page.PIN + "\" at " + page.server + " - ");
        return result;
    }
    if (snppUsesTls(page.secureMode)) {
        // Carriers' SNPP servers use certificates of their own: none is checked.
        call.tls.enabled = true;
        call.tls.verifyPeer = false;
        call.tls.serverName = page.server;
    }
    std::string message = page.message;
    if (page.numericOnly) {
        message.erase(std::remove_if(message.begin(), message.end(), [](char c) { return c < '0' || c > '9'; }),
                      message.end());
        call.working = message;
    }
    if (message.empty()) {
        result.reply = page.numericOnly ? kNothingNumeric : kNothingToSend;
        call.log("[SNPP Delivery Fail] Error Sending Message " + result.reply + " ID: " + page.server +
                 " PIN: " + page.PIN + " Msg: ");
        return result;
    }
    if (call.cancelled()) return result;
    std::string lastCut;
    call.parts = splitSnppMessage(message, page.partLength, lastCut);
    if (!lastCut.empty()) call.working = lastCut;

    bool ok = false;
    try {
        const int n = static_cast<int>(call.parts.size());
        for (int k = 0; k < n; ++k) {
            int i = page.reverse ? n - k : k + 1;
            call.client = std::make_unique<SnppClient>(m_ioClock);
            call.client->setCancelTest([&call] { return call.cancelled(); });
            ok = runSession(call, i);
            call.client.reset();
            pause(call, page.timing.partPause);
            if (!ok) break;
        }
    } catch (const std::exception& e) {
        result.reply = e.what();
        ok = false;
    }
    result.delivered = ok;
    return result;
}

bool SnppSession::runSession(Call& call, int i) {
    const SnppRequest& page = call.page;
    SnppClient& c = *call.client;
    const int n = static_cast<int>(call.parts.size());
    if (call.cancelled()) return false;
    call.log(kSearching);
    switch (m_open(c, page.server, call.port, call.tls, page.timing.connectWait)) {
    case SnppClient::Result::Ok: break;
    case SnppClient::Result::Cancelled: return callAborted(call);
    case SnppClient::Result::TimedOut: return connectionError(call, kNoResponse);
    case SnppClient::Result::Failed: return connectionError(call, c.lastError());
    }
    call.log(kConnectedTo + page.server);

    // One command and its reply. Ok, or what ended the wait (the reply is then empty).
    std::string answer;
    auto ask = [&](const std::string& command) {
        if (!c.sendCommand(command)) return SnppClient::Result::Failed;
        SnppClient::Result r = c.readReply(answer, page.timing.replyWait);
        if (r == SnppClient::Result::Ok) call.working = answer;
        return r;
    };
    using R = SnppClient::Result;

    if (!trimmed(page.login).empty()) {
        if (!c.sendCommand("LOGI " + page.login)) return connectionError(call, kLoginNotSent);
        R r = c.readReply(answer, page.timing.replyWait);
        if (r == R::Cancelled) return callAborted(call);
        if (r != R::Ok) return connectionError(call, kNoLoginAck);
        call.working = answer;
        // 500: a server without LOGI, which needs none.
        if (!startsWith(answer, "500") && !startsWith(answer, "250"))
            return connectionError(call, "Error, " + withoutCode(answer, 3));
    }
    if (!page.coverage.empty()) {
        if (!c.sendCommand("COVE " + page.coverage)) {
            call.log(kCoverageNotSupported + page.coverage);
        } else {
            R r = c.readReply(answer, page.timing.replyWait);
            if (r == R::Cancelled) return callAborted(call);
            if (r != R::Ok) return connectionError(call, kNoCoverageAck);
            call.working = answer;
            if (startsWith(answer, "250")) call.log(kCoverageSelected + page.coverage);
        }
    }
    if (page.twoWay) {
        if (!c.sendCommand("2WAY")) {
            call.log(kTwoWayNotSupported);
        } else {
            R r = c.readReply(answer, page.timing.replyWait);
            if (r == R::Cancelled) return callAborted(call);
            if (r != R::Ok) return connectionError(call, kNoTwoWayAck);
            call.working = answer;
            if (startsWith(answer, "250")) {
                call.twoWay = true;
                call.log(kTwoWayEnabled);
            }
        }
    }
    const std::string& part = call.parts[static_cast<std::size_t>(i - 1)];
    if (isStatusQuery(part)) {
        if (!c.sendCommand("MSTA " + call.result.messageId)) return connectionError(call, kMstaNotSent);
    } else {
        R r = ask("Page " + page.PIN);
        if (r == R::Cancelled) return callAborted(call);
        if (r != R::Ok || !startsWith(answer, "250")) return connectionError(call, kPagerIdRejected);
        call.log(kSendingBlock + std::to_string(i) + " of " + std::to_string(n));
        std::string text = n > 1 ? "(" + std::to_string(i) + " of " + std::to_string(n) + ")  " + part : part;
        r = ask("Mess " + text);
        if (r == R::Cancelled) return callAborted(call);
        if (r != R::Ok || !startsWith(answer, "250")) return connectionError(call, kMessNotAccepted);
        if (!c.sendCommand("Send")) return connectionError(call, c.lastError());
    }
    R r = c.readReply(answer, page.timing.replyWait);
    if (r == R::Cancelled) return callAborted(call);
    if (r != R::Ok) return connectionError(call, kNoSendAck);
    call.working = answer;
    return finishSend(call, answer, n > 1);
}

bool SnppSession::finishSend(Call& call, const std::string& answer, bool multi) {
    if (call.twoWay) {
        std::string t = trimmed(answer);
        if (t.empty() || t[0] == '5' || t[0] == '4') return connectionError(call, answer);
        // Only a level-3 reply (8xx, 9xx) carries an id: "960 <tag> <pass> text".
        const bool carriesId = answer[0] == '8' || answer[0] == '9';
        std::string rest = withoutLineBreaks(withoutCode(answer, 4));
        call.result.messageId = withoutLineBreaks(call.result.messageId);
        if (carriesId) {
            std::string tag = takeWord(rest);
            std::string pass = takeWord(rest);
            call.result.messageId = pass.empty() ? tag : tag + " " + pass;
        }
        call.result.reply = rest;
        call.client->disconnect(call.page.timing.quitWait);
        return true;
    }
    if (!startsWith(answer, "250")) return connectionError(call, answer);
    call.result.reply = withoutLineBreaks(withoutCode(answer, 4));
    call.client->disconnect(call.page.timing.quitWait);
    // Accepted is delivered, whatever a cancel says now.
    if (multi) pause(call, call.page.timing.oneWayPause);
    return true;
}

}  // namespace nv
