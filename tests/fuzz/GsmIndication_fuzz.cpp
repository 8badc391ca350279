// The GSM receive thread's "+CMT:" indications, read in the chunks the input
// cuts, with a text-line wait on a stepped clock: every indication handed on
// is one line ("4, sender|stamp|text", no CR or LF), and a poll ends.
#include <algorithm>

#include "protocols/GsmRxIndication.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/peers/ScriptedByteStream.h"

using namespace nv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t wait = in.byte();
    const std::uint8_t polls = in.byte() % 4 + 1;

    test::SteppedClock clock;
    test::ScriptedByteStream line(clock);
    std::size_t delivered = 0;
    for (int i = 0; i < 256 && !in.rest().empty(); ++i) {
        std::string chunk = in.field();
        delivered += chunk.size();
        line.deliver(std::move(chunk));
    }
    GsmRxOptions options;
    options.rxLine = std::chrono::milliseconds(wait * 40);
    std::size_t handed = 0;
    for (int p = 0; p < polls; ++p) {
        readGsmRxIndications(line, clock, options, [&](const std::string& progress) {
            NV_FUZZ_CHECK(progress.starts_with("4, "));
            NV_FUZZ_CHECK(std::count(progress.begin(), progress.end(), '|') >= 2);
            NV_FUZZ_CHECK(progress.find_first_of("\r\n") == std::string::npos);
            handed += progress.size() - 5;  // the fields without "4, " and two '|'
        });
    }
    NV_FUZZ_CHECK(handed <= delivered);
    return 0;
}
