#pragma once
// A scripted serial paging encoder on the far end of a pseudo-terminal, for the
// port tester. It knows the encoder's habit from its description: each frame
// (SOH ... EOT) is echoed, then a status reply follows. The replies are spelt
// here as raw bytes, independent of the code under test.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/peers/TestSupport.h"

namespace nv::test {

class EncoderPeer {
public:
    // The bytes an encoder writes after the echo.
    static std::string ack();                          // SOH ACK "V8.01,00,1,1,1A" EOT
    static std::string nak(const std::string& code);    // SOH NAK code EOT
    static std::string refused(const std::string& code);  // SOH 0x0F code EOT

    explicit EncoderPeer(PtyPair& pty);
    ~EncoderPeer();
    EncoderPeer(const EncoderPeer&) = delete;
    EncoderPeer& operator=(const EncoderPeer&) = delete;

    // What follows the echo of the next frames, in order (empty: silence).
    // Frames beyond the script get ack().
    void script(std::vector<std::string> afterEcho);
    // Whether frames are echoed at all (default yes).
    void setEcho(bool on) { m_echo.store(on); }

    // The frames received so far, each SOH through EOT.
    std::vector<std::string> frames() const;
    // Everything received, frames and anything between them.
    std::string received() const;
    bool waitFrames(std::size_t n, std::chrono::milliseconds timeout) const;

private:
    void run();

    PtyPair& m_pty;
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    std::deque<std::string> m_script;
    std::vector<std::string> m_frames;
    std::string m_received;
    std::atomic<bool> m_echo{true};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

}  // namespace nv::test
