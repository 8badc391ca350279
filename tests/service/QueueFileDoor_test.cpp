// The files door: pages still held at stop are kept in hQueue.Dat and come
// back at the next start; a file that cannot be read is moved aside.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "foundation/Clock.h"
#include "protocols/EncoderFrame.h"
#include "service/PageIntake.h"
#include "service/QueueFile.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

// hQueue.Dat bytes put together by hand, field by field, from the format's description.
std::string u32(std::uint32_t v) {
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
            static_cast<char>(v >> 24)};
}
std::string lengthText(const std::string& s) { return u32(static_cast<std::uint32_t>(s.size())) + s; }
std::string at(std::string rec, std::size_t off, const std::string& bytes) { return rec.replace(off, bytes.size(), bytes); }

std::string fixtureFile() {
    // A 1124-byte recipient with its PIN at 704 and 2871-byte providers with
    // their names at 0, each text a length byte and its characters; every
    // other byte is carried as it is.
    std::string user = at(std::string(1124, '\0'), 704, "\x07" "5551234");
    std::string primary = at(std::string(2871, '\0'), 0, "\x08" "Acme TAP");
    std::string secondary = at(std::string(2871, '\0'), 0, "\x06" "Backup");
    std::string out = "NVHQUEUE" + u32(1) + u32(2);
    // Page 1: recipient and both providers, errors 1/2/0.
    out += std::string("\x07\x01\x02\x00", 4) + lengthText("Nerivale Server") + lengthText("first\x01text") +
           lengthText(std::string("\x01" "A,1,5551234,\x02" "first\x03\x04\r\n", 22)) + user + primary + secondary;
    // Page 2: no secondary provider.
    out += std::string("\x03\x00\x00\x00", 4) + lengthText("") + lengthText("second") + lengthText("") + user +
           primary;
    return out + "END.";
}

TEST(QueueFileDoor, FileWrittenByHandIsRead) {
    std::vector<SavedPage> pages;
    std::string error;
    ASSERT_TRUE(decodeQueueFile(fixtureFile(), pages, error)) << error;
    ASSERT_EQ(pages.size(), 2u);
    const TQueueRec& a = *pages[0].page;
    EXPECT_EQ(a.Originator, "Nerivale Server");
    EXPECT_EQ(a.MessageText, "first\x01text");
    EXPECT_EQ(a.RawBlock.size(), 22u);
    EXPECT_EQ(a.Recipient->PIN(), "5551234");
    EXPECT_EQ(a.PrimaryProvider->CompanyName(), "Acme TAP");
    ASSERT_TRUE(a.SecondaryProvider);
    EXPECT_EQ(a.SecondaryProvider->CompanyName(), "Backup");
    EXPECT_EQ(pages[0].pageErrors, 1);
    EXPECT_EQ(pages[0].primaryErrors, 2);
    EXPECT_EQ(pages[0].secondaryErrors, 0);
    EXPECT_FALSE(pages[1].page->SecondaryProvider);
    EXPECT_EQ(pages[1].page->MessageText, "second");
    // What the writer makes of them is the same file.
    EXPECT_EQ(test::toHex(encodeQueueFile(pages)), test::toHex(fixtureFile()));
}

// Parts bit 8: the page waited for a page worker.
TEST(QueueFileDoor, PageForTheWorkersIsMarked) {
    const std::string good = fixtureFile();
    // Page 1's parts byte sits right after the header (8 + 4 + 4 bytes).
    const std::string marked = good.substr(0, 16) + std::string("\x0F", 1) + good.substr(17);
    std::vector<SavedPage> pages;
    std::string error;
    ASSERT_TRUE(decodeQueueFile(marked, pages, error)) << error;
    ASSERT_EQ(pages.size(), 2u);
    EXPECT_TRUE(pages[0].forWorker);
    EXPECT_FALSE(pages[1].forWorker);
    EXPECT_EQ(test::toHex(encodeQueueFile(pages)), test::toHex(marked));
    const std::string unknown = good.substr(0, 16) + std::string("\x17", 1) + good.substr(17);
    EXPECT_FALSE(decodeQueueFile(unknown, pages, error));
}

TEST(QueueFileDoor, AnythingButAWholeFileIsRefused) {
    const std::string good = fixtureFile();
    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"empty", ""},
        {"other magic", "NVHQUEUF" + good.substr(8)},
        {"version 2", good.substr(0, 8) + u32(2) + good.substr(12)},
        {"cut short", good.substr(0, good.size() - 100)},
        {"no end mark", good.substr(0, good.size() - 4)},
        {"trailing bytes", good + "x"},
        {"more pages than held", good.substr(0, 12) + u32(3) + good.substr(16)},
        {"a text longer than the file", good.substr(0, 20) + u32(0xFFFFFFF0u) + good.substr(24)},
        {"three errors", good.substr(0, 17) + std::string("\x03", 1) + good.substr(18)},
    };
    for (const auto& c : cases) {
        std::vector<SavedPage> pages;
        std::string error;
        EXPECT_FALSE(decodeQueueFile(c.bytes, pages, error)) << c.name;
        EXPECT_FALSE(error.empty()) << c.name;
        EXPECT_TRUE(pages.empty()) << c.name;
    }
}

class QueueFileEngine : public ::testing::Test {
protected:
    std::unique_ptr<TNerivaleSvcMain> makeEngine() {
        EngineOptions o = test::inProcessOptions(dir.path(), clock, 5000ms);
        o.localNow = [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };
        return std::make_unique<TNerivaleSvcMain>(loop, o);
    }
    static PageRecordPtr tapPage(const std::string& pin, const std::string& msg, bool withSecondary) {
        auto primary = std::make_unique<ProviderRec>();
        primary->setCompanyName("Acme TAP");
        primary->setDeliveryType(dtTapModem);
        std::unique_ptr<ProviderRec> secondary;
        if (withSecondary) {
            secondary = std::make_unique<ProviderRec>();
            secondary->setCompanyName("Backup");
            secondary->setDeliveryType(dtTapModem);
        }
        return buildIntakePage(std::move(primary), std::move(secondary), pin, msg, encoder::testPageBlock(pin, msg));
    }
    std::vector<SavedPage> readKept() {
        std::vector<SavedPage> pages;
        std::string error;
        EXPECT_TRUE(decodeQueueFile(test::readFile(dir / "hQueue.Dat"), pages, error)) << error;
        return pages;
    }

    test::TempDir dir;
    ManualClock clock;
    EventLoop loop;
    test::LogWatch log{dir.path(), [this] { loop.pumpFor(5ms); }};
};

TEST_F(QueueFileEngine, PagesQueuedAtStopComeBackAtTheNextStartWithTheirErrors) {
    auto engine = makeEngine();
    for (int i = 0; i < 30; ++i) {
        auto page = tapPage("555" + std::to_string(i), "page " + std::to_string(i), i == 0);
        if (i == 0) {
            // The first page has failed twice already.
            page->Serial = 1000;
            engine->connectionErrors().AddConnectionError(ConnectionErrors::pageKey(*page));
            engine->connectionErrors().AddConnectionError(ConnectionErrors::pageKey(*page));
            engine->connectionErrors().AddConnectionError(ConnectionErrors::primaryKey(*page));
        }
        ASSERT_TRUE(engine->AddToQueue(page, true));
    }
    engine.reset();
    EXPECT_TRUE(log.has("[System] 30 Queued Pages Kept In hQueue.Dat For The Next Start"));
    struct stat st {};
    ASSERT_EQ(::stat((dir / "hQueue.Dat").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    auto kept = readKept();
    ASSERT_EQ(kept.size(), 30u);
    EXPECT_EQ(kept[0].page->Recipient->PIN(), "5550");
    EXPECT_EQ(kept[0].page->SecondaryProvider->CompanyName(), "Backup");
    EXPECT_EQ(kept[0].pageErrors, 2);
    EXPECT_EQ(kept[0].primaryErrors, 1);
    EXPECT_EQ(kept[29].page->MessageText, "page 29");
    EXPECT_EQ(kept[29].page->Recipient->Priority(), kIntakePriority);

    // The next start takes them back into the queue and removes the file.
    engine = makeEngine();
    ASSERT_TRUE(engine->StartServer());
    EXPECT_EQ(engine->queueLength(), 30u);
    EXPECT_FALSE(std::filesystem::exists(dir / "hQueue.Dat"));
    EXPECT_TRUE(log.waitForLine("[System] 30 Queued Pages Restored From hQueue.Dat", 1, 5s));
    // Stopped again before anything was sent: the same pages, the same errors.
    engine.reset();
    auto again = readKept();
    ASSERT_EQ(again.size(), 30u);
    EXPECT_EQ(again[0].page->Recipient->PIN(), "5550");
    EXPECT_EQ(again[0].pageErrors, 2);
    EXPECT_EQ(again[0].primaryErrors, 1);
    EXPECT_EQ(test::toHex(again[5].page->RawBlock), test::toHex(kept[5].page->RawBlock));
}

TEST_F(QueueFileEngine, UnreadableFileIsMovedAsideWithALine) {
    test::writeFile(dir / "hQueue.Dat", "NVHQUEUE" + u32(7));
    auto engine = makeEngine();
    ASSERT_TRUE(engine->StartServer());
    EXPECT_EQ(engine->queueLength(), 0u);
    EXPECT_TRUE(log.waitForLine("[System] hQueue.Dat Unreadable (version 7 not known), Moved To hQueue.Dat.bad", 1,
                                5s));
    EXPECT_FALSE(std::filesystem::exists(dir / "hQueue.Dat"));
    EXPECT_EQ(test::readFile(dir / "hQueue.Dat.bad"), "NVHQUEUE" + u32(7));
    engine.reset();
    // Nothing held at stop: no file.
    EXPECT_FALSE(std::filesystem::exists(dir / "hQueue.Dat"));
}

}  // namespace
}  // namespace nv
