// Modem configuration files (.mcf): a file that loads gives settings that are
// written and loaded back unchanged.
#include "protocols/ModemConfig.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto settings = decodeModemConfig(fuzz::bytes(data, size));
    if (!settings) return 0;
    const std::string file = encodeModemConfig(*settings);
    const auto again = decodeModemConfig(file);
    NV_FUZZ_CHECK(again && *again == *settings);
    NV_FUZZ_CHECK(encodeModemConfig(*again) == file);
    return 0;
}
