#pragma once
// Small text helpers the senders share (Windows-1252 bytes in, bytes out).
#include <algorithm>
#include <string>

namespace nv {

// The text with every CR and LF removed (replies and errors become one log line).
inline std::string withoutLineBreaks(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }), s.end());
    return s;
}

// The text without leading and trailing blanks.
inline std::string trimmed(const std::string& s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string::npos) return {};
    return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

}  // namespace nv
