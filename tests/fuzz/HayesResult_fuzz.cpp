// The modem line's AT dialogue on a scripted stream: unsolicited lines, then
// the modem's answer to each command it is sent, while the input's operations
// dial, answer, use the call and hang up. Every reply names a request that was
// made, a stream exists only on a connected call, and nothing waits for real.
#include <algorithm>

#include "platform/ModemLine.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/peers/ScriptedByteStream.h"

using namespace nv;
using namespace std::chrono_literals;

namespace {

struct Checker {
    std::int32_t lastRequest = 0;
    bool connected = false;
    void operator()(const LineMessage& m) {
        if (m.kind == LineMessage::Kind::Reply) NV_FUZZ_CHECK(m.requestId > 0 && m.requestId <= lastRequest);
        if (m.kind == LineMessage::Kind::CallState) connected = m.callState == LINECALLSTATE_CONNECTED;
    }
    void made(std::int32_t id) {
        if (id > 0) lastRequest = std::max(lastRequest, id);
    }
};

void pumpFor(ModemLine& line, test::SteppedClock& clock, Checker& check, int rounds) {
    for (int i = 0; i < rounds; ++i) {
        line.pump([&](const LineMessage& m) { check(m); });
        // A stream exists exactly while the call is connected.
        if (line.stream()) NV_FUZZ_CHECK(check.connected);
        clock.sleepFor(250ms);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t flags = in.byte();
    const std::string unsolicited = in.field();
    const std::string ops = in.field().substr(0, 16);

    test::SteppedClock clock;
    test::ScriptedByteStream io(clock);
    for (int i = 0; i < 64 && !in.rest().empty(); ++i) io.deliverAfterWrite("", in.field());
    if (flags & 0x8) io.endWhenDrained();

    ModemList list;
    list.add(ModemEntry{3, "Fuzz", {}, ModemList::defaultInit(), (flags & 0x10) != 0});
    ModemLine line(std::move(list), clock);
    ModemSettings settings;
    settings.blindDial = flags & 0x1;
    settings.dialTimeout = flags & 0x2 ? 45 : 0;
    settings.pulseDial = flags & 0x4;
    settings.extraInit = flags & 0x20 ? "&K3" : "";
    line.setDevConfig(settings);
    if (line.openOn(3, io) != 0) return 0;
    io.deliver(unsolicited);

    Checker check;
    for (char op : ops) {
        switch (static_cast<unsigned char>(op) % 5) {
        case 0: check.made(line.makeCall("555-0100")); break;
        case 1: check.made(line.makeCall("", true)); break;
        case 2: check.made(line.answer()); break;
        case 3: check.made(line.drop()); break;
        case 4:
            if (ModemStream* s = line.stream()) {
                s->writeAll("\r", 1s);
                s->waitReadable(20ms);
                const std::string got = s->readAvailable(256);
                NV_FUZZ_CHECK(got.size() <= 256);
            }
            break;
        }
        // Long enough for the answer wait (60 s) to run out.
        pumpFor(line, clock, check, 260);
    }
    line.close();
    NV_FUZZ_CHECK(line.stream() == nullptr);
    return 0;
}
