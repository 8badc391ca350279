#include "service/EngineLog.h"

#include <gtest/gtest.h>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

TEST(EngineLog, CleaningRemovesOnlyTheFirstLfAndTheFirstCr) {
    struct Case {
        std::string in, out;
    } cases[] = {
        {"plain", "plain"},
        {"ends\r\n", "ends"},
        {"a\r\nb\r\n", "ab\r\n"},
        {"\n\nx\r\r", "\nx\r"},
        {"", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(EngineLog::cleanText(c.in), c.out) << c.in;
}

TEST(EngineLog, ArchiveIsNamedAfterTheDayBefore) {
    struct Case {
        LocalDateTime t;
        const char* name;
    } cases[] = {
        {{2026, 12, 10, 0, 0, 0}, "12_09_26.log"},
        {{2027, 1, 1, 0, 0, 5}, "12_31_26.log"},
        {{2028, 3, 1, 0, 30, 0}, "02_29_28.log"},
        {{2000, 1, 1, 0, 0, 0}, "12_31_99.log"},
    };
    for (const auto& c : cases) EXPECT_EQ(EngineLog::archiveName(c.t), c.name);
    EXPECT_EQ(EngineLog::stamp({2026, 12, 9, 7, 5, 3}), "12/09/2026 07:05:03");
}

struct FakeWallClock {
    LocalDateTime now;
    LocalClockFn fn() {
        return [this] { return now; };
    }
};

TEST(EngineLog, TwoFiringsInHourZeroLeaveOneArchiveWithTheWholeDay) {
    test::TempDir dir;
    FakeWallClock clock{{2026, 12, 9, 8, 0, 0}};
    EngineLog log(dir.path(), clock.fn());
    EXPECT_EQ(log.write("[System] morning"), "12/09/2026 08:00:00 - [System] morning");
    clock.now = {2026, 12, 9, 23, 59, 59};
    log.write("[System] night");
    EXPECT_FALSE(log.archiveIfDue());  // not hour 00

    clock.now = {2026, 12, 10, 0, 0, 0};
    ASSERT_TRUE(log.archiveIfDue());
    const std::string day = "12/09/2026 08:00:00 - [System] morning\r\n12/09/2026 23:59:59 - [System] night\r\n";
    EXPECT_EQ(test::readFile(dir / "logs/12_09_26.log"), day);
    EXPECT_FALSE(std::filesystem::exists(dir / "Log.Dat"));

    clock.now = {2026, 12, 10, 0, 0, 30};
    log.write("[System] after midnight");
    clock.now = {2026, 12, 10, 0, 1, 0};
    EXPECT_FALSE(log.archiveIfDue());
    EXPECT_EQ(test::readFile(dir / "logs/12_09_26.log"), day);
    EXPECT_EQ(test::readFile(dir / "Log.Dat"), "12/10/2026 00:00:30 - [System] after midnight\r\n");
}

TEST(EngineLog, FailedArchiveIsRetriedAndAnExistingArchiveIsAppendedTo) {
    test::TempDir dir;
    FakeWallClock clock{{2026, 12, 9, 22, 0, 0}};
    EngineLog log(dir.path(), clock.fn());
    log.write("late");
    test::writeFile(dir / "logs", "in the way");  // the archive folder cannot be made
    clock.now = {2026, 12, 10, 0, 0, 0};
    EXPECT_FALSE(log.archiveIfDue());
    EXPECT_TRUE(std::filesystem::exists(dir / "Log.Dat"));

    std::filesystem::remove(dir / "logs");
    std::filesystem::create_directory(dir / "logs");
    // An archive already made this night, by an engine that was restarted since.
    test::writeFile(dir / "logs/12_09_26.log", "earlier\r\n");
    clock.now = {2026, 12, 10, 0, 1, 0};
    ASSERT_TRUE(log.archiveIfDue());
    EXPECT_EQ(test::readFile(dir / "logs/12_09_26.log"), "earlier\r\n12/09/2026 22:00:00 - late\r\n");
}

}  // namespace
}  // namespace nv
