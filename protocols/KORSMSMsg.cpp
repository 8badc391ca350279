#include "protocols/KORSMSMsg.h"

#include <algorithm>
#include <exception>

#include "protocols/GsmAtReply.h"
#include "protocols/GsmPdu.h"

namespace nv {
using std::chrono::milliseconds;

namespace {

// Status and reply texts as the system words them (misspellings included).
constexpr const char* kModemInit = "Modem Init";
constexpr const char* kNoResponse = "No Responce From Modem";
constexpr const char* kNoSimStorage = "Unable To Set Sim Write Using Default Storage";
constexpr const char* kSetPdu = "Set To PDU Mode";
constexpr const char* kPduRxUnsupported = "PDU RX Mode Not Supported";
constexpr const char* kSettingPdu = "Setting PDU Mode";
constexpr const char* kSetText = "Set To Text Mode";
constexpr const char* kSettingText = "Setting Text Mode";
constexpr const char* kEnableRx = "Enable RX Mode";
constexpr const char* kEnablingRx = "Enabling RX Mode";
constexpr const char* kGetManufacture = "Getting Modem Manufacture";
constexpr const char* kGetVersion = "Getting Modem Version";
constexpr const char* kGetModel = "Getting Modem Model";
constexpr const char* kGetImei = "Getting Modem IMEI";
constexpr const char* kGetMessaging = "Getting Modem Supported Messaging";
constexpr const char* kGetRegistration = "Getting Modem Registration Status";
constexpr const char* kGetNetwork = "Getting Network";
constexpr const char* kInitDone = "Modem Init Done";
constexpr const char* kUnknown = "Unknown";
constexpr const char* kNoMessage = "No Message To Send!";
constexpr const char* kNotConnected = "SMS Modem Not Connected";
constexpr const char* kNoService = "No Service";
constexpr const char* kNoRoaming = "Roaming Not Alowed";
constexpr const char* kErrAt = "Error Sending AT Command!";
constexpr const char* kErrCpas = "Error Sending AT+CPAS Command!";
constexpr const char* kErrCmgf1 = "Error Sending AT+CMGF=1 Command!";
constexpr const char* kErrCsca = "Error Sending AT+CSCA Command!";
constexpr const char* kErrCscs = "Error Sending AT+CSCS Command!";
constexpr const char* kErrCmgs = "Error Sending AT+CMGS Command!";
constexpr const char* kErrPrompt = "Error Receiveing \">\" AT Command!";
constexpr const char* kErrMessage = "Error Sending Message Command!";
constexpr const char* kErrSendOk = "Error Receiving Messenge Send OK! >";
constexpr const char* kSubmitted = "Message Submitted For Processing";
constexpr const char* kErrSending = "Error Sending Message: ";
// Our own refusals of input that would break the AT command line.
constexpr const char* kBadAddress = "Invalid Destination Number!";
constexpr const char* kBadCenter = "Invalid SMS Center Number!";
constexpr const char* kBadCharset = "Invalid Character Set!";

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;
constexpr std::size_t kSmsChars = 160;
constexpr std::string_view kContMark = "  (CONT.)";
constexpr std::string_view kEndMark = " (END)";
constexpr milliseconds kSlice{50};
constexpr milliseconds kThreadStartBound{5000};

// Ctrl-Z would end the message early and ESC would cancel it.
std::string withoutSmsControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != kCtrlZ && c != kEsc) out += c;
    return out;
}

// A value that is not a state of the table (garbage, 6 to 10 of newer
// modems) is unknown, never an error.
tSysReg sysRegFrom(int value) {
    return value >= srIdle && value <= srRoaming ? static_cast<tSysReg>(value) : srUnknown;
}

bool isValidCharset(const std::string& cs) {
    return std::all_of(cs.begin(), cs.end(), [](char c) {
        return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-';
    });
}

}  // namespace

std::vector<std::string> splitSmsMessage(std::string_view message, bool septets) {
    // Room a character takes in the SMS: in PDU mode the escaped characters of
    // the GSM alphabet take two septets.
    auto weight = [septets](char c) -> std::size_t { return septets ? gsmSeptetCount(c) : 1; };
    auto fits = [&](std::string_view s, std::size_t room) {
        std::size_t used = 0;
        for (char c : s)
            if ((used += weight(c)) > room) return false;
        return true;
    };
    if (fits(message, kSmsChars)) return {std::string(message)};
    // The marks go inside the 160: a part with its mark still fits one SMS.
    const std::size_t window = kSmsChars - kContMark.size();
    const std::size_t lastFits = kSmsChars - kEndMark.size();
    std::vector<std::string> parts;
    std::string_view rest = message;
    while (parts.size() < static_cast<std::size_t>(TKORSMSMessaging::kMaxParts)) {
        if (!parts.empty() && fits(rest, lastFits)) {
            parts.push_back(std::string(rest) + std::string(kEndMark));
            break;
        }
        std::size_t take = 0, used = 0;
        while (take < rest.size() && used + weight(rest[take]) <= window) used += weight(rest[take++]);
        std::size_t cut = take;
        std::size_t blank = rest.substr(0, take).rfind(' ');
        if (blank != std::string_view::npos) cut = blank + 1;
        parts.push_back(std::string(rest.substr(0, cut)) + std::string(kContMark));
        rest.remove_prefix(cut);
    }
    return parts;
}

struct TKORSMSMessaging::Answer {
    bool sent = false;
    GsmAtReply::Final final = GsmAtReply::Final::None;
    std::string finalLine;
    std::vector<std::string> lines;
    std::string text;
    bool ok() const { return final == GsmAtReply::Final::Ok; }
};

// ---------------------------------------------------------------------------

TKORSMSMessaging::TKORSMSMessaging(std::filesystem::path dataDir, Clock& clock)
    : TKORCom32(std::move(dataDir), clock) {
    SetComPortSpeed(br9600);
    SetComPortStopBits(sb2BITS);
}

TKORSMSMessaging::~TKORSMSMessaging() { ClosePort(); }

void TKORSMSMessaging::setTimings(const GsmTimings& timings) {
    std::lock_guard lock(m_timingMutex);
    m_timings = timings;
}

GsmTimings TKORSMSMessaging::timings() const {
    std::lock_guard lock(m_timingMutex);
    return m_timings;
}

#define NV_INFO_GETTER(Name, field)                   \
    std::string TKORSMSMessaging::Name() const {      \
        std::lock_guard lock(m_infoMutex);            \
        return field;                                 \
    }
NV_INFO_GETTER(Manufacture, m_manufacture)
NV_INFO_GETTER(PhoneVersion, m_phoneVersion)
NV_INFO_GETTER(PhoneModel, m_phoneModel)
NV_INFO_GETTER(PhoneIMEI, m_phoneIMEI)
NV_INFO_GETTER(NetworkName, m_networkName)
#undef NV_INFO_GETTER

void TKORSMSMessaging::setInfo(std::string& field, const std::string& value) {
    std::lock_guard lock(m_infoMutex);
    field = value;
}

void TKORSMSMessaging::status(tStatusType type, const std::string& msg) {
    try {
        if (OnStatus) OnStatus(*this, type, msg);
    } catch (...) {
        // A failing handler must not stop the modem.
    }
}

std::unique_lock<std::recursive_mutex> TKORSMSMessaging::lockModem() {
    return std::unique_lock<std::recursive_mutex>(m_modem);
}

bool TKORSMSMessaging::acquire(std::unique_lock<std::recursive_mutex>& lock) {
    // Polled with try_lock: a timed lock on a recursive mutex is invisible to
    // ThreadSanitizer, which then reports every unlock.
    while (!lock.try_lock()) {
        if (stopRequested()) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

bool TKORSMSMessaging::pauseFor(milliseconds d) {
    return sleepUnless(m_clock, d, [this] { return stopRequested(); }, kSlice);
}

TKORSMSMessaging::Answer TKORSMSMessaging::transact(std::string_view bytes, milliseconds timeout,
                                                    bool wantPrompt) {
    Answer a;
    if (stopRequested()) return a;
    // A late answer to an earlier command must not answer this one.
    for (int i = 0; i < 64 && !ReadBuffer().empty(); ++i) {
    }
    if (!SendString(bytes)) return a;
    a.sent = true;
    GsmAtReply reply(bytes, wantPrompt);
    auto deadline = m_clock.now() + timeout;
    while (!stopRequested()) {
        std::string chunk = ReadBuffer();
        if (!chunk.empty() && reply.feed(chunk) != GsmAtReply::Final::None) break;
        // Checked after data too: a line that never stops talking still times out.
        if (m_clock.now() >= deadline) break;
        if (chunk.empty() && !waitSlice()) break;
    }
    a.final = reply.final();
    a.finalLine = reply.finalLine();
    a.lines = reply.lines();
    a.text = reply.text();
    return a;
}

bool TKORSMSMessaging::command(std::string_view cmd) {
    std::string line(cmd);
    line += "\r\n";
    return transact(line, timings().command).ok();
}

TKORSMSMessaging::QueryResult TKORSMSMessaging::query(std::string_view literal, std::string& reply) {
    FlushRXBuf();
    Answer a = transact(literal, timings().command);
    reply = a.text;
    if (!a.sent) return QueryResult::WriteFailed;
    return a.ok() ? QueryResult::Ok : QueryResult::Failed;
}

// ---------------------------------------------------------------------------
// Opening and initialisation

bool TKORSMSMessaging::OpenPort() {
    if (Connected()) return true;
    // A receive thread left from a port that was disconnected under it.
    if (m_server) {
        m_stop = true;
        m_server->join();
        m_server.reset();
    }
    if (!Connect()) return false;
    m_stop = false;
    m_threadStarted = false;
    if (!InitModem()) return false;
    StartServerThread();
    // The thread says it runs at once; the bound only guards a thread that died.
    m_server->waitStarted(kThreadStartBound);
    return true;
}

bool TKORSMSMessaging::ClosePort() {
    m_stop = true;
    if (m_server) {
        m_server->join();
        m_server.reset();
    }
    m_threadStarted = false;
    Disconnect();
    return true;
}

void TKORSMSMessaging::StartServerThread() {
    m_server = std::make_unique<TServerThread>(*this);
    m_server->start();
}

bool TKORSMSMessaging::initCommands() {
    status(stStatus, kModemInit);
    FlushRXBuf();
    if (!command("ATZ") || !command("AT")) {
        status(stError, kNoResponse);
        Disconnect();
        return false;
    }
    if (!command("AT+CPMS=\"SM\",\"SM\"")) status(stError, kNoSimStorage);
    if (m_sendMode == smPDU) {
        status(stStatus, kSetPdu);
        if (!command("AT+CMGF=0")) {
            status(stError, kSettingPdu);
            Disconnect();
            return false;
        }
        if (m_enableRx) status(stError, kPduRxUnsupported);
        return true;
    }
    status(stStatus, kSetText);
    if (!command("AT+CMGF=1")) {
        status(stError, kSettingText);
        Disconnect();
        return false;
    }
    if (!m_enableRx) return true;
    status(stStatus, kEnableRx);
    Answer csms = transact("AT+CSMS=0\r\n", timings().command);
    if (csms.text.find("+CSMS: 1,1,1") == std::string::npos) {
        Disconnect();
        return false;
    }
    if (!command("AT+CNMI=2,2,0,0,0")) {
        status(stError, kEnablingRx);
        Disconnect();
        return false;
    }
    return true;
}

void TKORSMSMessaging::queryIdentities() {
    struct Identity {
        const char* step;
        const char* literal;
        std::string* field;
        bool blankRule;
    };
    const Identity ids[] = {
        {kGetManufacture, "AT+CGMI\r\n", &m_manufacture, true},
        {kGetVersion, "AT+CGMR\r\n", &m_phoneVersion, true},
        {kGetModel, "AT+CGMM\r\n", &m_phoneModel, true},
        {kGetImei, "AT+CGSN\r\n", &m_phoneIMEI, false},
    };
    std::string reply;
    for (const auto& id : ids) {
        status(stStatus, id.step);
        QueryResult r = query(id.literal, reply);
        // A write that failed leaves the field as it was.
        if (r == QueryResult::Failed) setInfo(*id.field, kUnknown);
        if (r != QueryResult::Ok) continue;
        if (id.field == &m_phoneIMEI) {
            std::size_t p = reply.find("+CGSN");
            if (p != std::string::npos) reply.erase(0, p + 5);
            reply = atTrim(reply);
            if (reply.starts_with(':')) reply.erase(0, 1);
        }
        setInfo(*id.field, atIdentity(reply, id.blankRule));
    }
}

void TKORSMSMessaging::queryMessaging() {
    status(stStatus, kGetMessaging);
    std::string reply;
    QueryResult r = query("AT+CSMS?\r\n", reply);
    if (r == QueryResult::Failed) m_msgSvc = 0;
    if (r != QueryResult::Ok) return;
    // "+CSMS: service,mt,mo,bm"
    std::string s = atIdentity(reply, true);
    TMsgSvcSupportedSet set = 0;
    std::size_t field = 0, start = 0;
    for (;;) {
        std::size_t comma = s.find(',', start);
        std::string f = atTrim(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (field >= 1 && field <= 3 && f == "1") set |= static_cast<TMsgSvcSupportedSet>(1u << (field - 1));
        if (comma == std::string::npos) break;
        start = comma + 1;
        ++field;
    }
    m_msgSvc = set;
}

void TKORSMSMessaging::queryNetwork() {
    status(stStatus, kGetNetwork);
    std::string reply;
    QueryResult r = query("AT+COPS=3,0;+COPS?\r\n", reply);
    std::size_t quote = reply.find('"');
    if (r == QueryResult::Ok && quote != std::string::npos) {
        std::string name = reply.substr(quote + 1);
        setInfo(m_networkName, name.substr(0, name.find('"')));
    } else if (r != QueryResult::WriteFailed) {
        setInfo(m_networkName, kUnknown);
    }
}

bool TKORSMSMessaging::queryRegistration() {
    std::string reply;
    QueryResult r = query("AT+CREG?\r\n", reply);
    if (r == QueryResult::Ok) m_sysReg = sysRegFrom(atRegistration(reply));
    else if (r == QueryResult::Failed) m_sysReg = srUnknown;
    return r == QueryResult::Ok;
}

bool TKORSMSMessaging::InitModem() {
    std::unique_lock lock(m_modem);
    if (!initCommands()) return false;
    queryIdentities();
    queryMessaging();
    status(stStatus, kGetRegistration);
    queryRegistration();
    if (m_sysReg == srRegistered || m_sysReg == srRoaming) queryNetwork();
    status(stStatus, kInitDone);
    m_comState = csReady;
    return true;
}

// ---------------------------------------------------------------------------
// Sending

// Step 1 of every part. A modem still searching when the service started is
// asked again before the part is refused.
bool TKORSMSMessaging::checkBeforePart(std::string& Rsp) {
    if (!Connected()) {
        Rsp = kNotConnected;
        return false;
    }
    if (m_sysReg != srRegistered && m_sysReg != srRoaming) queryRegistration();
    if (m_sysReg != srRegistered && m_sysReg != srRoaming) {
        Rsp = kNoService;
        return false;
    }
    if (m_sysReg == srRoaming && m_noRoaming) {
        Rsp = kNoRoaming;
        return false;
    }
    return true;
}

// AT+CPAS until the modem says it is ready (0). A modem that stays busy, keeps
// answering ERROR or goes silent fails the part instead of holding it for ever.
bool TKORSMSMessaging::waitModemReady(std::string& Rsp) {
    for (int attempt = 0; attempt < kStatusTries; ++attempt) {
        if (attempt > 0 && !pauseFor(timings().statusPause)) return false;
        Answer a = transact("AT+CPAS\r\n", timings().command);
        if (!a.sent) {
            Rsp = kErrCpas;
            return false;
        }
        if (a.ok() && atIdentity(a.text, true) == "0") return true;
        if (a.final == GsmAtReply::Final::None) return false;
    }
    return false;
}

int TKORSMSMessaging::textDialogue(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                   const std::string& part, const std::string& aCharset, std::string& Rsp) {
    const GsmTimings t = timings();
    if (!command("AT")) return Rsp = kErrAt, -1;
    if (!waitModemReady(Rsp)) return -1;
    if (!command("AT")) return Rsp = kErrAt, -1;
    if (!command("AT+CMGF=1")) return Rsp = kErrCmgf1, -1;
    if (!aSMSCenter.empty() && !command("AT+CSCA=\"" + aSMSCenter + "\"")) return Rsp = kErrCsca, -1;
    if (!aCharset.empty() && !command("AT+CSCS=\"" + aCharset + "\"")) return Rsp = kErrCscs, -1;
    Answer prompt = transact("AT+CMGS=\"" + aSMSAddress + "\"\r\n", t.prompt, true);
    if (!prompt.sent) return Rsp = kErrCmgs, -1;
    if (prompt.final != GsmAtReply::Final::Prompt) return Rsp = kErrPrompt, -1;
    Answer sent = transact(part + kCtrlZ, t.textSubmit);
    if (!sent.sent) return Rsp = kErrMessage, -1;
    if (!sent.ok()) {
        Rsp = std::string(kErrSendOk) + (sent.final == GsmAtReply::Final::Error ? sent.finalLine : sent.text);
        return -1;
    }
    Rsp = kSubmitted;
    return atMessageReference(sent.lines);
}

int TKORSMSMessaging::runPart(std::string& Rsp, const std::function<int()>& dialogue,
                              const std::function<void()>& settle) {
    Rsp = kNoResponse;
    if (!checkBeforePart(Rsp)) return -1;
    m_comState = csTransmit;
    FlushRXBuf();
    int result = -1;
    try {
        result = dialogue();
    } catch (const std::exception& e) {
        Rsp = std::string(kErrSending) + e.what();
        result = -1;
    }
    if (settle) settle();
    m_comState = csReady;
    return result;
}

int TKORSMSMessaging::SendTextPart(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                   const std::string& part, const std::string& aCharset, std::string& Rsp) {
    return runPart(Rsp, [&] { return textDialogue(aSMSCenter, aSMSAddress, part, aCharset, Rsp); });
}

// Failures leave Rsp at "No Responce From Modem", except the modem's own
// rejection of the message, which is worth a log line of its own.
int TKORSMSMessaging::pduDialogue(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                  const std::string& part, bool encode, std::string& Rsp) {
    const GsmTimings t = timings();
    std::string ignored;
    if (!command("AT") || !waitModemReady(ignored)) return -1;
    if (!command("AT+CMGF=0")) return -1;
    if (!aSMSCenter.empty() && !command("AT+CSCA=\"" + aSMSCenter + "\"")) return -1;
    const std::string pdu = encode ? EncodeSubmitPDU(aSMSCenter, aSMSAddress, part) : part;
    // CR alone ends this one command, as the system always sent it.
    Answer prompt = transact("AT+CMGS=" + std::to_string(submitPduLength(pdu)) + "\r", t.prompt, true);
    if (prompt.final != GsmAtReply::Final::Prompt) {
        if (prompt.final == GsmAtReply::Final::Error) Rsp = prompt.finalLine;
        return -1;
    }
    Answer sent = transact(pdu + kCtrlZ, t.pduSubmit);
    if (!sent.ok()) {
        if (sent.final == GsmAtReply::Final::Error) Rsp = sent.finalLine;
        return -1;
    }
    Rsp = kSubmitted;
    return atMessageReference(sent.lines);
}

int TKORSMSMessaging::SendPDUPart(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                  const std::string& part, bool encode, std::string& Rsp) {
    return runPart(
        Rsp, [&] { return pduDialogue(aSMSCenter, aSMSAddress, part, encode, Rsp); },
        [&] {
            // Back to a known state however the part ended.
            if (!stopRequested() && Connected()) {
                command("AT");
                command("AT+CMGF=0");
            }
        });
}

int TKORSMSMessaging::sendParts(const std::vector<std::string>& parts, bool reverse, std::string& Rsp,
                                const std::function<int(const std::string&, std::string&)>& sendPart) {
    int result = -1;
    const std::size_t n = parts.size();
    for (std::size_t i = 0; i < n; ++i) {
        result = sendPart(parts[reverse ? n - 1 - i : i], Rsp);
        if (result < 0) return -1;
        // After the last part too: the modem gets its pause before the next message.
        if (n > 1) pauseFor(timings().partPause);
    }
    return result;
}

// Input that would break out of the AT command line is refused before the
// modem sees any of it.
bool TKORSMSMessaging::checkInput(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                  const std::string& aCharset, std::string& Rsp) {
    const char* bad = nullptr;
    if (!isValidSmsNumber(aSMSAddress)) bad = kBadAddress;
    else if (!aSMSCenter.empty() && !isValidSmsNumber(aSMSCenter)) bad = kBadCenter;
    else if (!isValidCharset(aCharset)) bad = kBadCharset;
    if (!bad) return true;
    Rsp = std::string(kErrSending) + bad;
    return false;
}

int TKORSMSMessaging::SendSMSTextMode(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                      const std::string& aMessage, const std::string& aCharset,
                                      bool ReverseOrder, std::string& Rsp) {
    Rsp.clear();
    const std::string text = withoutSmsControls(aMessage);
    if (text.empty()) return Rsp = kNoMessage, -1;
    if (!checkInput(aSMSCenter, aSMSAddress, aCharset, Rsp)) return -1;
    if (!Connected()) return Rsp = kNotConnected, -1;
    std::unique_lock lock(m_modem, std::defer_lock);
    if (!acquire(lock)) return Rsp = kNoResponse, -1;
    return sendParts(splitSmsMessage(text, false), ReverseOrder, Rsp, [&](const std::string& part, std::string& rsp) {
        return SendTextPart(aSMSCenter, aSMSAddress, part, aCharset, rsp);
    });
}

int TKORSMSMessaging::SendSMSPDUMode(const std::string& aSMSCenter, const std::string& aSMSAddress,
                                     const std::string& aMessage, bool ReverseOrder, std::string& Rsp,
                                     bool EncodeMessageInPDU) {
    const std::string text = withoutSmsControls(aMessage);
    if (text.empty()) return Rsp = kNoMessage, -1;
    if (!checkInput(aSMSCenter, aSMSAddress, "", Rsp)) return -1;
    if (!Connected()) return Rsp = kNotConnected, -1;
    std::unique_lock lock(m_modem, std::defer_lock);
    if (!acquire(lock)) return Rsp = kNoResponse, -1;
    // A ready PDU is one message already: cutting it and adding marks would break it.
    std::vector<std::string> parts = EncodeMessageInPDU ? splitSmsMessage(text, true) : std::vector<std::string>{text};
    return sendParts(parts, ReverseOrder, Rsp, [&](const std::string& part, std::string& rsp) {
        return SendPDUPart(aSMSCenter, aSMSAddress, part, EncodeMessageInPDU, rsp);
    });
}

int TKORSMSMessaging::DeleteSimMsg(int Index) {
    if (!Connected()) return -1;
    std::unique_lock lock(m_modem, std::defer_lock);
    if (!acquire(lock)) return -1;
    return command("AT+CMGD=" + std::to_string(Index)) ? 0 : -1;
}

}  // namespace nv
