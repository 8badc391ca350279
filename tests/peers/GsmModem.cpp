#include "tests/peers/GsmModem.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

namespace nv::test {
namespace {

constexpr char kCtrlZ = 0x1A;
constexpr char kEsc = 0x1B;

std::string info(const std::string& line) { return "\r\n" + line + "\r\n\r\nOK\r\n"; }

}  // namespace

GsmModem::GsmModem(GsmModemScript script) : m_script(std::move(script)) {
    // Holding the slave keeps the master readable between the opens and
    // closes of the code under test.
    m_pty.holdSlave();
    m_thread = std::thread([this] { run(); });
}

GsmModem::~GsmModem() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
}

void GsmModem::setScript(const GsmModemScript& script) {
    std::lock_guard lock(m_mutex);
    m_script = script;
}

std::string GsmModem::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

void GsmModem::clearReceived() {
    std::lock_guard lock(m_mutex);
    m_received.clear();
    m_bodies.clear();
}

std::vector<std::string> GsmModem::bodies() const {
    std::lock_guard lock(m_mutex);
    return m_bodies;
}

bool GsmModem::waitReceived(const std::string& needle, std::chrono::milliseconds timeout) const {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (received().find(needle) != std::string::npos) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
}

void GsmModem::sendUnsolicited(const std::string& bytes) { m_pty.write(bytes); }

void GsmModem::run() {
    while (!m_stop) {
        pollfd p{m_pty.master(), POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        char buf[512];
        ssize_t n = ::read(m_pty.master(), buf, sizeof buf);
        if (n <= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            continue;
        }
        std::lock_guard lock(m_mutex);
        m_received.append(buf, static_cast<std::size_t>(n));
        for (ssize_t i = 0; i < n; ++i) takeByte(buf[i]);
    }
}

// Called with m_mutex held.
void GsmModem::takeByte(char c) {
    if (m_inBody) {
        if (m_skipLf && c == '\n') {
            m_skipLf = false;
            return;
        }
        m_skipLf = false;
        if (c == kCtrlZ) {
            handleBody();
        } else if (c == kEsc) {
            m_inBody = false;
            m_body.clear();
            reply("\r\nOK\r\n");
        } else {
            m_body += c;
        }
        return;
    }
    if (c == '\r') {
        std::string cmd = std::move(m_line);
        m_line.clear();
        if (m_script.echo) reply(cmd + "\r");
        handleCommand(cmd);
    } else if (c == '\n' && m_line.empty()) {
        // LF of a CR LF line end
    } else {
        m_line += c;
    }
}

void GsmModem::handleCommand(const std::string& cmd) {
    const GsmModemScript& s = m_script;
    if (s.silent || cmd.empty()) return;
    if (s.refuse.count(cmd)) return reply("\r\nERROR\r\n");
    if (cmd.starts_with("AT+CMGS=")) {
        if (s.promptRefused) return reply("\r\n+CMS ERROR: 304\r\n");
        m_inBody = true;
        m_skipLf = true;
        m_body.clear();
        return reply("\r\n> ");
    }
    if (cmd == "AT+CGMI") return reply(info(s.manufacturer));
    if (cmd == "AT+CGMR") return reply(info(s.revision));
    if (cmd == "AT+CGMM") return reply(info(s.model));
    if (cmd == "AT+CGSN") return reply(info(s.imei));
    if (cmd == "AT+CSMS?") return reply(info("+CSMS: " + s.csms));
    if (cmd == "AT+CSMS=0") return reply(info("+CSMS: 1,1,1"));
    if (cmd == "AT+COPS=3,0;+COPS?") return reply(info("+COPS: 0,0,\"" + s.network + "\""));
    if (cmd == "AT+CREG?" || cmd == "AT+CPAS") {
        bool creg = cmd == "AT+CREG?";
        std::string a = next(creg ? m_script.creg : m_script.cpas);
        if (a == "ERROR") return reply("\r\nERROR\r\n");
        return reply(info((creg ? "+CREG: " : "+CPAS: ") + a));
    }
    if (cmd == "ATZ" || cmd == "AT" || cmd.starts_with("AT+CPMS=") || cmd.starts_with("AT+CMGF=") ||
        cmd.starts_with("AT+CSCA=") || cmd.starts_with("AT+CSCS=") || cmd.starts_with("AT+CNMI=") ||
        cmd.starts_with("AT+CMGD="))
        return reply("\r\nOK\r\n");
    reply("\r\nERROR\r\n");
}

void GsmModem::handleBody() {
    m_inBody = false;
    m_bodies.push_back(m_body);
    if (m_script.echo) reply(m_body);
    m_body.clear();
    switch (m_script.submit) {
        case GsmModemScript::Submit::Ok:
            reply(info("+CMGS: " + std::to_string(m_script.messageRef)));
            m_script.messageRef += m_script.messageRefStep;
            break;
        case GsmModemScript::Submit::OkWithoutReference:
            reply("\r\nOK\r\n");
            break;
        case GsmModemScript::Submit::Error:
            reply("\r\nERROR\r\n");
            break;
        case GsmModemScript::Submit::CmsError:
            reply("\r\n+CMS ERROR: 500\r\n");
            break;
        case GsmModemScript::Submit::Silence:
            break;
    }
}

std::string GsmModem::next(std::vector<std::string>& answers) {
    if (answers.empty()) return "ERROR";
    std::string a = answers.front();
    if (answers.size() > 1) answers.erase(answers.begin());
    return a;
}

void GsmModem::reply(const std::string& bytes) { m_pty.write(bytes); }

}  // namespace nv::test
