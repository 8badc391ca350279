#include "service/PageQueue.h"

#include <algorithm>
#include <array>
#include <cstdio>

namespace nv {

namespace {

// Priorities compare as "%2.2d" texts, so 100 sorts before 20. The text is
// kept NUL-padded in a fixed array: comparing the arrays orders them as the
// texts, without a heap string.
using PriorityText = std::array<char, 16>;

std::int32_t priorityOf(const TQueueRec& page) { return page.Recipient ? page.Recipient->Priority() : 0; }

PriorityText priorityText(std::int32_t priority) {
    PriorityText key{};
    std::snprintf(key.data(), key.size(), "%2.2d", priority);
    return key;
}

bool isDuplicate(const TQueueRec& a, const TQueueRec& b) {
    if (!a.Recipient || !b.Recipient || !a.PrimaryProvider || !b.PrimaryProvider) return false;
    // The text first: it lives in the page, the others are read out of records.
    return a.MessageText == b.MessageText && a.Recipient->PIN() == b.Recipient->PIN() &&
           a.PrimaryProvider->CompanyName() == b.PrimaryProvider->CompanyName();
}

}  // namespace

// Sort order of the queue and of the secondary list. The texts hold digits and
// a sign only, so the comparison needs no case folding; equal priorities (the
// intake gives every page the same) are equal without formatting.
bool ComparePageOrder(const PageRecordPtr& a, const PageRecordPtr& b) {
    std::int32_t pa = priorityOf(*a), pb = priorityOf(*b);
    return pa != pb && priorityText(pa) < priorityText(pb);
}

// Names compared byte by byte with case; an absent page or provider is equal
// to anything.
bool CompareByProvider(const PageRecordPtr& a, const PageRecordPtr& b) {
    if (!a || !b || !a->PrimaryProvider || !b->PrimaryProvider) return false;
    return a->PrimaryProvider->CompanyName() < b->PrimaryProvider->CompanyName();
}

void InsertInPageOrder(std::vector<PageRecordPtr>& list, PageRecordPtr page) {
    if (std::is_sorted(list.begin(), list.end(), ComparePageOrder)) {
        // Where a stable sort would leave the newest page: after its equals.
        auto at = std::upper_bound(list.begin(), list.end(), page, ComparePageOrder);
        list.insert(at, std::move(page));
        return;
    }
    // The spooler sorted by provider since; restore the order as a whole.
    list.push_back(std::move(page));
    std::stable_sort(list.begin(), list.end(), ComparePageOrder);
}

// ------------------------------------------------------------ PageOrderList

// The result is always what std::stable_sort of the list with the page at its
// end gives; `ordered` only saves the scan that InsertInPageOrder makes.
void PageOrderList::insert(PageRecordPtr page) {
    if (ordered) {
        // Where a stable sort would leave the newest page: after its equals.
        auto at = std::upper_bound(pages.begin(), pages.end(), page, ComparePageOrder);
        pages.insert(at, std::move(page));
        return;
    }
    pages.push_back(std::move(page));
    std::stable_sort(pages.begin(), pages.end(), ComparePageOrder);
    ordered = true;
}

void PageOrderList::append(PageRecordPtr page) {
    if (ordered && !pages.empty() && ComparePageOrder(page, pages.back())) ordered = false;
    pages.push_back(std::move(page));
}

// Taking a page out of an ordered list leaves it ordered.
PageRecordPtr PageOrderList::take(std::size_t i) {
    auto at = pages.begin() + static_cast<std::ptrdiff_t>(i);
    PageRecordPtr page = std::move(*at);
    pages.erase(at);
    return page;
}

void PageOrderList::sortByProvider() {
    std::stable_sort(pages.begin(), pages.end(), CompareByProvider);
    // Once per spooler cycle; pages of one priority (the intake's) stay ordered.
    ordered = std::is_sorted(pages.begin(), pages.end(), ComparePageOrder);
}

std::vector<PageRecordPtr> PageOrderList::takeAll() {
    std::vector<PageRecordPtr> all;
    all.swap(pages);
    ordered = true;
    return all;
}

// ------------------------------------------------------------ the queue

PageQueue::Queue::Queue(PageQueue& owner) : m_owner(owner), m_lock(owner.m_queueLock), m_list(owner.m_queue) {}

PageRecordPtr PageQueue::Queue::take(std::size_t i) {
    PageRecordPtr page = m_list.take(i);
    m_owner.unindexPage(page.get());
    return page;
}

void PageQueue::Queue::insert(PageRecordPtr page) {
    m_owner.indexPage(page.get());
    m_list.insert(std::move(page));
}

void PageQueue::Queue::append(PageRecordPtr page) {
    m_owner.indexPage(page.get());
    m_list.append(std::move(page));
}

void PageQueue::Queue::sortByProvider() { m_list.sortByProvider(); }

std::vector<PageRecordPtr> PageQueue::Queue::takeAll() {
    m_owner.m_index.clear();
    return m_list.takeAll();
}

void PageQueue::Queue::postLength() const {
    if (m_owner.m_postLength) m_owner.m_postLength(static_cast<std::int32_t>(m_list.pages.size()));
}

// ------------------------------------------------------------ the secondary list

PageQueue::Secondary::Secondary(PageQueue& owner) : m_lock(owner.m_secondaryLock), m_list(owner.m_secondary) {}

PageRecordPtr PageQueue::Secondary::takeFront() { return m_list.take(0); }

void PageQueue::Secondary::insert(PageRecordPtr page) { m_list.insert(std::move(page)); }

void PageQueue::Secondary::append(PageRecordPtr page) { m_list.append(std::move(page)); }

void PageQueue::Secondary::sortByProvider() { m_list.sortByProvider(); }

std::vector<PageRecordPtr> PageQueue::Secondary::takeAll() { return m_list.takeAll(); }

// ------------------------------------------------------------ PageQueue

PageQueue::PageQueue(LengthFn postLength) : m_postLength(std::move(postLength)) {}

bool PageQueue::duplicateKey(const TQueueRec& page, std::size_t& hash) {
    // A page without its user or its provider is never a duplicate.
    if (!page.Recipient || !page.PrimaryProvider) return false;
    std::hash<std::string> h;
    hash = h(page.MessageText);
    for (const std::string& part : {page.Recipient->PIN(), page.PrimaryProvider->CompanyName()})
        hash ^= h(part) + 0x9e3779b97f4a7c15ULL + (hash << 6) + (hash >> 2);
    return true;
}

void PageQueue::indexPage(const TQueueRec* page) {
    std::size_t hash;
    if (page && duplicateKey(*page, hash)) m_index.emplace(hash, page);
}

void PageQueue::unindexPage(const TQueueRec* page) {
    std::size_t hash;
    if (!page) return;
    if (duplicateKey(*page, hash)) {
        auto [first, last] = m_index.equal_range(hash);
        for (auto it = first; it != last; ++it) {
            if (it->second == page) {
                m_index.erase(it);
                return;
            }
        }
    }
    // Never indexed (no user or provider), or its key changed while it
    // waited: no entry may outlive its page.
    for (auto it = m_index.begin(); it != m_index.end(); ++it) {
        if (it->second == page) {
            m_index.erase(it);
            return;
        }
    }
}

bool PageQueue::hasDuplicate(const TQueueRec& page) const {
    std::size_t hash;
    if (!duplicateKey(page, hash)) return false;
    auto [first, last] = m_index.equal_range(hash);
    for (auto it = first; it != last; ++it)
        if (isDuplicate(*it->second, page)) return true;
    return false;
}

bool PageQueue::add(PageRecordPtr& page) {
    Queue q = lockQueue();
    if (hasDuplicate(*page)) {
        FreePageRecord(page);
        return false;
    }
    if (page->Serial == 0) page->Serial = newSerial();
    q.insert(std::move(page));
    q.postLength();
    return true;
}

void PageQueue::requeue(PageRecordPtr page) {
    if (!page) return;
    Queue q = lockQueue();
    q.insert(std::move(page));
    q.postLength();
}

void PageQueue::toSecondary(PageRecordPtr page) {
    if (!page) return;
    lockSecondary().insert(std::move(page));
}

std::size_t PageQueue::size() const {
    std::lock_guard<std::mutex> q(m_queueLock);
    return m_queue.pages.size();
}

void PageQueue::postLength() const {
    std::lock_guard<std::mutex> q(m_queueLock);
    if (m_postLength) m_postLength(static_cast<std::int32_t>(m_queue.pages.size()));
}

}  // namespace nv
