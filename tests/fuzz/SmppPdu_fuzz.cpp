// SMPP PDUs from a centre: whole PDUs taken off the stream within the size
// bound, their bodies read as the transmitter reads them; and the PDUs we
// build parse back with the header they were built with.
#include "protocols/SmppPdu.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

namespace {

void built(fuzz::Fields& in) {
    const std::uint32_t seq = in.byte() * 0x01010101u;
    const std::string a = in.field();
    const std::string b = in.field();
    for (const std::string& wire : {smpp::bindTransmitter(seq, a, b, "PRI"), smpp::submitSm(seq, a, b),
                                    smpp::querySm(seq, a), smpp::unbind(seq), smpp::genericNack(seq, seq)}) {
        std::string buffer = wire;
        smpp::Pdu pdu;
        const smpp::Parse r = smpp::takePdu(buffer, pdu);
        // A PDU too large for the reader is one we would never be sent back either.
        if (wire.size() > smpp::kMaxPduSize) continue;
        NV_FUZZ_CHECK(r == smpp::Parse::Complete && buffer.empty());
        NV_FUZZ_CHECK(pdu.header.length == wire.size() && pdu.header.sequence == seq);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string buffer(fuzz::bytes(data, size));
    smpp::Pdu pdu;
    while (smpp::takePdu(buffer, pdu) == smpp::Parse::Complete) {
        NV_FUZZ_CHECK(pdu.header.length >= smpp::kHeaderSize && pdu.header.length <= smpp::kMaxPduSize);
        NV_FUZZ_CHECK(pdu.body.size() == pdu.header.length - smpp::kHeaderSize);
        if (auto id = smpp::messageIdOf(pdu)) NV_FUZZ_CHECK(id->find('\0') == std::string::npos);
        smpp::parseQuerySmResp(pdu);
        smpp::statusText(pdu.header.status);
    }
    fuzz::Fields in(fuzz::bytes(data, size));
    built(in);
    return 0;
}
