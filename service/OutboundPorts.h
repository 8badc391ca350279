#pragma once
// The engine's outbound side: the port-thread list (oThreadList) with its
// threads, the spooler, the connection-error table and the context they
// share. The page queue is the engine's; each thread and the spooler get it
// in their constructors.
#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "service/OutboundThread.h"
#include "service/Spooler.h"

namespace nv {

inline constexpr int kMaxOutboundThreads = 16;

// What the engine lends: flags, log and counters.
struct OutboundEngineParts {
    std::filesystem::path dataDir;
    std::function<void(std::string)> log;
    std::function<void(int, std::int32_t)> counter;
    std::function<void(const ProviderRec*)> updateProviderStats;
    std::atomic<bool>& Cancelcall;
    std::atomic<bool>& outboundStop;
    std::atomic<bool>& spoolStop;
    Clock& clock;
    OutboundTiming timing;
};

struct OutboundPorts {
    explicit OutboundPorts(const OutboundEngineParts& e)
        : ctx{e.dataDir, e.log, e.counter, e.updateProviderStats, threadListLock, threadList, errors,
              SecondaryRunning, e.Cancelcall, e.outboundStop, e.spoolStop, e.clock, e.timing, {}} {}
    ~OutboundPorts() {
        // Threads are joined before the lists they use go away.
        spooler.reset();
        threads.clear();
    }

    std::mutex threadListLock;
    std::vector<OutboundThreadRecPtr> threadList;
    ConnectionErrors errors;
    std::atomic<int> running{0};
    // Set by a port thread while it sends a secondary batch; the spooler
    // starts no secondary pass meanwhile.
    std::atomic<bool> SecondaryRunning{false};
    OutboundContext ctx;
    std::vector<std::unique_ptr<OutboundThread>> threads;
    std::unique_ptr<Spooler> spooler;
};

}  // namespace nv
