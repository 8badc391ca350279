// DNS answers to an MX query: a malformed answer is refused, and no mail
// exchanger's name carries a byte that could break an SMTP line (libresolv
// writes unprintable label bytes as \DDD).
#include <climits>
#include <vector>

#include "protocols/MxLookup.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > INT_MAX) return 0;
    std::vector<MxRecord> records;
    if (!parseMxAnswer(data, static_cast<int>(size), records)) return 0;
    for (const MxRecord& r : records) {
        NV_FUZZ_CHECK(r.preference >= 0 && r.preference <= 0xFFFF);
        for (char c : r.host) NV_FUZZ_CHECK(static_cast<unsigned char>(c) > 0x20 && static_cast<unsigned char>(c) < 0x7F);
    }
    return 0;
}
