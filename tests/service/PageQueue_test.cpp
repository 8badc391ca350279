// The page queue's order and duplicate rule, held against a reference that
// does it the plain way: every insert appends and stable-sorts the whole list
// on the priority text, and the duplicate test compares the new page with
// every waiting one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "service/PageQueue.h"

namespace nv {
namespace {

struct PageShape {
    std::int32_t priority = 5;
    std::string pin = "100";
    std::string msg = "Hello";
    std::string provider = "Acme";
    bool recipient = true;  // false: a page without its user record
    bool primary = true;    // false: a page without its provider record
};

// A page as the intake builds it; `id` rides in the originator, which the
// duplicate rule does not look at.
PageRecordPtr makePage(const PageShape& s, int id) {
    PageRecordPtr p = NewPageRecord();
    p->Originator = std::to_string(id);
    p->MessageText = s.msg;
    if (s.recipient) {
        p->Recipient = std::make_unique<UserRec>();
        p->Recipient->setPIN(s.pin);
        p->Recipient->setPriority(s.priority);
        p->Recipient->setProviderName(s.provider);
    }
    if (s.primary) {
        p->PrimaryProvider = std::make_unique<ProviderRec>();
        p->PrimaryProvider->setCompanyName(s.provider);
    }
    return p;
}

// The reference: the rules written out the long way.
struct Reference {
    struct Entry {
        PageShape shape;
        int id;
    };
    std::vector<Entry> queue, secondary;

    static std::string text(const Entry& e) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%2.2d", e.shape.recipient ? e.shape.priority : 0);
        return buf;
    }
    static void insert(std::vector<Entry>& list, Entry e) {
        list.push_back(std::move(e));
        std::stable_sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) { return text(a) < text(b); });
    }
    static void sortByProvider(std::vector<Entry>& list) {
        std::stable_sort(list.begin(), list.end(), [](const Entry& a, const Entry& b) {
            return a.shape.primary && b.shape.primary && a.shape.provider < b.shape.provider;
        });
    }
    bool add(const PageShape& s, int id) {
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) {
            const PageShape& q = it->shape;
            if (q.recipient && q.primary && s.recipient && s.primary && q.pin == s.pin && q.msg == s.msg &&
                q.provider == s.provider)
                return false;
        }
        insert(queue, {s, id});
        return true;
    }
};

std::vector<int> idsOf(const std::vector<PageRecordPtr>& list) {
    std::vector<int> ids;
    for (const auto& p : list) ids.push_back(std::stoi(p->Originator));
    return ids;
}
std::vector<int> idsOf(const std::vector<Reference::Entry>& list) {
    std::vector<int> ids;
    for (const auto& e : list) ids.push_back(e.id);
    return ids;
}

enum class Op { Add, Requeue, Take, SortByProvider, ToSecondary, SecondaryTake, SecondarySort, Clear };

struct Step {
    Op op;
    PageShape shape;          // Add, Requeue, ToSecondary
    std::size_t at = 0; // Take: index, modulo the length
};

// Runs the steps against both and compares the answers and both lists after
// every step.
void runAgainstReference(const std::vector<Step>& steps, const std::string& name) {
    PageQueue pages(nullptr);
    Reference ref;
    int id = 0;
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const Step& s = steps[i];
        SCOPED_TRACE(name + " step " + std::to_string(i));
        switch (s.op) {
        case Op::Add: {
            PageRecordPtr p = makePage(s.shape, ++id);
            bool queued = pages.add(p);
            ASSERT_EQ(queued, ref.add(s.shape, id));
            EXPECT_FALSE(p);  // queued or freed, never left with the caller
            break;
        }
        case Op::Requeue:
            pages.requeue(makePage(s.shape, ++id));
            Reference::insert(ref.queue, {s.shape, id});
            break;
        case Op::Take:
            if (ref.queue.empty()) break;
            pages.lockQueue().take(s.at % ref.queue.size());
            ref.queue.erase(ref.queue.begin() + static_cast<std::ptrdiff_t>(s.at % ref.queue.size()));
            break;
        case Op::SortByProvider:
            pages.lockQueue().sortByProvider();
            Reference::sortByProvider(ref.queue);
            break;
        case Op::ToSecondary:
            pages.toSecondary(makePage(s.shape, ++id));
            Reference::insert(ref.secondary, {s.shape, id});
            break;
        case Op::SecondaryTake:
            if (ref.secondary.empty()) break;
            pages.lockSecondary().takeFront();
            ref.secondary.erase(ref.secondary.begin());
            break;
        case Op::SecondarySort:
            pages.lockSecondary().sortByProvider();
            Reference::sortByProvider(ref.secondary);
            break;
        case Op::Clear:
            pages.lockQueue().takeAll();
            ref.queue.clear();
            break;
        }
        ASSERT_EQ(idsOf(pages.lockQueue().pages()), idsOf(ref.queue));
        ASSERT_EQ(idsOf(pages.lockSecondary().pages()), idsOf(ref.secondary));
    }
}

PageShape shape(std::int32_t priority, std::string pin, std::string msg = "Hello", std::string provider = "Acme") {
    PageShape s;
    s.priority = priority;
    s.pin = std::move(pin);
    s.msg = std::move(msg);
    s.provider = std::move(provider);
    return s;
}

TEST(PageQueue, OrderAndDuplicatesMatchTheReference) {
    PageShape noUser = shape(5, "1");
    noUser.recipient = false;
    PageShape noProvider = shape(5, "1");
    noProvider.primary = false;
    struct Case {
        std::string name;
        std::vector<Step> steps;
    } cases[] = {
        {"one priority keeps arrival order",
         {{Op::Add, shape(5, "1")}, {Op::Add, shape(5, "2")}, {Op::Add, shape(5, "3")}}},
        {"priorities as text: -01 < 05 < 100 < 20",
         {{Op::Add, shape(20, "1")}, {Op::Add, shape(5, "2")}, {Op::Add, shape(100, "3")}, {Op::Add, shape(-1, "4")},
          {Op::Add, shape(5, "5")}, {Op::Add, shape(100, "6")}}},
        {"same PIN, text and provider is a duplicate",
         {{Op::Add, shape(5, "1")}, {Op::Add, shape(5, "1")}, {Op::Add, shape(9, "1")}}},
        {"any difference is a new page (provider with case, text, PIN)",
         {{Op::Add, shape(5, "1")}, {Op::Add, shape(5, "1", "Hello", "ACME")}, {Op::Add, shape(5, "1", "hello")},
          {Op::Add, shape(5, "01")}, {Op::Add, shape(5, "1", "Hello ")}}},
        {"a page without user or provider is never a duplicate",
         {{Op::Add, noUser}, {Op::Add, noUser}, {Op::Add, noProvider}, {Op::Add, noProvider}, {Op::Add, shape(5, "1")}}},
        {"a page taken out no longer counts; a requeued one does",
         {{Op::Add, shape(5, "1")}, {Op::Take, {}, 0}, {Op::Add, shape(5, "1")}, {Op::Requeue, shape(5, "2")},
          {Op::Add, shape(5, "2")}, {Op::Requeue, shape(5, "2")}}},
        {"after the spooler's provider sort the next insert sorts stably again",
         {{Op::Add, shape(20, "1", "m", "Zulu")}, {Op::Add, shape(5, "2", "m", "Zulu")},
          {Op::Add, shape(5, "3", "m", "Alpha")}, {Op::Add, shape(100, "4", "m", "Mike")}, {Op::SortByProvider, {}},
          {Op::Take, {}, 1}, {Op::Add, shape(5, "2", "m", "Zulu")}, {Op::Add, shape(5, "5", "m", "Alpha")},
          {Op::SortByProvider, {}}, {Op::Requeue, shape(20, "6", "m", "Alpha")}}},
        {"clear forgets every waiting page",
         {{Op::Add, shape(5, "1")}, {Op::Clear, {}}, {Op::Add, shape(5, "1")}}},
        {"the secondary list keeps the same order and has no duplicate rule",
         {{Op::ToSecondary, shape(20, "1")}, {Op::ToSecondary, shape(5, "1")}, {Op::ToSecondary, shape(5, "1")},
          {Op::SecondarySort, {}}, {Op::SecondaryTake, {}}, {Op::ToSecondary, shape(100, "2")}}},
    };
    for (const auto& c : cases) runAgainstReference(c.steps, c.name);
}

// Many steps drawn from small sets, so equal priorities, duplicates, provider
// sorts and takes out of the middle meet often.
TEST(PageQueue, LongRandomRunMatchesTheReference) {
    std::mt19937 rng(20261211);
    auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const std::int32_t priorities[] = {5, 5, 5, 20, 100, -1, 7};
    const char* providers[] = {"Acme", "ACME", "Zulu", "Mike"};
    std::vector<Step> steps;
    for (int i = 0; i < 3000; ++i) {
        PageShape s = shape(priorities[pick(7)], std::to_string(pick(6)), "m" + std::to_string(pick(3)), providers[pick(4)]);
        s.recipient = pick(40) != 0;
        s.primary = pick(40) != 0;
        int r = pick(100);
        Op op = r < 45   ? Op::Add
                : r < 55 ? Op::Requeue
                : r < 75 ? Op::Take
                : r < 80 ? Op::SortByProvider
                : r < 88 ? Op::ToSecondary
                : r < 94 ? Op::SecondaryTake
                : r < 97 ? Op::SecondarySort
                : r < 98 ? Op::Clear
                         : Op::Add;
        steps.push_back({op, s, static_cast<std::size_t>(pick(1000))});
    }
    runAgainstReference(steps, "random");
}

TEST(PageQueue, AddGivesASerialOnceAndPostsTheLengthUnderTheLock) {
    std::vector<std::int32_t> posted;
    PageQueue pages([&](std::int32_t n) { posted.push_back(n); });
    PageRecordPtr a = makePage(shape(5, "1"), 1);
    PageRecordPtr b = makePage(shape(5, "2"), 2);
    b->Serial = 77;  // a page back from a worker keeps its number
    PageRecordPtr dup = makePage(shape(5, "1"), 3);
    EXPECT_TRUE(pages.add(a));
    EXPECT_TRUE(pages.add(b));
    EXPECT_FALSE(pages.add(dup));
    EXPECT_FALSE(dup);
    EXPECT_EQ(posted, (std::vector<std::int32_t>{1, 2}));  // a duplicate posts nothing
    auto q = pages.lockQueue();
    ASSERT_EQ(q.size(), 2u);
    EXPECT_NE(q[0]->Serial, 0u);
    EXPECT_EQ(q[1]->Serial, 77u);
    EXPECT_NE(pages.newSerial(), q[0]->Serial);
}

}  // namespace
}  // namespace nv
