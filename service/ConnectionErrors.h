#pragma once
// ConnectionErrors: the three-strike table of failed connections, shared by the
// spooler, every port thread and the page workers. A key counts 1, 2; the third
// error removes the entry and reports false, so a fourth starts at 1 again.
//
// Keys are never-reused serial numbers (see pageKey and friends), never
// addresses: a freed record's address comes back for a new page and would
// inherit the old count. The table has its own lock; it is a leaf lock, taken
// after any list lock and never held while calling out.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "foundation/PageRecord.h"

namespace nv {

class ConnectionErrors {
public:
    // True on the first and second error of a key, false on the third.
    bool AddConnectionError(const std::string& key);
    void ClearConnectionError(const std::string& key);
    // The count a key has now (0: none); for tests and the stress check.
    int count(const std::string& key) const;
    std::size_t size() const;

    // Keys of a page and of the two provider records it carries. Page keys and
    // provider keys never collide. The serial is given when the page is queued.
    static std::string pageKey(const TQueueRec& page);
    static std::string primaryKey(const TQueueRec& page);
    static std::string secondaryKey(const TQueueRec& page);
    // A page is about to be freed: its keys go with it.
    void forgetPage(const TQueueRec& page);

private:
    // "=", blanks, CR and LF are removed; names compare without regard to case.
    static std::string cleanKey(const std::string& key);
    std::vector<std::pair<std::string, int>>::iterator find(const std::string& key);

    mutable std::mutex m_lock;
    std::vector<std::pair<std::string, int>> m_entries;  // "key=count" lines in order
};

}  // namespace nv
