// TNPP: the checks the link makes on a received packet, and the packets it
// builds: an ID page whose text fits stays within the packet size and carries
// a CRC that checks; log texts never hold a line break.
#include "protocols/TnppCodec.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

namespace {

void received(std::string_view packet, bool transparent) {
    tnpp::crcMatches(packet, transparent);
    if (auto digits = tnpp::headerDigits(packet)) {
        NV_FUZZ_CHECK(digits->size() == tnpp::kHeaderDigits);
        const unsigned inertia = tnpp::packetInertia(packet) & 0xFF;
        const std::string again = tnpp::withInertia(packet, inertia);
        NV_FUZZ_CHECK(again.size() == packet.size());
        NV_FUZZ_CHECK(tnpp::packetInertia(again) == inertia);
        // The link looks further only at a packet whose header digits it read.
        tnpp::isLinkStartPacket(packet);
        tnpp::blockType(packet);
    }
    for (char c : tnpp::logText(packet)) NV_FUZZ_CHECK(c != '\r' && c != '\n' && c != '\0');
}

void built(fuzz::Fields& in, bool transparent) {
    const tPacketSize size = in.byte() & 1 ? tPacketSize::ps4096 : tPacketSize::ps1024;
    const std::uint32_t dest = in.byte() * 257u, source = in.byte() * 257u;
    const std::uint32_t inertia = in.byte(), serial = in.byte();
    NV_FUZZ_CHECK(tnpp::headerFits(dest, inertia, source, serial));
    const std::string header = tnpp::formatHeader(dest, inertia, source, serial);
    NV_FUZZ_CHECK(header.size() == tnpp::kHeaderDigits);
    const auto id = tnpp::idField(in.field());
    std::string text = in.field();
    if (!id) return;
    NV_FUZZ_CHECK(id->size() == tnpp::kIdLength);
    if (text.size() > tnpp::maxIdPageText(size, transparent)) text.resize(tnpp::maxIdPageText(size, transparent));
    const std::string packet = tnpp::buildIdPagePacket(header, *id, text, transparent);
    NV_FUZZ_CHECK(packet.size() <= tnpp::packetLimit(size));
    NV_FUZZ_CHECK(tnpp::crcMatches(packet, transparent));
    NV_FUZZ_CHECK(tnpp::headerDigits(packet) == header);
    NV_FUZZ_CHECK(tnpp::blockType(packet) == 'B');
    // A link start goes to address 0000.
    const std::string start = tnpp::buildLinkStartPacket(header, serial & 1, transparent);
    NV_FUZZ_CHECK(tnpp::crcMatches(start, transparent) && tnpp::isLinkStartPacket(start) == (dest == 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view all = fuzz::bytes(data, size);
    received(all, false);
    received(all, true);
    fuzz::Fields in(all);
    const bool transparent = in.byte() & 1;
    built(in, transparent);
    return 0;
}
