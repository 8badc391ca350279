// Intake's routing cost: per page one route look-up by PIN prefix and two
// provider look-ups by name (primary and secondary), as the intake does, with
// the files' indexes warm. Also the cost of building the page record itself.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "foundation/PageRecord.h"
#include "foundation/RecordAccess.h"
#include "foundation/RecordIndex.h"
#include "foundation/Records.h"
#include "foundation/UserPrompt.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

// A data directory with `n` routes and `n` providers; only the last route's
// prefix matches the PIN and the last provider is the one it names, so a scan
// reads the whole file. A file changed within the last two seconds is read
// whole whatever its index holds, so the fixture waits that long.
class Fixture {
public:
    explicit Fixture(int n) {
        std::string tmpl = (fs::temp_directory_path() / "nvbench.XXXXXX").string();
        m_dir = ::mkdtemp(tmpl.data());
        UnattendedPrompt prompt(nullptr);
        for (int i = 0; i < n; ++i) {
            RouteRec r;
            r.setRouteName("Route" + std::to_string(i));
            r.setNPANXX(i + 1 == n ? "555" : "9" + std::to_string(100000 + i));
            r.setProvider("Carrier" + std::to_string(i));
            r.setSecProvider("Carrier" + std::to_string(i / 2));
            r.setEnabled(1);
            storeRecord(RouteRec::kKind, m_dir, r.data(), SlotRule::Append, prompt);
            ProviderRec p;
            p.setCompanyName("Carrier" + std::to_string(i));
            storeRecord(ProviderRec::kKind, m_dir, p.data(), SlotRule::Append, prompt);
        }
        m_primary = "Carrier" + std::to_string(n - 1);
        m_secondary = "Carrier" + std::to_string((n - 1) / 2);
        // Files are trusted to their index only once they have settled.
        std::this_thread::sleep_for(RecordIndexCache::kSettleTime + std::chrono::milliseconds(500));
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    const fs::path& dir() const { return m_dir; }
    const std::string& primary() const { return m_primary; }
    const std::string& secondary() const { return m_secondary; }

private:
    fs::path m_dir;
    std::string m_primary;
    std::string m_secondary;
};

// Built once per size: the benchmark library calls a benchmark more than once.
Fixture& fixture(int n) {
    static std::map<int, std::unique_ptr<Fixture>> fixtures;
    auto& f = fixtures[n];
    if (!f) f = std::make_unique<Fixture>(n);
    return *f;
}

void BM_RoutePage(benchmark::State& state) {
    Fixture& fx = fixture(static_cast<int>(state.range(0)));
    UnattendedPrompt prompt(nullptr);
    // The first page after a change pays for reading the files whole.
    FindRoute("5551234", fx.dir(), false, prompt);
    FindProvider(fx.primary(), fx.dir(), prompt);
    for (auto _ : state) {
        auto route = FindRoute("5551234", fx.dir(), false, prompt);
        auto primary = FindProvider(fx.primary(), fx.dir(), prompt);
        auto secondary = FindProvider(fx.secondary(), fx.dir(), prompt);
        if (!route || !primary || !secondary) state.SkipWithError("fixture not found");
        benchmark::DoNotOptimize(route);
        benchmark::DoNotOptimize(primary);
        benchmark::DoNotOptimize(secondary);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutePage)->Arg(10)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The same look-ups without an index: both files read whole for every page, as
// before the look-ups had one, and as now for files changed moments ago.
void BM_RoutePageScan(benchmark::State& state) {
    Fixture& fx = fixture(static_cast<int>(state.range(0)));
    UnattendedPrompt prompt(nullptr);
    for (auto _ : state) {
        auto route = FindRoute("5551234", fx.dir(), false, prompt, nullptr);
        auto primary = FindProvider(fx.primary(), fx.dir(), prompt, nullptr);
        auto secondary = FindProvider(fx.secondary(), fx.dir(), prompt, nullptr);
        if (!route || !primary || !secondary) state.SkipWithError("fixture not found");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutePageScan)->Arg(10)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// The first page after a change of the files: both indexes built again. Also
// the heap both indexes hold.
void BM_RoutePageAfterChange(benchmark::State& state) {
    Fixture& fx = fixture(static_cast<int>(state.range(0)));
    UnattendedPrompt prompt(nullptr);
    {
        const std::size_t before = ::mallinfo2().uordblks;
        auto held = std::make_unique<RecordIndexCache>();
        FindRoute("5551234", fx.dir(), false, prompt, held.get());
        FindProvider(fx.primary(), fx.dir(), prompt, held.get());
        state.counters["index_MB"] = static_cast<double>(::mallinfo2().uordblks - before) / 1e6;
    }
    for (auto _ : state) {
        RecordIndexCache cold;
        auto route = FindRoute("5551234", fx.dir(), false, prompt, &cold);
        auto primary = FindProvider(fx.primary(), fx.dir(), prompt, &cold);
        auto secondary = FindProvider(fx.secondary(), fx.dir(), prompt, &cold);
        if (!route || !primary || !secondary) state.SkipWithError("fixture not found");
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutePageAfterChange)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_BuildPageRecords(benchmark::State& state) {
    for (auto _ : state) {
        std::vector<PageRecordPtr> pages;
        pages.reserve(10000);
        for (int i = 0; i < 10000; ++i) {
            auto page = NewPageRecord();
            page->MessageText = "Nerivale Server Test Message";
            pages.push_back(std::move(page));
        }
        benchmark::DoNotOptimize(pages);
    }
    state.SetItemsProcessed(state.iterations() * 10000);
}
BENCHMARK(BM_BuildPageRecords)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nv
