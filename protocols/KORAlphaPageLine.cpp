// TKORAlpaPage: the modem line (line slots, open, dialling, call states, drop)
// and the modem configuration files.
#include <algorithm>

#include "foundation/FileUtil.h"
#include "foundation/KORComCls.h"
#include "protocols/KORAlphaPage.h"
#include "protocols/ModemConfig.h"
#include "protocols/Tapi.h"
#include "platform/SerialPort.h"
#include "platform/TcpStream.h"

namespace nv {

namespace {

constexpr const char* kConnectionStatus = "Connection Status";
constexpr std::uint32_t kNoDevice = 0xFFFFFFFFu;

// The pagers' 17 line slots, shared by the whole process.
LineSlotTable& tapSlots() {
    static LineSlotTable table;
    return table;
}

}  // namespace

void TKORAlpaPage::releaseSlot() {
    if (m_slot >= 0) tapSlots().release(m_slot, this);
    m_slot = -1;
}

bool TKORAlpaPage::InitTap() {
    if (fInitTap) {
        if (m_line) m_line->discardMessages();
        pumpSleep(5);
        releaseSlot();
        fInitTap = false;
    }
    if (DeviceOperationMode != opmaModem) return false;
    switch (tapSlots().claim(LineInstance, this)) {
    case LineSlotTable::Claim::InvalidInstance:
        throw std::runtime_error("TAPILine: Invalid Instance ID");
    case LineSlotTable::Claim::Held:
        throw std::runtime_error("KORAlphaPage Instance " + std::to_string(LineInstance) +
                                 " component already exists in this process.");
    case LineSlotTable::Claim::Ok:
        break;
    }
    m_slot = LineInstance;
    m_line = std::make_unique<ModemLine>(ModemList::load(resolveFileNoCase(m_dataDir, "Modems.ini")), m_clock);
    m_lineOpen = false;
    m_haveCall = false;
    dwRequestAnswer = dwRequestMakeCall = dwRequestDrop = 0;
    NumDevs = m_line->numDevs();
    Version = 0;
    fInitTap = true;
    return true;
}

void TKORAlpaPage::pump() {
    if (!m_line || m_inCallback) return;
    m_inCallback = true;
    try {
        m_line->pump([this](const LineMessage& m) {
            // The slot names the pager; a message for an empty slot is dropped.
            if (m_slot >= 0 && tapSlots().holder(m_slot) == this) lineCallback(m);
        });
    } catch (...) {
        m_inCallback = false;
        throw;
    }
    m_inCallback = false;
}

std::string TKORAlpaPage::GetLineName(std::uint32_t DeviceID) {
    const ModemEntry* e = m_line ? m_line->entry(DeviceID) : nullptr;
    if (!e) return "Line Unavailable";
    if (e->name.empty()) return "Line Name is Empty";
    return e->name;
}

std::uint32_t TKORAlpaPage::VerifyUsableLine(std::uint32_t dwDeviceID) {
    if (!m_line) return 1;
    const std::uint32_t code = m_line->verifyUsableLine(dwDeviceID);
    if ((code == 5 || code == 6) && OnLineBusy) OnLineBusy(*this);
    return code;
}

bool TKORAlpaPage::Open() {
    pumpSleep(5);
    if (DevIdToInitialize == kNoDevice) {
        if (ShowErrorDialogs) throw std::runtime_error("TAPILine: You must select TAPI compatible line");
        return false;
    }
    if (!m_line) return false;
    if (VerifyUsableLine(DevIdToInitialize) != 0) return false;
    status("Accessing Modem - " + GetLineName(DevIdToInitialize) + " Device ID: " +
               std::to_string(DevIdToInitialize),
           kConnectionStatus);
    Version = 0x20000;
    TapiCheck(m_line->open(DevIdToInitialize));
    m_lineOpen = true;
    bDropped = false;
    bStopWaitingNewData = false;
    if (OnOpen) OnOpen(*this);
    pumpSleep(5);
    return true;
}

bool TKORAlpaPage::MakeCall() {
    TInetTimeCounter counter(m_clock);
    counter.SetTimeOut(60);
    if (DevIdToInitialize == kNoDevice) {
        if (ShowErrorDialogs) throw std::runtime_error("TAPILine: You must select TAPI compatible line");
        return false;
    }
    if (!m_lineOpen || !m_line) {
        if (ShowErrorDialogs) throw std::runtime_error("TAPILine: You must open line at first");
        return false;
    }
    if (dwRequestMakeCall != 0) return false;
    bDropped = false;
    std::string destination;
    if (DTMFOnly) {
        pumpSleep(10);
        destination = DTMFScript;
        auto replaceFirst = [&](const std::string& what, const std::string& with) {
            std::size_t p = destination.find(what);
            if (p != std::string::npos) destination.replace(p, what.size(), with);
        };
        for (std::size_t p; (p = destination.find("$SC$")) != std::string::npos;) destination.erase(p, 4);
        replaceFirst("$PIN$", DTMFPIN);
        replaceFirst("$MSG$", DTMFMessage);
        if (DTMFSendAccessNumber) destination = PhoneNumber + destination;
        pump();
    } else if (DeviceOperationMode != opmaDirect) {
        destination = PhoneNumber;
    }
    const std::int32_t request = m_line->makeCall(destination, DeviceOperationMode == opmaDirect);
    TapiCheck(request);
    dwRequestMakeCall = request;
    m_haveCall = true;
    counter.TimerOn();
    if (DTMFOnly) {
        const auto commas = std::count(PhoneNumber.begin(), PhoneNumber.end(), ',');
        pauseUnlessCancelled(30000 + static_cast<int>(commas / 4) * 1000);
        return true;
    }
    while (!counter.TimedOut() && !bDropped && !bConnected && !cancelled()) pumpSleep(15);
    counter.TimerOff();
    if (!bConnected) Drop();
    return bConnected;
}

void TKORAlpaPage::lineCallback(const LineMessage& msg) {
    switch (msg.kind) {
    case LineMessage::Kind::Close:
        if (OnUnexpectedClose) OnUnexpectedClose(*this);
        return;
    case LineMessage::Kind::Reply:
        try {
            onReply(msg.requestId, msg.result);
        } catch (...) {
            if (OnLineBusy) OnLineBusy(*this);
            Drop();
        }
        return;
    case LineMessage::Kind::CallState:
        break;
    }
    switch (msg.callState) {
    case LINECALLSTATE_IDLE:
        m_haveCall = false;
        break;
    case LINECALLSTATE_OFFERING:
        if (bConnected) break;
        m_haveCall = true;
        if (OnCallOffering) OnCallOffering(*this);
        if (WaitForCall) {
            const std::int32_t r = m_line->answer();
            if (r > 0) dwRequestAnswer = r;
        }
        break;
    case LINECALLSTATE_BUSY:
        if (OnBusy) OnBusy(*this);
        Drop();
        break;
    case LINECALLSTATE_CONNECTED:
        if (bDropped || DevIdToInitialize == kNoDevice || bConnected) break;
        try {
            OnConnectionInt();
        } catch (...) {
            break;
        }
        if (m_slot >= 1 && DeviceOperationMode == opmaDirect && !DirectAccessScript.empty()) {
            try {
                MakeDirectAccessScript();
            } catch (...) {
                break;
            }
        }
        if (OnConnection) OnConnection(*this);
        break;
    case LINECALLSTATE_DISCONNECTED:
        if (OnDisconnect) OnDisconnect(*this);
        Drop();
        break;
    default:
        break;
    }
}

void TKORAlpaPage::onReply(std::int32_t requestId, std::int32_t result) {
    if (requestId == 0) return;
    if (requestId == dwRequestAnswer) {
        dwRequestAnswer = 0;
        TapiCheck(result);
        if (OnCallAnswering) OnCallAnswering(*this);
    } else if (requestId == dwRequestMakeCall) {
        dwRequestMakeCall = 0;
        TapiCheck(result);
    } else if (requestId == dwRequestDrop) {
        dwRequestAnswer = dwRequestMakeCall = dwRequestDrop = 0;
        if (!bConnected) Drop();
        TapiCheck(result);
    }
}

void TKORAlpaPage::OnConnectionInt() {
    if (bConnected) return;
    bConnected = true;
    if (DeviceOperationMode != opmaDirect || m_haveCall) return;
    SerialSettings s;
    s.baud = baudFromSpeedIndex(ComPortSpeed);
    s.dataBits = static_cast<int>(ComPortDataBits) + 5;
    s.parity = static_cast<SerialParity>(ComPortParity);
    s.stopBits = static_cast<SerialStopBits>(ComPortStopBits);
    s.rtsCts = ComPortHwHandshaking == hhaRTSCTS;
    s.xonXoff = ComPortSwHandshaking == shaXONXOFF;
    std::string error;
    if (!m_direct->applySettings(s, &error)) {
        bConnected = false;
        throw std::runtime_error(error);
    }
}

bool TKORAlpaPage::Drop() {
    if (!bConnected && bDropped) return true;
    if (DeviceOperationMode == opmaTCP) {
        fTCPTap->close();
        bConnected = false;
        return true;
    }
    bConnected = false;
    bDropped = true;
    if (m_haveCall && m_line) {
        dwRequestDrop = m_line->drop();
        m_haveCall = false;
    }
    if (OnDropCall) OnDropCall(*this);
    pumpSleep(1);
    Close();
    status("Disconnected", kConnectionStatus);
    pumpSleep(1);
    return false;
}

void TKORAlpaPage::Close() {
    pumpSleep(1);
    bConnected = false;
    m_direct->close();
    if (m_line && NumDevs > 0 && m_lineOpen) m_line->close();
    m_lineOpen = false;
    if (OnClose) OnClose(*this);
}

// ------------------------------------------------------ configuration files

bool TKORAlpaPage::LoadModemConfig(const std::string& FileName, std::uint32_t DeviceID) {
    std::error_code ec;
    if (FileName.empty() || !std::filesystem::is_regular_file(FileName, ec)) return false;
    std::optional<ModemSettings> settings = readModemConfigFile(FileName);
    if (!settings || !m_line || !m_line->entry(DeviceID)) return false;
    m_line->setDevConfig(*settings);
    pumpSleep(10);
    return true;
}

// Exactly one file applies: the carrier's, else the modem's, else system.mcf.
// When none loads the modem keeps its own defaults, never the settings of the
// carrier dialled before.
void TKORAlpaPage::applyModemConfigFiles() {
    if (!m_line) return;
    m_line->resetDevConfig();
    if (LoadModemConfig(ModemTermConfig, DevIdToInitialize)) return;
    if (LoadModemConfig(ModemAltConfig, DevIdToInitialize)) return;
    LoadModemConfig(ModemSysConfig, DevIdToInitialize);
}

bool TKORAlpaPage::SetModemConfig(const std::string& FileName, std::uint32_t /*DeviceID*/) {
    ModemSettings settings = m_line ? m_line->devConfig() : ModemSettings{};
    std::error_code ec;
    if (std::filesystem::is_regular_file(FileName, ec)) {
        if (auto fromFile = readModemConfigFile(FileName)) settings = *fromFile;
    }
    if (!ModemConfigEditor || !ModemConfigEditor(settings)) return false;
    return writeModemConfigFile(FileName, settings);
}

// ---------------------------------------------------------------- utilities

std::string TKORAlpaPage::LineCallStateToStr(std::uint32_t CallState) {
    static const char* const names[] = {"IDLE",      "OFFERING",    "ACCEPTED",       "DIALTONE",
                                        "DIALING",   "RINGBACK",    "BUSY",           "SPECIALINFO",
                                        "CONNECTED", "PROCEEDING",  "ONHOLD",         "CONFERENCED",
                                        "ONHOLDPENDCONF", "ONHOLDPENDTRANSFER", "DISCONNECTED", "UNKNOWN"};
    for (int i = 0; i < 16; ++i)
        if (CallState == (1u << i)) return names[i];
    return "Unknown (" + std::to_string(CallState) + ")";
}

std::string TKORAlpaPage::LineCallStateInfoToStr(std::uint32_t CallState, std::uint32_t Info) {
    if (Info == 0) return "Command complete";
    static const std::vector<const char*> dialtone = {"Dialtone normal", "SPECIAL", "INTERNAL",
                                                      "EXTERNAL", "UNKNOWN", "UNAVAIL"};
    static const std::vector<const char*> busy = {"STATION", "TRUNK", "UNKNOWN", "UNAVAIL"};
    static const std::vector<const char*> disconnected = {
        "NORMAL", "UNKNOWN", "REJECT", "PICKUP", "FORWARDED", "BUSY", "NOANSWER",
        "BADADDRESS", "UNREACHABLE", "CONGESTION", "INCOMPATIBLE", "UNAVAIL", "NODIALTONE"};
    const std::vector<const char*>* table = nullptr;
    if (CallState == 0x8) table = &dialtone;
    else if (CallState == LINECALLSTATE_BUSY) table = &busy;
    else if (CallState == LINECALLSTATE_DISCONNECTED) table = &disconnected;
    if (table)
        for (std::size_t i = 0; i < table->size(); ++i)
            if (Info == (1u << i)) return (*table)[i];
    return "Undefined (" + std::to_string(Info) + ")";
}

// Modem commands on a line opened for direct access. Nothing in the gateway
// sets a script; each command's answer is awaited at most 10 s.
void TKORAlpaPage::MakeDirectAccessScript() {
    if (DevIdToInitialize == kNoDevice) throw std::runtime_error("TAPILine: You must select TAPI compatible line");
    ModemStream* s = m_line ? m_line->stream() : nullptr;
    if (!s) return;
    TLogFile log;
    const bool logging = !DirectAccessLogFile.empty();
    if (logging) log.WriteLog("TAPILine logfile: ", "");
    for (const std::string& line : DirectAccessScript) {
        if (logging) log.WriteLog("Write (send command to modem)", line + "\r\n");
        s->writeAll(line + "\r\n", std::chrono::seconds(Timeout));
        std::string answer;
        const auto deadline = m_clock.now() + std::chrono::seconds(10);
        while (!bDropped && m_clock.now() < deadline) {
            s->waitReadable(std::chrono::milliseconds(15));
            answer += s->readAvailable(1000);
            std::string upper = answer;
            for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            if (upper.find("CONNECT") != std::string::npos) {
                if (logging) log.WriteLog("Connected! (conection esteblished)", answer), log.SaveToFile(DirectAccessLogFile);
                s->flushInput();
                return;
            }
            if (upper.find("ERROR") != std::string::npos || upper.find("NO ") != std::string::npos) {
                if (logging) log.WriteLog("Error (modem return bad response)", answer), log.SaveToFile(DirectAccessLogFile);
                s->flushInput();
                sDirectAccessResult = "TAPILine: Device direct access script error: \"" + line + "\".\r\n" + answer;
                throw std::runtime_error(sDirectAccessResult);
            }
            if (upper.find("OK") != std::string::npos) {
                if (logging) log.WriteLog("Command complete (OK received)", answer);
                break;
            }
            pumpSleep(5);
        }
    }
    if (bDropped && logging) log.WriteLog("Dropped (user hangup)", "");
    if (logging) log.SaveToFile(DirectAccessLogFile);
}

}  // namespace nv
