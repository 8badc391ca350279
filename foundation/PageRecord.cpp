#include "foundation/PageRecord.h"

namespace nv {

PageRecordPtr NewPageRecord() { return std::make_unique<TQueueRec>(); }

bool FreePageRecord(PageRecordPtr& rec) {
    rec.reset();
    return true;
}

void StripMessageMarkers(std::string& s) {
    for (std::string_view marker : {kNextelMarker, kAldisconMarker}) {
        auto at = s.find(marker);
        if (at != std::string::npos) s.erase(at);
    }
    std::erase_if(s, [](char c) { return c == '\r' || c == '\n'; });
}

}  // namespace nv
