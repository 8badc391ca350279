#include "protocols/KORTNPP.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <thread>

#include "foundation/FileUtil.h"

namespace nv {
namespace {

using namespace tnpp;

// Block types in the order of the block events.
constexpr char kBlockTypes[] = "><ABCDEFGHI";

// A time-out of 0 or less would send an ENQ every millisecond.
std::chrono::seconds seconds(int n) { return std::chrono::seconds(std::max(n, 1)); }

// ClosePort's further wait for a link thread still inside a long write.
constexpr int kCloseWaitMs = 5000;

}  // namespace

TKORTNPP::TKORTNPP(std::filesystem::path dataDir, Clock& clock) : TKORCom32(std::move(dataDir), clock) {
    ServerThread.ThreadProc = [this](TWinThread&, const TWinThreadParam&) -> NativeUInt {
        return ServerThreadProc();
    };
}

TKORTNPP::~TKORTNPP() {
    ClosePort();
    m_cancelSend.store(true);
}

std::uint16_t TKORTNPP::Inertia() const {
    std::lock_guard lk(m_queueMutex);
    return m_inertia;
}

void TKORTNPP::SetInertia(std::uint16_t value) {
    std::lock_guard lk(m_queueMutex);
    m_inertia = value;
}

std::uint16_t TKORTNPP::DPSerNum() const {
    std::lock_guard lk(m_queueMutex);
    return m_serNum;
}

void TKORTNPP::SetDPSerNum(std::uint16_t value) {
    std::lock_guard lk(m_queueMutex);
    m_serNum = value;
}

int TKORTNPP::TNPPQueue() const {
    std::lock_guard lk(m_queueMutex);
    return static_cast<int>(m_txQueue.size());
}

// --- caller side ---

void TKORTNPP::OpenPort() {
    if (Connected() || !Connect()) return;
    m_cancelSend.store(false);
    ServerThread.setTag(0);
    try {
        ServerThread.SpawnThread(nullptr);
    } catch (const EWinThread&) {
        // No link thread: LinkUp stays False and SendIDPage refuses pages.
    }
}

bool TKORTNPP::ClosePort() {
    if (!Connected()) return true;
    m_cancelSend.store(true);
    const bool wasUp = m_linkUp.load();
    ServerThread.setTag(1);
    // Wakes a wait or a write in progress; the thread sees the stop flag at
    // its next slice and is joined before the descriptor goes.
    m_port.cancel();
    if (!ServerThread.KillThreads()) ServerThread.WaitWithTimeOut(kCloseWaitMs);
    Disconnect();
    fire(OnPortClosed);
    return wasUp;
}

bool TKORTNPP::SendIDPage(std::uint32_t DestAddress, std::uint32_t Inertia, const std::string& ID,
                          const std::string& Msg, const std::string& MsgID) {
    if (!Connected() || !m_linkUp.load()) return false;
    // A header field wider than its digits, or an ID that would have to be
    // cut, would page somebody else: refuse so the secondary provider is tried.
    const auto id = idField(ID);
    if (!id || !headerFits(DestAddress, Inertia, SourceAddress, 0)) return false;
    const std::string text = Msg.substr(0, std::min(Msg.size(), maxIdPageText(PacketSize, TransparentCRC)));

    std::lock_guard lk(m_queueMutex);
    m_inertia = static_cast<std::uint16_t>(Inertia);
    m_serNum = static_cast<std::uint16_t>(m_serNum + 1 > 255 ? 1 : m_serNum + 1);
    const std::string header = formatHeader(DestAddress, m_inertia, SourceAddress, m_serNum);
    m_txQueue.push_back(TxEntry{MsgID, true, false, buildIdPagePacket(header, *id, text, TransparentCRC)});
    return true;
}

bool TKORTNPP::SendDataPacket(const std::string& Data) {
    std::lock_guard lk(m_queueMutex);
    m_txQueue.push_back(TxEntry{{}, false, false, Data});
    return true;
}

std::string TKORTNPP::GetHeader(std::uint32_t DestAddress) const {
    std::lock_guard lk(m_queueMutex);
    return std::string(1, SOH) + formatHeader(DestAddress, m_inertia, SourceAddress, m_serNum);
}

void TKORTNPP::SaveQueue(const std::filesystem::path& FileName) const {
    std::string out;
    {
        std::lock_guard lk(m_queueMutex);
        for (const auto& e : m_txQueue) out += e.text() + "\r\n";
    }
    std::ofstream f(FileName, std::ios::binary | std::ios::trunc);
    f.write(out.data(), static_cast<std::streamsize>(out.size()));
}

void TKORTNPP::LoadQueue(const std::filesystem::path& FileName) {
    std::string data;
    if (!readWholeFile(FileName, data)) return;
    std::deque<TxEntry> loaded;
    std::size_t pos = 0;
    while (pos < data.size()) {
        std::size_t end = data.find('\n', pos);
        if (end == std::string::npos) end = data.size();
        std::string line = data.substr(pos, end - pos);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        pos = end + 1;
        if (line.empty()) continue;
        TxEntry e;
        if (auto dollar = line.find('$'); dollar != std::string::npos) {
            e.hasId = true;
            e.msgId = line.substr(0, dollar);
            e.packet = line.substr(dollar + 1);
        } else {
            e.packet = line;
        }
        loaded.push_back(std::move(e));
    }
    std::lock_guard lk(m_queueMutex);
    m_txQueue.swap(loaded);
}

void TKORTNPP::CRCTest() {
    {
        std::lock_guard lk(m_queueMutex);
        m_serNum = 1;
        m_inertia = 9;
    }
    SourceAddress = 2;
    std::string p = GetHeader(1) + STX + "DATA" + ETX;
    p += GetCRC(p, TransparentCRC);
}

// --- link thread ---

std::uintptr_t TKORTNPP::ServerThreadProc() {
    struct LinkDownOnExit {
        std::atomic<bool>& up;
        ~LinkDownOnExit() { up.store(false); }
    } linkDown{m_linkUp};

    fire(OnPortOpened);
    TTimeCounter rsHold(m_clock), keepAlive(m_clock);
    rsHold.SetTimeOut(RSHoldTime);
    keepAlive.SetTimeOut(KeepAliveTout);
    bool holding = false;
    while (!stopping()) {
        linkStart();
        rsHold.TimerOff();
        holding = false;
        m_comState.store(csEnqRsp);
        sendControl(ENQ, "ENQ");
        if (ProcessReceive() < 0) continue;  // again from the link start until the peer answers
        if (linkLoop(keepAlive, rsHold, holding) == Flow::Stop) break;
    }
    return 0;
}

void TKORTNPP::linkStart() {
    m_comState.store(csInit);
    std::deque<TxEntry> dropped;
    {
        std::lock_guard lk(m_queueMutex);
        m_serNum = 0;
        dropped.swap(m_txQueue);
        const std::string header = formatHeader(0, m_inertia, SourceAddress, 0);
        m_txQueue.push_back(TxEntry{{}, false, true, buildLinkStartPacket(header, STXInit, TransparentCRC)});
    }
    m_serNumList.clear();
    for (const auto& e : dropped)
        if (!e.linkStart) fire(OnPacketDropped, logText(e.text()));
}

TKORTNPP::Flow TKORTNPP::linkLoop(TTimeCounter& keepAlive, TTimeCounter& rsHold, bool& holding) {
    keepAlive.TimerOn();
    for (;;) {
        if (stopping()) return Flow::Stop;
        pause(5);
        ProcessReceive();
        if (keepAlive.TimedOut()) {
            if (!linkTest(keepAlive)) return Flow::Restart;
        } else if (TNPPQueue() == 0) {
            pause(2);
            if (!m_linkUp.load()) return Flow::Restart;
        } else {
            const Flow f = sendHead(keepAlive, rsHold, holding);
            if (f != Flow::Next) return f;
        }
        if (stopping()) return Flow::Stop;
    }
}

TKORTNPP::Flow TKORTNPP::sendHead(TTimeCounter& keepAlive, TTimeCounter& rsHold, bool& holding) {
    if (stopping()) return Flow::Stop;
    // Only this thread can bring the link back: a link that went down goes
    // to the link start, one left awaiting an EOT is tested first.
    if (!m_linkUp.load()) return Flow::Restart;
    ProcessReceive();
    if (!m_linkUp.load()) return Flow::Restart;
    if (m_comState.load() == csEnqRsp && !linkTest(keepAlive)) return Flow::Restart;
    if (holding) {
        if (!rsHold.TimedOut()) return Flow::Next;
        rsHold.TimerOff();
        holding = false;
    }
    TxEntry head;
    {
        std::lock_guard lk(m_queueMutex);
        if (m_txQueue.empty()) return Flow::Next;
        head = m_txQueue.front();
    }
    const int r = TransmitPacket(head);
    if (r == ACK || r == CAN) {
        std::lock_guard lk(m_queueMutex);
        m_txQueue.pop_front();
        return Flow::Next;
    }
    if (r == RS) {
        std::lock_guard lk(m_queueMutex);
        if (m_txQueue.size() == 1) {
            holding = true;
            rsHold.TimerOn();
        } else {
            m_txQueue.push_back(std::move(m_txQueue.front()));
            m_txQueue.pop_front();
        }
        return Flow::Next;
    }
    if (stopping()) return Flow::Stop;
    if (!m_linkUp.load()) {
        dropHead();
        return Flow::Restart;
    }
    if (!linkTest(keepAlive)) return Flow::Restart;
    dropHead();
    return Flow::Next;
}

void TKORTNPP::dropHead() {
    TxEntry e;
    {
        std::lock_guard lk(m_queueMutex);
        if (m_txQueue.empty()) return;
        e = std::move(m_txQueue.front());
        m_txQueue.pop_front();
    }
    if (!e.linkStart) fire(OnPacketDropped, logText(e.text()));
}

bool TKORTNPP::linkTest(TTimeCounter& keepAlive) {
    keepAlive.TimerOff();
    m_comState.store(csEnqRsp);
    sendControl(ENQ, "ENQ");
    if (ProcessReceive() < 0) return false;
    keepAlive.TimerOn();
    return true;
}

int TKORTNPP::TransmitPacket(const TxEntry& entry) {
    const std::string text = logText(entry.text());
    fire(OnSendPacket, text);
    if (m_comState.load() != csReady || m_cancelSend.load()) return -1;
    int result = -1;
    int count = 0;
    for (;;) {
        if (stopping() || m_cancelSend.load()) break;
        // Set before every sending: an EOT during the wait makes the state
        // csReady, and the next sending must await its reply again.
        m_comState.store(csResponce);
        if (!SendString(entry.packet)) break;
        fire(OnTxPacket, text);
        ++count;
        // The reply is awaited after every sending, the last one included.
        const int r = ProcessReceive();
        if (r == ACK) {
            fire(OnPacketSent, text);
            fire(OnRxPacket, "ACK");
            result = ACK;
            break;
        }
        if (r == CAN) {
            fire(OnRmtCancel, text);
            fire(OnRxPacket, "CAN");
            result = CAN;
            break;
        }
        if (r == RS) {
            fire(OnPacketRequeue, text);
            fire(OnRxPacket, "RS");
            result = RS;
            break;
        }
        if (r == NAK) {
            fire(OnCRCError, text);
            fire(OnRxPacket, "NAK");
        } else if (!m_linkUp.load()) {
            break;  // the ENQs went unanswered: no use sending into a dead link
        }
        if (count == Retrycount) break;
    }
    m_comState.store(csReady);
    return result;
}

// --- reception ---

int TKORTNPP::ProcessReceive() {
    int result = -1;
    int tries = 0;
    Clock::TimePoint since = m_clock.now();
    for (;;) {
        if (stopping()) return result;
        const auto c = readChar();
        if (stopping()) return result;
        if (!c) {
            if (m_comState.load() == csReady) return result;
            pause(1);
            if (!idleStep(tries, since)) return result;
            continue;
        }
        const char ch = *c;
        const tComState st = m_comState.load();
        const bool reply = ch == ACK || ch == NAK || ch == CAN || ch == RS;
        if (st == csEnqRsp) {
            if (reply) continue;
            if (ch == EOT) {
                m_linkUp.store(true);
                m_comState.store(csReady);
                fire(OnRxPacket, "EOT");
                fire(OnLinkTest);
                return 0;
            }
        } else if (st == csReady) {
            if (reply || ch == EOT) return result;
        } else if (st == csResponce) {
            if (ch == EOT) {
                fire(OnRxPacket, "EOT");
                fire(OnLinkTest);
                m_comState.store(csReady);
                continue;
            }
            result = static_cast<unsigned char>(ch);
        }
        PacketEnd next = PacketEnd::Return;
        if (ch == ENQ) next = answerEnq();
        else if (ch == SOH) next = readPacket(result, since);
        if (next == PacketEnd::Return) return result;
    }
}

// One silent slice of a reception step; false ends the step.
bool TKORTNPP::idleStep(int& tries, Clock::TimePoint& since) {
    const auto now = m_clock.now();
    auto elapsed = now - since;
    const tComState st = m_comState.load();
    if (st == csEnqRsp) {
        if (elapsed < seconds(ENQRspTout)) return true;
        since = now;
        ++tries;
        if (tries == ENQRetries) {
            m_linkUp.store(false);
            fire(OnLinkError);
            return false;
        }
        sendControl(ENQ, "ENQ");
    } else if (st == csResponce) {
        if (elapsed >= seconds(BusyRspTout)) {
            since = now;
            elapsed = {};
            ++tries;
            if (tries == BusyRspTout) return false;
        }
        if (elapsed >= seconds(IdleRspTout)) enterEnqRsp(since);
    }
    return true;
}

void TKORTNPP::enterEnqRsp(Clock::TimePoint& since) {
    m_comState.store(csEnqRsp);
    sendControl(ENQ, "ENQ");
    // The enquiry's time starts now, not when the step began.
    since = m_clock.now();
}

TKORTNPP::PacketEnd TKORTNPP::answerEnq() {
    fire(OnRxPacket, "ENQ");
    sendControl(EOT, "EOT");
    return m_comState.load() == csEnqRsp ? PacketEnd::Continue : PacketEnd::Return;
}

TKORTNPP::PacketEnd TKORTNPP::readPacket(int& result, Clock::TimePoint& since) {
    std::string text(1, SOH);
    // Past this the packet is refused anyway; a peer that never sends ETX
    // must not grow it without end.
    const std::size_t keep = packetLimit(PacketSize) + 1;
    TTimeCounter interChar(m_clock);
    interChar.SetTimeOut(InterCharTime);
    interChar.TimerOn();
    for (;;) {
        if (stopping()) return PacketEnd::Return;
        const auto c = readChar();
        if (!c) {
            if (interChar.TimedOut()) {
                enterEnqRsp(since);
                return PacketEnd::Continue;
            }
            pause(1);
            continue;
        }
        interChar.TimerOn();
        const char ch = *c;
        if (static_cast<unsigned char>(ch) > 0x7F) continue;
        if (ch == SOH) {
            // A second SOH does not restart the packet.
            if (OnTxPacket) {
                OnTxPacket("Debug: " + std::to_string(static_cast<unsigned char>(text.back())));
                OnTxPacket("Debug: " + logText(text));
            }
            continue;
        }
        if (ch == ENQ) return answerEnq();
        if (text.size() < keep || ch == ETX) text += ch;
        if (ch == ETX) break;
    }
    if (!readCrc(text, interChar)) {
        if (stopping()) return PacketEnd::Return;
        enterEnqRsp(since);
        return PacketEnd::Continue;
    }
    fire(OnRxPacket, logText(text));
    // A packet that cannot be understood is refused; the link goes on.
    try {
        answerPacket(std::move(text), result);
    } catch (const std::exception&) {
        sendControl(CAN, "CAN");
    }
    return PacketEnd::Return;
}

bool TKORTNPP::readCrc(std::string& packet, TTimeCounter& interChar) {
    for (std::size_t got = 0; got < crcLength(TransparentCRC);) {
        if (stopping()) return false;
        const auto c = readChar();
        if (!c) {
            if (interChar.TimedOut()) return false;
            pause(1);
            continue;
        }
        interChar.TimerOn();
        packet += *c;
        ++got;
    }
    return true;
}

void TKORTNPP::answerPacket(std::string packet, int& result) {
    if (packet.size() > packetLimit(PacketSize)) return sendControl(CAN, "CAN");
    if (!crcMatches(packet, TransparentCRC)) return sendControl(NAK, "NAK");
    const auto header = headerDigits(packet);
    if (!header) return sendControl(CAN, "CAN");
    if (std::find(m_serNumList.begin(), m_serNumList.end(), *header) != m_serNumList.end())
        return sendControl(ACK, "ACK");  // a duplicate
    m_serNumList.push_back(*header);
    if (m_serNumList.size() > kSerNumListSize) m_serNumList.pop_front();
    // Inertia 01 (or 00) has run out: taken and dropped.
    const int inertia = static_cast<int>(packetInertia(packet)) - 1;
    if (inertia <= 0) return sendControl(ACK, "ACK");
    packet = withInertia(packet, static_cast<unsigned>(inertia));
    if (isLinkStartPacket(packet)) {
        SetDPSerNum(0);
        m_serNumList.clear();
        sendControl(ACK, "ACK");
        result = 0;
        return;
    }
    dispatchBlock(packet);
}

void TKORTNPP::dispatchBlock(const std::string& packet) {
    const TPackRxEvent* events[] = {&OnETERequest, &OnETEResponce, &OnCapPage, &OnIdPage,
                                    &OnCommand, &OnData, &OnStatus, &OnExtCapPage,
                                    &OnCapPageGroupCall, &OnIDPageGroupCall, &OnGroupCall};
    const char type = blockType(packet);
    const char* pos = type ? std::strchr(kBlockTypes, type) : nullptr;
    if (!pos) return sendControl(CAN, "CAN");
    char rsp = CAN;
    if (const auto& event = *events[pos - kBlockTypes]) event(packet, rsp);
    SendString(std::string(1, rsp));
    fire(OnTxPacket, replyName(rsp));
}

// --- line helpers ---

std::optional<char> TKORTNPP::readChar() {
    const std::string s = ReadBufLen(1);
    if (s.empty()) return std::nullopt;
    return s[0];
}

void TKORTNPP::pause(int ms) {
    const auto r = m_port.waitReadable(std::chrono::milliseconds(ms));
    // A cancelled or closed port answers at once; do not spin on it.
    if (r == SerialPort::WaitResult::Cancelled || r == SerialPort::WaitResult::Closed)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void TKORTNPP::sendControl(char c, const char* name) {
    SendString(std::string(1, c));
    fire(OnTxPacket, name);
}

}  // namespace nv
