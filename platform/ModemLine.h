#pragma once
// The modem-line layer: our stand-in for the telephony API's line functions.
// It drives a Hayes AT modem on a serial device and reports to its user as the
// line API did: request IDs answered by a reply message, call-state messages
// (CONNECTED, BUSY, DISCONNECTED, IDLE, OFFERING) and LINEERR result codes.
//
// - Modems.ini in the data directory lists the lines: one section "Line<id>"
//   per modem with a stable id (the device id stored in the port records),
//   Name (also names "<Name>.mcf"), Device (a path, /dev/serial/by-id/...
//   preferred), Init (base init commands separated by "|") and Hangup (DTR or
//   ATH).
// - The device is opened exclusively and without waiting for carrier (the
//   serial port opens non-blocking with CLOCAL); a held device is
//   LINEERR_ALLOCATED.
// - The dialogue runs inside pump() on the owner's thread: no thread of its
//   own, so every message reaches the owner between two of its own steps.
// - Once connected the owner reads and writes the call through stream(); the
//   layer watches that stream for carrier loss (EOF, I/O error, a "NO CARRIER"
//   line) without taking bytes from it.
// - The AT dialogue and the call read and write the device as a ByteStream;
//   openOn() puts another stream in its place (tests and fuzz targets).
#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"

namespace nv {

class SerialPort;
class SerialByteStream;

// LINEERR codes (0x80000000 + k) the layer returns.
inline constexpr std::int32_t kLineErrBase = INT32_MIN;
inline constexpr std::int32_t LINEERR_ALLOCATED = kLineErrBase + 1;
inline constexpr std::int32_t LINEERR_BADDEVICEID = kLineErrBase + 2;
inline constexpr std::int32_t LINEERR_INVALCALLHANDLE = kLineErrBase + 24;
inline constexpr std::int32_t LINEERR_INVALLINEHANDLE = kLineErrBase + 43;
inline constexpr std::int32_t LINEERR_NODEVICE = kLineErrBase + 66;
inline constexpr std::int32_t LINEERR_OPERATIONFAILED = kLineErrBase + 72;
inline constexpr std::int32_t LINEERR_RESOURCEUNAVAIL = kLineErrBase + 75;

// Call states.
inline constexpr std::uint32_t LINECALLSTATE_IDLE = 0x1;
inline constexpr std::uint32_t LINECALLSTATE_OFFERING = 0x2;
inline constexpr std::uint32_t LINECALLSTATE_BUSY = 0x40;
inline constexpr std::uint32_t LINECALLSTATE_CONNECTED = 0x100;
inline constexpr std::uint32_t LINECALLSTATE_DISCONNECTED = 0x4000;

enum class ModemFlow { None, RtsCts, XonXoff, Both };

// A device configuration: what a .mcf file holds. The defaults are the modem's
// own, used when no configuration file applies.
struct ModemSettings {
    int speed = 9600;
    int dataBits = 7;
    char parity = 'E';  // N O E M S
    int stopBits = 1;
    ModemFlow flow = ModemFlow::RtsCts;
    std::string extraInit;
    bool pulseDial = false;
    bool blindDial = false;
    int dialTimeout = 0;  // seconds to wait for carrier (S7); 0 = the modem's own
    bool operator==(const ModemSettings&) const = default;
};

struct ModemEntry {
    std::uint32_t id = 0;
    std::string name;
    std::filesystem::path device;
    std::vector<std::string> init;
    bool hangupByDtr = true;
};

// Lines of Modems.ini; ids are looked up directly, never renumbered.
class ModemList {
public:
    static constexpr std::uint32_t kMaxId = 255;
    static ModemList load(const std::filesystem::path& modemsIni);
    static std::vector<std::string> defaultInit();

    void add(ModemEntry entry);
    const ModemEntry* find(std::uint32_t id) const;
    const std::vector<ModemEntry>& entries() const { return m_entries; }
    // Highest id + 1: the device count the line users see.
    int numDevs() const;

private:
    std::vector<ModemEntry> m_entries;
};

struct LineMessage {
    enum class Kind { CallState, Reply, Close };
    Kind kind = Kind::CallState;
    std::uint32_t callState = 0;
    std::int32_t requestId = 0;
    std::int32_t result = 0;
};

// The process-wide table of 17 line slots (0-16). A slot names its holder; the
// line callback finds its user only through its slot.
class LineSlotTable {
public:
    static constexpr int kSlots = 17;
    enum class Claim { Ok, InvalidInstance, Held };
    Claim claim(int instance, void* holder);
    void release(int instance, void* holder);
    void* holder(int instance) const;

private:
    mutable std::mutex m_mutex;
    void* m_slots[kSlots] = {};
};

// The connected call's data, read and written by the line's user; up() turns
// false once the carrier is gone.
class ModemStream : public ByteStream {
public:
    // Discards what arrived and was not read yet.
    virtual void flushInput() = 0;
};

class ModemLine {
public:
    // Time limits of the AT dialogue.
    static constexpr std::chrono::milliseconds kCommandTimeout{5000};
    static constexpr std::chrono::milliseconds kGuardTime{1000};
    // How long DTR stays low for the modem to hang up.
    static constexpr std::chrono::milliseconds kDtrDropTime{1000};

    ModemLine(ModemList list, Clock& clock = steadyClock());
    ~ModemLine();
    ModemLine(const ModemLine&) = delete;
    ModemLine& operator=(const ModemLine&) = delete;

    int numDevs() const { return m_list.numDevs(); }
    const ModemEntry* entry(std::uint32_t deviceId) const { return m_list.find(deviceId); }

    // 0 = usable; 1 no such device, 5 held by another application, 6 the modem
    // does not answer "AT" with "OK". The test open is closed again.
    std::uint32_t verifyUsableLine(std::uint32_t deviceId);
    // Opens the device (not waiting for carrier); 0 or a LINEERR code.
    std::int32_t open(std::uint32_t deviceId);
    // Opens line `deviceId` on `io` instead of its device: the same dialogue,
    // without line settings, DTR or carrier detect. `io` outlives the opening.
    std::int32_t openOn(std::uint32_t deviceId, ByteStream& io);
    bool isOpen() const;
    void close();

    // The configuration applied at the next call; reset to the modem's defaults.
    void setDevConfig(const ModemSettings& settings) { m_settings = settings; }
    void resetDevConfig() { m_settings = ModemSettings{}; }
    const ModemSettings& devConfig() const { return m_settings; }

    // Starts init and dialling; a positive request ID whose reply always comes
    // (through pump), or a LINEERR code. An empty number with `passthrough`
    // connects at once without dialling.
    std::int32_t makeCall(const std::string& number, bool passthrough = false);
    // Answers an offered call (after a RING); request ID or LINEERR.
    std::int32_t answer();
    // Hangs up (DTR low, then "+++" and ATH0); the reply and IDLE follow.
    std::int32_t drop();
    // Forgets every undelivered message (a re-initialised user must never see
    // a stale reply).
    void discardMessages();

    // Advances the dialogue and hands every pending message to `handler`.
    void pump(const std::function<void(const LineMessage&)>& handler);

    ModemStream* stream();
    // Every command written to the modem, for logs and tests.
    const std::vector<std::string>& commandsSent() const { return m_sent; }
    // The AT dial string of a number: "-" and blanks dropped.
    static std::string dialDigits(const std::string& number);

private:
    enum class State { Closed, Idle, Initialising, Dialing, Answering, Connected };
    class Stream;

    void post(LineMessage m) { m_queue.push_back(m); }
    bool sendCommand(const std::string& cmd);
    void startNextInit();
    void handleLine(const std::string& line);
    void readLines();
    void callEnded(std::uint32_t state);
    bool waitForOk(std::chrono::milliseconds limit);
    // Discards what arrived: the device's input queue, or what a stream holds.
    void flushInput();
    std::vector<std::string> initCommands() const;

    ModemList m_list;
    Clock& m_clock;
    std::unique_ptr<SerialPort> m_port;
    std::unique_ptr<SerialByteStream> m_portBytes;
    // What the dialogue reads and writes: m_portBytes, or the stream of openOn().
    ByteStream* m_io = nullptr;
    bool m_onStream = false;
    std::unique_ptr<Stream> m_stream;
    const ModemEntry* m_entry = nullptr;
    ModemSettings m_settings;
    State m_state = State::Closed;
    std::deque<LineMessage> m_queue;
    std::vector<std::string> m_pendingInit;
    std::string m_number;
    std::string m_lineBuf;
    std::int32_t m_callRequest = 0;
    std::int32_t m_nextRequest = 1;
    bool m_offered = false;
    Clock::TimePoint m_deadline{};
    std::vector<std::string> m_sent;
};

}  // namespace nv
