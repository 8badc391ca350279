// Before any Qt header: Qt's "signals" keyword macro would break EventLoop.h.
#include "platform/EventLoop.h"
#include "platform/LocalPipe.h"
#include "platform/PipeMessage.h"
// clang-format off
#include "manager/PipeLink.h"
// clang-format on

#include <QMetaObject>

namespace nv {

PipeLink::PipeLink(std::filesystem::path dataDir, QObject* parent)
    : QObject(parent), m_dataDir(std::move(dataDir)) {
    PipeSender::Options options;
    options.connectWait = std::chrono::milliseconds(25);
    m_sender = std::make_unique<PipeSender>(m_dataDir / kServerPipeName, options);
}

PipeLink::~PipeLink() {
    if (m_thread.joinable()) {
        m_loop->quit();
        m_thread.join();
    }
    m_server.reset();
    m_loop.reset();
}

void PipeLink::listen() {
    if (listening()) return;
    auto loop = std::make_unique<EventLoop>();
    // The server reads on the loop's thread; each message is queued to this
    // object's thread, which keeps the order in which they were handed over.
    // The loop thread is joined before this object goes, and Qt drops events
    // queued to a deleted object.
    auto server = std::make_unique<LocalPipeServer>(*loop, [this](const std::string& message) {
        if (message.empty()) return;
        QByteArray bytes(message.data(), static_cast<qsizetype>(message.size()));
        QMetaObject::invokeMethod(
            this, [this, bytes] { emit messageReceived(bytes); }, Qt::QueuedConnection);
    });
    server->listen(m_dataDir / kConfigPipeName);  // throws with the reason
    m_loop = std::move(loop);
    m_server = std::move(server);
    m_thread = std::thread([loop = m_loop.get()] { loop->run(); });
}

void PipeLink::send(const std::string& message) { m_sender->send(message); }

bool PipeLink::flush(std::chrono::milliseconds bound) { return m_sender->flush(bound); }

}  // namespace nv
