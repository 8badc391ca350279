#include "protocols/GsmRxIndication.h"

#include <string_view>
#include <vector>

#include "protocols/GsmAtReply.h"

namespace nv {
using std::chrono::milliseconds;

namespace {

// Larger than any receive buffer of the serial component: one read takes what
// one ReadBuffer would.
constexpr std::size_t kReadAll = 1 << 16;
constexpr milliseconds kLinePause{5};

// Takes one indication off the front of buf; false when its text never came.
bool takeIndication(std::string& buf, ByteStream& in, Clock& clock, const GsmRxOptions& options,
                    const std::function<void(const std::string&)>& onIndication) {
    const auto deadline = clock.now() + options.rxLine;
    for (;;) {
        std::size_t headerEnd = buf.find_first_of("\r\n");
        std::size_t textStart =
            headerEnd == std::string::npos ? std::string::npos : buf.find_first_not_of("\r\n", headerEnd);
        std::size_t textEnd =
            textStart == std::string::npos ? std::string::npos : buf.find_first_of("\r\n", textStart);
        if (textEnd != std::string::npos) {
            // Sender first, time stamp last: with a quoted alpha field between
            // them the second pair would be the alpha, not the time.
            std::vector<std::string> fields = atQuotedFields(buf.substr(0, headerEnd));
            std::string sender = fields.empty() ? std::string() : fields[0];
            std::string stamp = fields.size() >= 3 ? fields.back() : fields.size() == 2 ? fields[1] : std::string();
            std::string progress = "4, " + sender + "|" + stamp + "|" + buf.substr(textStart, textEnd - textStart);
            buf.erase(0, textEnd);
            onIndication(progress);
            return true;
        }
        if ((options.stop && options.stop()) || clock.now() >= deadline) return false;
        clock.sleepFor(kLinePause);
        buf += in.readAvailable(kReadAll);
    }
}

}  // namespace

void readGsmRxIndications(ByteStream& in, Clock& clock, const GsmRxOptions& options,
                          const std::function<void(const std::string& progress)>& onIndication) {
    std::string buf = in.readAvailable(kReadAll);
    std::size_t plus = buf.find('+');
    if (plus == std::string::npos) return;
    buf.erase(0, plus);
    while (buf.starts_with("+CMT:") && takeIndication(buf, in, clock, options, onIndication)) {
        plus = buf.find('+');
        if (plus == std::string::npos) break;
        buf.erase(0, plus);
    }
}

}  // namespace nv
