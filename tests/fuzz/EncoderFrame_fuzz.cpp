// Encoder frames as the inbound host reads them: the stream is cut into blocks
// by the block wait's reply list and blockEnds, each block is parsed, held to
// the length rule and answered.
#include "foundation/ReplyMatcher.h"
#include "protocols/EncoderFrame.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

namespace {

void answer(const std::string& block, int maxLength, bool truncate) {
    const encoder::Frame f = encoder::parseFrame(block);
    if (f.verdict != encoder::Frame::Verdict::Ok) {
        const std::string out = encoder::refuseAnswer(block, "08");
        NV_FUZZ_CHECK(out.starts_with(block));
        return;
    }
    NV_FUZZ_CHECK(!f.pin.empty() && f.pin.find(',') == std::string::npos);
    NV_FUZZ_CHECK(f.message.find(encoder::ETX) == std::string::npos);
    std::string message = encoder::stripLineBreaks(f.message);
    NV_FUZZ_CHECK(message.find_first_of("\r\n") == std::string::npos);
    const bool kept = encoder::applyLengthRule(message, maxLength, truncate);
    if (truncate) NV_FUZZ_CHECK(kept && message.size() <= static_cast<std::size_t>(maxLength > 0 ? maxLength : 0));
    const std::string out = encoder::acceptAnswer(block);
    NV_FUZZ_CHECK(out.find(encoder::ackReply()) != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const int maxLength = static_cast<int>(in.byte()) - 16;  // negative and 0 included
    const bool truncate = in.byte() & 1;
    ReplyMatcher matcher(encoder::kBlockMatch);
    std::string collected;
    for (char c : in.rest()) {
        collected += c;
        if (matcher.feed(c) < 0) continue;
        // A CR LF inside an open block only starts the next wait.
        matcher.reset();
        if (!encoder::blockEnds(collected)) continue;
        if (!encoder::isLineEndOnly(collected)) answer(collected, maxLength, truncate);
        collected.clear();
    }
    return 0;
}
