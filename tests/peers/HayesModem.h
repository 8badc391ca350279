#pragma once
// A scripted Hayes AT modem on the master side of a pty: answers commands with
// OK (or ERROR where scripted), records every command line it receives, answers
// the dial with the scripted result and, after CONNECT, plays the TAP terminal
// until the escape "+++" returns it to command mode.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TapTerminal.h"

namespace nv::test {

struct HayesScript {
    std::string dialResult = "CONNECT 9600";  // "" = no answer at all
    bool answerAt = true;                     // false: a dead modem, nothing answers
    std::string errorOn;                      // commands starting so are answered ERROR
    TapScript tap;
};

class HayesModem {
public:
    HayesModem(int masterFd, HayesScript script);
    ~HayesModem();
    HayesModem(const HayesModem&) = delete;
    HayesModem& operator=(const HayesModem&) = delete;

    std::vector<std::string> commands() const;
    // Bytes received while on line (what the TAP terminal saw).
    std::string online() const;
    bool loggedOut() const;
    // Reports a lost carrier while on line, as a modem with V1 does.
    void dropCarrier();
    // An incoming call; "ATA" is then answered with the dial result.
    void ring();

private:
    void run();
    void onCommand(const std::string& line);
    void reply(const std::string& text);

    int m_fd;
    HayesScript m_script;
    TapDialogue m_tap;
    mutable std::mutex m_mutex;
    std::vector<std::string> m_commands;
    std::string m_online;
    std::string m_line;
    bool m_isOnline = false;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace nv::test
