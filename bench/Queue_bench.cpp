// Queuing pages: AddToQueue looks for a duplicate (a hash index) and puts the
// page in its place (a binary search) under the queue's lock, so a burst of
// n pages costs O(n log n) even when a carrier is down and the backlog grows.
// Reports pages per second and the heap the queue itself holds per page.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "service/SrvcMainFrm.h"

namespace nv {
namespace {

namespace fs = std::filesystem;

// A page as the intake builds it: user, primary and secondary provider records.
PageRecordPtr intakePage(int i) {
    PageRecordPtr page = NewPageRecord();
    page->Originator = kOriginator;
    page->Recipient = std::make_unique<UserRec>();
    page->Recipient->setUserID(kOriginator);
    page->Recipient->setProviderName("Carrier" + std::to_string(i % 7));
    page->Recipient->setSecProviderName("NONE");
    page->Recipient->setPIN(std::to_string(5550000 + i));
    page->Recipient->setPriority(kIntakePriority);
    page->PrimaryProvider = std::make_unique<ProviderRec>();
    page->PrimaryProvider->setCompanyName("Carrier" + std::to_string(i % 7));
    page->MessageText = "Nerivale Server Test Message " + std::to_string(i);
    return page;
}

// Large blocks (the queue's vector past a few thousand pages) are mapped on
// their own and counted apart.
std::size_t heapInUse() {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
}

void BM_QueuePages(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    std::string tmpl = (fs::temp_directory_path() / "nvqueue.XXXXXX").string();
    fs::path dir = ::mkdtemp(tmpl.data());
    double bytesPerPage = 0;
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<PageRecordPtr> pages;
        pages.reserve(static_cast<std::size_t>(n));
        for (int i = 0; i < n; ++i) pages.push_back(intakePage(i));
        {
            EventLoop loop;
            EngineOptions o;
            o.dataDir = dir;
            TNerivaleSvcMain engine(loop, o);
            std::size_t before = heapInUse();
            state.ResumeTiming();
            for (auto& p : pages) engine.AddToQueue(p, true);
            state.PauseTiming();
            loop.poll();  // the posted counter updates
            bytesPerPage = static_cast<double>(heapInUse() - before) / n;
            if (engine.queueLength() != static_cast<std::size_t>(n)) state.SkipWithError("pages lost");
        }
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * n);
    // The queue's own share on top of the pages built before; the page records
    // themselves are counted by BM_PageRecordHeap.
    state.counters["queue_bytes_per_page"] = bytesPerPage;
    std::error_code ec;
    fs::remove_all(dir, ec);
}
BENCHMARK(BM_QueuePages)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_PageRecordHeap(benchmark::State& state) {
    const int n = 10000;
    double bytesPerPage = 0;
    for (auto _ : state) {
        std::size_t before = heapInUse();
        std::vector<PageRecordPtr> pages;
        pages.reserve(n);
        for (int i = 0; i < n; ++i) pages.push_back(intakePage(i));
        bytesPerPage = static_cast<double>(heapInUse() - before) / n;
        benchmark::DoNotOptimize(pages);
    }
    state.counters["bytes_per_page"] = bytesPerPage;
}
BENCHMARK(BM_PageRecordHeap)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace
}  // namespace nv
