// SMPP and CIMD2: a centre's bytes, cut into chunks as the input says, read by
// the client's PDU and packet reader while a whole page's sessions (bind,
// submit or status query, unbind) run over scripted streams. What we write
// is always whole PDUs or packets that parse back; the reply the page hands
// back holds no line break, an SMPP message id no NUL.
#include <memory>
#include <vector>

#include "protocols/SmppSession.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/peers/ScriptedByteStream.h"

using namespace nv;

namespace {

using std::chrono::milliseconds;

bool wholeSmppPdus(std::string written) {
    smpp::Pdu pdu;
    while (!written.empty())
        if (smpp::takePdu(written, pdu) != smpp::Parse::Complete) return false;
    return true;
}

bool wholeCimd2Packets(std::string written) {
    cimd2::Packet packet;
    while (!written.empty())
        if (cimd2::takePacket(written, packet) != cimd2::Parse::Complete) return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    // Flags: 1 CIMD2, 2 a status query, 4 a page of several parts, 8 reverse.
    const std::uint8_t flags = in.byte();
    std::vector<std::string> chunks;
    while (!in.rest().empty() && chunks.size() < 64) chunks.push_back(in.field());

    test::SteppedClock clock;
    std::vector<std::unique_ptr<test::ScriptedByteStream>> streams;
    SmppSession session(clock, clock);
    session.setPause([](milliseconds) {});
    session.setOpen([&](SmppClient& client, milliseconds timeout) {
        auto& s = *streams.emplace_back(std::make_unique<test::ScriptedByteStream>(clock));
        for (const auto& c : chunks) s.deliver(c);
        s.endWhenDrained();
        return client.attach(s, timeout);
    });
    SmppRequest r;
    r.server = "smsc.example";
    r.port = "2775";
    r.PIN = "5551234";
    r.user = "user";
    r.password = "secret";
    r.protocol = flags & 1 ? 1 : 0;
    r.reverse = (flags & 8) != 0;
    r.message = flags & 2 ? "MSTA ab12cd34" : flags & 4 ? std::string(400, 'x') : "Hello there";
    r.messageId = "ab12cd34";
    SmppResult out = session.send(r);

    NV_FUZZ_CHECK(out.reply.find_first_of("\r\n") == std::string::npos);
    if (r.protocol == 0) NV_FUZZ_CHECK(out.messageId.find('\0') == std::string::npos);
    NV_FUZZ_CHECK(streams.size() <= static_cast<std::size_t>(kSmppMaxParts));
    for (const auto& s : streams)
        NV_FUZZ_CHECK(r.protocol == 1 ? wholeCimd2Packets(s->written()) : wholeSmppPdus(s->written()));
    return 0;
}
