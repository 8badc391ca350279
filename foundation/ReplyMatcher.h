#pragma once
// The reply-match rule shared by every wait for a reply (serial component, TAP
// pager, inbound host). Pure: no I/O and no clock; each wait feeds it the
// characters it reads and asks for the result when its time is over.
//
// Match holds alternatives separated by "|" (at most kMaxMatchLength
// characters; longer texts are cut there), numbered from 0; an empty
// alternative never matches. Each character is appended to the candidate; the
// first alternative that contains the candidate anywhere is the one tested; it
// completes when the candidate is as long as it. A character that leaves no
// alternative containing the candidate clears the candidate and is dropped
// with it (it is not tried again as a start). At the end of the wait the
// result is the index of the alternative holding the candidate left by the
// last character, or -1.
//
// Consequences callers rely on: a reply split over several reads still
// matches; leading noise is skipped; a short alternative placed after a longer
// one containing it ("OK|K") is never completed; a reply cut off at the
// time-out counts as the alternative it was part of.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nv {

class ReplyMatcher {
public:
    static constexpr std::size_t kMaxMatchLength = 100;

    explicit ReplyMatcher(std::string_view match);

    // Feeds one character; the index of the alternative it completes, else -1.
    int feed(char c);

    // The wait's result when it ends without completion: the index of the
    // alternative holding the partial match left by the last character, or -1.
    int result() const { return m_pending ? m_index : -1; }

    bool pending() const { return m_pending; }
    const std::string& candidate() const { return m_candidate; }
    const std::vector<std::string>& alternatives() const { return m_alternatives; }

    // Forgets the candidate (a new wait with the same list).
    void reset();

private:
    std::vector<std::string> m_alternatives;
    std::string m_candidate;
    bool m_pending = false;
    int m_index = 0;
};

}  // namespace nv
