#pragma once
// Reading the WCTP reply list the engine's SendWCTPPage fills: the page worker
// and the port threads take their log texts from it by name.
#include <string>
#include <vector>

namespace nv {

// The name=value lines of reply text (CR LF or LF ended); empty lines dropped.
std::vector<std::string> replyLines(const std::string& text);

// Value of the first line `name=...` (name compared without regard to case);
// empty when there is none.
std::string replyListValue(const std::vector<std::string>& list, const std::string& name);

// A WCTP page's reply for its log line: "successText", or "errorText" when
// that is empty.
std::string wctpReplyText(const std::vector<std::string>& list);

}  // namespace nv
