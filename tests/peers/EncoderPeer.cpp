#include "tests/peers/EncoderPeer.h"

namespace nv::test {

using namespace std::chrono_literals;

std::string EncoderPeer::ack() { return fromHex("01 06") + "V8.01,00,1,1,1A" + fromHex("04"); }
std::string EncoderPeer::nak(const std::string& code) { return fromHex("01 15") + code + fromHex("04"); }
std::string EncoderPeer::refused(const std::string& code) { return fromHex("01 0F") + code + fromHex("04"); }

EncoderPeer::EncoderPeer(PtyPair& pty) : m_pty(pty) { m_thread = std::thread([this] { run(); }); }

EncoderPeer::~EncoderPeer() {
    m_stop.store(true);
    m_thread.join();
}

void EncoderPeer::script(std::vector<std::string> afterEcho) {
    std::lock_guard lk(m_mutex);
    m_script.assign(afterEcho.begin(), afterEcho.end());
}

std::vector<std::string> EncoderPeer::frames() const {
    std::lock_guard lk(m_mutex);
    return m_frames;
}

std::string EncoderPeer::received() const {
    std::lock_guard lk(m_mutex);
    return m_received;
}

bool EncoderPeer::waitFrames(std::size_t n, std::chrono::milliseconds timeout) const {
    std::unique_lock lk(m_mutex);
    return m_changed.wait_for(lk, timeout, [&] { return m_frames.size() >= n; });
}

void EncoderPeer::run() {
    std::string pending;
    while (!m_stop.load()) {
        std::string got = m_pty.read(1, 20ms);
        if (got.empty()) continue;
        pending += got;
        std::string reply;
        {
            std::lock_guard lk(m_mutex);
            m_received += got;
            if (got.back() != '\x04') continue;
            std::size_t soh = pending.find('\x01');
            std::string frame = soh == std::string::npos ? pending : pending.substr(soh);
            pending.clear();
            m_frames.push_back(frame);
            std::string after = ack();
            if (!m_script.empty()) {
                after = m_script.front();
                m_script.pop_front();
            }
            reply = (m_echo.load() ? frame : std::string()) + after;
        }
        m_changed.notify_all();
        if (!reply.empty()) m_pty.write(reply);
    }
}

}  // namespace nv::test
