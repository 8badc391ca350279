// GSM SMS-SUBMIT PDUs: whatever the number and text, the encoder either
// refuses with its own errors or gives upper-case hex whose length AT+CMGS is
// told matches it; the SMS splitter keeps its parts within 160 characters.
#include <stdexcept>

#include "protocols/GsmPdu.h"
#include "protocols/KORSMSMsg.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::string centre = in.field();
    const std::string address = in.field();
    const std::string text(in.rest());
    try {
        const std::string pdu = EncodeSubmitPDU(centre, address, text);
        NV_FUZZ_CHECK(pdu.size() % 2 == 0);
        for (char c : pdu) NV_FUZZ_CHECK((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'));
        const int length = submitPduLength(pdu);
        const std::size_t centreOctets = std::stoul(pdu.substr(0, 2), nullptr, 16);
        NV_FUZZ_CHECK(static_cast<std::size_t>(length) * 2 + (centreOctets + 1) * 2 == pdu.size());
    } catch (const GsmPduError&) {
    } catch (const std::invalid_argument&) {
        NV_FUZZ_CHECK(!isValidSmsNumber(address) || (!centre.empty() && !isValidSmsNumber(centre)));
    }
    for (bool septets : {false, true}) {
        const auto parts = splitSmsMessage(text, septets);
        NV_FUZZ_CHECK(parts.size() <= 20);
        for (const std::string& p : parts) {
            std::size_t room = 0;
            for (char c : p) room += septets ? gsmSeptetCount(c) : 1;
            NV_FUZZ_CHECK(room <= kMaxSeptets);
        }
    }
    return 0;
}
