#pragma once
// A scripted GSM modem on a pseudo-terminal, answering the AT commands of the
// SMS command set (3GPP TS 27.005 / 27.007) as its script says. Commands end at
// CR (an LF after it is ignored); after AT+CMGS the modem prompts "\r\n> " and
// takes the message up to Ctrl-Z (ESC cancels it).
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv::test {

struct GsmModemScript {
    enum class Submit { Ok, OkWithoutReference, Error, CmsError, Silence };

    bool echo = false;    // echo each command (and the message) as real modems do after ATZ
    bool silent = false;  // answer nothing at all
    std::string manufacturer = "WAVECOM MODEM";
    std::string revision = "641b09gg.Q2406B";
    std::string model = "MULTIBAND  900E  1800";
    std::string imei = "123456789012345";
    std::string csms = "0,1,1,1";  // AT+CSMS? fields
    // Answers in turn; the last one repeats. "ERROR" answers ERROR.
    std::vector<std::string> creg = {"0,1"};
    std::vector<std::string> cpas = {"0"};
    std::string network = "Vodafone";
    bool promptRefused = false;  // AT+CMGS answered "+CMS ERROR: 304" instead of "> "
    Submit submit = Submit::Ok;
    int messageRef = 12;
    int messageRefStep = 0;  // added to messageRef after each message taken
    std::set<std::string> refuse;  // commands (without CR) answered ERROR
};

class GsmModem {
public:
    explicit GsmModem(GsmModemScript script = {});
    ~GsmModem();
    GsmModem(const GsmModem&) = delete;
    GsmModem& operator=(const GsmModem&) = delete;

    // The device the code under test opens.
    const std::string& devicePath() const { return m_pty.slavePath(); }
    void setScript(const GsmModemScript& script);

    // Every byte received, in order.
    std::string received() const;
    void clearReceived();
    // Message bodies taken after AT+CMGS (without Ctrl-Z).
    std::vector<std::string> bodies() const;
    // Waits until `needle` is among the received bytes.
    bool waitReceived(const std::string& needle, std::chrono::milliseconds timeout) const;
    // Sends bytes as the modem would on its own (an incoming "+CMT:").
    void sendUnsolicited(const std::string& bytes);

private:
    void run();
    void takeByte(char c);
    void handleCommand(const std::string& cmd);
    void handleBody();
    std::string next(std::vector<std::string>& answers);
    void reply(const std::string& bytes);

    PtyPair m_pty;
    mutable std::mutex m_mutex;
    GsmModemScript m_script;
    std::string m_received;
    std::vector<std::string> m_bodies;
    std::string m_line;
    std::string m_body;
    bool m_inBody = false;
    bool m_skipLf = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace nv::test
