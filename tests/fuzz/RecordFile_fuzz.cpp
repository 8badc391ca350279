// Record files as the service and the manager find them in the data
// directory: every reader of the kind, and the upgrade answered No or Yes. A
// converted file holds whole records of the current size, never more of them
// than the old file could hold.
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "foundation/DataFile.h"
#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "foundation/RecordUpgrade.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace nv;
namespace fs = std::filesystem;

namespace {

struct Prompt : UserPrompt {
    bool yes = false;
    bool askYesNo(const std::string&, const std::string&) override { return yes; }
    void inform(const std::string&, const std::string&) override {}
    void error(const std::string&, const std::string&) override {}
};

const fs::path& dataDir() {
    static const fs::path dir = [] {
        std::string templ = (fs::temp_directory_path() / "nv-fuzz-records-XXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        return fs::path(templ);
    }();
    return dir;
}

void readAll(const RecordKind& kind, Prompt& prompt) {
    const fs::path& dir = dataDir();
    if (&kind == &ProviderRec::kKind) {
        FindProvider("Carrier", dir, prompt);
        LoadProviderNames(dir, prompt);
    } else if (&kind == &PortRec::kKind) {
        FindPort("Port", dir, prompt);
        LoadPortNames(dir, prompt);
    } else if (&kind == &RouteRec::kKind) {
        FindRoute("5551234", dir, false, prompt);
        LoadRouteNames(dir, prompt);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const RecordKind* const kinds[] = {&ProviderRec::kKind, &PortRec::kKind, &RouteRec::kKind,
                                              &UserRec::kKind, &GroupRec::kKind};
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t pick = in.byte();
    const RecordKind& kind = *kinds[pick % 5];
    Prompt prompt;
    prompt.yes = pick & 0x80;
    const std::string_view file = in.rest();
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dataDir(), ec)) fs::remove_all(e.path(), ec);
    const fs::path path = dataDir() / std::string(kind.fileName);
    std::ofstream(path, std::ios::binary).write(file.data(), static_cast<std::streamsize>(file.size()));

    readAll(kind, prompt);
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(file.data(), static_cast<std::streamsize>(file.size()));
    const UpgradeResult r = UpdateRecordFile(kind.recName, path, prompt);
    if (r == UpgradeResult::Converted) {
        const auto converted = fs::file_size(path, ec);
        NV_FUZZ_CHECK(!ec && converted >= kHeaderSize && (converted - kHeaderSize) % kind.size == 0);
        // Each old record is at least the oldest version's size (a few hundred bytes).
        NV_FUZZ_CHECK((converted - kHeaderSize) / kind.size <= file.size() / 300 + 1);
    } else if (r != UpgradeResult::Discarded) {
        std::string now;
        NV_FUZZ_CHECK(readWholeFile(path, now) && now == file);
    }
    return 0;
}
