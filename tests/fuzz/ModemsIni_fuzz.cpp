// Modems.ini: the modem lines read from any file keep unique ids in range, and
// each line has an init sequence to send.
#include <set>

#include "platform/ModemLine.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/TempFile.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const ModemList list = ModemList::load(fuzz::scratchFile("Modems.ini", fuzz::bytes(data, size)));
    std::set<std::uint32_t> ids;
    for (const ModemEntry& e : list.entries()) {
        NV_FUZZ_CHECK(e.id <= ModemList::kMaxId && ids.insert(e.id).second);
        NV_FUZZ_CHECK(!e.init.empty() && list.find(e.id) == &e);
    }
    NV_FUZZ_CHECK(list.numDevs() <= static_cast<int>(ModemList::kMaxId) + 1);
    return 0;
}
