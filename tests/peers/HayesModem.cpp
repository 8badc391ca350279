#include "tests/peers/HayesModem.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace nv::test {

HayesModem::HayesModem(int masterFd, HayesScript script)
    : m_fd(masterFd), m_script(std::move(script)), m_tap(m_script.tap) {
    m_thread = std::thread([this] { run(); });
}

HayesModem::~HayesModem() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

std::vector<std::string> HayesModem::commands() const {
    std::lock_guard lock(m_mutex);
    return m_commands;
}

std::string HayesModem::online() const {
    std::lock_guard lock(m_mutex);
    return m_online;
}

bool HayesModem::loggedOut() const {
    std::lock_guard lock(m_mutex);
    return m_tap.loggedOut();
}

void HayesModem::dropCarrier() {
    std::lock_guard lock(m_mutex);
    m_isOnline = false;
    writeAllFd(m_fd, "\r\nNO CARRIER\r\n");
}

void HayesModem::ring() {
    std::lock_guard lock(m_mutex);
    reply("RING");
}

void HayesModem::reply(const std::string& text) { writeAllFd(m_fd, "\r\n" + text + "\r\n"); }

// Called with the lock held.
void HayesModem::onCommand(const std::string& line) {
    m_commands.push_back(line);
    if (!m_script.answerAt) return;
    if (!m_script.errorOn.empty() && line.rfind(m_script.errorOn, 0) == 0) {
        reply("ERROR");
        return;
    }
    if (line.rfind("ATD", 0) == 0 || line == "ATA") {
        if (m_script.dialResult.empty()) return;
        reply(m_script.dialResult);
        if (m_script.dialResult.rfind("CONNECT", 0) == 0) {
            m_isOnline = true;
            m_tap.restart();
        }
        return;
    }
    if (line.rfind("AT", 0) == 0) reply("OK");
}

void HayesModem::run() {
    while (!m_stop) {
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[4096];
        ssize_t n = ::read(m_fd, buf, sizeof buf);
        if (n <= 0) {
            ::usleep(5000);  // EIO while the slave is closed
            continue;
        }
        std::lock_guard lock(m_mutex);
        for (ssize_t i = 0; i < n; ++i) {
            const char c = buf[i];
            if (m_isOnline) {
                m_online += c;
                // The escape, sent between guard times, returns to command mode.
                if (m_online.size() >= 3 && m_online.compare(m_online.size() - 3, 3, "+++") == 0) {
                    m_commands.push_back("+++");
                    m_isOnline = false;
                    m_line.clear();
                    reply("OK");
                    continue;
                }
                const std::string out = m_tap.onBytes(std::string(1, c));
                if (!out.empty()) writeAllFd(m_fd, out);
                continue;
            }
            if (c == '\r') {
                if (!m_line.empty()) onCommand(m_line);
                m_line.clear();
            } else if (c != '\n') {
                m_line += c;
            }
        }
    }
}

}  // namespace nv::test
