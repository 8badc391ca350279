#pragma once
// The page record: one page on its way through the engine, held by exactly one
// owner at a time (the queue, a port thread or a page worker). The Windows version's
// fields that no code reads are left out.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "foundation/Records.h"

namespace nv {

struct TQueueRec {
    std::string Originator;                          // text 35; the intake's server name
    std::unique_ptr<UserRec> Recipient;
    std::unique_ptr<ProviderRec> PrimaryProvider;
    std::unique_ptr<ProviderRec> SecondaryProvider;  // none: no fallback
    std::string MessageText;                         // Windows-1252
    std::string RawBlock;                            // bytes as received, NULs included
    // Never-reused number given when the page first joins the queue; names the
    // page's entries in the connection-error table (0: not queued yet).
    std::uint64_t Serial = 0;
};

using PageRecordPtr = std::unique_ptr<TQueueRec>;

// A cleared page record: no parts, empty texts.
PageRecordPtr NewPageRecord();

// Releases the record and every part it owns; `rec` is empty afterwards. Nothing
// happens for an empty pointer. Always true.
bool FreePageRecord(PageRecordPtr& rec);

// The user record's secondary provider name that names none.
inline constexpr std::string_view kNoSecondary = "NONE";

// True when the page's user names a secondary provider: neither empty nor
// exactly "NONE".
inline bool namesSecondary(const TQueueRec& page) {
    const std::string name = page.Recipient ? page.Recipient->SecProviderName() : std::string();
    return !name.empty() && name != kNoSecondary;
}

// Vendor markers a page's text may carry: ")#*&(" asks a TAP carrier for an
// Aldiscon SMS, "(N)#*&(" for a Nextel one. The texts of pages the gateways
// in front of us send, kept as they are.
inline constexpr std::string_view kAldisconMarker = ")#*&(";
inline constexpr std::string_view kNextelMarker = "(N)#*&(";

// Cuts `s` before the first Nextel marker, then before the first Aldiscon
// marker, then removes every CR and LF.
void StripMessageMarkers(std::string& s);

// A page's text that begins with "MSTA " asks for the status of an earlier
// message (the words after it name it) instead of being sent. Only the start
// counts: "MSTA" anywhere else in a page is text.
inline constexpr std::string_view kStatusQueryPrefix = "MSTA ";
inline bool isStatusQuery(std::string_view text) { return text.starts_with(kStatusQueryPrefix); }

}  // namespace nv
