#pragma once
// Reading a WCTP page's reply list: the name=value lines the internet pager
// leaves (KORInetPagingXml's readReply), split into a list by the engine. The
// page worker and the port threads take their log texts from it by name.
#include <string>
#include <string_view>
#include <vector>

namespace nv {

// A status query's answer, by the first "type=" line that names one.
inline constexpr const char* kWctpStatusRead = "Message Delivered and Read by Recipient";
inline constexpr const char* kWctpStatusDelivered = "Message Delivered, Awaiting Reply";
inline constexpr const char* kWctpStatusQueued = "Message Queued; Awaiting Delivery";

// The lines of reply text (CR LF or LF ended); empty lines dropped.
std::vector<std::string> replyLines(const std::string& text);

// Value of the first line `name=...` (name compared without regard to case);
// empty when there is none.
std::string replyListValue(const std::vector<std::string>& list, std::string_view name);

// A page's reply for its log line: "successText", or "errorText" when that is
// empty.
std::string wctpReplyText(const std::vector<std::string>& list);

// A delivered status query's reply: the answer's "Content", else the status
// that the first exact "type=READ" or "type=DELIVERED" line names, else queued.
std::string wctpStatusText(const std::vector<std::string>& list);

}  // namespace nv
