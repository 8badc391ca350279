// The install file (/etc/KOR/Nerivale.ini): any content gives an install
// directory and a common data folder, and the data directory is chosen
// without creating anything.
#include "platform/DataDirectory.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/TempFile.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto conf = fuzz::scratchFile("Nerivale.ini", fuzz::bytes(data, size));
    const InstallSettings s = readInstallSettingsFrom(conf, "/nonexistent/program");
    NV_FUZZ_CHECK(!s.installDir.empty() && !s.commonAppData.empty());
    dataDirectoryFor(s);
    return 0;
}
