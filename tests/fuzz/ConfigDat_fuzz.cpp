// Config.Dat: any file reads into both sides' settings; a value written by the
// manager reads back as written (quotes included), and a write leaves a file
// that reads the same everywhere else.
#include "foundation/ConfigFile.h"
#include "foundation/FileUtil.h"
#include "foundation/ProfileFile.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;

namespace {

bool blank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    std::string value = in.field();
    const std::string file(in.rest());
    const ProfileSnapshot before = ProfileSnapshot::parse(file);
    ConfigSet::from(before, ConfigSide::Service);
    ConfigSet::from(before, ConfigSide::Manager);

    std::erase_if(value, [](char c) { return c == '\r' || c == '\n'; });
    const std::string after = applyProfileWrites(file, {{"Server", "Password", value}});
    const ProfileSnapshot snap = ProfileSnapshot::parse(after);
    const std::string read = snap.readString("Server", "Password", "<missing>");
    // The reader trims blanks outside quotes and cuts long values; within that the value comes back.
    const bool plain = value.size() <= kProfileMaxValue && (value.empty() || (!blank(value.front()) && !blank(value.back())));
    if (plain) NV_FUZZ_CHECK(read == value);
    NV_FUZZ_CHECK(ProfileSnapshot::parse(applyProfileWrites(after, {{"Server", "Password", value}}))
                      .readString("Server", "Password", "<missing>") == read);
    // Every other section keeps what it read.
    for (const std::string& section : before.sections()) {
        if (section.size() == 6 && equalsNoCase(section, "Server")) continue;
        NV_FUZZ_CHECK(snap.hasSection(section));
    }
    return 0;
}
