#include "protocols/EncoderProbe.h"

#include "platform/KORCom32.h"
#include "protocols/EncoderFrame.h"

namespace nv {

namespace {

constexpr std::chrono::milliseconds kPollSlice{10};
// Bounds the discarding of stale input on a line that never falls silent.
constexpr int kMaxStaleReads = 256;

void discardStaleInput(TKORCom32& port) {
    port.FlushRXBuf();
    for (int i = 0; i < kMaxStaleReads && !port.ReadBuffer().empty(); ++i) {
    }
}

}  // namespace

ProbeResult probeEncoder(TKORCom32& port, std::string_view frame, std::chrono::milliseconds wait, Clock& clock) {
    ProbeResult result;
    if (!port.Connected()) {
        result.kind = ProbeResult::Kind::Cancelled;
        return result;
    }
    discardStaleInput(port);
    if (!port.SendString(frame)) {
        result.kind = port.Connected() ? ProbeResult::Kind::NoResponse : ProbeResult::Kind::Cancelled;
        return result;
    }
    encoder::AnswerReader reader;
    const auto deadline = clock.now() + wait;
    while (port.Connected()) {
        std::string chunk = port.ReadBuffer();
        if (!chunk.empty()) {
            switch (reader.feed(chunk)) {
            case encoder::AnswerReader::Outcome::Accepted:
                result.kind = ProbeResult::Kind::Accepted;
                return result;
            case encoder::AnswerReader::Outcome::Refused:
                result.kind = ProbeResult::Kind::Refused;
                result.code = reader.code();
                return result;
            case encoder::AnswerReader::Outcome::Pending:
                break;
            }
        }
        // A line that chatters without a reply still ends at the deadline.
        if (clock.now() >= deadline) return result;
        if (chunk.empty()) clock.sleepFor(kPollSlice);
    }
    result.kind = ProbeResult::Kind::Cancelled;
    return result;
}

}  // namespace nv
