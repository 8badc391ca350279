#pragma once
// TKORSMSMessaging: sends SMS through a GSM modem on a serial port with the AT
// commands of 3GPP TS 27.005 / 27.007, in text mode or in PDU mode, and can
// read incoming "+CMT:" messages with a receive thread of its own.
//
// Threading: the engine's outbound port threads send through one instance
// while its receive thread polls. One modem mutex keeps every AT dialogue
// whole: a send holds it for all parts of its message, the receive check only
// runs when it can take it at once. Callers that send one page as several
// calls hold lockModem() around them so parts of two pages never interleave.
// OnStatus, OnPortOpen, OnPortClosed and OnRxMsg run in the thread that
// caused them (OpenPort's caller, a sender, the receive thread); handlers
// only post to their owner's loop and never call back into a send.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/KORCom32.h"
#include "platform/WorkerThread.h"

namespace nv {

class GsmAtReply;

enum tSendMode : std::uint8_t { smText, smPDU };
enum tStatusType : std::uint8_t { stStatus, stError };
// Registration state of +CREG, values 0 to 5.
enum tSysReg : std::uint8_t { srIdle, srRegistered, srScanning, srDenied, srUnknown, srRoaming };
enum TMsgSvcSupported : std::uint8_t { msMT, msMO, msBM };
// A set of TMsgSvcSupported: bit (1 << value).
using TMsgSvcSupportedSet = std::uint8_t;
enum TMsgListType : std::uint8_t { mltRecUnread, mltRecRead, mltStoUnsent, mltStoSent, mltAll };

class TKORSMSMessaging;
using TStatusEvent = std::function<void(TKORSMSMessaging& Sender, tStatusType Status, const std::string& Msg)>;
using TMessageEvent = std::function<void(TKORSMSMessaging& Sender, const std::string& From,
                                         const std::string& TimeStamp, const std::string& Msg)>;

// The waits of the modem dialogue. The defaults are the system's; tests shorten them.
struct GsmTimings {
    std::chrono::milliseconds command{5000};      // each AT command and query
    std::chrono::milliseconds prompt{10000};      // the "> " after AT+CMGS
    std::chrono::milliseconds textSubmit{45000};  // the answer to a text part
    std::chrono::milliseconds pduSubmit{10000};   // the answer to a PDU part
    std::chrono::milliseconds partPause{1500};    // after each part of a message of several
    std::chrono::milliseconds statusPause{1000};  // between AT+CPAS asks while the modem is busy
    std::chrono::milliseconds rxLine{5000};       // the text line after a "+CMT:" header
};

// Cuts a message into SMS parts: at most 20, each at most 160 characters with
// its mark ("  (CONT.)" on every part but the last, " (END)" on the last of
// several), cut after the last blank of the window where there is one. With
// `septets` the room is counted in GSM septets (PDU mode), where "[" and the
// other escaped characters take two.
std::vector<std::string> splitSmsMessage(std::string_view message, bool septets = false);

class TKORSMSMessaging : public TKORCom32 {
public:
    // Class scope: the TNPP link has a state type of the same name.
    // Who uses the port: nobody, a sender, the receive thread.
    enum tComState : std::uint8_t { csReady, csTransmit, csRX };
    using TNotifyEvent = std::function<void(TKORSMSMessaging& Sender)>;

    static constexpr int kMaxParts = 20;
    static constexpr int kStatusTries = 10;  // AT+CPAS asks before a busy modem fails the part

    explicit TKORSMSMessaging(std::filesystem::path dataDir = {}, Clock& clock = steadyClock());
    ~TKORSMSMessaging() override;

    tSendMode SendMode() const { return m_sendMode; }
    void SetSendMode(tSendMode value) { m_sendMode = value; }
    bool NoRoaming() const { return m_noRoaming; }
    void SetNoRoaming(bool value) { m_noRoaming = value; }
    bool EnableRXMsgs() const { return m_enableRx; }
    void SetEnableRXMsgs(bool value) { m_enableRx = value; }
    void setTimings(const GsmTimings& timings);

    TStatusEvent OnStatus;
    TMessageEvent OnRxMsg;
    TNotifyEvent OnPortOpen;
    TNotifyEvent OnPortClosed;
    // Declared for the owner's sake; nothing raises them.
    TNotifyEvent OnTimeOut;
    TStatusEvent OnServiceChange;

    std::string Manufacture() const;
    std::string PhoneVersion() const;
    std::string PhoneModel() const;
    std::string PhoneIMEI() const;
    std::string NetworkName() const;
    tSysReg SysReg() const { return m_sysReg; }
    TMsgSvcSupportedSet MsgSvcSupported() const { return m_msgSvc; }
    tComState RXComState() const { return m_comState; }
    bool ThreadStarted() const { return m_threadStarted; }

    // Connects, initialises the modem and starts the receive thread; true at
    // once when already open.
    bool OpenPort();
    // Stops the receive thread and any send in progress, then disconnects.
    bool ClosePort();
    bool InitModem();

    // Message reference of the last part sent (0 when the modem gave none), -1
    // on failure; Rsp holds the outcome text.
    int SendSMSTextMode(const std::string& aSMSCenter, const std::string& aSMSAddress,
                        const std::string& aMessage, const std::string& aCharset, bool ReverseOrder,
                        std::string& Rsp);
    int SendSMSPDUMode(const std::string& aSMSCenter, const std::string& aSMSAddress,
                       const std::string& aMessage, bool ReverseOrder, std::string& Rsp,
                       bool EncodeMessageInPDU);
    int DeleteSimMsg(int Index);
    int SendSimMsg() { return 0; }
    std::string GetSimMsgs(TMsgListType) { return {}; }

    // Held by a caller that sends one page as several calls.
    std::unique_lock<std::recursive_mutex> lockModem();

private:
    struct Answer;

    // The receive thread: polls for "+CMT:" while EnableRXMsgs is set.
    class TServerThread {
    public:
        explicit TServerThread(TKORSMSMessaging& parent) : ParentComp(parent) {}
        TServerThread(const TServerThread&) = delete;
        TServerThread& operator=(const TServerThread&) = delete;
        void start();
        // Waits up to `bound` until the thread says it runs (or has ended).
        void waitStarted(std::chrono::milliseconds bound);
        // Stops the thread (its pause ends at once) and joins it.
        void join();

    private:
        void run();
        void Execute();
        void CheckRxMsg();
        void SyncRxEvent();
        void HandleException(const std::string& text);
        void fire(const TNotifyEvent& ev);

        TKORSMSMessaging& ParentComp;
        std::string ProgressMsg;  // "4, from|stamp|text" and the text of an escaped exception
        WorkerThread m_thread;
    };
    friend class TServerThread;
    enum class QueryResult { WriteFailed, Failed, Ok };

    GsmTimings timings() const;
    void status(tStatusType type, const std::string& msg);
    bool stopRequested() const { return m_stop.load(); }
    bool pauseFor(std::chrono::milliseconds d);
    bool acquire(std::unique_lock<std::recursive_mutex>& lock);
    void setInfo(std::string& field, const std::string& value);

    // Writes `bytes` and reads the answer until its final line, the time-out,
    // the stop flag or the port closing.
    Answer transact(std::string_view bytes, std::chrono::milliseconds timeout, bool wantPrompt = false);
    bool command(std::string_view cmd);
    QueryResult query(std::string_view literal, std::string& reply);

    bool initCommands();
    void queryIdentities();
    void queryMessaging();
    bool queryRegistration();
    void queryNetwork();
    void StartServerThread();

    bool checkInput(const std::string& aSMSCenter, const std::string& aSMSAddress, const std::string& aCharset,
                    std::string& Rsp);
    bool checkBeforePart(std::string& Rsp);
    bool waitModemReady(std::string& Rsp);
    int sendParts(const std::vector<std::string>& parts, bool reverse, std::string& Rsp,
                  const std::function<int(const std::string&, std::string&)>& sendPart);
    // One part's dialogue with the modem in transmit state; an exception is a
    // failed part. `settle` runs after it, before the modem is ready again.
    int runPart(std::string& Rsp, const std::function<int()>& dialogue, const std::function<void()>& settle = {});
    int SendTextPart(const std::string& aSMSCenter, const std::string& aSMSAddress, const std::string& part,
                     const std::string& aCharset, std::string& Rsp);
    int textDialogue(const std::string& aSMSCenter, const std::string& aSMSAddress, const std::string& part,
                     const std::string& aCharset, std::string& Rsp);
    int SendPDUPart(const std::string& aSMSCenter, const std::string& aSMSAddress, const std::string& part,
                    bool encode, std::string& Rsp);
    int pduDialogue(const std::string& aSMSCenter, const std::string& aSMSAddress, const std::string& part,
                    bool encode, std::string& Rsp);

    std::atomic<tSendMode> m_sendMode{smText};
    std::atomic<bool> m_noRoaming{false};
    std::atomic<bool> m_enableRx{false};
    std::atomic<tSysReg> m_sysReg{srUnknown};
    std::atomic<TMsgSvcSupportedSet> m_msgSvc{0};
    std::atomic<tComState> m_comState{csReady};
    std::atomic<bool> m_threadStarted{false};
    // Per instance: one modem closing must not stop another.
    std::atomic<bool> m_stop{false};

    mutable std::mutex m_infoMutex;  // the identity strings
    std::string m_manufacture = "Unknown";
    std::string m_phoneVersion = "Unknown";
    std::string m_phoneModel = "Unknown";
    std::string m_phoneIMEI = "Unknown";
    std::string m_networkName = "Unknown";

    mutable std::mutex m_timingMutex;
    GsmTimings m_timings;
    // Lock order: m_modem before m_infoMutex / m_timingMutex; never the reverse.
    std::recursive_mutex m_modem;
    std::unique_ptr<TServerThread> m_server;
};

}  // namespace nv
