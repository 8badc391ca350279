#pragma once
// The manager's ends of the two pipes: a server on "PelmoraConfig" that hands
// every message the service sends to the GUI thread, in the order the
// connections were accepted, and a sender of commands to "PelmoraServer" that
// never blocks the GUI thread (one message per connection, 25 ms to connect,
// what no one takes is dropped). The socket code is platform/LocalPipe's, the
// message text platform/PipeMessage's, shared with the service.
#include <QByteArray>
#include <QObject>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace nv {

class EventLoop;
class LocalPipeServer;
class PipeSender;

class PipeLink : public QObject {
    Q_OBJECT
public:
    explicit PipeLink(std::filesystem::path dataDir, QObject* parent = nullptr);
    ~PipeLink() override;

    // Listens on <data dir>/PelmoraConfig (mode 0660). A socket file left by a
    // dead manager is replaced; one a live manager still listens on is not.
    // Throws std::runtime_error with the reason.
    void listen();
    bool listening() const { return m_thread.joinable(); }

    // Queues one command (Windows-1252 bytes, sent as they are) for the service.
    void send(const std::string& message);
    // Waits until the queued commands were written or dropped (tests, shut down).
    bool flush(std::chrono::milliseconds bound);

signals:
    // One received message, on the GUI thread. Empty messages (the probe of a
    // server that checks for a live listener) are not passed on.
    void messageReceived(const QByteArray& message);

private:
    std::filesystem::path m_dataDir;
    std::unique_ptr<EventLoop> m_loop;
    std::unique_ptr<LocalPipeServer> m_server;
    std::unique_ptr<PipeSender> m_sender;
    std::thread m_thread;
};

}  // namespace nv
