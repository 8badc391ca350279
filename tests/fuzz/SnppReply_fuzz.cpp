// SNPP: a server's bytes, cut into chunks as the input says, read by the
// reply reader and answered by a whole page's dialogue over a scripted stream.
// A reply line never holds a line end or exceeds its bound; no byte of the
// server ever makes a second command line; the reply and the two-way id the
// page hands back hold no line break.
#include <memory>
#include <vector>

#include "protocols/SnppSession.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/peers/ScriptedByteStream.h"

using namespace nv;

namespace {

using std::chrono::milliseconds;

void deliverAll(test::ScriptedByteStream& stream, const std::vector<std::string>& chunks) {
    for (const auto& c : chunks) stream.deliver(c);
    stream.endWhenDrained();
}

void replyReader(const std::vector<std::string>& chunks) {
    test::SteppedClock clock;
    test::ScriptedByteStream stream(clock);
    deliverAll(stream, chunks);
    SnppClient client(clock);
    if (client.attach(stream, milliseconds(5000)) != SnppClient::Result::Ok) return;
    NV_FUZZ_CHECK(!client.greeting().empty() && client.greeting()[0] == '2');
    std::string line;
    while (client.readReply(line, milliseconds(20000)) == SnppClient::Result::Ok) {
        NV_FUZZ_CHECK(line.find('\n') == std::string::npos);
        NV_FUZZ_CHECK(line.size() <= SnppClient::kMaxLine);
    }
}

// Every command ends in CR LF and holds no other CR or LF.
bool wholeCommandLines(const std::string& written) {
    std::size_t at = 0;
    while (at < written.size()) {
        std::size_t end = written.find("\r\n", at);
        if (end == std::string::npos) return false;
        std::string_view line(written.data() + at, end - at);
        if (line.find_first_of("\r\n") != std::string_view::npos) return false;
        at = end + 2;
    }
    return true;
}

void page(std::uint8_t flags, const std::string& message, const std::vector<std::string>& chunks) {
    test::SteppedClock clock;
    std::vector<std::unique_ptr<test::ScriptedByteStream>> streams;
    SnppSession session(clock, clock);
    session.setPause([](milliseconds) {});
    session.setOpen([&](SnppClient& client, const std::string&, std::uint16_t, const TlsOptions&, milliseconds t) {
        streams.push_back(std::make_unique<test::ScriptedByteStream>(clock));
        deliverAll(*streams.back(), chunks);
        return client.attach(*streams.back(), t);
    });
    SnppRequest r;
    r.server = "snpp.example";
    r.port = "444";
    r.PIN = "5551234";
    r.login = flags & 1 ? "user pass" : "";
    r.coverage = flags & 2 ? "East" : "";
    r.twoWay = (flags & 4) != 0;
    r.reverse = (flags & 8) != 0;
    r.numericOnly = (flags & 16) != 0;
    r.partLength = flags & 32 ? 40 : static_cast<int>(message.size()) + 1;
    r.message = message;
    SnppResult out = session.send(r);
    NV_FUZZ_CHECK(out.reply.find_first_of("\r\n") == std::string::npos);
    NV_FUZZ_CHECK(out.messageId.find_first_of("\r\n") == std::string::npos);
    NV_FUZZ_CHECK(streams.size() <= static_cast<std::size_t>(kSnppMaxParts));
    for (const auto& s : streams) NV_FUZZ_CHECK(wholeCommandLines(s->written()));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t flags = in.byte();
    const std::string message = in.field();
    std::vector<std::string> chunks;
    while (!in.rest().empty() && chunks.size() < 64) chunks.push_back(in.field());
    replyReader(chunks);
    page(flags, message, chunks);
    return 0;
}
