#pragma once
// The manager's end of the pipes, for tests: a listener on the engine's
// PelmoraConfig socket that keeps every message (one per connection), and a
// sender of commands to PelmoraServer.
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace nv::test {

class FakeManager {
public:
    explicit FakeManager(const std::filesystem::path& socketPath);
    ~FakeManager();
    FakeManager(const FakeManager&) = delete;
    FakeManager& operator=(const FakeManager&) = delete;

    std::vector<std::string> messages() const;
    // The first message, from index `from` on, that `match` accepts; waits up to
    // `timeout` for it.
    std::optional<std::string> waitFor(const std::function<bool(const std::string&)>& match,
                                       std::chrono::milliseconds timeout, std::size_t from = 0);
    // Waits for a message equal to `exact`.
    bool waitForExact(const std::string& exact, std::chrono::milliseconds timeout, std::size_t from = 0);
    std::size_t count() const;

private:
    void run();

    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    std::filesystem::path m_path;
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    std::vector<std::string> m_messages;
    std::thread m_thread;
};

// Sends one command the way the manager does: connect, write, close.
bool sendCommand(const std::filesystem::path& socketPath, const std::string& text);

// Keeps calling `cond` (every 10 ms) until it holds or `timeout` passes.
bool waitUntil(const std::function<bool()>& cond, std::chrono::milliseconds timeout);

}  // namespace nv::test
