#include "service/EncoderSender.h"

#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"

namespace nv {

EncoderResult sendToEncoder(TKORCom32& port, std::mutex& lock, const std::string& rawBlock,
                            const std::string& cleaned) {
    EncoderResult out;
    out.reply = kEncoderPortClosed;
    if (!port.Connected()) return out;
    std::lock_guard<std::mutex> hold(lock);
    if (!port.SendString(rawBlock)) return out;
    std::string received;
    int r = port.WaitFor(encoder::kSenderReplyMatch, received, kEncoderReplyWait);
    if (r == -2) return out;
    if (!encoder::senderRefused(r, received)) {
        out.kind = EncoderResult::Kind::Delivered;
        out.reply = encoder::senderTakenReply(received);
        return out;
    }
    std::string code;
    if (port.WaitFor(encoder::kSenderCodeEnd, code, kEncoderReplyWait) == -2) return out;
    out.kind = EncoderResult::Kind::Refused;
    out.reply = encoder::senderRefusalReply(code, cleaned);
    return out;
}

}  // namespace nv
