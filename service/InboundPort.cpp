#include "service/InboundPort.h"

#include <chrono>
#include <exception>
#include <memory>

#include "foundation/Clock.h"
#include "foundation/ConfigFile.h"
#include "protocols/KORPelmora.h"
#include "service/PageIntake.h"

namespace nv {

namespace {

constexpr const char* kPrefix = "[Nerivale Connection] ";
// The host serves the port on its own reading thread; this thread only waits
// for the stop. Its own stop wakes the wait at once; the engine's flags are
// asked once a slice.
constexpr std::chrono::hours kHoldSlice{1};

}  // namespace

// [Nerivale Port] with the engine's defaults.
NerivalePortSection PelmoraPortThread::readSection(const std::filesystem::path& dataDir) {
    return ConfigFile::inDataDirectory(dataDir, ConfigSide::Service).nerivalePort();
}

int PelmoraPortThread::messageLength(const NerivalePortSection& s, std::string& warning) {
    warning.clear();
    if (s.Length.value >= 0) return s.Length.value;
    const int fallback = NerivalePortSection::defaults(ConfigSide::Service).Length.value;
    warning = std::string(kPrefix) + "[" + kNerivalePortName + "] Length=" + s.Length.text +
              " Is Negative, Using The Default " + std::to_string(fallback);
    return fallback;
}

// Sets the host's properties from [Nerivale Port], in the engine's order up to
// InitTap; values outside a key's list leave the host's own.
void PelmoraPortThread::configureHost(TKORPelmora& host, const NerivalePortSection& s,
                                      const std::filesystem::path& dataDir, int slot) {
    host.FLogDir = dataDir.string();
    host.Name = "Inbound" + std::to_string(slot);
    host.FPortName = kNerivalePortName;
    host.LineInstance = slot;
    // Index 0 is COM1 (ordinal 1); a number past the list names no port.
    const int ordinal = s.ComPort + 1;
    host.SetComPort(static_cast<TTapComPortNumber>(ordinal >= 0 && ordinal <= 20 ? ordinal : 0));
    // A speed outside the list leaves the host's own (9600), as on the other links.
    if (s.ComSpeed >= 0 && s.ComSpeed <= 12) host.SetComPortSpeed(static_cast<TTapComPortBaudRate>(s.ComSpeed));
    // FlowCtrl 0 none, 1 RTS/CTS, 2 XON/XOFF, 3 both.
    if (s.FlowCtrl >= 0 && s.FlowCtrl <= 3) {
        host.SetComPortHwHandshaking(s.FlowCtrl == 1 || s.FlowCtrl == 3 ? hhtRTSCTS : hhtNONE);
        host.SetComPortSwHandshaking(s.FlowCtrl == 2 || s.FlowCtrl == 3 ? shtXONXOFF : shtNONE);
    }
    // DataSettings 0: 7 data bits, even parity, 1 stop bit; 1: 8, none, 1.
    if (s.DataSettings == 0 || s.DataSettings == 1) {
        host.SetComPortDataBits(s.DataSettings == 0 ? dbt7BITS : dbt8BITS);
        host.SetComPortParity(s.DataSettings == 0 ? pttEVEN : pttNONE);
        host.SetComPortStopBits(sbt1BITS);
    }
    host.DeviceDirectAccess = true;
    host.DevIdToInitialize = static_cast<std::uint32_t>(s.DeviceID);
}

PelmoraPortThread::~PelmoraPortThread() {
    m_thread.requestStop();
    m_thread.join();
}

void PelmoraPortThread::Start(std::function<void()> onEnd) {
    if (m_thread.joinable()) return;
    // An exception ends the thread without a log line.
    m_thread.start([this] { PelmoraPortThreadExecute(); }, std::move(onEnd));
}


std::string PelmoraPortThread::connectionLine(const std::string& port, const std::string& text) {
    return kPrefix + port + " " + text;
}

void PelmoraPortThread::bindHandlers(TKORPelmora& host, LogFn log, IntakeFn intake) {
    auto line = [log](const char* text) {
        return [log, text](TKORPelmora& sender) { log(connectionLine(sender.FPortName, text)); };
    };
    host.OnOpen = line("Waiting For Calls...");
    host.OnClose = line("Inbound Calls Disabled");
    host.OnCallOffering = line("Inbound Call Detected");
    host.OnCallAnswered = line("Call Answered");
    host.OnCallAnswering = line("Answerong Call");
    host.OnConnection = line("Connected");
    host.OnDisconnect = line("Disconnected");
    host.OnDropCall = line("Call Droped");
    host.OnUnexpectedClose = line("Unexpected Port Closure");
    auto text = [log](TKORPelmora& sender, const std::string& msg) { log(connectionLine(sender.FPortName, msg)); };
    host.OnError = text;
    host.OnTapiProgress = text;
    // The Part's host takes every PIN; this one refuses, with "03", a PIN the
    // intake could not hold (see isAcceptablePin).
    host.OnAccountVerify = [](TKORPelmora&, const std::string& pin, bool& accept) { accept = isAcceptablePin(pin); };
    host.OnMsgReceived = [intake](TKORPelmora& sender, const std::string& pin, const std::string& msg,
                                  std::string& /*ID*/, bool& submitted) {
        intake(&sender.FRawQJData, pin, msg, submitted);
    };
}

void PelmoraPortThread::PelmoraPortThreadExecute() {
    const std::filesystem::path& dataDir = m_dataDir;
    const NerivalePortSection s = readSection(dataDir);
    if (!s.Enabled) {
        m_log(std::string(kPrefix) + "No Port Information Specified For " + kNerivalePortName);
        return;
    }
    m_log(std::string(kPrefix) + "Starting Neri Vale Modem Services For " + kNerivalePortName);

    auto host = std::make_unique<TKORPelmora>(dataDir);
    configureHost(*host, s, dataDir, m_lineSlot);
    host->InitTap();
    // Bound after InitTap: what the host reports there reaches no handler.
    host->ShowErrorDialog = false;
    std::string lengthWarning;
    host->MaxMsgLength = messageLength(s, lengthWarning);
    if (!lengthWarning.empty()) m_log(lengthWarning);
    bindHandlers(*host, m_log, m_intake);
    host->ModemAltConfig = (dataDir / (std::string(kNerivalePortName) + ".mcf")).string();
    host->ModemSysConfig = (dataDir / "system.mcf").string();
    host->TurncateMsgs = s.TruncateMsgs;
    host->SetWaitForCall(true);

    while (m_thread.pause(kHoldSlice, m_engineStopping)) {
    }

    sleepUnless(steadyClock(), std::chrono::milliseconds(15), nullptr);
    m_log(std::string(kPrefix) + kNerivalePortName + " Thread Shutdown");
    host->Close();
    host.reset();
}

}  // namespace nv
