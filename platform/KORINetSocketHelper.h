#pragma once
// Byte-level read and write on a TCP client stream, for the TAP pager's TAP
// over TCP. Text on the wire is Windows-1252 bytes, which is how the engine
// holds text already, so nothing is converted.
#include <cstddef>
#include <string>
#include <string_view>

#include "foundation/KORComCls.h"
#include "platform/TcpStream.h"

namespace nv {

// The seconds counter of this unit: TimerOn does not clear TimedOut.
namespace KORINetSocketHelper {
using TTimeCounter = TInetTimeCounter;
}

class TCustomIPClientHelper {
public:
    static constexpr std::size_t kChunkSize = 6000;

    // Up to 6000 bytes of what has arrived; empty when not connected or when
    // nothing waits. Never blocks (a silent terminal must not hang the TAP
    // waits).
    static std::string ReadAvailable(TcpStream& Client);
    // Sends every byte of Str; the count sent. An empty Str sends nothing and
    // gives 0; failures give 0 or below.
    static int WriteAnsiStr(TcpStream& Client, std::string_view Str);
};

}  // namespace nv
