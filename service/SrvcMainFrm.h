#pragma once
// TNerivaleSvcMain: the engine. It owns every component, list, lock and counter
// of the gateway and runs on the engine thread's event loop. Construction is the
// Windows version's form creation, destruction its FormDestroy (which stops the gateway
// once).
//
// Threads: log lines, counter changes and pipe messages are posted to the loop
// from any thread; only the loop's thread writes Log.Dat, changes the counters
// and hands messages to the pipe sender. The lock order is PageQueue.h's.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "foundation/PageRecord.h"
#include "foundation/Records.h"
#include "foundation/UserPrompt.h"
#include "platform/KORCom32.h"
#include "platform/EventLoop.h"
#include "platform/LocalPipe.h"
#include "protocols/KORInetPaging.h"
#include "service/Counters.h"
#include "service/EngineLog.h"
#include "service/OutboundPorts.h"
#include "service/PageQueue.h"
#include "service/PageWorkers.h"
#include "service/SmppSender.h"
#include "service/SnppSender.h"

namespace nv {

class PelmoraPortThread;
class TKORAlpaPage;
class TKORSMSMessaging;
class TKORTNPP;

struct EngineOptions {
    std::filesystem::path dataDir;  // WorkDir
    std::filesystem::path appDir;   // AppDir
    LocalClockFn localNow;          // wall clock (log stamps, archive); default: system
    LogSinkFn logEcho;              // gets every log line as written (the foreground's stderr)
    LogSinkFn logFailure;           // gets a failed Log.Dat write, once per kind (syslog, stderr)
    Clock* clock = nullptr;         // monotonic (on-line time); default: steady clock
    std::chrono::milliseconds timerPeriod{1000};
    std::chrono::milliseconds startPause{500};   // each of the two pauses around the port threads
    std::chrono::milliseconds stopPause{1000};   // after the inbound port thread ended
    std::chrono::milliseconds cancelPause{500};  // at the end of CancelAllCalls
    std::chrono::milliseconds joinBound{30000};  // the whole stop's waits for threads
    std::size_t pageWorkers = kMaxPageWorkers;   // page worker threads at most
    OutboundTiming outbound;                     // port threads' and spooler's pauses
    Clock* pagerClock = nullptr;                 // the port threads' pagers; default: steady clock
    SnppTiming snpp;                             // SNPP time limits and pauses
    std::chrono::milliseconds smsPause{500};     // before and after the GSM modem opens
    SmppTiming smpp;                             // SMPP time limits and pauses
    InetPagingOptions inetPaging;                // WCTP and e-mail; its cancel is the engine's stop
};

// The priority every page taken in gets; the queue sorts on it.
inline constexpr std::int32_t kIntakePriority = 5;
inline constexpr const char* kOriginator = "Nerivale Server";
inline constexpr const char* kTestMessage = "Nerivale Server Test Message";

class TNerivaleSvcMain {
public:
    TNerivaleSvcMain(EventLoop& loop, EngineOptions options);  // FormCreate
    ~TNerivaleSvcMain();                                       // FormDestroy
    TNerivaleSvcMain(const TNerivaleSvcMain&) = delete;
    TNerivaleSvcMain& operator=(const TNerivaleSvcMain&) = delete;

    // Engine thread. Brings the gateway up in its fixed order; true.
    bool StartServer();
    // Engine thread. Stops every thread (bounded joins) before devices close; true.
    bool StopServer();

    // Any thread: post a log line, a pipe message, a counter change.
    void WriteToLog(std::string text);
    void SendPipeData(std::string text);
    void PostUpdateCounters(int id, std::int32_t value = 0);

    // The intake; any thread. `rawBlock` is the inbound host's block as received,
    // or null for a test page (the encoder frame codec then builds the block). Submitted is true
    // when the page was queued or handed to a worker that started.
    void KORTap1MsgReceived(const std::string* rawBlock, const std::string& PIN, const std::string& Msg,
                            bool& Submitted);

    // Puts a page into the queue. False (the page stays with the caller) when no
    // outbound port thread runs and `force` is false. A duplicate is freed and
    // counts as queued.
    bool AddToQueue(PageRecordPtr& page, bool force);

    // Any thread: one more page and the last access in the provider's record
    // of Provider.dat (nothing for the built-in providers or none); `page`
    // and `flag` are not used.
    void UpdateProviderStats(const TQueueRec* page, const ProviderRec* provider, bool flag);
    ConnectionErrors& connectionErrors() { return m_outbound->errors; }

    // Any thread (page workers, port threads): one page to an SNPP server,
    // blocking the caller; see SnppSender.h.
    bool SendSNPPPage(const std::string& server, const std::string& port, const std::string& PIN,
                      const std::string& login, const std::string& coverage, const std::string& callerId,
                      const std::string& message, int partLength, std::int32_t secureMode, bool twoWay,
                      bool reverse, bool numericOnly, std::string& messageId, std::string& reply);

    // Engine thread: one message from the PelmoraServer pipe.
    void PipeServer1PipeMessage(const std::string& message);
    // Engine thread: the one-second timer.
    void Timer2Timer();

    // The pipe sender's view, for an orderly end: waits until sent or `bound`.
    bool flushPipe(std::chrono::milliseconds bound);

    // Engine thread (tests and the timer).
    const Counters& counters() const { return m_counters; }
    std::size_t queueLength() const;
    std::size_t workerCount() const { return m_workers.count(); }
    // Pages handed to the page workers that wait for a free one.
    std::size_t pagesWaitingForWorkers() const { return m_workers.waiting(); }
    const std::filesystem::path& WorkDir() const { return m_options.dataDir; }

    // Set by cancel_call, cleared only by StartOutboundThreads (start) and
    // CancelAllCalls (stop); every other code only reads it.
    std::atomic<bool> Cancelcall{false};
    // Any thread: the engine is being stopped or destroyed.
    bool Stopping() const { return Terminate.load() || Shutdown.load(); }

private:
    std::atomic<bool> Shutdown{false};   // FormDestroy began
    std::atomic<bool> Terminate{false};  // StopServer began

    // Engine-thread halves of the posted calls.
    void WriteToLogPost(const std::string& text);
    void SendPipeDataPost(const std::string& text);
    void ApplyCounter(int id, std::int32_t value);

    // StartServer's steps, in their order; a section that is switched off
    // leaves its step without effect.
    void StartTNPPLink();
    void StartBrevicorPort();
    void StartSMSModem();
    void StartOutboundThreads();
    void StartSpoolThread();
    void StartPipeServer();
    void StartPelmoraPortThread();
    void CancelAllCalls();
    // Pumps while `running` says so, up to the stop's deadline; every thread
    // wakes the loop when it ends (wakeLoop), so the wait ends with it.
    void waitForThreads(const std::function<bool()>& running);
    void wakeLoop();
    void CloseDevices();
    std::size_t OutboundThreadsRunning() const;
    bool PelmoraPortThreadRunning() const;
    bool SpoolThreadRunning() const;
    std::unique_ptr<OutboundPorts> MakeOutboundPorts();
    void SetPortsClear();

    // Intake and worker helpers.
    std::unique_ptr<ProviderRec> ResolveProvider(const std::string& name, const RouteRec& route,
                                                 const std::string& mailAddress);
    bool StartPageWorker(PageRecordPtr& page);
    void BMDThread1Execute(PageRecordPtr page);

    // hQueue.Dat: the pages held at stop are kept for the next start
    // (EngineQueue.cpp). Engine thread.
    void SaveQueueFile();
    void RestoreQueueFile();

    // Pipe commands.
    void ClearQueues();
    void CancelCall();

    void pumpMessages();
    void sleepPumping(std::chrono::milliseconds d);

    EventLoop& m_loop;
    EngineOptions m_options;
    Clock& m_clock;
    Clock::TimePoint m_createdAt;
    UnattendedPrompt m_prompt;
    EngineLog m_log;
    Counters m_counters;
    PipeSender m_pipeClient;                        // PipeClient1
    std::unique_ptr<LocalPipeServer> m_pipeServer;  // PipeServer1
    std::unique_ptr<RepeatingTimer> m_timer;        // Timer2

    // QueueRecList and sList; counter 11 follows the queue's length.
    PageQueue m_pages{[this](std::int32_t length) { PostUpdateCounters(kCtQueued, length); }};

    // Stop flags of the port threads (OutBoundThread's, shared by all) and of
    // the spooler; each thread's own stop also wakes its pauses. The inbound
    // port thread's flag is its own; the TNPP link stops when it closes.
    std::atomic<bool> m_outboundStop{false};
    std::atomic<bool> m_spoolStop{false};
    // One bound for every wait of a stop, well inside the unit's stop time-out.
    std::chrono::steady_clock::time_point m_stopDeadline{};

    PageWorkers m_workers{[this] { wakeLoop(); }, m_options.pageWorkers};  // BMDThreadGroup1
    std::unique_ptr<PelmoraPortThread> m_pelmoraPort;  // PelmoraPortThread
    // Port threads, spooler, oThreadList and the connection-error table; made
    // after the lists above and gone before them.
    std::unique_ptr<OutboundPorts> m_outbound;
    std::mutex m_statsLock;  // UpdateProviderStats

public:
    // The device links and their senders (DeviceLinks.cpp, DevicePages.cpp,
    // TapOverIpSender.cpp). Both senders block the caller.
    // SendSMSPage: through the GSM modem; `reply` says why it failed. The SMS
    // port byte only named the port in a reply (the modem's port is [SMS]'s);
    // the third SMS byte and `secondary` are taken and not used.
    bool SendSMSPage(const std::string& smsCentre, const std::string& PIN, const std::string& message,
                     std::uint8_t smsMode, std::uint8_t smsPort, std::uint8_t smsByte1833, std::string& reply,
                     bool secondary, bool reverseOrder);
    // SendTAPOverIP: one page by TAP over TCP with a pager of its own.
    bool SendTAPOverIP(const std::string& address, const std::string& port, const std::string& PIN,
                       const std::string& password, const std::string& message, int partLength,
                       int messagesPerCall, bool reverseOrder, bool numericOnly);
    // The engine's TAP handlers (progress, busy, line busy, unexpected close)
    // onto a pager; port threads bind their own pagers with it.
    void BindTapEvents(TKORAlpaPage& pager);

    // The encoder port, opened at start; csBrevicor serialises its users.
    TKORCom32 SendBrevicor{m_options.dataDir, m_clock};
    std::mutex csBrevicor;

private:
    void CloseSMSModem();
    // The worker's TNPP and SMS deliveries, result handling included.
    void SendTNPPWorkerPage(PageRecordPtr& page);
    void SendSMSWorkerPage(PageRecordPtr& page);
    // Created at start. Held by shared_ptr, which needs neither component's
    // header here.
    std::shared_ptr<TKORTNPP> KORTNPP1;
    std::shared_ptr<TKORSMSMessaging> KORSMSMessaging1;

public:
    // The WCTP, e-mail and SMPP senders (InetSenders.cpp). Any thread (page
    // workers, port threads); each blocks the caller.
    // SendWCTPPage: the page's primary provider and PIN, or with `useSecondary`
    // its secondary ones; `replyList` gets the reply's name=value lines
    // ("successText", "errorText", "trackingNumber", ...).
    bool SendWCTPPage(const TQueueRec& page, const std::string& message, std::vector<std::string>& replyList,
                      const std::vector<std::string>* responseChoices, bool useSecondary);
    // SendSMTPMessage: true when the mail was handed over; a failure logs its
    // "[SMTP Connection Error] " line ([SMTP] Enabled off: none).
    bool SendSMTPMessage(const std::string& to, const std::string& subject, const std::string& body);
    // SendSMPPPage: see SmppSender.h.
    bool SendSMPPPage(const std::string& server, const std::string& port, const std::string& PIN,
                      const std::string& user, const std::string& password, const std::string& message,
                      std::int32_t secureMode, std::int32_t protocol, bool reverse, bool numericOnly,
                      std::string& messageId, std::string& reply);

private:
    // The port threads' e-mail, SMPP and WCTP sends go to the senders above.
    void BindNetworkSenders(NetworkSenders& senders);
    InetPagingOptions inetPagingOptions() const;
    // Last, so that the options and the flags it reads exist first.
    TKORInetPagingComp KORInetPagingComp1{inetPagingOptions()};
};

}  // namespace nv
