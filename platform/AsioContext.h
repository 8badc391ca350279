#pragma once
// For platform/ sources only: the Asio context behind an EventLoop.
#include <asio.hpp>

#include "platform/EventLoop.h"

namespace nv {

struct EventLoop::Impl {
    asio::io_context io;
};

}  // namespace nv
