// TKORPelmora: modem mode on the modem-line layer (line slots, open, ring,
// answer, connected call, re-arm) and the modem configuration files.
#include <system_error>

#include "foundation/FileUtil.h"
#include "foundation/UserPrompt.h"
#include "protocols/KORPelmora.h"
#include "protocols/ModemConfig.h"
#include "protocols/Tapi.h"

namespace nv {

namespace {

constexpr const char* kInvalidLineId = "TAPILine: Invalid Line ID";
constexpr const char* kInvalidLineIdDialog = "Invalid Line ID";
constexpr const char* kNoModem =
    "There is no modem installed in your PC.\r\nYou should install it via Control panel | Modems | Add.";
constexpr const char* kSelectLine = "TAPILine: You must select TAPI compatible line";
constexpr const char* kAnswerDialog = "Unable to answer to call.";
constexpr const char* kAnswerError = "Unable to answer to inbound call.";
constexpr const char* kLineInUse = "Inbound Line In Use!";
constexpr const char* kConnectionDialog = "An error occured on connection internal.";
constexpr const char* kConnectionError = "An error occured on inbound connection internal.";
constexpr const char* kLineException = "Line Exception: ";

constexpr int kReopenPauseMs = 3000;
constexpr int kPumpPauseMs = 10;

// The hosts' 17 line slots, shared by the whole process; the pagers have their own.
LineSlotTable& hostSlots() {
    static LineSlotTable table;
    return table;
}

}  // namespace

std::string TKORPelmora::usableLineText(std::uint32_t code) {
    switch (code) {
    case 2: return "Inbound Usable Line: Doesn't support Voice";
    case 3: return "Inbound Usable Line: Doesn't support Data Communications";
    case 4: return "Inbound Usable Line: Doesn't support Inbound Calls";
    case 5:
        return "Inbound Usable Line: \r\nLine is already in use by a non-TAPI app or\r\nanother Service Provider.";
    case 6: return "Inbound Usable Line: \r\nInbound calls not available. Port May Be In Use!";
    default: return {};
    }
}

void TKORPelmora::dialog(const std::string& text) {
    if (ShowErrorDialog && Prompt) Prompt->error(Name, text);
}

void TKORPelmora::releaseSlot() {
    if (m_slot >= 0) hostSlots().release(m_slot, this);
    m_slot = -1;
}

void TKORPelmora::InitTap() {
    if (fInitTap) {
        if (m_line) m_line->discardMessages();
        releaseSlot();
        fInitTap = false;
    }
    m_clock.sleepFor(std::chrono::milliseconds(100));
    if (DeviceDirectAccess) return;
    // The range first: slot 17 must never reach the table.
    switch (hostSlots().claim(LineInstance, this)) {
    case LineSlotTable::Claim::InvalidInstance:
        if (ShowErrorDialog) {
            dialog(kInvalidLineIdDialog);
            return;
        }
        throw EPelmoraError(kInvalidLineId);
    case LineSlotTable::Claim::Held:
        throw EPelmoraError("TAPILine" + std::to_string(LineInstance) + " component already exists in this process.");
    case LineSlotTable::Claim::Ok:
        break;
    }
    m_slot = LineInstance;
    m_line = std::make_unique<ModemLine>(ModemList::load(resolveFileNoCase(m_dataDir, "Modems.ini")), m_clock);
    NumDevs = m_line->numDevs();
    m_clock.sleepFor(std::chrono::milliseconds(100));
    if (NumDevs == 0) dialog(kNoModem);
    fInitTap = true;
}

bool TKORPelmora::LoadModemConfig(const std::string& FileName, std::uint32_t DeviceID) {
    std::error_code ec;
    if (FileName.empty() || !std::filesystem::is_regular_file(FileName, ec)) return false;
    std::optional<ModemSettings> settings = readModemConfigFile(FileName);
    if (!settings || !m_line || !m_line->entry(DeviceID)) return false;
    m_line->setDevConfig(*settings);
    return true;
}

std::uint32_t TKORPelmora::VerifyUsableLine(std::uint32_t dwDeviceID) {
    if (!m_line) return 1;
    const std::uint32_t code = m_line->verifyUsableLine(dwDeviceID);
    const std::string text = usableLineText(code);
    if (!text.empty() && m_reportFailure) {
        dialog(text);
        error(text);
    }
    return code;
}

// Opens the line for inbound calls; false (reported) when it cannot be.
bool TKORPelmora::openLine() {
    if (!m_line) return false;
    m_line->resetDevConfig();
    if (!LoadModemConfig(ModemAltConfig, DevIdToInitialize)) LoadModemConfig(ModemSysConfig, DevIdToInitialize);
    if (DevIdToInitialize == kNoDevice) throw EPelmoraError(kSelectLine);
    if (VerifyUsableLine(DevIdToInitialize) != 0) return false;
    TapiCheck(m_line->open(DevIdToInitialize));
    bDropped.store(false);
    FOffering = false;
    m_lineDown = false;
    if (OnOpen) OnOpen(*this);
    return true;
}

// The reading thread in modem mode: the line is opened, its messages are
// handled as they come, a connected call is served on this thread, and after
// a call ends (or the line fails) the line is closed and opened again 3 s
// later while armed.
void TKORPelmora::serveLine() {
    while (m_armed.load()) {
        bool open = false;
        try {
            open = openLine();
        } catch (const std::exception& e) {
            if (m_reportFailure) error(e.what());
        }
        // A line that stays unusable is reported once, not at every retry.
        m_reportFailure = open;
        while (open && m_armed.load() && !m_lineDown) {
            m_line->pump([this](const LineMessage& m) {
                if (m_slot >= 0 && hostSlots().holder(m_slot) == this) lineCallback(m);
            });
            m_clock.sleepFor(std::chrono::milliseconds(kPumpPauseMs));
        }
        closeChannel();
        m_connected.store(false);
        if (m_line) m_line->close();
        if (!m_armed.load()) break;
        pause(kReopenPauseMs);
    }
}

void TKORPelmora::lineCallback(const LineMessage& m) {
    if (CallBackActive) return;
    CallBackActive = true;
    try {
        switch (m.kind) {
        case LineMessage::Kind::Close:
            if (OnUnexpectedClose) OnUnexpectedClose(*this);
            m_lineDown = true;
            break;
        case LineMessage::Kind::Reply:
            if (m.result < 0) {
                dialog(kLineInUse);
                error(kLineInUse);
                bDropped.store(true);
            }
            break;
        case LineMessage::Kind::CallState:
            handleCallState(m.callState);
            break;
        }
    } catch (const std::exception& e) {
        error(kLineException + std::string(e.what()));
    }
    CallBackActive = false;
}

void TKORPelmora::handleCallState(std::uint32_t state) {
    switch (state) {
    case LINECALLSTATE_OFFERING:
        if (m_connected.load()) break;
        if (!m_armed.load()) {
            FOffering = false;
            break;
        }
        if (OnCallOffering) OnCallOffering(*this);
        FOffering = true;
        FRingCount = 0;
        // The modem reports the first RING as the offer: that ring is counted.
        if (++FRingCount >= FRingToAnswer) {
            if (OnCallAnswering) OnCallAnswering(*this);
            if (m_line->answer() < 0) {
                dialog(kAnswerDialog);
                error(kAnswerError);
            }
        }
        break;
    case LINECALLSTATE_CONNECTED:
        if (bDropped.load() || DevIdToInitialize == kNoDevice || m_connected.load()) break;
        connectCall();
        break;
    case LINECALLSTATE_IDLE:
        FOffering = false;
        closeChannel();
        break;
    case LINECALLSTATE_DISCONNECTED:
        closeChannel();
        m_connected.store(false);
        if (OnDisconnect) OnDisconnect(*this);
        m_lineDown = true;
        break;
    case LINECALLSTATE_BUSY:
        if (OnBusy) OnBusy(*this);
        break;
    default:
        break;
    }
}

// Serves the answered call until it ends. A caller that falls silent for the
// block wait is hung up: nobody would read the line any more.
void TKORPelmora::connectCall() {
    ModemStream* stream = m_line->stream();
    if (!stream) return;
    try {
        openModemChannel(*stream);
        OnConnectionInt();
    } catch (...) {
        dialog(kConnectionDialog);
        error(kConnectionError);
        m_lineDown = true;
        return;
    }
    if (OnConnection) OnConnection(*this);
    ModemStream* still = m_line->stream();
    if (still && still->up() && !bDropped.load()) {
        Drop();
        m_lineDown = true;
    }
    // Otherwise the carrier went: the line reports the call disconnected.
    m_connected.store(false);
    closeChannel();
}

}  // namespace nv
