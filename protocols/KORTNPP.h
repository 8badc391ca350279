#pragma once
// TKORTNPP: a TNPP link with one peer over a serial port. A link thread brings
// the link up (ENQ / EOT), tests it now and then, sends the queued packets one
// at a time and awaits the peer's ACK, NAK, CAN or RS, and answers the peer's
// packets. Callers only queue ID pages with SendIDPage.
//
// Threads: every event but OnPortClosed fires on the link thread; handlers
// post to their own thread. SendIDPage may be called from any thread.
// Properties are set before OpenPort; DPSerNum and Inertia are shared with the
// link thread and reached through their accessors (under the queue lock).
//
// Time: every time-out is in seconds on the injected clock (IdleRspTout,
// BusyRspTout and ENQRspTout included; a loop-pass count would depend on the
// platform's sleep granularity). The line is polled in 1 ms slices.
//
// Event texts of wire bytes (OnSendPacket ... OnRxPacket, OnTxPacket) pass
// through tnpp::logText, so a raw CRC byte never breaks a log line; the block
// events get the packet's bytes as received.
#include <atomic>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "foundation/KORComCls.h"
#include "platform/KORCom32.h"
#include "protocols/TnppCodec.h"
#include "protocols/WThreadD4.h"

namespace nv {

class TKORTNPP : public TKORCom32 {
public:
    // Class scope: the GSM component has a state type of the same name.
    enum tComState { csInit, csEnqRsp, csReady, csTransmit, csResponce };
    using TNotifyEvent = std::function<void()>;
    using TSendingPackEvent = std::function<void(const std::string& Packet)>;
    using TPackRxTxEvent = std::function<void(const std::string& Packet)>;
    using TPackRxEvent = std::function<void(const std::string& Packet, char& Rsp)>;

    explicit TKORTNPP(std::filesystem::path dataDir = {}, Clock& clock = steadyClock());
    ~TKORTNPP() override;

    // Properties (the constructor's defaults).
    int InterCharTime = 2;
    int IdleRspTout = 10;
    int BusyRspTout = 60;
    int ENQRspTout = 10;
    int RSHoldTime = 10;
    int KeepAliveTout = 60;
    int Retrycount = 6;
    int RSHoldRetry = 24;  // stored; the link does not consult it
    int ENQRetries = 6;
    std::uint32_t SourceAddress = 0;
    bool STXInit = true;
    std::uint32_t DestAddr = 0;  // stored for the caller
    bool TransparentCRC = false;
    tPacketSize PacketSize = tPacketSize::ps4096;

    std::uint16_t Inertia() const;
    void SetInertia(std::uint16_t value);
    std::uint16_t DPSerNum() const;
    void SetDPSerNum(std::uint16_t value);
    bool LinkUp() const { return m_linkUp.load(); }
    int TNPPQueue() const;
    tComState ComState() const { return m_comState.load(); }

    // Events.
    TNotifyEvent OnPortOpened, OnPortClosed, OnLinkTest, OnLinkError;
    TSendingPackEvent OnSendPacket, OnPacketSent, OnCRCError, OnRmtCancel, OnPacketRequeue;
    // A queued entry that leaves the queue unsent: at a link start, or after
    // its sendings found no answer. SendIDPage had already returned True.
    TSendingPackEvent OnPacketDropped;
    TPackRxEvent OnETERequest, OnETEResponce, OnCapPage, OnIdPage, OnCommand, OnData, OnStatus, OnExtCapPage,
        OnCapPageGroupCall, OnIDPageGroupCall, OnGroupCall;
    TPackRxTxEvent OnRxPacket, OnTxPacket;

    // Opens the port and starts the link thread; nothing when it does not open.
    void OpenPort();
    // Stops and joins the link thread, then closes the port; the LinkUp it
    // found. True at once when the port is not open.
    bool ClosePort();
    // Queues one ID page. False when the port is closed, the link is down,
    // DestAddress > 0xFFFF, Inertia > 0xFF, SourceAddress > 0xFFFF or the ID is
    // longer than 10 characters (then nothing changes).
    bool SendIDPage(std::uint32_t DestAddress, std::uint32_t Inertia, const std::string& ID, const std::string& Msg,
                    const std::string& MsgID);
    bool SendDataPacket(const std::string& Data);
    // SOH and the 12 header digits with the current Inertia, SourceAddress, DPSerNum.
    std::string GetHeader(std::uint32_t DestAddress) const;
    void SaveQueue(const std::filesystem::path& FileName) const;
    void LoadQueue(const std::filesystem::path& FileName);
    void CRCTest();

private:
    // A send-queue entry: the message id stays apart from the packet, so a
    // "$" or NUL in a raw CRC never cuts what goes on the wire.
    struct TxEntry {
        std::string msgId;
        bool hasId = false;
        bool linkStart = false;
        std::string packet;
        std::string text() const { return hasId ? msgId + "$" + packet : packet; }
    };
    enum class Flow { Stop, Restart, Next };
    enum class PacketEnd { Return, Continue };

    std::uintptr_t ServerThreadProc();
    void linkStart();
    Flow linkLoop(TTimeCounter& keepAlive, TTimeCounter& rsHold, bool& holding);
    Flow sendHead(TTimeCounter& keepAlive, TTimeCounter& rsHold, bool& holding);
    bool linkTest(TTimeCounter& keepAlive);
    int TransmitPacket(const TxEntry& entry);
    int ProcessReceive();
    bool idleStep(int& tries, Clock::TimePoint& since);
    PacketEnd readPacket(int& result, Clock::TimePoint& since);
    bool readCrc(std::string& packet, TTimeCounter& interChar);
    void answerPacket(std::string packet, int& result);
    void dispatchBlock(const std::string& packet);
    PacketEnd answerEnq();
    void enterEnqRsp(Clock::TimePoint& since);

    std::optional<char> readChar();
    void pause(int ms);
    bool stopping() const { return ServerThread.Tag() != 0; }
    void sendControl(char c, const char* name);
    void fire(const TNotifyEvent& e) const { if (e) e(); }
    void fire(const TSendingPackEvent& e, const std::string& text) const { if (e) e(text); }
    void dropHead();

    mutable std::mutex m_queueMutex;  // TxQueue, DPSerNum, Inertia
    std::deque<TxEntry> m_txQueue;
    std::uint16_t m_inertia = 3;
    std::uint16_t m_serNum = 0;

    std::deque<std::string> m_serNumList;  // link thread only
    std::atomic<bool> m_linkUp{false};
    std::atomic<tComState> m_comState{csInit};
    std::atomic<bool> m_cancelSend{false};  // Cancel: a sending in progress is to stop

    // Last member: destroyed (and its threads waited for) first.
    TWinThread ServerThread;
};

}  // namespace nv
