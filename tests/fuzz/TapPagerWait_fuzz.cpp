// The TAP pager's dialogue on a scripted line: login and block replies cut
// into chunks the terminal sends one per write, over each transport mode.
// The waits run on a manual clock, so a silent or babbling terminal costs no
// real time; what the pager reports stays printable and an ID is a number.
#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "protocols/KORAlphaPage.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/peers/ScriptedByteStream.h"

using namespace nv;

namespace {

bool printable(const std::string& s) {
    return std::none_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 32; });
}

bool digitsOnly(const std::string& s) {
    std::size_t i = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    return std::all_of(s.begin() + static_cast<long>(i), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::Fields in(fuzz::bytes(data, size));
    const std::uint8_t flags = in.byte();
    const std::uint8_t length = in.byte();
    std::string pin = in.field();
    pin.resize(std::min<std::size_t>(pin.size(), 75));  // the PIN field of a user record
    const std::string message = in.field();

    test::SteppedClock clock;
    test::ScriptedByteStream line(clock);
    // Each later field is the terminal's answer to one write.
    for (int i = 0; i < 64 && !in.rest().empty(); ++i) line.deliverAfterWrite("", in.field());
    if (flags & 0x10) line.endWhenDrained();

    TKORAlpaPage pager({}, clock);
    pager.DeviceOperationMode = static_cast<TAOpMode>((flags & 0x3) % 3);
    pager.SMSType = flags & 0x4 ? stNextel : stNone;
    pager.ShowErrorDialogs = flags & 0x8;
    pager.SendReverseOrder = flags & 0x20;
    pager.MsgLength = 1 + length;
    pager.attachStream(&line);
    pager.bConnected = true;
    pager.bDropped = false;
    try {
        if (pager.nLogin()) pager.SendTextMessage(pin, message);
    } catch (const std::exception&) {
        // The pager's errors when error dialogs are on, or a missing PIN.
    }
    NV_FUZZ_CHECK(printable(pager.SendResult));
    NV_FUZZ_CHECK(digitsOnly(pager.ETapMsgID));
    pager.attachStream(nullptr);
    return 0;
}
