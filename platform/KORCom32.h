#pragma once
// TKORCom32: the serial port component of the TNPP link, the GSM SMS modem, the
// engine's encoder port (SendBrevicor) and the tester. It owns one COM port:
// opens it by number with speed, framing and flow control, sends bytes or
// text, reads what has arrived and waits for one of several replies.
//
// COM n is <data dir>/COMn when that path exists, else /dev/ttyS<n-1> (see
// comDevicePath); texts keep saying "COM1".
//
// Threading rule: the component is shared between threads (a worker sends to
// the encoder while another thread waits; Disconnect comes from the stopping
// thread). Any thread may call any method:
// - SendData/SendString are serialised among themselves;
// - reads (ReadBuffer, ReadBufLen, WaitFor, CmdWaitFor, ReadString,
//   GetRXData) take the received bytes in order; two threads reading at once
//   each get some of them, so users that share a port serialise their
//   dialogues themselves (the engine's csBrevicor);
// - Disconnect from another thread sets the cancel flag and wakes every wait
//   and write at once; the descriptor is closed only after the calls in
//   progress have left it.
// Waits count whole seconds with TTimeCounter on the injected Clock and poll
// the line in slices of at most 50 ms.
//
// Text is Windows-1252 bytes; "converting to ANSI" is therefore nothing.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"
#include "platform/SerialPort.h"

namespace nv {

// The 0-based position is what configuration files store; position n is COM(n+1).
enum TComPortNumber : std::uint8_t {
    pnCOM1, pnCOM2, pnCOM3, pnCOM4, pnCOM5, pnCOM6, pnCOM7, pnCOM8, pnCOM9, pnCOM10,
    pnCOM11, pnCOM12, pnCOM13, pnCOM14, pnCOM15, pnCOM16, pnCOM17, pnCOM18, pnCOM19,
    pnCOM20, pnCOM21, pnCOM22, pnCOM23, pnCOM24, pnCOM25, pnCOM26, pnCOM27, pnCOM28,
    pnCOM29, pnCOM30, pnCOM31, pnCOM32, pnCOM33, pnCOM34, pnCOM35, pnCOM36, pnCOM37,
    pnCOM38, pnCOM39, pnCOM40, pnCOM41, pnCOM42, pnCOM43, pnCOM44, pnCOM45, pnCOM46,
    pnCOM47, pnCOM48, pnCOM49, pnCOM50
};
constexpr int kComPortCount = 50;

enum TComPortBaudRate : std::uint8_t {
    br110, br300, br600, br1200, br2400, br4800, br9600, br14400, br19200, br38400, br56000,
    br57600, br115200
};
enum TComPortDataBits : std::uint8_t { db5BITS, db6BITS, db7BITS, db8BITS };
enum TComPortStopBits : std::uint8_t { sb1BITS, sb1HALFBITS, sb2BITS };
enum TComPortParity : std::uint8_t { ptNONE, ptODD, ptEVEN, ptMARK, ptSPACE };
enum TComPortHwHandshaking : std::uint8_t { hhNONE, hhRTSCTS };
enum TComPortSwHandshaking : std::uint8_t { shNONE, shXONXOFF };

enum TCommEvent : std::uint8_t {
    ceBreak, ceCts, ceDsr, ceErr, cePErr, ceRing, ceRlsd, ceRxChar, ceRxFlag, ceTxEmpty
};
// A set of TCommEvent: bit (1 << event).
using TCommEvents = std::uint16_t;
constexpr TCommEvents commEventBit(TCommEvent e) { return static_cast<TCommEvents>(1u << e); }

class TKORCom32;
// The bytes just read; valid during the call.
using TComPortReceiveDataEvent = std::function<void(TKORCom32& Sender, const char* DataPtr, int DataSize)>;
using TNotifyCommEventEvent = std::function<void(TKORCom32& Sender, TCommEvents CommEvent)>;

class TKORCom32 {
public:
    static constexpr int kMaxMatchLength = 100;
    static constexpr std::uint16_t kDefaultBufSize = 2048;
    static constexpr std::uint16_t kDefaultPollingDelay = 100;

    // dataDir: where the COMn links are looked for (empty: only /dev/ttyS*).
    explicit TKORCom32(std::filesystem::path dataDir = {}, Clock& clock = steadyClock());
    virtual ~TKORCom32();
    TKORCom32(const TKORCom32&) = delete;
    TKORCom32& operator=(const TKORCom32&) = delete;

    // Properties. Line settings are applied at once while open; ComPort takes
    // effect at the next Connect. Set them up before the port is shared.
    // Linux has no driver buffer sizes or XON/XOFF limits to set: the buffer
    // sizes only bound the reads, the kernel keeps its own flow thresholds.
    TComPortNumber ComPort() const { return m_comPort; }
    void SetComPort(TComPortNumber value);
    TComPortBaudRate ComPortSpeed() const { return m_speed; }
    void SetComPortSpeed(TComPortBaudRate value);
    TComPortDataBits ComPortDataBits() const { return m_dataBits; }
    void SetComPortDataBits(TComPortDataBits value);
    TComPortStopBits ComPortStopBits() const { return m_stopBits; }
    void SetComPortStopBits(TComPortStopBits value);
    TComPortParity ComPortParity() const { return m_parity; }
    void SetComPortParity(TComPortParity value);
    TComPortHwHandshaking ComPortHwHandshaking() const { return m_hw; }
    void SetComPortHwHandshaking(TComPortHwHandshaking value);
    TComPortSwHandshaking ComPortSwHandshaking() const { return m_sw; }
    void SetComPortSwHandshaking(TComPortSwHandshaking value);
    std::uint16_t ComPortInBufSize() const { return m_inBufSize; }
    void SetComPortInBufSize(std::uint16_t value);
    std::uint16_t ComPortOutBufSize() const { return m_outBufSize; }
    void SetComPortOutBufSize(std::uint16_t value);
    std::uint16_t ComPortPollingDelay() const { return m_pollingDelay; }
    void SetComPortPollingDelay(std::uint16_t value);
    TCommEvents Events() const { return m_events.load(); }
    void SetEvents(TCommEvents value) { m_events.store(value); }
    TComPortReceiveDataEvent OnReceiveData;
    TNotifyCommEventEvent OnCommEvent;

    void SetDataDir(const std::filesystem::path& dataDir);
    // The device ComPort maps to now.
    std::filesystem::path DevicePath() const;

    // Opens and configures the port; true when it is open afterwards (also
    // when it already was). False when it cannot be opened or the line does
    // not take the settings; the reason is in LastError().
    virtual bool Connect();
    virtual void Disconnect();
    bool Connected() const;
    std::string LastError() const;

    // True when every byte was written within the write time-out.
    bool SendData(const void* DataPtr, int DataSize);
    bool SendString(std::string_view s);

    // One read of up to ComPortInBufSize bytes (bytes kept from a wait come
    // first); every byte, NUL included; empty when nothing came.
    std::string ReadBuffer();
    // As ReadBuffer, at most Count bytes (clamped to ComPortInBufSize).
    std::string ReadBufLen(int Count);
    // Drops the bytes kept from earlier waits (the driver's queue is not touched).
    void FlushRXBuf();

    // Waits up to wTime seconds (0: no limit, until a match or Disconnect) for
    // one of the alternatives of Match (see ReplyMatcher). Return receives
    // every character examined. -2 at once when not open; -1 on time-out
    // without a partial match. Bytes after the matching one stay for the next read.
    int WaitFor(std::string_view Match, std::string& Return, int wTime);
    // Sends Command (when not empty), then waits like WaitFor; only characters
    // above code 31 go to Return. -2 at once when not open.
    int CmdWaitFor(std::string_view Command, std::string_view Match, std::string& Return, int wTime);
    // Sends Cmd + CR LF; true when that worked and "OK" arrived within wTime seconds.
    bool ModemCmd(std::string_view Cmd, int wTime);
    // Waits wTime seconds (less when Disconnect cancels it); true.
    bool WaitTime(int wTime);
    // Reads for up to wTime seconds until "OK" arrived; the text up to and
    // including the first "OK", or empty.
    std::string ReadString(int wTime);
    // A framed reply: after 750 ms, collects reads until the text holds ETX
    // and ends in CR, the port closes or wTime seconds pass; empty when not open.
    std::string GetRXData(int wTime);
    // "COM1".."COM50" whose device exists, in number order.
    std::vector<std::string> GetComPortList() const;

    // One tick of the receive poll: delivers what arrived to OnReceiveData
    // and the watched events to OnCommEvent. The Windows version ran this on a window
    // timer every ComPortPollingDelay ms; an owner that wants the events calls
    // it from its own loop.
    void PollTick();

protected:
    friend class Com32ByteStream;
    // Callers hold m_stateMutex.
    SerialSettings lineSettings() const;
    bool applyLineSettingsLocked();
    std::size_t readChunkSize() const;
    // Sleeps on the clock in slices; false when Disconnect cancelled it.
    bool pause(std::chrono::milliseconds d);
    // Takes up to maxBytes: kept bytes first, else one read of the port.
    std::string takeBytes(std::size_t maxBytes);
    // Puts bytes back in front of what later reads return.
    void keepBytes(std::string_view bytes);
    // Waits up to one slice for data; false when cancelled or closed.
    bool waitSlice();
    int waitCore(std::string_view Match, std::string& Return, int wTime, bool printableOnly);
    bool cancelled() const { return m_cancel.load(); }

    Clock& m_clock;
    SerialPort m_port;
    mutable std::mutex m_stateMutex;  // settings, connect, last error

private:
    std::filesystem::path m_dataDir;
    TComPortNumber m_comPort = pnCOM2;
    TComPortBaudRate m_speed = br9600;
    TComPortDataBits m_dataBits = db8BITS;
    TComPortStopBits m_stopBits = sb1BITS;
    TComPortParity m_parity = ptNONE;
    TComPortHwHandshaking m_hw = hhNONE;
    TComPortSwHandshaking m_sw = shNONE;
    std::uint16_t m_inBufSize = kDefaultBufSize;
    std::uint16_t m_outBufSize = kDefaultBufSize;
    std::uint16_t m_pollingDelay = kDefaultPollingDelay;
    std::atomic<TCommEvents> m_events{0};
    int m_readingData = 0;  // poll ticks still to skip after Connect

    std::atomic<bool> m_cancel{false};
    std::mutex m_writeMutex;
    std::mutex m_rxMutex;  // m_kept
    std::string m_kept;
    std::string m_lastError;
};

// The component's received bytes as a ByteStream, for a dialogue that reads
// through one: kept bytes first, then one read of the port of at most
// ComPortInBufSize bytes, as ReadBuffer. Writes go through SendData and its
// write time-out. The component outlives the adapter.
class Com32ByteStream final : public ByteStream {
public:
    explicit Com32ByteStream(TKORCom32& com) : m_com(com) {}
    std::string readAvailable(std::size_t maxBytes) override;
    bool waitReadable(std::chrono::milliseconds timeout) override;
    bool writeAll(std::string_view data, std::chrono::milliseconds timeout) override;
    bool up() const override { return m_com.Connected(); }

private:
    TKORCom32& m_com;
};

}  // namespace nv
