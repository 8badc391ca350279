#pragma once
// PageQueue: the page queue (QueueRecList), the secondary list (sList), their
// locks and the pages' serial numbers. The engine owns it; the intake, the
// page workers, the spooler, the port threads, clear_queues and hQueue.Dat
// reach the lists only through it.
//
// Lock order, the one for every thread of the service:
//   1. the page queue          (PageQueue::lockQueue)
//   2. the port-thread list    (OutboundPorts::threadListLock)
//   3. the secondary list      (PageQueue::lockSecondary)
//   4. a port's PagesLock      (TOutboundThreadRec)
//   5. the connection-error table (ConnectionErrors, a leaf)
// A lock may be skipped, never taken against this order. Nothing sleeps while
// holding one; a port thread puts pages back only after it let go of its
// PagesLock.
//
// The queue keeps the order std::stable_sort by ComparePageOrder would give
// (priorities as "%2.2d" texts, so "100" sorts before "20"). The spooler sorts
// it by provider for the length of one cycle; the next page put in sorts it by
// priority again, stably, as the Windows version's full sort did.
//
// Cost under the queue's lock: a page finds its place by binary search after
// its equals (what a stable sort does), and the duplicate test looks in a hash
// index of the waiting pages instead of comparing with each of them, so a
// burst of n pages costs O(n log n). The index holds every queued page that
// has a recipient and a primary provider; a page's PIN, text and provider
// name do not change while it waits.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "foundation/PageRecord.h"

namespace nv {

// Sort orders of the queue (priority as "%2.2d" text) and of the spooler
// (primary provider names, with case; absent compares equal).
bool ComparePageOrder(const PageRecordPtr& a, const PageRecordPtr& b);
bool CompareByProvider(const PageRecordPtr& a, const PageRecordPtr& b);
// Appends `page` and leaves `list` as std::stable_sort by ComparePageOrder
// would; a list already in that order costs one scan, not a sort.
void InsertInPageOrder(std::vector<PageRecordPtr>& list, PageRecordPtr page);

// A list kept in the order std::stable_sort by ComparePageOrder would give
// after each insert. `ordered` remembers whether it is in that order now, so
// an insert into an ordered list is a binary search instead of a scan.
struct PageOrderList {
    std::vector<PageRecordPtr> pages;
    bool ordered = true;

    void insert(PageRecordPtr page);
    void append(PageRecordPtr page);
    PageRecordPtr take(std::size_t i);
    void sortByProvider();
    std::vector<PageRecordPtr> takeAll();
};

class PageQueue {
public:
    // Posts counter 11 (queued pages) with a length; called under the queue's
    // lock, so the last value posted is the queue's length.
    using LengthFn = std::function<void(std::int32_t)>;

    explicit PageQueue(LengthFn postLength);
    PageQueue(const PageQueue&) = delete;
    PageQueue& operator=(const PageQueue&) = delete;

    // The queue, held under its lock for the handle's life.
    class Queue {
    public:
        std::size_t size() const { return m_list.pages.size(); }
        bool empty() const { return m_list.pages.empty(); }
        const std::vector<PageRecordPtr>& pages() const { return m_list.pages; }
        const PageRecordPtr& operator[](std::size_t i) const { return m_list.pages[i]; }
        // Takes the page at `i` out of the queue.
        PageRecordPtr take(std::size_t i);
        // Puts a page in its place in priority order.
        void insert(PageRecordPtr page);
        // At the end, whatever its priority (the list as the spooler left it).
        void append(PageRecordPtr page);
        void sortByProvider();
        // Every page, the queue left empty.
        std::vector<PageRecordPtr> takeAll();
        // Counter 11 with the length now.
        void postLength() const;

    private:
        friend class PageQueue;
        explicit Queue(PageQueue& owner);
        PageQueue& m_owner;
        std::unique_lock<std::mutex> m_lock;
        PageOrderList& m_list;
    };

    // The secondary list, held under its lock for the handle's life.
    class Secondary {
    public:
        std::size_t size() const { return m_list.pages.size(); }
        bool empty() const { return m_list.pages.empty(); }
        const std::vector<PageRecordPtr>& pages() const { return m_list.pages; }
        const PageRecordPtr& front() const { return m_list.pages.front(); }
        PageRecordPtr takeFront();
        // AddToSecondaryQueue: in priority order.
        void insert(PageRecordPtr page);
        // At the end (the spooler's hand-over of a page no port could take).
        void append(PageRecordPtr page);
        void sortByProvider();
        std::vector<PageRecordPtr> takeAll();

    private:
        friend class PageQueue;
        explicit Secondary(PageQueue& owner);
        std::unique_lock<std::mutex> m_lock;
        PageOrderList& m_list;
    };

    Queue lockQueue() { return Queue(*this); }
    Secondary lockSecondary() { return Secondary(*this); }

    // AddToQueue's list part: false when an equal page (recipient PIN, message
    // text and primary provider name, exact) waits already; the new page is
    // then freed. Otherwise the page gets its serial (when it has none), goes
    // in its place and counter 11 is posted.
    bool add(PageRecordPtr& page);
    // A page a port thread gives back: in its place, counter 11 posted.
    void requeue(PageRecordPtr page);
    // A page for its secondary provider: into sList in its place.
    void toSecondary(PageRecordPtr page);

    std::size_t size() const;
    bool empty() const { return size() == 0; }
    // Counter 11 with the length now (the timer, the spooler's start).
    void postLength() const;

    // A never-reused number; the page's connection-error keys come from it.
    std::uint64_t newSerial() { return m_nextSerial.fetch_add(1); }

private:
    // The duplicate index: the hash of a page's PIN, text and primary
    // provider name to the queued pages that have it. Under the queue's lock.
    static bool duplicateKey(const TQueueRec& page, std::size_t& hash);
    void indexPage(const TQueueRec* page);
    void unindexPage(const TQueueRec* page);
    bool hasDuplicate(const TQueueRec& page) const;

    LengthFn m_postLength;
    mutable std::mutex m_queueLock;
    PageOrderList m_queue;  // QueueRecList
    std::unordered_multimap<std::size_t, const TQueueRec*> m_index;
    std::mutex m_secondaryLock;
    PageOrderList m_secondary;  // sList
    std::atomic<std::uint64_t> m_nextSerial{1};
};

}  // namespace nv
