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

PageRecordPtr takeAt(std::vector<PageRecordPtr>& list, std::size_t i) {
    auto at = list.begin() + static_cast<std::ptrdiff_t>(i);
    PageRecordPtr page = std::move(*at);
    list.erase(at);
    return page;
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

// ------------------------------------------------------------ the queue

PageQueue::Queue::Queue(PageQueue& owner) : m_owner(owner), m_lock(owner.m_queueLock), m_list(owner.m_queue) {}

PageRecordPtr PageQueue::Queue::take(std::size_t i) { return takeAt(m_list, i); }

void PageQueue::Queue::insert(PageRecordPtr page) { InsertInPageOrder(m_list, std::move(page)); }

void PageQueue::Queue::append(PageRecordPtr page) { m_list.push_back(std::move(page)); }

void PageQueue::Queue::sortByProvider() { std::stable_sort(m_list.begin(), m_list.end(), CompareByProvider); }

std::vector<PageRecordPtr> PageQueue::Queue::takeAll() {
    std::vector<PageRecordPtr> all;
    all.swap(m_list);
    return all;
}

void PageQueue::Queue::postLength() const {
    if (m_owner.m_postLength) m_owner.m_postLength(static_cast<std::int32_t>(m_list.size()));
}

// ------------------------------------------------------------ the secondary list

PageQueue::Secondary::Secondary(PageQueue& owner) : m_lock(owner.m_secondaryLock), m_list(owner.m_secondary) {}

PageRecordPtr PageQueue::Secondary::takeFront() { return takeAt(m_list, 0); }

void PageQueue::Secondary::insert(PageRecordPtr page) { InsertInPageOrder(m_list, std::move(page)); }

void PageQueue::Secondary::append(PageRecordPtr page) { m_list.push_back(std::move(page)); }

void PageQueue::Secondary::sortByProvider() { std::stable_sort(m_list.begin(), m_list.end(), CompareByProvider); }

std::vector<PageRecordPtr> PageQueue::Secondary::takeAll() {
    std::vector<PageRecordPtr> all;
    all.swap(m_list);
    return all;
}

// ------------------------------------------------------------ PageQueue

PageQueue::PageQueue(LengthFn postLength) : m_postLength(std::move(postLength)) {}

bool PageQueue::add(PageRecordPtr& page) {
    Queue q = lockQueue();
    for (auto it = m_queue.rbegin(); it != m_queue.rend(); ++it) {
        if (isDuplicate(**it, *page)) {
            FreePageRecord(page);
            return false;
        }
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
    return m_queue.size();
}

void PageQueue::postLength() const {
    std::lock_guard<std::mutex> q(m_queueLock);
    if (m_postLength) m_postLength(static_cast<std::int32_t>(m_queue.size()));
}

}  // namespace nv
