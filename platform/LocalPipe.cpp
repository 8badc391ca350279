#include "platform/LocalPipe.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "platform/AsioContext.h"

namespace nv {
namespace fs = std::filesystem;
using local = asio::local::stream_protocol;

// ---- server -------------------------------------------------------------

namespace {

struct Connection {
    explicit Connection(asio::io_context& io) : socket(io), deadline(io) {}
    local::socket socket;
    asio::steady_timer deadline;
    std::string data;
    std::array<char, 4096> buffer{};
    bool done = false;
    bool discard = false;
};

}  // namespace

struct LocalPipeServer::State : std::enable_shared_from_this<LocalPipeServer::State> {
    State(asio::io_context& ioc, Handler h, Limits l)
        : io(ioc), acceptor(ioc), backoffTimer(ioc), handler(std::move(h)), limits(l) {}
    asio::io_context& io;
    local::acceptor acceptor;
    asio::steady_timer backoffTimer;
    Handler handler;
    Limits limits;
    fs::path path;
    bool open = false;
    bool accepting = false;   // an accept is outstanding
    bool backingOff = false;  // out of descriptors: accepting resumes on the timer
    std::size_t buffered = 0;
    std::size_t backoffs = 0;
    // Accepted connections in accept order; a message is handed over only when
    // every connection accepted before it has finished.
    std::deque<std::shared_ptr<Connection>> pending;

    // At the connection cap nothing is accepted: further clients wait in the
    // listen backlog until a message is handed over.
    void accept() {
        if (!open || accepting || backingOff || pending.size() >= limits.maxConnections) return;
        accepting = true;
        auto conn = std::make_shared<Connection>(io);
        acceptor.async_accept(conn->socket, [self = shared_from_this(), conn](const asio::error_code& ec) {
            self->accepting = false;
            if (!self->open || ec == asio::error::operation_aborted) return;
            if (!ec) {
                self->start(conn);
            } else if (outOfResources(ec)) {
                self->backOff();
                return;
            }
            self->accept();
        });
    }

    static bool outOfResources(const asio::error_code& ec) {
        const int v = ec.value();
        return ec.category() == asio::system_category() &&
               (v == EMFILE || v == ENFILE || v == ENOBUFS || v == ENOMEM);
    }

    // Accepting again at once would fail again at once, for as long as the
    // descriptors are short: a busy loop. Pause, then try again.
    void backOff() {
        ++backoffs;
        backingOff = true;
        backoffTimer.expires_after(limits.acceptBackoff);
        backoffTimer.async_wait([self = shared_from_this()](const asio::error_code& ec) {
            self->backingOff = false;
            if (!ec) self->accept();
        });
    }

    void start(const std::shared_ptr<Connection>& conn) {
        pending.push_back(conn);
        conn->deadline.expires_after(limits.readTimeout);
        conn->deadline.async_wait([self = shared_from_this(), conn](const asio::error_code& ec) {
            if (ec || conn->done) return;
            conn->discard = true;
            asio::error_code ignore;
            conn->socket.close(ignore);
        });
        read(conn);
    }

    void read(const std::shared_ptr<Connection>& conn) {
        conn->socket.async_read_some(
            asio::buffer(conn->buffer), [self = shared_from_this(), conn](const asio::error_code& ec, std::size_t n) {
                if (!ec) {
                    conn->data.append(conn->buffer.data(), n);
                    self->buffered += n;
                    if (conn->data.size() > self->limits.maxMessageBytes ||
                        self->buffered > self->limits.maxBufferedBytes) {
                        self->drop(*conn);
                        self->finish(conn);
                        return;
                    }
                    self->read(conn);
                    return;
                }
                if (ec != asio::error::eof) conn->discard = true;
                self->finish(conn);
            });
    }

    // The connection's message is not handed over; its bytes are freed now.
    void drop(Connection& conn) {
        conn.discard = true;
        buffered -= conn.data.size();
        std::string().swap(conn.data);
    }

    void finish(const std::shared_ptr<Connection>& conn) {
        if (conn->done) return;
        conn->done = true;
        asio::error_code ignore;
        conn->deadline.cancel();
        conn->socket.close(ignore);
        deliver();
    }

    void deliver() {
        while (!pending.empty() && pending.front()->done) {
            auto conn = pending.front();
            pending.pop_front();
            buffered -= conn->data.size();
            if (open && !conn->discard && !conn->data.empty()) handler(conn->data);
        }
        accept();
    }

    void close() {
        if (!open) return;
        open = false;
        asio::error_code ignore;
        acceptor.close(ignore);
        backoffTimer.cancel();
        for (auto& c : pending) {
            c->deadline.cancel();
            c->socket.close(ignore);
        }
        pending.clear();
        buffered = 0;
        std::error_code fec;
        fs::remove(path, fec);
    }
};

LocalPipeServer::LocalPipeServer(EventLoop& loop, Handler handler)
    : LocalPipeServer(loop, std::move(handler), Limits{}) {}

LocalPipeServer::LocalPipeServer(EventLoop& loop, Handler handler, Limits limits)
    : m_state(std::make_shared<State>(loop.impl().io, std::move(handler), limits)) {}

LocalPipeServer::~LocalPipeServer() { m_state->close(); }

bool LocalPipeServer::listening() const { return m_state->open; }
std::size_t LocalPipeServer::connections() const { return m_state->pending.size(); }
std::size_t LocalPipeServer::bufferedBytes() const { return m_state->buffered; }
std::size_t LocalPipeServer::acceptBackoffs() const { return m_state->backoffs; }

void LocalPipeServer::listen(const fs::path& path) {
    if (m_state->open) return;
    if (path.native().size() >= sizeof(sockaddr_un::sun_path))
        throw std::runtime_error("Socket path too long: " + path.string());
    std::error_code fec;
    if (fs::exists(fs::symlink_status(path, fec))) {
        std::string ignore;
        if (sendLocalMessage(path, std::string(), std::chrono::milliseconds(25),
                             std::chrono::milliseconds(25), &ignore))
            throw std::runtime_error("Another server is listening on " + path.string());
        fs::remove(path, fec);
    }
    asio::error_code ec;
    local::acceptor& acc = m_state->acceptor;
    acc.open(local::endpoint(path.string()).protocol(), ec);
    if (!ec) acc.bind(local::endpoint(path.string()), ec);
    if (!ec) acc.listen(asio::socket_base::max_listen_connections, ec);
    if (ec) {
        asio::error_code ignore;
        acc.close(ignore);
        throw std::runtime_error(ec.message() + ": " + path.string());
    }
    // Any local user who reaches the socket can inject pages: owner and group only.
    ::chmod(path.c_str(), 0660);
    m_state->path = path;
    m_state->open = true;
    m_state->accept();
}

void LocalPipeServer::close() { m_state->close(); }

// ---- client -------------------------------------------------------------

namespace {

using Clock = std::chrono::steady_clock;

bool fail(std::string* error, const std::string& what) {
    if (error) *error = what + ": " + std::strerror(errno);
    return false;
}

int remainingMs(Clock::time_point until) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

bool connectWithin(int fd, const sockaddr_un& addr, std::chrono::milliseconds wait, std::string* error) {
    auto until = Clock::now() + wait;
    for (;;) {
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof(addr)) == 0) return true;
        if (errno == EINTR) continue;
        if (errno == EINPROGRESS) {
            pollfd p{fd, POLLOUT, 0};
            if (::poll(&p, 1, remainingMs(until)) <= 0) return fail(error, "connect timed out");
            int soerr = 0;
            socklen_t len = sizeof(soerr);
            ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len);
            errno = soerr;
            return soerr == 0 ? true : fail(error, "connect");
        }
        // A full listen backlog: the reader is busy; try again until the wait is over.
        if (errno != EAGAIN || Clock::now() >= until) return fail(error, "connect");
        ::usleep(2000);
    }
}

bool writeWithin(int fd, const std::string& data, std::chrono::milliseconds bound, std::string* error) {
    auto until = Clock::now() + bound;
    std::size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) return fail(error, "write");
        if (Clock::now() >= until) {
            errno = ETIMEDOUT;
            return fail(error, "write");
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, remainingMs(until));
    }
    return true;
}

}  // namespace

bool sendLocalMessage(const fs::path& path, const std::string& message, std::chrono::milliseconds connectWait,
                      std::chrono::milliseconds writeBound, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (path.native().size() >= sizeof(addr.sun_path)) {
        if (error) *error = "socket path too long";
        return false;
    }
    std::memcpy(addr.sun_path, path.c_str(), path.native().size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(error, "socket");
    bool ok = connectWithin(fd, addr, connectWait, error) && writeWithin(fd, message, writeBound, error);
    ::close(fd);
    return ok;
}

// ---- sender thread ------------------------------------------------------

PipeSender::PipeSender(fs::path path) : PipeSender(std::move(path), Options{}) {}

PipeSender::PipeSender(fs::path path, Options options) : m_path(std::move(path)), m_options(options) {
    m_thread = std::thread([this] { runThread(); });
}

PipeSender::~PipeSender() {
    flush(m_options.flushOnClose);
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cv.notify_all();
    m_thread.join();
}

void PipeSender::send(std::string message) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_stop || m_queuedBytes + message.size() > m_options.maxQueuedBytes) {
            ++m_dropped;
            return;
        }
        m_queuedBytes += message.size();
        m_queue.push_back(std::move(message));
    }
    m_cv.notify_all();
}

bool PipeSender::flush(std::chrono::milliseconds bound) {
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_cv.wait_for(lock, bound, [this] { return m_queue.empty() && !m_busy; });
}

std::size_t PipeSender::dropped() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_dropped;
}

void PipeSender::runThread() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_stop || !m_queue.empty(); });
        if (m_stop) return;
        std::string msg = std::move(m_queue.front());
        m_queue.pop_front();
        m_queuedBytes -= msg.size();
        m_busy = true;
        lock.unlock();
        bool ok = sendLocalMessage(m_path, msg, m_options.connectWait, m_options.writeBound);
        lock.lock();
        m_busy = false;
        if (!ok) ++m_dropped;
        m_cv.notify_all();
    }
}

}  // namespace nv
