#pragma once
// The two pipes between the engine and the manager, as Unix stream sockets in
// the data directory. One message per connection: the client connects, writes
// the whole message and closes; the server reads to end of file and hands the
// messages over in the order the connections were accepted.
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/EventLoop.h"

namespace nv {

// The command socket's caps. Connections beyond kPipeMaxConnections wait in the
// listen backlog until one is handed over; a message over kPipeMaxMessageBytes,
// or one that would push the bytes held for unfinished messages past
// kPipeMaxBufferedBytes, is dropped with its connection. The service needs
// about kPipeMaxConnections descriptors for this socket (LimitNOFILE).
inline constexpr std::size_t kPipeMaxConnections = 16;
inline constexpr std::size_t kPipeMaxMessageBytes = 1 << 20;
inline constexpr std::size_t kPipeMaxBufferedBytes = 4 << 20;

// Listens on the loop's thread; `handler` runs there, once per message.
class LocalPipeServer {
public:
    using Handler = std::function<void(const std::string& message)>;
    struct Limits {
        std::size_t maxMessageBytes = kPipeMaxMessageBytes;
        std::size_t maxConnections = kPipeMaxConnections;
        std::size_t maxBufferedBytes = kPipeMaxBufferedBytes;
        // A client that neither finishes nor closes is dropped after this, so it
        // cannot hold back the messages accepted after it.
        std::chrono::milliseconds readTimeout{5000};
        // Out of descriptors (EMFILE, ENFILE) accepting pauses this long
        // instead of failing again at once, round after round.
        std::chrono::milliseconds acceptBackoff{100};
    };

    LocalPipeServer(EventLoop& loop, Handler handler);
    LocalPipeServer(EventLoop& loop, Handler handler, Limits limits);
    ~LocalPipeServer();
    LocalPipeServer(const LocalPipeServer&) = delete;
    LocalPipeServer& operator=(const LocalPipeServer&) = delete;

    // Binds `path` with mode 0660. A stale socket file is removed first; a live
    // server on the path is not taken over. Throws std::runtime_error with the
    // reason.
    void listen(const std::filesystem::path& path);
    // Stops listening and removes the socket file. Loop thread only.
    void close();
    bool listening() const;

    // Loop thread: connections accepted and not yet handed over, the bytes
    // they hold, and how often accepting paused for want of descriptors.
    std::size_t connections() const;
    std::size_t bufferedBytes() const;
    std::size_t acceptBackoffs() const;

    struct State;

private:
    std::shared_ptr<State> m_state;
};

// One message on one connection. Connecting waits at most `connectWait` (a busy
// listener), writing at most `writeBound`; false with a reason otherwise.
bool sendLocalMessage(const std::filesystem::path& path, const std::string& message,
                      std::chrono::milliseconds connectWait, std::chrono::milliseconds writeBound,
                      std::string* error = nullptr);

// Sends messages from its own thread so that a slow or absent reader never
// stalls the caller. Messages keep their order; what cannot be delivered, or
// would push the unsent bytes past the cap, is dropped.
class PipeSender {
public:
    struct Options {
        std::chrono::milliseconds connectWait{25};
        std::chrono::milliseconds writeBound{250};
        std::size_t maxQueuedBytes = 1 << 20;
        std::chrono::milliseconds flushOnClose{1000};
    };

    explicit PipeSender(std::filesystem::path path);
    PipeSender(std::filesystem::path path, Options options);
    // Sends what is queued for at most `flushOnClose`, then stops.
    ~PipeSender();
    PipeSender(const PipeSender&) = delete;
    PipeSender& operator=(const PipeSender&) = delete;

    // Any thread.
    void send(std::string message);
    // Waits until everything queued was sent or dropped, or `bound` passed.
    bool flush(std::chrono::milliseconds bound);
    std::size_t dropped() const;

private:
    void runThread();

    std::filesystem::path m_path;
    Options m_options;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::deque<std::string> m_queue;
    std::size_t m_queuedBytes = 0;
    std::size_t m_dropped = 0;
    bool m_busy = false;
    bool m_stop = false;
    std::thread m_thread;
};

}  // namespace nv
