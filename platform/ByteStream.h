#pragma once
// The byte stream a dialogue reads and writes: the serial port, the TCP (or
// TLS) stream and a connected modem call sit behind it in the service, a
// scripted stream in tests and fuzz targets. A dialogue written against it
// runs without a socket, a device or a thread of its own.
//
// Threads: a stream belongs to the thread running the dialogue.
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

namespace nv {

class ByteStream {
public:
    virtual ~ByteStream() = default;
    // At most maxBytes of what has arrived; empty when nothing has. Never blocks.
    virtual std::string readAvailable(std::size_t maxBytes) = 0;
    // Waits until readAvailable() has something or the stream went down, up to
    // `timeout`; false on time-out, cancel or when down.
    virtual bool waitReadable(std::chrono::milliseconds timeout) = 0;
    // Sends every byte within `timeout`; false when not all went out.
    virtual bool writeAll(std::string_view data, std::chrono::milliseconds timeout) = 0;
    // False once the peer closed, the line dropped or an error ended the stream.
    virtual bool up() const = 0;
};

}  // namespace nv
