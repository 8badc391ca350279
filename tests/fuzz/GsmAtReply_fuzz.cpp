// A GSM modem's answers to AT commands, fed in pieces as the port delivers
// them: once final, the state never changes, and the reading helpers take any
// information line.
#include "protocols/GsmAtReply.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t chunk = static_cast<std::uint8_t>(in.byte() % 16 + 1);
    const bool wantPrompt = in.byte() & 1;
    const std::string sent = in.field();
    std::string_view rest = in.rest();
    GsmAtReply reply(sent, wantPrompt);
    GsmAtReply::Final last = GsmAtReply::Final::None;
    while (!rest.empty()) {
        const std::string_view piece = rest.substr(0, chunk);
        rest.remove_prefix(piece.size());
        const GsmAtReply::Final now = reply.feed(piece);
        if (last != GsmAtReply::Final::None) NV_FUZZ_CHECK(now == last);
        last = now;
    }
    if (last == GsmAtReply::Final::Prompt) NV_FUZZ_CHECK(wantPrompt);
    for (const std::string& line : reply.lines()) {
        NV_FUZZ_CHECK(!line.empty() && line.find_first_of("\r\n") == std::string::npos);
        atIdentity(line, true);
        atRegistration(line);
        atQuotedFields(line);
    }
    atMessageReference(reply.lines());
    NV_FUZZ_CHECK(reply.text().find_first_of("\r\n") == std::string::npos);
    return 0;
}
