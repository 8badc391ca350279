#pragma once
// The encoder sender of the page worker: a page's raw block goes out on the
// engine's encoder port as it was stored, and the encoder's answer judges it.
// The port is shared (page workers, port threads): every frame and its reply
// wait run under the port's lock, at most 2 s plus 2 s.
//
// An encoder that says nothing within 2 s counts as having taken the page,
// as the encoder's own documentation of its answers allows. A port that is
// not open (or closes during the wait) is a failed page, never a delivered one.
// The bytes and their reading are the encoder frame codec's (protocols/EncoderFrame.h);
// this is the port, its lock and the two waits.
#include <mutex>
#include <string>

namespace nv {

class TKORCom32;

// The seconds of each of the two reply waits.
inline constexpr int kEncoderReplyWait = 2;
// The reply of a page whose encoder port is not open.
inline constexpr const char* kEncoderPortClosed = "Brevicor Port Not Open";

struct EncoderResult {
    enum class Kind { Delivered, Refused, PortClosed };
    Kind kind = Kind::PortClosed;
    // Delivered: what came during the wait less its first two characters.
    // Refused: the text of the error code. PortClosed: kEncoderPortClosed.
    std::string reply;
};

// Sends `rawBlock` and waits for the encoder's answer, all under `lock`.
EncoderResult sendToEncoder(TKORCom32& port, std::mutex& lock, const std::string& rawBlock,
                            const std::string& cleaned);

}  // namespace nv
