#pragma once
// Raw client connections to a pipe socket, so a test decides when it writes and
// closes, and a bounded pump of the server's loop.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>

#include "platform/EventLoop.h"

namespace nv::test {

inline int connectRaw(const std::filesystem::path& path, bool nonBlocking = false) {
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

inline void pumpUntil(EventLoop& loop, const std::function<bool()>& cond,
                      std::chrono::milliseconds bound = std::chrono::seconds(10)) {
    auto until = std::chrono::steady_clock::now() + bound;
    while (!cond() && std::chrono::steady_clock::now() < until) loop.pumpFor(std::chrono::milliseconds(10));
}

}  // namespace nv::test
