#pragma once
// TKORPelmora: the inbound host. It waits on the gateway's inbound port for the
// sending equipment, receives encoder frames (ServeLink), raises OnMsgReceived
// for each page and answers as the encoder would.
//
// Two modes, chosen by DeviceDirectAccess:
// - direct (true): a serial port of its own (our termios port, COM map of the
//   data directory);
// - modem (false): a Hayes modem of the modem-line layer (Modems.ini): waits
//   for RING, answers, serves the call after CONNECT, re-arms after it ends.
//
// Threads: arming starts one reading thread ("DAThread<slot>") that owns the
// port or line for its whole life: it opens, serves, closes, waits 3 s and
// opens again while armed, so a port that fails to open or goes down comes
// back by itself. Every event of the connection fires on that thread,
// synchronously. Disarming (or Close, or destruction) from another thread
// wakes it and joins it; only that thread ever closes the port.
//
// Text is Windows-1252 bytes; raw blocks are bytes, NUL bytes dropped on read.
//
// Files: KORPelmora.cpp (properties, life cycle, port I/O), KORPelmoraLink.cpp
// (the receive loop), KORPelmoraLine.cpp (modem mode and the line slots).
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "foundation/Clock.h"
#include "platform/ModemLine.h"
#include "platform/WorkerThread.h"

namespace nv {

class SerialPort;
class UserPrompt;
namespace encoder {
struct Frame;
}

// The ordinal is the COM number ("COM" + ordinal), so pntCOM2 (1) opens COM1.
// Scoped: the serial component's pnCOM5.. names live in the same namespace.
// Ordinal 20 (configuration index 19) is held as well.
enum class TTapComPortNumber : std::uint8_t {
    pntCOM1, pntCOM2, pntCOM3, pntCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8, pnCOM9, pnCOM10,
    pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16, pnCOM17, pnCOM18, pnCOM19, pnCOM20
};
enum TTapComPortBaudRate : std::uint8_t {
    brt110, brt300, brt600, brt1200, brt2400, brt4800, brt9600, brt14400, brt19200, brt38400,
    brt56000, brt57600, brt115200
};
enum TTapComPortDataBits : std::uint8_t { dbt5BITS, dbt6BITS, dbt7BITS, dbt8BITS };
enum TTapComPortStopBits : std::uint8_t { sbt1BITS, sbt1HALFBITS, sbt2BITS };
enum TTapComPortParity : std::uint8_t { pttNONE, pttODD, pttEVEN, pttMARK, pttSPACE };
enum TTapComPortHwHandshaking : std::uint8_t { hhtNONE, hhtRTSCTS };
enum TTapComPortSwHandshaking : std::uint8_t { shtNONE, shtXONXOFF };

class TKORPelmora;
using TPelmoraNotifyEvent = std::function<void(TKORPelmora& Sender)>;
using TProgressEvent = std::function<void(TKORPelmora& Sender, const std::string& Msg)>;
using TAccountVerifyEvent = std::function<void(TKORPelmora& Sender, const std::string& PIN, bool& Accept)>;
using TMsgReceivedEvent = std::function<void(TKORPelmora& Sender, const std::string& PIN, const std::string& Msg,
                                             std::string& ID, bool& Submitted)>;
using TNoPageLoginEvent = std::function<void(TKORPelmora& Sender, const std::string& LoginRequested)>;

// A failure of the host's port or line operations.
class EPelmoraError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TKORPelmora {
public:
    static constexpr int kLineSlots = 17;
    static constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;
    // Largest read from the port; more waiting is read in further chunks.
    static constexpr std::size_t kReadChunk = 1000;
    // A block may be this much longer than the text limit (header, controls,
    // line end); a longer one is answered "04" and reading resumes at the next
    // SOH, so a sender that never ends its frame cannot fill the memory.
    static constexpr std::size_t kBlockSlack = 4096;
    // The text allowance of a block when there is no length limit (0 or below).
    static constexpr std::size_t kUnlimitedTextAllowance = 65536;
    // The largest block taken: the text limit (or the allowance) and the slack.
    std::size_t blockCap() const;

    // dataDir: where the COMn links and Modems.ini are found.
    explicit TKORPelmora(std::filesystem::path dataDir = {}, Clock& clock = steadyClock());
    ~TKORPelmora();  // Destroy
    TKORPelmora(const TKORPelmora&) = delete;
    TKORPelmora& operator=(const TKORPelmora&) = delete;

    // --- published properties (constructor values) ---
    std::string Name;
    bool WaitForCall() const { return m_armed.load(); }
    void SetWaitForCall(bool value);
    bool DeviceDirectAccess = false;
    std::uint32_t DevIdToInitialize = 0;
    std::uint32_t Timeout() const { return m_timeout.load(); }
    void SetTimeout(std::uint32_t seconds) { m_timeout.store(seconds); }
    bool ShowErrorDialog = true;
    bool TurncateMsgs = true;
    int LineInstance = 0;
    std::string ModemSysConfig;
    std::string ModemAltConfig;
    int MaxMsgLength = 512;

    TTapComPortNumber ComPort() const;
    void SetComPort(TTapComPortNumber value);  // ignored while connected
    TTapComPortBaudRate ComPortSpeed() const;
    void SetComPortSpeed(TTapComPortBaudRate value);
    TTapComPortDataBits ComPortDataBits() const;
    void SetComPortDataBits(TTapComPortDataBits value);
    TTapComPortStopBits ComPortStopBits() const;
    void SetComPortStopBits(TTapComPortStopBits value);
    TTapComPortParity ComPortParity() const;
    void SetComPortParity(TTapComPortParity value);
    TTapComPortHwHandshaking ComPortHwHandshaking() const;
    void SetComPortHwHandshaking(TTapComPortHwHandshaking value);
    TTapComPortSwHandshaking ComPortSwHandshaking() const;
    void SetComPortSwHandshaking(TTapComPortSwHandshaking value);

    // Events. Bind them before arming; they fire on the reading thread.
    TPelmoraNotifyEvent OnConnection, OnCallOffering, OnCallAnswering, OnCallAnswered, OnDisconnect, OnBusy,
        OnOpen, OnClose, OnDropCall, OnUnexpectedClose, OnNewData;
    TProgressEvent OnError, OnTapiProgress;
    TAccountVerifyEvent OnAccountVerify;
    TMsgReceivedEvent OnMsgReceived;
    TNoPageLoginEvent OnNoPageLogin;

    // Dialogs (ShowErrorDialog); none: nothing is shown.
    UserPrompt* Prompt = nullptr;

    // --- public fields ---
    std::string FRawQJData;  // the last block received; reading thread only
    std::string FPortName;
    std::string FLogDir;     // not used by the host
    bool bConnected() const { return m_connected.load(); }
    int NumDevs = 0;

    // --- operations ---
    // (Re)initialises the modem line and claims slot LineInstance; in direct
    // mode only releases an earlier initialisation. Throws EPelmoraError with
    // the slot texts.
    void InitTap();
    // Stops the reading thread (joining it) and marks the host closed; OnClose
    // once per arming. On the reading thread itself: closes its port.
    void Close();
    // Ends the current connection (the reading thread opens again after 3 s
    // while armed); raises OnDropCall. Always false.
    bool Drop();

    // Port I/O of the current connection; reading thread only.
    int cbInQue();
    std::string Read(int wantedToRead);
    bool Write(const std::string& sData);
    bool SendString(const std::string& s);
    void FlushRXBuf();
    // Waits for one of Match's alternatives (the shared reply-match rule);
    // ends after wTime seconds without a byte, or when the host is dropped,
    // disconnected or disarmed. Return gets every byte examined; the bytes
    // after the match stay for the next read. -1 when not connected.
    int WaitFor(const std::string& Match, std::string& Return, int wTime);

    // The receive loop of one connection; reading thread.
    void ServeLink();

    static std::string CommErrorToStr(std::uint32_t errorWord);
    // The operator's text of a VerifyUsableLine code ("" for 0 and 1).
    static std::string usableLineText(std::uint32_t code);
    bool LoadModemConfig(const std::string& FileName, std::uint32_t DeviceID);
    std::uint32_t VerifyUsableLine(std::uint32_t dwDeviceID);

    // The open port or call stream; defined with the port I/O.
    class Channel;

private:

    void DirectAccessThreadRun();
    void threadBody();
    bool Open();
    void OpenComPort();
    bool OnConnectionInt();
    bool ApplyComSettings();
    void closeChannel();
    void openModemChannel(ModemStream& stream);
    void reportClosed();
    bool onReadingThread() const;
    bool connectionLive() const;

    // Modem mode.
    bool openLine();
    void serveLine();
    void lineCallback(const LineMessage& m);
    void handleCallState(std::uint32_t state);
    void connectCall();
    void releaseSlot();
    void dialog(const std::string& text);

    // Receive loop helpers.
    enum class BlockRead { None, Block, Overflow };
    // The next block: Block when it ended, Overflow when it passed `cap` (the
    // rest up to the next SOH is skipped), None after `wTime` seconds of silence
    // (what came is dropped) or when the connection ended. Each byte is looked
    // at once.
    BlockRead ReadBlock(std::string& block, int wTime, std::size_t cap);
    bool feedUntil(int wTime, const std::function<bool(char)>& take);
    void answerOverflow();
    bool answerBlock(const std::string& block);
    bool answerFrame(const std::string& block, const encoder::Frame& frame);
    void reply(const std::string& bytes);
    void progress(const std::string& text);
    void error(const std::string& text);
    // Pauses on the clock in short slices; false when disarmed meanwhile.
    bool pause(int ms);

    std::filesystem::path m_dataDir;
    Clock& m_clock;

    mutable std::mutex m_settingsMutex;
    TTapComPortNumber m_comPort = TTapComPortNumber::pntCOM2;
    TTapComPortBaudRate m_speed = brt9600;
    TTapComPortDataBits m_dataBits = dbt8BITS;
    TTapComPortStopBits m_stopBits = sbt1BITS;
    TTapComPortParity m_parity = pttNONE;
    TTapComPortHwHandshaking m_hw = hhtRTSCTS;
    TTapComPortSwHandshaking m_sw = shtNONE;

    std::atomic<bool> m_armed{false};
    std::atomic<bool> m_destroying{false};
    std::atomic<bool> m_connected{false};
    std::atomic<bool> bDropped{false};
    std::atomic<bool> m_active{false};  // armed since the last OnClose
    std::atomic<std::uint32_t> m_timeout{20};
    std::mutex m_armMutex;
    WorkerThread DAThread;
    std::atomic<std::thread::id> m_readerId{};

    std::unique_ptr<SerialPort> m_port;   // direct mode
    std::unique_ptr<ModemLine> m_line;    // modem mode
    std::unique_ptr<Channel> m_channel;   // hCommFile: the open port or call stream
    std::string m_pending;                // bytes read after a match
    bool m_reportFailure = true;          // the next failed open is reported

    bool fInitTap = false;
    int m_slot = -1;
    bool CallBackActive = false;
    bool FOffering = false;
    int FRingCount = 0;
    const int FRingToAnswer = 1;
    bool m_lineDown = false;  // the call ended: close the line, open again
    int m_errorCount = 0;
    bool m_afterFrame = false;  // the last block was an answered frame
    bool m_resync = false;      // after an overflow: skipping to the next SOH
};

}  // namespace nv
