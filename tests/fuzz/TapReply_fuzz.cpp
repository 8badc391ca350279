// TAP: a terminal's replies through the login and block waits' match lists,
// and the blocks a message becomes (escaped, split, labelled): every block
// within TAP's 256 characters with a checksum that holds.
#include <algorithm>

#include "foundation/ReplyMatcher.h"
#include "protocols/TapCodec.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

namespace {

void replies(std::string_view stream) {
    ReplyMatcher login(tap::loginReplyList());
    ReplyMatcher block(tap::blockReplyList());
    for (char c : stream) {
        if (int i = login.feed(c); i >= 0) {
            NV_FUZZ_CHECK(static_cast<std::size_t>(i) < login.alternatives().size());
            tap::classifyLoginReply(i);
            login.reset();
        }
        if (int i = block.feed(c); i >= 0) {
            NV_FUZZ_CHECK(static_cast<std::size_t>(i) < block.alternatives().size());
            tap::classifyBlockReply(i);
            block.reset();
        }
    }
    tap::classifyLoginReply(login.result());
    tap::classifyBlockReply(block.result());
}

void blocks(const std::string& pin, const std::string& message, int msgLength, bool labels) {
    const std::string escaped = tap::escapeText(message);
    for (char c : escaped) {
        const auto u = static_cast<unsigned char>(c);
        NV_FUZZ_CHECK(u < 0x80 && c != '\0' && c != '\r');
        NV_FUZZ_CHECK(c != tap::kSTX && c != tap::kETX && c != tap::kEOT && c != tap::kETB && c != tap::kESC &&
                      c != tap::kUS);
    }
    tap::SplitOptions opt;
    opt.msgLength = msgLength;
    opt.displayMsgBreaks = labels;
    const auto parts = tap::splitMessage(escaped, opt);
    NV_FUZZ_CHECK(!parts.empty() || escaped.empty());
    NV_FUZZ_CHECK(parts.size() <= static_cast<std::size_t>(tap::kMaxParts));
    const int n = static_cast<int>(parts.size());
    for (int i = 0; i < n; ++i) {
        const std::string label = n > 1 && labels ? tap::partLabel(i + 1, n) : std::string();
        for (const std::string& b : tap::buildBlocks(pin, label, parts[static_cast<std::size_t>(i)])) {
            NV_FUZZ_CHECK(b.size() <= tap::kMaxBlock && b.size() >= 5);
            NV_FUZZ_CHECK(b.front() == tap::kSTX && b.back() == tap::kCR);
            NV_FUZZ_CHECK(tap::checksum(std::string_view(b).substr(0, b.size() - 4)) == b.substr(b.size() - 4, 3));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const int msgLength = static_cast<int>(in.byte()) - 8;
    const bool labels = in.byte() & 1;
    std::string pin = tap::stripControls(in.field());
    pin.resize(std::min<std::size_t>(pin.size(), 75));  // the PIN field of a user record
    const std::string message = in.field();
    blocks(pin, message, msgLength, labels);
    replies(in.rest());
    return 0;
}
