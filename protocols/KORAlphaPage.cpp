#include "protocols/KORAlphaPage.h"

#include <fstream>

#include "platform/SerialPort.h"
#include "platform/TcpStream.h"

namespace nv {

namespace {

// Status captions.
constexpr const char* kConnectionStatus = "Connection Status";
constexpr const char* kConnectionError = "Connection Error";
constexpr const char* kNetworkStatus = "Network Status";
constexpr const char* kNetworkError = "Network Error";

constexpr const char* kPageErrors[] = {
    "No Response From Terminal!", "Resend Requested!", "Logon Denyed!", "Message Faild Checksum!",
    "Invalid ID Or Bad Link!", "Connection Lost!", "Terminal Disconnected!", "Unknown Error!",
    "No Message To Send!", "No Provider Number!", "No Pin Number!", "Unknown Error!",
    "Comport Error!", "Error Initalizing Modem!", "Unknown Error!", "Connection Failed!",
    "Logon Failure!", "Logon Denied!", "Terminal Disconnected!", "Unknown Error!",
    "No Carrier!", "Line Busy!", "No Dial Tone!", "No Answer!", "Voice Connection!",
    "No Schedule Date Entered!", "No Message ID Entered!",
};

std::string nowText() {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char buf[64];
    std::strftime(buf, sizeof buf, "%m/%d/%Y %I:%M:%S %p", &tm);
    return buf;
}

}  // namespace

std::string pageErrorText(int ident) {
    if (ident < 0 || ident >= static_cast<int>(std::size(kPageErrors))) return "Unknown Error!";
    return kPageErrors[ident];
}

EPageError EPageError::CreateRes(int Ident) { return EPageError(Ident, pageErrorText(Ident)); }

void TLogFile::WriteLog(const std::string& tag, const std::string& responce) {
    slLogFile.push_back(nowText() + " - " + tag + (responce.empty() ? "" : ": " + responce));
}

bool TLogFile::SaveToFile(const std::filesystem::path& sfile) const {
    std::ofstream out(sfile, std::ios::binary | std::ios::trunc);
    for (const auto& l : slLogFile) out << l << "\r\n";
    return static_cast<bool>(out);
}

TKORAlpaPage::TKORAlpaPage(std::filesystem::path dataDir, Clock& clock)
    : m_clock(clock),
      m_dataDir(std::move(dataDir)),
      fTCPTap(std::make_unique<TcpStream>()),
      m_direct(std::make_unique<SerialPort>()),
      m_tcpBytes(std::make_unique<TcpByteStream>(*fTCPTap)),
      m_directBytes(std::make_unique<SerialByteStream>(*m_direct)) {}

TKORAlpaPage::~TKORAlpaPage() {
    // Nothing thrown here may leave: a raise in a destructor ends the process.
    try {
        Drop();
    } catch (...) {
    }
    try {
        fTCPTap->close();
        m_direct->close();
        if (fInitTap) {
            if (m_line) m_line->discardMessages();
            releaseSlot();
            fInitTap = false;
        }
        m_line.reset();
    } catch (...) {
    }
}

void TKORAlpaPage::status(const std::string& text, const std::string& caption) {
    if (OnPageProgress) OnPageProgress(*this, text, caption);
}

void TKORAlpaPage::pause(int ms) { m_clock.sleepFor(std::chrono::milliseconds(ms)); }

void TKORAlpaPage::pauseUnlessCancelled(int ms) {
    sleepUnless(m_clock, std::chrono::milliseconds(ms), [this] { return cancelled(); }, std::chrono::milliseconds(50));
}

void TKORAlpaPage::pumpSleep(int ms) {
    pump();
    pause(ms);
}

void TKORAlpaPage::raiseIfShown(int ident) {
    if (ShowErrorDialogs && !bDropped) throw EPageError::CreateRes(ident);
}

// ------------------------------------------------------------------- Dial

bool TKORAlpaPage::Dial() {
    MsgsSentThisCall = 0;
    if (bConnected || !bDropped) {
        Hangup();
        for (int i = 0; bConnected && i < 2000; ++i) pumpSleep(5);
    }
    FvdCount = 0;
    bDropped = false;
    if (!UseModem) return true;
    try {
        if (DeviceOperationMode == opmaModem && PhoneNumber.empty() && !DTMFOnly) {
            status("No Provider Number Found!", kConnectionError);
            throw EPageError::CreateRes(9);
        }
        if (DeviceOperationMode == opmaTCP && TAPIPAddress.empty()) {
            status("Destination TAP IP Not Found", kConnectionError);
            throw EPageError::CreateRes(9);
        }
        if (DeviceOperationMode == opmaTCP && TAPIPPort.empty()) {
            status("Destination TAP IP Port Not Found", kConnectionError);
            throw EPageError::CreateRes(9);
        }
        switch (DeviceOperationMode) {
        case opmaTCP: return connectTcp();
        case opmaDirect: return connectDirect();
        case opmaModem: return connectModem();
        }
    } catch (...) {
        try {
            Drop();
        } catch (...) {
        }
    }
    return false;
}

bool TKORAlpaPage::connectTcp() {
    if (fTCPTap->connected()) fTCPTap->close();
    int port = 0;
    for (char c : TAPIPPort) {
        if (c < '0' || c > '9' || port > 65535) return false;
        port = port * 10 + (c - '0');
    }
    if (port <= 0 || port > 65535) return false;
    // The connect itself is bounded by the 5 s of this step.
    if (!fTCPTap->connect(TAPIPAddress, static_cast<std::uint16_t>(port), std::chrono::seconds(5)))
        return false;
    bConnected = true;
    if (OnOpen) OnOpen(*this);
    return nLogin();
}

bool TKORAlpaPage::connectDirect() {
    openDirectPort();
    const auto deadline = m_clock.now() + std::chrono::seconds(3);
    while (!bConnected && !bDropped && !cancelled() && m_clock.now() < deadline) pumpSleep(5);
    if (!bConnected) return false;
    if (OnOpen) OnOpen(*this);
    return nLogin();
}

bool TKORAlpaPage::connectModem() {
    InitTap();
    status("Dialing " + PhoneNumber, kConnectionStatus);
    applyModemConfigFiles();
    Open();
    if (!MakeCall()) {
        Drop();
        return false;
    }
    if (DTMFOnly) {
        if (DTMFScript.find("$SC$") != std::string::npos) {
            DTMFSendAccessNumber = false;
        } else {
            Drop();
            DTMFSendAccessNumber = true;
        }
        return true;
    }
    return nLogin();
}

// ------------------------------------------------------------------ login

// The failure step: hang up first; over a modem or a direct line that marks the
// call dropped and the failure stays silent, over TCP it is reported.
bool TKORAlpaPage::failLogin(const std::string& text, int ident, const std::string& caption) {
    if (bConnected) Hangup();
    if (bDropped) return false;
    status(text, caption);
    if (ShowErrorDialogs) throw EPageError::CreateRes(ident);
    return false;
}

bool TKORAlpaPage::nLogin() {
    status("Connected", kConnectionStatus);
    FlushRXBuf();
    pause(500);
    bool prompted = false;
    for (int i = 0; i < 3 && !prompted; ++i) {
        pumpSleep(5);
        SendString(std::string(1, tap::kCR));
        std::string got;
        prompted = WaitFor("ID=", got, 5) == 0;
    }
    if (!prompted) return failLogin("No Response From Paging Network", 0);
    status("Logging On", kNetworkStatus);
    const std::string replies = tap::loginReplyList();
    for (int attempt = 1; attempt <= 4; ++attempt) {
        pumpSleep(2);
        const std::string request = tap::loginRequest(Password);
        pumpSleep(500);
        SendString(request);
        pumpSleep(10);
        std::string reply;
        const int index = WaitFor(replies, reply, 10);
        auto take = [&](const std::string& text) {
            if (ETAPCommand == dcTap || reply.empty()) reply = text;
        };
        switch (tap::classifyLoginReply(index)) {
        case tap::LoginReply::GoAhead:
            take("Login Accepted");
            status(reply, kNetworkStatus);
            return true;
        case tap::LoginReply::Accepted:
            take(ETAPCommand == dcTap ? "Login Accepted, Waiting For Terminal" : "Login Accepted");
            status(reply, kNetworkStatus);
            pause(750);
            pump();
            return true;
        case tap::LoginReply::Retry:
            take("ReLogin Requested - " + std::to_string(attempt));
            status(reply, kNetworkError);
            break;
        case tap::LoginReply::Denied:
            take("Login Denied");
            return failLogin(reply, 17, kNetworkStatus);
        case tap::LoginReply::None:
            return failLogin("Login Failed", 16);
        }
    }
    pumpSleep(2);
    return failLogin("Login Failed", 16);
}

// ----------------------------------------------------------------- Hangup

bool TKORAlpaPage::Hangup() {
    if (!bConnected && bDropped) return true;
    if (DeviceOperationMode == opmaTCP) {
        // TCP: no logout is sent.
        fTCPTap->close();
        bConnected = false;
        return true;
    }
    if (bConnected) {
        for (int i = 0; i < 99; ++i) pumpSleep(10);
        pump();
        status("Disconnecting...", kConnectionStatus);
        try {
            SendString(std::string{tap::kEOT, tap::kCR});
        } catch (...) {
        }
        pumpSleep(250);
        pumpSleep(250);
    }
    Drop();
    return bConnected;
}

bool TKORAlpaPage::SendPage() {
    if (!Dial()) return false;
    if (DTMFOnly) return true;
    // The send's own result, not the dial's: a failed page is not a success.
    bool sent = SendTextMessage(PinNumber, Message);
    if (bConnected) Hangup();
    return sent;
}

}  // namespace nv
