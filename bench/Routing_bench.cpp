// Intake's routing cost: the route and provider files are scanned for every
// page, so the cost grows with their size. Also the cost of building the page
// record itself.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "foundation/PageRecord.h"
#include "foundation/RecordAccess.h"
#include "foundation/Records.h"
#include "foundation/UserPrompt.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

// A data directory with `n` routes and `n` providers; only the last route's
// prefix matches the PIN and the last provider is the one it names, so every
// look-up scans the whole file.
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
            r.setEnabled(1);
            storeRecord(RouteRec::kKind, m_dir, r.data(), SlotRule::Append, prompt);
            ProviderRec p;
            p.setCompanyName("Carrier" + std::to_string(i));
            storeRecord(ProviderRec::kKind, m_dir, p.data(), SlotRule::Append, prompt);
        }
        m_lastProvider = "Carrier" + std::to_string(n - 1);
    }
    ~Fixture() {
        std::error_code ec;
        fs::remove_all(m_dir, ec);
    }
    const fs::path& dir() const { return m_dir; }
    const std::string& lastProvider() const { return m_lastProvider; }

private:
    fs::path m_dir;
    std::string m_lastProvider;
};

void BM_RoutePage(benchmark::State& state) {
    Fixture fx(static_cast<int>(state.range(0)));
    UnattendedPrompt prompt(nullptr);
    for (auto _ : state) {
        auto route = FindRoute("5551234", fx.dir(), false, prompt);
        auto provider = FindProvider(fx.lastProvider(), fx.dir(), prompt);
        if (!route || !provider) state.SkipWithError("fixture not found");
        benchmark::DoNotOptimize(route);
        benchmark::DoNotOptimize(provider);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_RoutePage)->Arg(10)->Arg(1000)->Arg(10000)->Unit(benchmark::kMicrosecond);

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
