#pragma once
// The "+CMT:" indications the GSM sender's receive thread reads while
// receiving is on (text mode): a header line with the sender and the time
// stamp in double quotes, then the message on the next line. Read through a
// ByteStream on a Clock, so a test or a fuzz target feeds it scripted bytes.
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "foundation/Clock.h"
#include "platform/ByteStream.h"

namespace nv {

struct GsmRxOptions {
    // How long the text line after a header is waited for.
    std::chrono::milliseconds rxLine{5000};
    // The owner's stop: ends the wait for a text line.
    std::function<bool()> stop;
};

// One poll of the receive thread: takes what has arrived on `in` and hands
// every complete indication to `onIndication` as the thread's progress text
// "4, <sender>|<stamp>|<text>". Bytes before the first '+' are noise; what
// follows the last indication, or an indication whose text never came, is
// dropped with the poll.
void readGsmRxIndications(ByteStream& in, Clock& clock, const GsmRxOptions& options,
                          const std::function<void(const std::string& progress)>& onIndication);

}  // namespace nv
