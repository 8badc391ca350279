// CIMD2 packets from a short-message centre: every packet taken off the
// stream, and encode of a parsed packet parses back to the same packet.
#include "protocols/Cimd2Packet.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string buffer(fuzz::bytes(data, size));
    for (;;) {
        const std::size_t before = buffer.size();
        cimd2::Packet p;
        const cimd2::Parse r = cimd2::takePacket(buffer, p);
        if (r == cimd2::Parse::NeedMore) break;
        NV_FUZZ_CHECK(buffer.size() < before);
        if (r != cimd2::Parse::Complete) continue;
        NV_FUZZ_CHECK(p.operation >= 0 && p.operation <= 999 && p.number >= 0 && p.number <= 999);
        if (p.operation > 99) continue;  // the encoder writes two digits
        std::string again = cimd2::encode(p);
        cimd2::Packet q;
        NV_FUZZ_CHECK(cimd2::takePacket(again, q) == cimd2::Parse::Complete && again.empty());
        NV_FUZZ_CHECK(q.operation == p.operation && q.number == p.number && q.params == p.params);
    }
    for (char c : cimd2::encodeUserData(fuzz::bytes(data, size)))
        NV_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && static_cast<unsigned char>(c) < 0x7F);
    return 0;
}
