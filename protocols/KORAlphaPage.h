#pragma once
// TKORAlpaPage: the alphanumeric pager. It reaches a carrier's TAP (IXO)
// terminal by a dial-up modem (our modem-line layer standing in for the
// telephony API), a serial port wired to the terminal, or TCP; logs in, sends
// messages to PINs and hangs up.
//
// A plain class driven by one thread: events are std::function callbacks fired
// synchronously on that thread, and the modem line's call states are delivered
// inside the pager's own waits (pump). The wire format lives in TapCodec.
//
// Files: KORAlphaPage.cpp (life cycle, status, Dial, login, Hangup),
// KORAlphaPageSend.cpp (messages and blocks), KORAlphaPageLine.cpp (modem line),
// KORAlphaPageIo.cpp (waits and the three transports).
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "platform/ModemLine.h"
#include "protocols/TapCodec.h"

namespace nv {

class TcpStream;
class SerialPort;
class ByteStream;
class TcpByteStream;
class SerialByteStream;

enum TAOpMode { opmaModem, opmaDirect, opmaTCP };
enum TAComPortNumber {
    pnaCOM1, pnaCOM2, pnaCOM3, pnaCOM4, pnaCOM5, pnaCOM6, pnaCOM7, pnaCOM8, pnaCOM9, pnaCOM10,
    pnaCOM11, pnaCOM12, pnaCOM13, pnaCOM14, pnaCOM15, pnaCOM16, pnaCOM17, pnaCOM18, pnaCOM19, pnaCOM20
};
enum TAComPortBaudRate {
    bra110, bra300, bra600, bra1200, bra2400, bra4800, bra9600, bra14400, bra19200, bra38400,
    bra56000, bra57600, bra115200
};
enum TAComPortDataBits { dba5BITS, dba6BITS, dba7BITS, dba8BITS };
enum TAComPortStopBits { sba1BITS, sba1HALFBITS, sba2BITS };
enum TAComPortParity { ptaNONE, ptaODD, ptaEVEN, ptaMARK, ptaSPACE };
enum TAComPortHwHandshaking { hhaNONE, hhaRTSCTS };
enum TAComPortSwHandshaking { shaNONE, shaXONXOFF };
enum TDialMethod { dmTone, dmPulse };
enum TSMSType { stNone, stNextel, stAldiscon, stNewNet };
using TDeliveryCommand = tap::DeliveryCommand;
using tap::DeliveryCommand::dcTap;
using tap::DeliveryCommand::dcConfirm;
using tap::DeliveryCommand::dcReplace;
using tap::DeliveryCommand::dcUpdate;
using tap::DeliveryCommand::dcQuery;
using tap::DeliveryCommand::dcDelete;
using tap::DeliveryCommand::dcDefered;

// The pager's error, with the message of its ident.
class EPageError : public std::runtime_error {
public:
    static EPageError CreateRes(int Ident);
    int ident() const { return m_ident; }

private:
    EPageError(int ident, const std::string& text) : std::runtime_error(text), m_ident(ident) {}
    int m_ident;
};
std::string pageErrorText(int ident);

// Line log kept in memory; the direct-access script is its only user.
class TLogFile {
public:
    void WriteLog(const std::string& tag, const std::string& responce);
    bool SaveToFile(const std::filesystem::path& sfile) const;
    std::vector<std::string> slLogFile;
};

// Result of SendTextMessage beyond True/False: the current call's quota of
// parts is used up, so the caller should hang up and dial again rather than
// count the page as failed.
enum class SendOutcome { Sent, Failed, CallQuotaUsed };

class TKORAlpaPage;
using TNotifyEvent = std::function<void(TKORAlpaPage& Sender)>;
using TStatusNotifyEvent =
    std::function<void(TKORAlpaPage& Sender, const std::string& EventMsg, const std::string& EventType)>;

class TKORAlpaPage {
public:
    // dataDir: where Modems.ini and the COMn links are found.
    explicit TKORAlpaPage(std::filesystem::path dataDir = {}, Clock& clock = steadyClock());
    ~TKORAlpaPage();
    TKORAlpaPage(const TKORAlpaPage&) = delete;
    TKORAlpaPage& operator=(const TKORAlpaPage&) = delete;

    // --- published properties (defaults as the constructor sets them) ---
    std::string Name;
    bool WaitForCall = false;
    TAOpMode DeviceOperationMode = opmaModem;
    std::string PhoneNumber;
    std::uint32_t DevIdToInitialize = 0xFFFFFFFFu;  // -1: none
    std::vector<std::string> DirectAccessScript;
    std::string DirectAccessLogFile;
    std::uint32_t Timeout = 20;
    bool ShowDialDialog = false;
    bool ShowNoModemsDialog = true;  // stored, no effect
    bool ShowErrorDialogs = false;
    std::string ModemSysConfig, ModemAltConfig, ModemTermConfig;
    bool DTMFOnly = false;
    bool DTMFSendAccessNumber = false;
    std::string DTMFScript, DTMFMessage, DTMFPIN;
    TNotifyEvent OnConnection, OnCallOffering, OnCallAnswering, OnDisconnect, OnBusy, OnOpen, OnClose,
        OnDropCall, OnUnexpectedClose, OnLineBusy;
    int LineInstance = 0;
    TDialMethod DialMethod = dmTone;  // stored, no effect
    std::string PinNumber;
    std::string InitString = "ATZ";   // stored, no effect
    int MaxMessagesPerCall = 0;
    int MsgLength = 140;
    std::string Message;
    std::string Password;
    TStatusNotifyEvent OnPageProgress;
    // The owner's stop or cancel: once it says true, the dial wait, the
    // reply waits and their pauses end within a slice, as a time-out would.
    std::function<bool()> CancelRequested;
    bool UseModem = true;
    bool NumericOnly = false;
    std::string SendResult;
    std::string ErrorStr;
    TDeliveryCommand ETAPCommand = dcTap;
    std::string ETapMsgID, ETapMsgExpire, ETapMsgSchedule;
    TSMSType SMSType = stNone;
    bool SendReverseOrder = false;
    bool DisplayMsgBreaks = true;
    bool TurncateMsgs = false;
    TAComPortNumber ComPort = pnaCOM2;
    TAComPortBaudRate ComPortSpeed = bra1200;
    TAComPortDataBits ComPortDataBits = dba7BITS;
    TAComPortStopBits ComPortStopBits = sba1BITS;
    TAComPortParity ComPortParity = ptaEVEN;
    TAComPortHwHandshaking ComPortHwHandshaking = hhaRTSCTS;
    TAComPortSwHandshaking ComPortSwHandshaking = shaNONE;
    std::string TAPIPAddress;
    std::string TAPIPPort = "443";

    // --- public state read by the engine ---
    int MsgsSubmited = 0;
    int MsgsSentThisCall = 0;
    std::string FPortName;
    bool bDropped = true;
    bool bConnected = false;
    int NumDevs = 0;
    std::uint32_t Version = 0;
    // Why the last SendTextMessage ended as it did.
    SendOutcome LastSendOutcome = SendOutcome::Failed;

    // --- operations ---
    bool InitTap();
    bool Dial();
    bool SendTextMessage(const std::string& PIN, const std::string& Msg);
    bool SendPage();
    bool Hangup();
    bool Drop();
    bool Open();
    void Close();
    bool MakeCall();
    void OnConnectionInt();
    std::uint32_t VerifyUsableLine(std::uint32_t dwDeviceID);
    bool LoadModemConfig(const std::string& FileName, std::uint32_t DeviceID);
    // Starts from the file (or the line's current configuration), lets
    // `editor` change it (the manager's dialog; no editor = cancelled) and
    // stores the result in FileName.
    bool SetModemConfig(const std::string& FileName, std::uint32_t DeviceID);
    std::function<bool(ModemSettings&)> ModemConfigEditor;
    std::string GetLineName(std::uint32_t DeviceID);
    void MakeDirectAccessScript();
    static std::string LineCallStateToStr(std::uint32_t CallState);
    static std::string LineCallStateInfoToStr(std::uint32_t CallState, std::uint32_t Info);

    bool nLogin();
    int WaitFor(const std::string& Match, std::string& Return, int wTime);
    bool SendString(const std::string& s);
    void FlushRXBuf();
    std::string Read(int wantedToRead);
    bool Write(const std::string& sData);
    int cbInQue();
    void SetTimeout(std::uint32_t Value);

    // Runs what the thread's message loop ran: the modem line's messages.
    void pump();

    // The dialogue reads and writes `stream` instead of the mode's transport
    // (tests and fuzz targets drive it with scripted bytes); nullptr returns
    // to the transport. The caller keeps it alive while attached.
    void attachStream(ByteStream* stream) { m_attached = stream; }

private:
    friend class TapLineRouter;
    struct Part;

    void status(const std::string& text, const std::string& caption);
    void SetSendStatus(const std::string& text, const std::string& caption);
    void pause(int ms);
    void pumpSleep(int ms);
    bool cancelled() const { return CancelRequested && CancelRequested(); }
    // A pause that a cancel cuts short.
    void pauseUnlessCancelled(int ms);
    bool failLogin(const std::string& text, int ident, const std::string& caption = "Network Error");
    bool connectTcp();
    bool connectDirect();
    bool connectModem();
    void openDirectPort();
    void applyModemConfigFiles();
    bool sendMessage();
    bool sendPart(const std::string& text, int partNo, int parts);
    void deliveryCheck();
    void raiseIfShown(int ident);
    void lineCallback(const LineMessage& msg);
    void onReply(std::int32_t requestId, std::int32_t result);
    void closeStream();
    std::string readTransport(std::size_t maxBytes);
    bool transportUp();
    // The stream the dialogue uses: the attached one, TCP in TCP mode, else
    // serialStream().
    ByteStream* lineStream();
    // The direct port while it is open, else the modem call (when connected).
    ByteStream* serialStream();
    void releaseSlot();

    Clock& m_clock;
    std::filesystem::path m_dataDir;
    std::unique_ptr<TcpStream> fTCPTap;
    std::unique_ptr<SerialPort> m_direct;
    std::unique_ptr<TcpByteStream> m_tcpBytes;
    std::unique_ptr<SerialByteStream> m_directBytes;
    ByteStream* m_attached = nullptr;
    std::unique_ptr<ModemLine> m_line;
    bool fInitTap = false;
    int m_slot = -1;
    bool ETAP = false;
    bool m_lineOpen = false;
    bool m_haveCall = false;
    std::int32_t dwRequestAnswer = 0, dwRequestMakeCall = 0, dwRequestDrop = 0;
    std::string fHoldMessageID;
    int FvdCount = 0;
    bool bStopWaitingNewData = false;
    std::string sDirectAccessResult;
    bool m_inCallback = false;
    std::string m_rx;  // bytes counted by cbInQue, not yet read
};

}  // namespace nv
