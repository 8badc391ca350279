#pragma once
// PelmoraPortThread: the engine's inbound port thread. It reads [Nerivale Port]
// of Config.Dat, makes the inbound host "Inbound<slot>" in direct mode on that
// port, binds the log handlers and the page intake to it, arms it and keeps it
// until the stop flag or the engine's Terminate/Shutdown flag is set; then it
// closes and frees the host.
//
// Threads: Start() and Running() from the engine thread; the host's events
// fire on the host's own reading thread and reach the engine only through
// WriteToLog (posted) and KORTap1MsgReceived (any thread).
#include <filesystem>
#include <functional>
#include <string>

#include "platform/WorkerThread.h"

namespace nv {

class TNerivaleSvcMain;
class TKORPelmora;
struct NerivalePortSection;

// The section that configures the inbound port; also the port's name in its lines.
inline constexpr const char* kNerivalePortName = "Nerivale Port";

class PelmoraPortThread {
public:
    // `lineSlot`: the host's line slot (the engine passes 0).
    explicit PelmoraPortThread(TNerivaleSvcMain& engine, int lineSlot = 0);
    ~PelmoraPortThread();  // stops and joins
    PelmoraPortThread(const PelmoraPortThread&) = delete;
    PelmoraPortThread& operator=(const PelmoraPortThread&) = delete;

    // `onEnd` runs on the thread once it has ended (the engine wakes its loop).
    void Start(std::function<void()> onEnd = {});
    bool Running() const { return m_thread.running(); }
    // The thread component's stop flag (its Tag): ends the thread's wait at once.
    void RequestStop() { m_thread.requestStop(); }

    // The host's log handlers write "[Nerivale Connection] <port> <text>".
    static std::string connectionLine(const std::string& port, const std::string& text);
    // Binds the twelve handlers of the host: eleven log lines through `log`
    // and the page event through `intake` (the engine's KORTap1MsgReceived).
    using LogFn = std::function<void(std::string)>;
    using IntakeFn = std::function<void(const std::string* rawBlock, const std::string& PIN,
                                        const std::string& Msg, bool& Submitted)>;
    static void bindHandlers(TKORPelmora& host, LogFn log, IntakeFn intake);
    // [Nerivale Port] of Config.Dat in `dataDir`, with the engine's defaults.
    static NerivalePortSection readSection(const std::filesystem::path& dataDir);
    // The text limit the host gets from [Nerivale Port] Length. 0 keeps its
    // meaning (no limit); a negative length would empty every page, so it is
    // taken as the default, and `warning` gets a line naming the key.
    static int messageLength(const NerivalePortSection& s, std::string& warning);
    // The host's properties from the section, in the engine's order up to InitTap.
    static void configureHost(TKORPelmora& host, const NerivalePortSection& s, const std::filesystem::path& dataDir,
                              int slot);

private:
    void PelmoraPortThreadExecute();

    // What the thread needs of the engine, taken from it at construction
    // (InboundPortEngine.cpp), so this unit does not see the engine's headers.
    std::filesystem::path m_dataDir;
    LogFn m_log;
    IntakeFn m_intake;
    std::function<bool()> m_engineStopping;  // Terminate or Shutdown
    int m_lineSlot;
    WorkerThread m_thread;
};

}  // namespace nv
