#include "service/EncoderSender.h"

#include <algorithm>

#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"

namespace nv {

namespace {

// The end of the echo and the start of the reply: EOT SOH ACK (taken) or EOT
// SOH SI (refused). The third alternative is a refusal after an echo that kept
// the block's CR LF: the inbound side echoes a refused block whole, and
// without it such a refusal would pass as delivered.
constexpr std::string_view kReplyMatch{"\x04\x01\x06|\x04\x01\x0F|\x04\r\n\x01\x0F"};
constexpr std::string_view kCodeEnd{"\x04"};


}  // namespace

std::string encoderErrorText(const std::string& code, const std::string& cleaned) {
    if (code.empty() || code.size() > 9 || !std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return cleaned;
    int n = std::stoi(code);
    if (n < 1 || n > 8) return cleaned;
    std::string text = encoder::errorCodeText("0" + std::to_string(n));
    return text.empty() ? cleaned : text;
}

EncoderResult sendToEncoder(TKORCom32& port, std::mutex& lock, const std::string& rawBlock,
                            const std::string& cleaned) {
    EncoderResult out;
    out.reply = kEncoderPortClosed;
    if (!port.Connected()) return out;
    std::lock_guard<std::mutex> hold(lock);
    if (!port.SendString(rawBlock)) return out;
    std::string received;
    int r = port.WaitFor(kReplyMatch, received, kEncoderReplyWait);
    if (r == -2) return out;
    // A wait that ended inside the third alternative (an echo with CR LF and
    // nothing after it) is silence, not a refusal.
    const bool refused = r == 1 || (r == 2 && received.ends_with("\x01\x0F"));
    if (!refused) {
        out.kind = EncoderResult::Kind::Delivered;
        out.reply = received.size() > 2 ? received.substr(2) : std::string();
        return out;
    }
    std::string code;
    if (port.WaitFor(kCodeEnd, code, kEncoderReplyWait) == -2) return out;
    if (code.ends_with(kCodeEnd)) code.pop_back();
    out.kind = EncoderResult::Kind::Refused;
    out.reply = encoderErrorText(code, cleaned);
    return out;
}

}  // namespace nv
