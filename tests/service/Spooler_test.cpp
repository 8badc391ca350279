// The spooler's passes and the connection-error table, run one cycle at a time
// against port records without threads behind them.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <thread>

#include "service/Counters.h"
#include "service/OutboundPorts.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

class SpoolerTest : public ::testing::Test {
protected:
    SpoolerTest() {
        OutboundTiming quick;
        quick.secondaryBatchPause = std::chrono::milliseconds(0);
        OutboundEngineParts parts{
            dir.path(),
            [this](std::string t) {
                std::lock_guard<std::mutex> g(m);
                logs.push_back(std::move(t));
            },
            [this](int id, std::int32_t v) {
                std::lock_guard<std::mutex> g(m);
                counters.emplace_back(id, v);
            },
            [](const ProviderRec*) {},
            cancel, outboundStop, spoolStop,
            steadyClock(), quick};
        ports = std::make_unique<OutboundPorts>(parts);
        spooler = std::make_unique<Spooler>(ports->ctx, pages);
    }

    // The page queue's two lists as the cases read and fill them, each call
    // under the list's lock.
    struct QueueView {
        PageQueue& pages;
        std::size_t size() const { return pages.lockQueue().size(); }
        bool empty() const { return pages.lockQueue().empty(); }
        void push_back(PageRecordPtr p) const { pages.lockQueue().append(std::move(p)); }
        void clear() const { pages.lockQueue().takeAll(); }
        PageRecordPtr takeFront() const { return pages.lockQueue().take(0); }
        std::vector<std::string> pins() const { return SpoolerTest::pins(pages.lockQueue().pages()); }
    };
    struct SecondaryView {
        PageQueue& pages;
        std::size_t size() const { return pages.lockSecondary().size(); }
        bool empty() const { return pages.lockSecondary().empty(); }
        void push_back(PageRecordPtr p) const { pages.lockSecondary().append(std::move(p)); }
        void clear() const { pages.lockSecondary().takeAll(); }
        std::vector<std::string> pins() const { return SpoolerTest::pins(pages.lockSecondary().pages()); }
    };

    OutboundThreadRecPtr addPort(const std::string& name, bool direct = false, const std::string& group = "") {
        PortRec p;
        p.setName(name);
        p.setIsDirect(direct);
        p.setDirectGroupName(group);
        p.setTapiDevice(3);
        auto rec = std::make_shared<TOutboundThreadRec>(p);
        rec->State = PortState::Free;
        ports->threadList.push_back(rec);
        return rec;
    }

    PageRecordPtr page(const std::string& provider, std::uint8_t type, const std::string& pin,
                       const std::string& secProvider = "NONE", std::uint8_t secType = 1) {
        PageRecordPtr p = NewPageRecord();
        p->Originator = "Nerivale Server";
        p->Serial = ++serial;
        p->Recipient = std::make_unique<UserRec>();
        p->Recipient->setUserID("Nerivale Server");
        p->Recipient->setProviderName(provider);
        p->Recipient->setSecProviderName(secProvider);
        p->Recipient->setPIN(pin);
        p->Recipient->setSecPIN(pin);
        p->PrimaryProvider = std::make_unique<ProviderRec>();
        p->PrimaryProvider->setCompanyName(provider);
        p->PrimaryProvider->setDeliveryType(type);
        if (secProvider != "NONE") {
            p->SecondaryProvider = std::make_unique<ProviderRec>();
            p->SecondaryProvider->setCompanyName(secProvider);
            p->SecondaryProvider->setDeliveryType(secType);
        }
        p->MessageText = "Msg " + pin;
        return p;
    }
    void queuePage(const std::string& provider, std::uint8_t type, const std::string& pin,
                   const std::string& secProvider = "NONE", std::uint8_t secType = 1) {
        queue.push_back(page(provider, type, pin, secProvider, secType));
    }
    static std::vector<std::string> pins(const std::vector<PageRecordPtr>& list) {
        std::vector<std::string> out;
        for (const auto& p : list) out.push_back(p->Recipient->PIN());
        return out;
    }
    static std::vector<std::string> pins(const QueueView& list) { return list.pins(); }
    static std::vector<std::string> pins(const SecondaryView& list) { return list.pins(); }
    // The port thread's side of a finished batch, without a thread.
    static void freePort(const OutboundThreadRecPtr& rec) {
        rec->Pages.clear();
        rec->Hold = false;
        rec->State = PortState::Free;
    }
    int counted(int id) const {
        return static_cast<int>(std::count_if(counters.begin(), counters.end(),
                                              [&](const auto& c) { return c.first == id; }));
    }

    test::TempDir dir;
    std::mutex m;
    std::vector<std::string> logs;
    std::vector<std::pair<int, std::int32_t>> counters;
    PageQueue pages{[this](std::int32_t length) {
        std::lock_guard<std::mutex> g(m);
        counters.emplace_back(kCtQueued, length);
    }};
    QueueView queue{pages};
    SecondaryView secondary{pages};
    std::atomic<bool> cancel{false}, outboundStop{false}, spoolStop{false};
    std::unique_ptr<OutboundPorts> ports;
    std::unique_ptr<Spooler> spooler;
    std::uint64_t serial = 0;
};

TEST_F(SpoolerTest, ElevenPagesGoAsTenThenOneAndTheHeadWaitsWhileThePortIsBusy) {
    auto port = addPort("Modem1");
    for (int i = 0; i < 11; ++i) queuePage("Acme", dtTapModem, std::to_string(100 + i));
    spooler->runCycle();
    ASSERT_EQ(port->Pages.size(), 10u);
    EXPECT_EQ(port->State, PortState::Working);
    EXPECT_FALSE(port->Hold);
    EXPECT_EQ(pins(queue), std::vector<std::string>{"110"});
    EXPECT_EQ(logs, std::vector<std::string>{"[TAP Connection Status] Acme Assigned To Modem1 Using Device Num. 3"});

    spooler->runCycle();  // the only port is busy: the page waits
    EXPECT_EQ(queue.size(), 1u);
    EXPECT_EQ(port->Pages.size(), 10u);

    freePort(port);
    spooler->runCycle();
    EXPECT_EQ(pins(port->Pages), std::vector<std::string>{"110"});
    EXPECT_TRUE(queue.empty());
}

TEST_F(SpoolerTest, WhichPortTakesWhichPage) {
    struct Case {
        bool direct;
        std::string group;
        std::string provider;
        std::uint8_t type;
        bool taken;
    } cases[] = {
        {true, "Acme", "ACME", dtTapDirect, true},  // names compare without case
        {true, "Acme", "Acme", dtTnpp, true},
        {true, "Acme", "Other", dtTapDirect, false},
        {true, "Acme", "Acme", dtTapModem, false},
        {false, "", "Acme", dtTapModem, true},
        {false, "", "Acme", dtSnpp, true},
        {false, "", "Acme", dtTapDirect, false},
        {false, "", "Acme", dtTnpp, false},
    };
    for (const auto& c : cases) {
        ports->threadList.clear();
        queue.clear();
        secondary.clear();
        auto port = addPort("Port", c.direct, c.group);
        auto busy = addPort("Busy");  // keeps the page in the queue when not taken
        busy->State = PortState::Working;
        queuePage(c.provider, c.type, "555");
        spooler->runCycle();
        SCOPED_TRACE(c.provider + " type " + std::to_string(c.type) + (c.direct ? " direct" : " modem"));
        EXPECT_EQ(port->Pages.size(), c.taken ? 1u : 0u);
        EXPECT_EQ(queue.size(), c.taken ? 0u : 1u);
        // Examined without pages, the port stays busy so its thread hangs up.
        EXPECT_EQ(port->State, c.taken ? PortState::Working : PortState::Idle);
    }
}

TEST_F(SpoolerTest, PageNoPortCanTakeMovesToItsSecondaryOrIsDropped) {
    addPort("Direct", true, "Elsewhere");
    queuePage("Acme", dtTapDirect, "1001", "Backup");
    spooler->runCycle();
    EXPECT_TRUE(queue.empty());
    EXPECT_EQ(pins(secondary), std::vector<std::string>{"1001"});

    ports->threadList.front()->State = PortState::Free;
    queuePage("Acme", dtTapDirect, "1002");
    spooler->runCycle();
    EXPECT_TRUE(queue.empty());
    ASSERT_EQ(logs.size(), 1u);
    EXPECT_EQ(logs[0], "[Delivery Fail]  Error Sending To Provider \"Acme\" ID:  - Nerivale Server PIN:1002 Msg: Msg 1002");
    EXPECT_EQ(counted(kCtError), 1);
}

TEST_F(SpoolerTest, SecondaryPageNoPortTakesReturnsTwiceAndIsDroppedTheThirdTime) {
    auto port = addPort("Direct", true, "Elsewhere");
    for (int attempt = 1; attempt <= 3; ++attempt) {
        port->State = PortState::Free;
        secondary.push_back(attempt == 1 ? page("Acme", dtTapModem, "77", "Backup", dtTapDirect)
                                         : queue.takeFront());
        queue.clear();
        spooler->runCycle();  // queue empty: the secondary pass
        SCOPED_TRACE(attempt);
        EXPECT_TRUE(secondary.empty());
        EXPECT_EQ(queue.size(), attempt < 3 ? 1u : 0u);
    }
    EXPECT_EQ(logs.back(), "[Delivery Fail]  Error Sending To Provider \"Acme\" ID:  - Nerivale Server PIN:77 Msg: Msg 77");
    EXPECT_EQ(counted(kCtError), 1);
    EXPECT_EQ(ports->errors.size(), 0u);
}

TEST_F(SpoolerTest, SecondaryPassFillsFreePortsBySecondaryProviderAndWaitsWhileOneRuns) {
    auto a = addPort("Modem1");
    auto b = addPort("Modem2");
    secondary.push_back(page("P", dtTapModem, "1", "SecA"));
    secondary.push_back(page("P", dtTapModem, "2", "SecB"));
    secondary.push_back(page("P", dtTapModem, "3", "SecA"));

    ports->SecondaryRunning = true;
    spooler->runCycle();
    EXPECT_EQ(secondary.size(), 3u);

    // A batch is the run of pages for one secondary provider at the head; the
    // third page waits while both ports are busy.
    ports->SecondaryRunning = false;
    spooler->runCycle();
    EXPECT_TRUE(a->Hold);
    EXPECT_TRUE(b->Hold);
    EXPECT_EQ(pins(a->Pages), std::vector<std::string>{"1"});
    EXPECT_EQ(pins(b->Pages), std::vector<std::string>{"2"});
    EXPECT_EQ(pins(secondary), std::vector<std::string>{"3"});
    EXPECT_TRUE(logs.empty());  // the secondary pass writes no assignment line

    freePort(a);
    secondary.push_back(page("P", dtTapModem, "4", "SecA"));
    spooler->runCycle();
    EXPECT_EQ(pins(a->Pages), (std::vector<std::string>{"3", "4"}));
}

// One batch per cycle: a provider that keeps getting pages does not hold back
// the providers that sort after it.
TEST_F(SpoolerTest, ProvidersSortingLateGetTheirTurn) {
    auto port = addPort("Modem1");
    for (int i = 0; i < 25; ++i) queuePage("Alpha", dtTapModem, "A" + std::to_string(i));
    queuePage("Zulu", dtTapModem, "Z");
    spooler->runCycle();
    EXPECT_EQ(port->Pages.front()->Recipient->ProviderName(), "Alpha");
    freePort(port);
    queuePage("Alpha", dtTapModem, "A-new");
    spooler->runCycle();
    EXPECT_EQ(pins(port->Pages), std::vector<std::string>{"Z"});
    freePort(port);
    spooler->runCycle();
    EXPECT_EQ(port->Pages.front()->Recipient->ProviderName(), "Alpha");
}

// The queue keeps the order a stable sort on the priority text gives, whether
// it was in that order before (insertion) or the spooler sorted it by provider.
TEST(PageOrder, InsertingGivesWhatAStableSortGives) {
    const std::vector<std::vector<std::int32_t>> cases = {
        {5, 5, 5, 5},              // the intake's one priority: arrival order
        {5, 100, 20, 5, 100, -1},  // "100" sorts before "20", "-1" first
        {1, 2, 3, 2, 1},
    };
    for (const auto& priorities : cases) {
        for (bool presorted : {true, false}) {
            std::vector<PageRecordPtr> list, reference;
            for (std::size_t i = 0; i < priorities.size(); ++i) {
                PageRecordPtr p = NewPageRecord();
                p->Recipient = std::make_unique<UserRec>();
                p->Recipient->setPriority(priorities[i]);
                p->MessageText = std::to_string(i);
                reference.push_back(NewPageRecord());
                reference.back()->Recipient = std::make_unique<UserRec>(*p->Recipient);
                reference.back()->MessageText = p->MessageText;
                if (presorted) {
                    InsertInPageOrder(list, std::move(p));
                } else {
                    list.push_back(std::move(p));  // arrival order, as after a provider sort
                }
            }
            PageRecordPtr last = NewPageRecord();
            last->Recipient = std::make_unique<UserRec>();
            last->Recipient->setPriority(priorities[0]);
            last->MessageText = "new";
            reference.push_back(NewPageRecord());
            reference.back()->Recipient = std::make_unique<UserRec>(*last->Recipient);
            reference.back()->MessageText = "new";
            InsertInPageOrder(list, std::move(last));
            std::stable_sort(reference.begin(), reference.end(), ComparePageOrder);
            std::vector<std::string> got, want;
            for (const auto& p : list) got.push_back(p->MessageText);
            for (const auto& p : reference) want.push_back(p->MessageText);
            EXPECT_EQ(got, want) << ::testing::PrintToString(priorities) << " presorted=" << presorted;
        }
    }
    // The texts "-01" < "05" < "100" < "20".
    std::vector<PageRecordPtr> list;
    for (std::int32_t pr : {20, 5, 100, -1}) {
        PageRecordPtr p = NewPageRecord();
        p->Recipient = std::make_unique<UserRec>();
        p->Recipient->setPriority(pr);
        InsertInPageOrder(list, std::move(p));
    }
    std::vector<std::int32_t> order;
    for (const auto& p : list) order.push_back(p->Recipient->Priority());
    EXPECT_EQ(order, (std::vector<std::int32_t>{-1, 5, 100, 20}));
}

TEST(ConnectionErrors, ThirdErrorRemovesTheKeyAndKeysIgnoreCaseAndSeparators) {
    ConnectionErrors t;
    EXPECT_TRUE(t.AddConnectionError("Page12"));
    EXPECT_TRUE(t.AddConnectionError(" page=12\r\n"));
    EXPECT_EQ(t.count("PAGE12"), 2);
    EXPECT_FALSE(t.AddConnectionError("Page 12"));
    EXPECT_EQ(t.size(), 0u);
    EXPECT_TRUE(t.AddConnectionError("Page12"));
    EXPECT_EQ(t.count("Page12"), 1);
    t.ClearConnectionError("page12");
    EXPECT_EQ(t.size(), 0u);
}

TEST(ConnectionErrors, PageKeysComeFromTheSerialAndGoWithThePage) {
    TQueueRec a, b;
    a.Serial = 1;
    b.Serial = 2;
    EXPECT_NE(ConnectionErrors::pageKey(a), ConnectionErrors::primaryKey(a));
    EXPECT_NE(ConnectionErrors::primaryKey(a), ConnectionErrors::secondaryKey(a));
    EXPECT_NE(ConnectionErrors::pageKey(a), ConnectionErrors::pageKey(b));
    ConnectionErrors t;
    t.AddConnectionError(ConnectionErrors::pageKey(a));
    t.AddConnectionError(ConnectionErrors::primaryKey(a));
    t.AddConnectionError(ConnectionErrors::pageKey(b));
    t.forgetPage(a);
    EXPECT_EQ(t.size(), 1u);
    EXPECT_EQ(t.count(ConnectionErrors::pageKey(b)), 1);
}


// An exception that the passes do not catch ends its cycle with the
// "Exception1" line; the spooler goes on with the next cycle, without
// announcing itself again.
TEST_F(SpoolerTest, ExceptionOutsideThePassesEndsTheCycleOnly) {
    ports->ctx.timing.spoolStart = std::chrono::milliseconds(0);
    ports->ctx.timing.spoolCycle = std::chrono::milliseconds(1);
    ports->ctx.timing.spoolPagesWait = std::chrono::milliseconds(0);
    // The pass's own exception line cannot be written, so its exception
    // leaves the pass.
    ports->ctx.log = [this](std::string t) {
        if (t.rfind("[System] Primary Queue Services Exception", 0) == 0) throw std::runtime_error("log refused");
        std::lock_guard<std::mutex> g(m);
        logs.push_back(std::move(t));
    };
    PageRecordPtr orphan = NewPageRecord();  // no recipient: the pass raises on it
    queue.push_back(std::move(orphan));
    spooler->start();
    const std::string want = "[System] Main Queue Services Exception1: log refused: 1/0";
    auto seen = [&] {
        std::lock_guard<std::mutex> g(m);
        return std::count(logs.begin(), logs.end(), want) >= 2;
    };
    for (int i = 0; i < 2000 && !seen(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    spoolStop.store(true);
    ASSERT_TRUE(spooler->join(std::chrono::seconds(10)));
    ASSERT_TRUE(seen());
    std::lock_guard<std::mutex> g(m);
    EXPECT_EQ(logs.front(), "[System] Queue Services Active, Ready To Spool Pages");
    EXPECT_EQ(std::count(logs.begin(), logs.end(), "[System] Queue Services Active, Ready To Spool Pages"), 1);
    EXPECT_EQ(logs.back(), "[System] Queue Services Disabled");
    for (const auto& l : logs) EXPECT_NE(l.rfind("[System] Main Queue Services Exception: ", 0), 0u) << l;
}

}  // namespace
}  // namespace nv
