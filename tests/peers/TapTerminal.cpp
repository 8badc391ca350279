#include "tests/peers/TapTerminal.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace nv::test {

namespace {
constexpr char STX = 0x02, ETX = 0x03, EOT = 0x04, ACK = 0x06, CR = 0x0D, ESC = 0x1B, US = 0x1F;
}

Clock::TimePoint ScaledClock::now() const {
    auto real = std::chrono::steady_clock::now() - m_start;
    return TimePoint(std::chrono::hours(1)) + real * m_factor;
}

void ScaledClock::sleepFor(std::chrono::milliseconds d) {
    if (d.count() <= 0) return;
    std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(d) / m_factor);
}

std::string TapScript::ack() { return std::string{ACK, CR}; }
std::string TapScript::goAhead() { return std::string{ESC, '[', 'p', CR}; }

std::string TapDialogue::pick(const std::vector<std::string>& list, int index, const std::string& fallback) {
    if (list.empty()) return fallback;
    return list[static_cast<std::size_t>(std::min<int>(index, static_cast<int>(list.size()) - 1))];
}

std::string TapDialogue::onBytes(const std::string& bytes) {
    m_buf += bytes;
    std::string out;
    for (;;) {
        const std::size_t eot = m_buf.find(std::string{EOT, CR});
        if (eot != std::string::npos && m_buf.find(STX) > eot && m_buf.find(ESC) > eot) {
            m_loggedOut = true;
            m_buf.erase(0, eot + 2);
            continue;
        }
        if (m_state == State::Prompt) {
            const std::size_t cr = m_buf.find(CR);
            if (cr == std::string::npos) return out;
            m_buf.erase(0, cr + 1);
            if (m_script.idPrompt) {
                out += "ID=";
                m_state = State::Login;
            }
            continue;
        }
        if (m_state == State::Login) {
            const std::size_t esc = m_buf.find(std::string{ESC} + "PG1");
            const std::size_t cr = esc == std::string::npos ? std::string::npos : m_buf.find(CR, esc);
            if (cr == std::string::npos) {
                // A CR alone while waiting for the login asks for the prompt again.
                if (esc == std::string::npos && m_buf.find(CR) != std::string::npos) {
                    m_buf.erase(0, m_buf.find(CR) + 1);
                    out += "ID=";
                    continue;
                }
                return out;
            }
            m_buf.erase(0, cr + 1);
            const std::string reply = pick(m_script.loginReplies, m_logins++, TapScript::goAhead());
            out += reply;
            if (reply.find(ACK) != std::string::npos || reply.find("[p") != std::string::npos)
                m_state = State::Blocks;
            continue;
        }
        // A block: STX ... ETX or US, three checksum characters, CR.
        const std::size_t stx = m_buf.find(STX);
        if (stx == std::string::npos) return out;
        const std::size_t end = m_buf.find_first_of(std::string{ETX, US}, stx);
        if (end == std::string::npos || m_buf.size() < end + 5) return out;
        m_buf.erase(0, end + 5);
        out += pick(m_script.blockReplies, m_blocks++, TapScript::ack());
    }
}

void writeAllFd(int fd, const std::string& bytes) {
    std::size_t off = 0;
    for (int tries = 0; off < bytes.size() && tries < 500; ++tries) {
        ssize_t n = ::send(fd, bytes.data() + off, bytes.size() - off, MSG_NOSIGNAL);
        if (n < 0 && errno == ENOTSOCK) n = ::write(fd, bytes.data() + off, bytes.size() - off);
        if (n > 0) {
            off += static_cast<std::size_t>(n);
            continue;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 10);
    }
}

TapTerminal TapTerminal::onTcp(TapScript script) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 4) != 0)
        throw std::runtime_error("TapTerminal: cannot listen");
    return TapTerminal(std::move(script), -1, fd);
}

TapTerminal TapTerminal::onFd(int fd, TapScript script) { return TapTerminal(std::move(script), fd, -1); }

TapTerminal::TapTerminal(TapScript script, int fd, int listenFd)
    : m_dialogue(std::move(script)), m_fd(fd), m_listenFd(listenFd) {
    if (m_listenFd >= 0) {
        sockaddr_in addr{};
        socklen_t len = sizeof addr;
        ::getsockname(m_listenFd, reinterpret_cast<sockaddr*>(&addr), &len);
        m_port = ntohs(addr.sin_port);
    }
    m_thread = std::thread([this] { run(); });
}

TapTerminal::~TapTerminal() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listenFd >= 0) ::close(m_listenFd);
}

void TapTerminal::run() {
    if (m_fd >= 0) {
        serve(m_fd);
        return;
    }
    while (!m_stop) {
        pollfd p{m_listenFd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        int conn = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (conn < 0) continue;
        m_peerClosed = false;
        {
            std::lock_guard lock(m_mutex);
            m_dialogue.restart();
        }
        serve(conn);
        ::close(conn);
        m_peerClosed = true;
    }
}

// Until stopped, or until a socket peer closes.
void TapTerminal::serve(int fd) {
    const bool socket = m_listenFd >= 0;
    while (!m_stop) {
        if (!m_heldReply.empty() && m_holdAfter.load() < 0) {
            writeAllFd(fd, m_heldReply);
            m_heldReply.clear();
        }
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 10) <= 0) continue;
        char buf[4096];
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n <= 0) {
            if (socket && (n == 0 || (errno != EAGAIN && errno != EINTR))) return;
            ::usleep(5000);  // a pty whose slave is closed reports EIO
            continue;
        }
        std::string got(buf, static_cast<std::size_t>(n));
        std::string reply;
        {
            std::lock_guard lock(m_mutex);
            m_received += got;
            reply = m_dialogue.onBytes(got);
            int holdAfter = m_holdAfter.load();
            if (holdAfter >= 0 && m_dialogue.blocksSeen() > holdAfter) {
                m_heldReply += reply;
                reply.clear();
            }
        }
        if (!reply.empty()) writeAllFd(fd, reply);
    }
}

std::string TapTerminal::received() const {
    std::lock_guard lock(m_mutex);
    return m_received;
}

int TapTerminal::blocksSeen() const {
    std::lock_guard lock(m_mutex);
    return m_dialogue.blocksSeen();
}

int TapTerminal::loginsSeen() const {
    std::lock_guard lock(m_mutex);
    return m_dialogue.loginsSeen();
}

bool TapTerminal::loggedOut() const {
    std::lock_guard lock(m_mutex);
    return m_dialogue.loggedOut();
}

}  // namespace nv::test
