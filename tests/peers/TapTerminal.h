#pragma once
// A scripted TAP (IXO) paging terminal for the tests: answers CR with "ID=",
// the login with the scripted replies, each block with the next scripted
// reply, and records every byte it received. It runs on its own thread over a
// loopback TCP listener or the master side of a pty; the same dialogue logic
// also serves the scripted Hayes modem once it has connected.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "foundation/Clock.h"

namespace nv::test {

// Real time run faster: every second of the code under test passes in
// 1/factor of a real second, so second-long waits and pauses stay short while
// a peer thread still gets real time to answer.
class ScaledClock final : public Clock {
public:
    explicit ScaledClock(int factor) : m_factor(factor), m_start(std::chrono::steady_clock::now()) {}
    TimePoint now() const override;
    void sleepFor(std::chrono::milliseconds d) override;

private:
    int m_factor;
    std::chrono::steady_clock::time_point m_start;
};

struct TapScript {
    bool idPrompt = true;                     // answer a CR with "ID="
    std::vector<std::string> loginReplies;    // one per login request; then the last again
    std::vector<std::string> blockReplies;    // one per block; then the last again
    static std::string ack();                 // ACK CR
    static std::string goAhead();             // ESC "[p" CR
};

// The dialogue alone: bytes in, bytes out.
class TapDialogue {
public:
    explicit TapDialogue(TapScript script) : m_script(std::move(script)) {}
    // Bytes the terminal answers to what just arrived.
    std::string onBytes(const std::string& bytes);
    // A new connection starts at the prompt again; the counts go on.
    void restart() {
        m_state = State::Prompt;
        m_buf.clear();
    }
    int blocksSeen() const { return m_blocks; }
    int loginsSeen() const { return m_logins; }
    bool loggedOut() const { return m_loggedOut; }

private:
    enum class State { Prompt, Login, Blocks };
    static std::string pick(const std::vector<std::string>& list, int index, const std::string& fallback);

    TapScript m_script;
    State m_state = State::Prompt;
    std::string m_buf;
    int m_logins = 0;
    int m_blocks = 0;
    bool m_loggedOut = false;
};

class TapTerminal {
public:
    // Listens on 127.0.0.1, an ephemeral port; one connection at a time.
    static TapTerminal onTcp(TapScript script);
    // Speaks on a pty master (not owned).
    static TapTerminal onFd(int fd, TapScript script);

    TapTerminal(TapTerminal&& other) = delete;
    ~TapTerminal();

    std::uint16_t port() const { return m_port; }
    std::string received() const;
    int blocksSeen() const;
    int loginsSeen() const;
    bool loggedOut() const;
    // True once the TCP peer closed its connection.
    bool peerClosed() const { return m_peerClosed.load(); }
    // Keeps back the answers from the block after the `blocks`-th on, until
    // release(): the sender then waits in the middle of its batch.
    void holdAfterBlocks(int blocks) { m_holdAfter.store(blocks); }
    void release() { m_holdAfter.store(-1); }

private:
    TapTerminal(TapScript script, int fd, int listenFd);
    void run();
    void serve(int fd);

    TapDialogue m_dialogue;
    mutable std::mutex m_mutex;
    std::string m_received;
    int m_fd = -1;
    int m_listenFd = -1;
    std::uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_peerClosed{false};
    std::atomic<int> m_holdAfter{-1};
    std::string m_heldReply;
    std::thread m_thread;
};

// Writes all of `bytes` to a descriptor (non-blocking pty or socket).
void writeAllFd(int fd, const std::string& bytes);

}  // namespace nv::test
