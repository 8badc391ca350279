// Reading Config.Dat: the service parses the whole file for every page, so the
// parse must stay linear in the number of keys (a hand-grown or hostile file
// with tens of thousands of keys).
#include <benchmark/benchmark.h>

#include <string>

#include "foundation/ConfigFile.h"
#include "foundation/ProfileFile.h"

namespace nv {
namespace {

std::string bigConfig(int keys) {
    std::string text = "[WCTP]\r\nWCTPSenderID=NOYB\r\n[Filler]\r\n";
    for (int i = 0; i < keys; ++i) text += "Key" + std::to_string(i) + "=" + std::to_string(i) + "\r\n";
    text += "[SMTP]\r\nEnabled=1\r\n";
    return text;
}

void BM_ParseConfigDat(benchmark::State& state) {
    const std::string text = bigConfig(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        ProfileSnapshot ini = ProfileSnapshot::parse(text);
        ConfigSet set = ConfigSet::from(ini, ConfigSide::Service);
        benchmark::DoNotOptimize(set);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ParseConfigDat)->Arg(100)->Arg(30000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace nv
