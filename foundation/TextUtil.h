#pragma once
// Small text helpers the senders share (Windows-1252 bytes in, bytes out).
#include <algorithm>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

// The text with every CR and LF removed (replies and errors become one log line).
inline std::string withoutLineBreaks(std::string s) {
    s.erase(std::remove_if(s.begin(), s.end(), [](char c) { return c == '\r' || c == '\n'; }), s.end());
    return s;
}

// The text with every CR and LF made a blank (an error text stays one line).
inline std::string lineBreaksAsBlanks(std::string s) {
    std::replace(s.begin(), s.end(), '\r', ' ');
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

// The text with every control character (CR and LF included) made a blank: text
// from outside (a page's PIN or message) stays on the one log line it is put in.
inline std::string controlsAsBlanks(std::string s) {
    for (char& c : s)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
    return s;
}

// controlsAsBlanks, cut to `most` characters followed by "..." when longer: a
// refused input shown in a log line without making the line as long as the input.
inline std::string shortenedForLog(std::string_view s, std::size_t most) {
    if (s.size() <= most) return controlsAsBlanks(std::string(s));
    return controlsAsBlanks(std::string(s.substr(0, most))) + "...";
}

// The text without leading and trailing blanks.
inline std::string trimmed(std::string_view s) {
    auto b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

// The text with ASCII capitals made small; other bytes stay.
inline std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

// The value of one hex digit (either case), or -1.
inline int hexDigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// How a sender cuts a long text into numbered parts.
struct MarkedSplit {
    std::size_t longest;      // a text up to this long goes whole
    std::size_t window;       // characters a cut part may take before its mark
    int maxParts;             // what is left beyond them is dropped
};

// The parts of `message`: each cut part ends after the last blank in reach (the
// blank stays with the part), or at the window's end, with "  (CONT.)"; the
// rest, when there were cuts, ends with " (END)". `lastCut` gets the last cut
// part without its mark.
inline std::vector<std::string> splitWithMarks(std::string message, const MarkedSplit& rule, std::string& lastCut) {
    std::vector<std::string> parts;
    lastCut.clear();
    while (!message.empty() && static_cast<int>(parts.size()) < rule.maxParts) {
        if (message.size() > rule.longest) {
            std::size_t p = rule.window;
            while (p > 0 && message[p - 1] != ' ') --p;
            if (p == 0) p = rule.window;
            lastCut = message.substr(0, p);
            parts.push_back(lastCut + "  (CONT.)");
            message.erase(0, p);
        } else {
            parts.push_back(parts.empty() ? message : message + " (END)");
            message.clear();
        }
    }
    return parts;
}

}  // namespace nv
