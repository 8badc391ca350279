#include "platform/ModemLine.h"

#include <algorithm>
#include <cctype>

#include "foundation/FileUtil.h"
#include "foundation/ProfileFile.h"
#include "platform/SerialPort.h"

namespace nv {

namespace {

constexpr std::size_t kChunk = 1024;

bool startsWithNoCase(const std::string& s, std::string_view prefix) {
    return s.size() >= prefix.size() && equalsNoCase(std::string_view(s).substr(0, prefix.size()), prefix);
}

std::vector<std::string> splitBar(const std::string& s) {
    std::vector<std::string> out;
    std::size_t start = 0;
    while (start <= s.size()) {
        std::size_t bar = s.find('|', start);
        std::string cmd = s.substr(start, bar == std::string::npos ? std::string::npos : bar - start);
        cmd.erase(0, cmd.find_first_not_of(' '));
        while (!cmd.empty() && cmd.back() == ' ') cmd.pop_back();
        if (!cmd.empty()) out.push_back(cmd);
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return out;
}

SerialSettings serialFrom(const ModemSettings& m) {
    SerialSettings s;
    s.baud = m.speed;
    s.dataBits = m.dataBits;
    switch (m.parity) {
    case 'O': s.parity = SerialParity::Odd; break;
    case 'E': s.parity = SerialParity::Even; break;
    case 'M': s.parity = SerialParity::Mark; break;
    case 'S': s.parity = SerialParity::Space; break;
    default: s.parity = SerialParity::None; break;
    }
    s.stopBits = m.stopBits == 2 ? SerialStopBits::Two : SerialStopBits::One;
    s.rtsCts = m.flow == ModemFlow::RtsCts || m.flow == ModemFlow::Both;
    s.xonXoff = m.flow == ModemFlow::XonXoff || m.flow == ModemFlow::Both;
    return s;
}

bool isInUse(const std::string& error) {
    std::string lower = error;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    return lower.find("in use") != std::string::npos || lower.find("busy") != std::string::npos ||
           lower.find("lock") != std::string::npos;
}

}  // namespace

// ---------------------------------------------------------------- ModemList

std::vector<std::string> ModemList::defaultInit() { return {"ATZ", "ATE0V1Q0X4&C1&D2"}; }

ModemList ModemList::load(const std::filesystem::path& modemsIni) {
    ModemList list;
    ProfileSnapshot ini = ProfileSnapshot::load(modemsIni);
    for (std::uint32_t id = 0; id <= kMaxId; ++id) {
        const std::string section = "Line" + std::to_string(id);
        if (!ini.hasSection(section)) continue;
        ModemEntry e;
        e.id = id;
        e.name = ini.readString(section, "Name", "");
        e.device = ini.readString(section, "Device", "");
        e.init = splitBar(ini.readString(section, "Init", ""));
        if (e.init.empty()) e.init = defaultInit();
        e.hangupByDtr = !equalsNoCase(ini.readString(section, "Hangup", "DTR"), "ATH");
        list.add(std::move(e));
    }
    return list;
}

void ModemList::add(ModemEntry entry) {
    std::erase_if(m_entries, [&](const ModemEntry& e) { return e.id == entry.id; });
    m_entries.push_back(std::move(entry));
}

const ModemEntry* ModemList::find(std::uint32_t id) const {
    for (const auto& e : m_entries)
        if (e.id == id) return &e;
    return nullptr;
}

int ModemList::numDevs() const {
    int n = 0;
    for (const auto& e : m_entries) n = std::max(n, static_cast<int>(e.id) + 1);
    return n;
}

// ------------------------------------------------------------ LineSlotTable

LineSlotTable::Claim LineSlotTable::claim(int instance, void* holder) {
    if (instance < 0 || instance >= kSlots) return Claim::InvalidInstance;
    std::lock_guard lock(m_mutex);
    if (m_slots[instance] && m_slots[instance] != holder) return Claim::Held;
    m_slots[instance] = holder;
    return Claim::Ok;
}

void LineSlotTable::release(int instance, void* holder) {
    if (instance < 0 || instance >= kSlots) return;
    std::lock_guard lock(m_mutex);
    if (m_slots[instance] == holder) m_slots[instance] = nullptr;
}

void* LineSlotTable::holder(int instance) const {
    if (instance < 0 || instance >= kSlots) return nullptr;
    std::lock_guard lock(m_mutex);
    return m_slots[instance];
}

// ------------------------------------------------------------------- Stream

// Hands the call's bytes to the user and notes a lost carrier on the way.
class ModemLine::Stream final : public ModemStream {
public:
    Stream(ByteStream& io, std::function<void()> flush) : m_io(io), m_flush(std::move(flush)) {}
    std::string readAvailable(std::size_t maxBytes) override {
        std::string out;
        if (!m_pending.empty()) {
            out = m_pending.substr(0, maxBytes);
            m_pending.erase(0, out.size());
        }
        if (out.size() < maxBytes && !m_lost) {
            std::string got = m_io.readAvailable(maxBytes - out.size());
            if (got.empty()) {
                // Readable with nothing to read: the far end hung up (EOF/EIO).
                if (m_io.waitReadable(std::chrono::milliseconds(0)) && m_io.readAvailable(maxBytes - out.size()).empty())
                    m_lost = true;
            }
            watch(got);
            out += got;
        }
        return out;
    }
    bool writeAll(std::string_view data, std::chrono::milliseconds timeout) override {
        if (m_lost) return false;
        return m_io.writeAll(data, timeout);
    }
    void flushInput() override {
        m_pending.clear();
        m_flush();
    }
    bool waitReadable(std::chrono::milliseconds timeout) override {
        if (!m_pending.empty()) return true;
        return m_io.waitReadable(timeout);
    }
    bool up() const override { return !m_lost && m_io.up(); }

    void setPending(std::string bytes) { m_pending = std::move(bytes); }
    void setLost() { m_lost = true; }
    bool lost() const { return m_lost; }

private:
    void watch(const std::string& got) {
        if (got.empty()) return;
        m_tail += got;
        if (m_tail.find("NO CARRIER") != std::string::npos) m_lost = true;
        if (m_tail.size() > 16) m_tail.erase(0, m_tail.size() - 16);
    }

    ByteStream& m_io;
    std::function<void()> m_flush;
    std::string m_pending;
    std::string m_tail;
    bool m_lost = false;
};

// ---------------------------------------------------------------- ModemLine

ModemLine::ModemLine(ModemList list, Clock& clock)
    : m_list(std::move(list)),
      m_clock(clock),
      m_port(std::make_unique<SerialPort>()),
      m_portBytes(std::make_unique<SerialByteStream>(*m_port)),
      m_io(m_portBytes.get()) {}

ModemLine::~ModemLine() {
    try {
        close();
    } catch (...) {
    }
}

bool ModemLine::isOpen() const { return m_state != State::Closed; }

std::string ModemLine::dialDigits(const std::string& number) {
    std::string out;
    for (char c : number)
        if (c != '-' && c != ' ') out += c;
    return out;
}

std::int32_t ModemLine::open(std::uint32_t deviceId) {
    if (isOpen()) close();
    const ModemEntry* e = m_list.find(deviceId);
    if (!e) return LINEERR_BADDEVICEID;
    std::error_code ec;
    if (e->device.empty() || !std::filesystem::exists(e->device, ec)) return LINEERR_NODEVICE;
    std::string error;
    if (!m_port->open(e->device, &error)) return isInUse(error) ? LINEERR_ALLOCATED : LINEERR_OPERATIONFAILED;
    if (!m_port->applySettings(serialFrom(m_settings), &error)) {
        m_port->close();
        return LINEERR_OPERATIONFAILED;
    }
    m_entry = e;
    m_state = State::Idle;
    m_offered = false;
    m_lineBuf.clear();
    return 0;
}

std::int32_t ModemLine::openOn(std::uint32_t deviceId, ByteStream& io) {
    if (isOpen()) close();
    const ModemEntry* e = m_list.find(deviceId);
    if (!e) return LINEERR_BADDEVICEID;
    m_io = &io;
    m_onStream = true;
    m_entry = e;
    m_state = State::Idle;
    m_offered = false;
    m_lineBuf.clear();
    return 0;
}

void ModemLine::flushInput() {
    if (!m_onStream) {
        m_port->flushInput();
        return;
    }
    while (!m_io->readAvailable(kChunk).empty()) {
    }
}

void ModemLine::close() {
    m_stream.reset();
    if (m_port) m_port->close();
    m_io = m_portBytes.get();
    m_onStream = false;
    m_state = State::Closed;
    m_entry = nullptr;
    m_callRequest = 0;
}

std::uint32_t ModemLine::verifyUsableLine(std::uint32_t deviceId) {
    if (isOpen()) return 0;
    std::int32_t r = open(deviceId);
    if (r == LINEERR_ALLOCATED) return 5;
    if (r != 0) return 1;
    bool ok = sendCommand("AT") && waitForOk(std::chrono::milliseconds(2000));
    close();
    return ok ? 0 : 6;
}

std::vector<std::string> ModemLine::initCommands() const {
    std::vector<std::string> cmds = m_entry ? m_entry->init : ModemList::defaultInit();
    if (m_settings.blindDial) cmds.push_back("ATX3");
    if (m_settings.dialTimeout > 0) cmds.push_back("ATS7=" + std::to_string(m_settings.dialTimeout));
    if (!m_settings.extraInit.empty())
        cmds.push_back(startsWithNoCase(m_settings.extraInit, "AT") ? m_settings.extraInit
                                                                     : "AT" + m_settings.extraInit);
    return cmds;
}

bool ModemLine::sendCommand(const std::string& cmd) {
    m_sent.push_back(cmd);
    return m_io->writeAll(cmd + "\r", std::chrono::milliseconds(2000));
}

std::int32_t ModemLine::makeCall(const std::string& number, bool passthrough) {
    if (m_state == State::Closed) return LINEERR_INVALLINEHANDLE;
    if (m_state != State::Idle) return LINEERR_RESOURCEUNAVAIL;
    std::string error;
    if (!m_onStream && !m_port->applySettings(serialFrom(m_settings), &error)) return LINEERR_OPERATIONFAILED;
    const std::int32_t id = m_nextRequest++;
    m_callRequest = id;
    m_offered = false;
    if (passthrough && number.empty()) {
        m_stream = std::make_unique<Stream>(*m_io, [this] { flushInput(); });
        m_state = State::Connected;
        post({LineMessage::Kind::Reply, 0, id, 0});
        post({LineMessage::Kind::CallState, LINECALLSTATE_CONNECTED, 0, 0});
        return id;
    }
    m_number = number;
    m_pendingInit = initCommands();
    m_state = State::Initialising;
    flushInput();
    m_lineBuf.clear();
    startNextInit();
    return id;
}

std::int32_t ModemLine::answer() {
    if (m_state != State::Idle || !m_offered) return LINEERR_INVALCALLHANDLE;
    const std::int32_t id = m_nextRequest++;
    m_callRequest = id;
    m_state = State::Answering;
    m_deadline = m_clock.now() + std::chrono::seconds(60);
    if (!sendCommand("ATA")) {
        m_state = State::Idle;
        post({LineMessage::Kind::Reply, 0, id, LINEERR_OPERATIONFAILED});
        return id;
    }
    post({LineMessage::Kind::Reply, 0, id, 0});
    return id;
}

void ModemLine::startNextInit() {
    if (m_pendingInit.empty()) {
        std::string dial = std::string("ATD") + (m_settings.pulseDial ? "P" : "T") + dialDigits(m_number);
        if (!sendCommand(dial)) {
            m_state = State::Idle;
            post({LineMessage::Kind::Reply, 0, m_callRequest, LINEERR_OPERATIONFAILED});
            return;
        }
        m_state = State::Dialing;
        post({LineMessage::Kind::Reply, 0, m_callRequest, 0});
        return;
    }
    std::string cmd = m_pendingInit.front();
    m_pendingInit.erase(m_pendingInit.begin());
    m_deadline = m_clock.now() + kCommandTimeout;
    if (!sendCommand(cmd)) {
        m_state = State::Idle;
        post({LineMessage::Kind::Reply, 0, m_callRequest, LINEERR_OPERATIONFAILED});
    }
}

void ModemLine::callEnded(std::uint32_t state) {
    m_state = State::Idle;
    if (m_stream) m_stream->setLost();
    post({LineMessage::Kind::CallState, state, 0, 0});
}

void ModemLine::handleLine(const std::string& line) {
    switch (m_state) {
    case State::Initialising:
        if (line == "OK") {
            startNextInit();
        } else if (line == "ERROR") {
            m_state = State::Idle;
            post({LineMessage::Kind::Reply, 0, m_callRequest, LINEERR_OPERATIONFAILED});
        }
        break;
    case State::Dialing:
    case State::Answering:
        if (startsWithNoCase(line, "CONNECT")) {
            m_stream = std::make_unique<Stream>(*m_io, [this] { flushInput(); });
            m_state = State::Connected;
            post({LineMessage::Kind::CallState, LINECALLSTATE_CONNECTED, 0, 0});
        } else if (line == "BUSY") {
            callEnded(LINECALLSTATE_BUSY);
        } else if (line == "NO CARRIER" || line == "NO ANSWER" || line == "NO DIALTONE" ||
                   line == "NO DIAL TONE" || line == "ERROR") {
            callEnded(LINECALLSTATE_DISCONNECTED);
        }
        break;
    case State::Idle:
        if (line == "RING" && !m_offered) {
            m_offered = true;
            post({LineMessage::Kind::CallState, LINECALLSTATE_OFFERING, 0, 0});
        }
        break;
    default:
        break;
    }
}

// Reads result lines; stops right after a CONNECT line so the bytes that
// follow it stay for the call's stream.
void ModemLine::readLines() {
    std::string got = m_io->readAvailable(kChunk);
    for (std::size_t i = 0; i < got.size(); ++i) {
        char c = got[i];
        if (c != '\r' && c != '\n') {
            m_lineBuf += c;
            continue;
        }
        if (m_lineBuf.empty()) continue;
        std::string line;
        line.swap(m_lineBuf);
        handleLine(line);
        if (m_state == State::Connected) {
            std::size_t rest = i + 1;
            while (rest < got.size() && (got[rest] == '\n' || got[rest] == '\r')) ++rest;
            if (m_stream) m_stream->setPending(got.substr(rest));
            return;
        }
    }
}

void ModemLine::pump(const std::function<void(const LineMessage&)>& handler) {
    if (m_state == State::Idle || m_state == State::Initialising || m_state == State::Dialing ||
        m_state == State::Answering) {
        readLines();
        if (m_state == State::Initialising && m_clock.now() >= m_deadline) {
            m_state = State::Idle;
            post({LineMessage::Kind::Reply, 0, m_callRequest, LINEERR_OPERATIONFAILED});
        } else if (m_state == State::Answering && m_clock.now() >= m_deadline) {
            callEnded(LINECALLSTATE_DISCONNECTED);
        }
    } else if (m_state == State::Connected && m_stream && !m_stream->up()) {
        callEnded(LINECALLSTATE_DISCONNECTED);
    }
    while (!m_queue.empty()) {
        LineMessage m = m_queue.front();
        m_queue.pop_front();
        if (handler) handler(m);
    }
}

bool ModemLine::waitForOk(std::chrono::milliseconds limit) {
    const auto deadline = m_clock.now() + limit;
    std::string buf;
    while (m_clock.now() < deadline) {
        if (m_io->waitReadable(std::chrono::milliseconds(20))) {
            buf += m_io->readAvailable(kChunk);
            std::size_t pos = 0;
            while ((pos = buf.find_first_of("\r\n")) != std::string::npos) {
                std::string line = buf.substr(0, pos);
                buf.erase(0, pos + 1);
                if (line == "OK") return true;
                if (line == "ERROR") return false;
            }
        } else {
            m_clock.sleepFor(std::chrono::milliseconds(5));
        }
        if (!m_io->up()) return false;
    }
    return false;
}

std::int32_t ModemLine::drop() {
    const std::int32_t id = m_nextRequest++;
    if (m_state != State::Closed) {
        const bool online = m_state == State::Connected;
        if (m_state == State::Dialing || m_state == State::Initialising || m_state == State::Answering)
            sendCommand("");  // any character stops a dial in progress
        bool hungUp = false;
        if (online && !m_onStream && (!m_entry || m_entry->hangupByDtr) && m_port->setDtr(false)) {
            m_clock.sleepFor(kDtrDropTime);
            m_port->setDtr(true);
            // Only a line that reports its carrier gone is known to be down;
            // without carrier detect (a pty) the escape sequence follows anyway.
            hungUp = m_port->carrierDetect() == 0;
        }
        if (online && !hungUp) {
            m_clock.sleepFor(kGuardTime);
            m_sent.push_back("+++");
            m_io->writeAll("+++", std::chrono::milliseconds(2000));
            m_clock.sleepFor(kGuardTime);
        }
        flushInput();
        if (sendCommand("ATH0")) waitForOk(kCommandTimeout);
        m_state = State::Idle;
    }
    if (m_stream) m_stream->setLost();
    m_callRequest = 0;
    m_offered = false;
    post({LineMessage::Kind::Reply, 0, id, 0});
    post({LineMessage::Kind::CallState, LINECALLSTATE_IDLE, 0, 0});
    return id;
}

void ModemLine::discardMessages() { m_queue.clear(); }

ModemStream* ModemLine::stream() {
    return m_state == State::Connected && m_stream ? m_stream.get() : nullptr;
}

}  // namespace nv
