// The record look-ups answered from a file's index give what a plain scan of the
// file gives, and see every change of the file by the very next look-up.
#include "foundation/RecordIndex.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <functional>
#include <optional>
#include <thread>
#include <vector>

#include "foundation/RecordAccess.h"
#include "foundation/RecordUpgrade.h"
#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
namespace fs = std::filesystem;
using test::RouteFixture;
using test::fx::Image;
using test::fx::le32;
using test::fx::ScriptedPrompt;
using test::fx::text;

constexpr std::int32_t kRouteSize = 443;
constexpr std::int32_t kProviderSize = 2871;
constexpr std::int32_t kPortSize = 776;

std::int32_t slotPos(int slot, std::int32_t size) { return 57 + slot * size; }

// The test decides how long ago "now" the files last changed: an hour later
// than the wall clock unless a test says otherwise.
class TestClock {
public:
    RecordIndexCache::Clock clock() {
        return [this] { return std::chrono::system_clock::now() + std::chrono::seconds(m_ahead.load()); };
    }
    void setAhead(long long seconds) { m_ahead = seconds; }

private:
    std::atomic<long long> m_ahead{3600};
};

// Modification time an hour back: a file that changed long ago (its change time stays now).
const std::time_t kLongAgo = std::time(nullptr) - 3600;
void setModified(const fs::path& path, std::time_t when) {
    const timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string providerImage(const std::string& name, int slot, bool deleted = false) {
    return Image(kProviderSize)
        .put(0, text(name))
        .put(72, text("005285D0"))  // "abc" ciphered with seed 0
        .put(702, le32(slotPos(slot, kProviderSize)))
        .put(706, std::string(1, deleted ? 1 : 0))
        .str();
}

std::string portImage(const std::string& name, int slot, bool deleted = false) {
    return Image(kPortSize)
        .put(0, text(name))
        .put(587, std::string(1, deleted ? 1 : 0))
        .put(588, le32(slotPos(slot, kPortSize)))
        .str();
}

enum class Kind { Route, RouteByName, Provider, Port };

// The FilePos of what the look-up found, or -1.
std::int32_t lookUp(Kind kind, const std::string& key, const fs::path& dir, UserPrompt& prompt,
                    RecordIndexCache* cache) {
    switch (kind) {
    case Kind::Route:
    case Kind::RouteByName: {
        auto r = FindRoute(key, dir, kind == Kind::RouteByName, prompt, cache);
        return r ? r->FilePos() : -1;
    }
    case Kind::Provider: {
        auto p = FindProvider(key, dir, prompt, cache);
        if (p) {
            EXPECT_EQ(p->Password(), "abc");  // deciphered on either path
        }
        return p ? p->FilePos() : -1;
    }
    case Kind::Port: {
        auto p = FindPort(key, dir, prompt, cache);
        return p ? p->FilePos() : -1;
    }
    }
    return -1;
}

const char* fileOf(Kind kind) {
    return kind == Kind::Provider ? "Provider.dat" : kind == Kind::Port ? "Ports.dat" : "NpaNxxRoute.dat";
}

TEST(RecordIndex, LookUpRulesAreTheSameWithAndWithoutTheIndex) {
    RouteFixture off{.name = "Off", .npanxx = "777", .enabled = false};
    RouteFixture del{.name = "Del", .npanxx = "12", .deleted = true};
    const std::string routes = test::routeFile({{.name = "R55", .npanxx = "55"},
                                                {.name = "R555", .npanxx = "555"},
                                                off,
                                                del,
                                                {.name = "Twelve", .npanxx = "123"},
                                                {.name = "default", .npanxx = "0000000000"}});
    auto routesOf = [](std::vector<RouteFixture> r) { return test::routeFile(r); };
    const std::string providerHeader = test::fx::header(kProviderSize, "QXDB 7.6");
    const std::string providers = providerHeader + providerImage("beta", 0, true) + providerImage("BETA", 1) +
                                  providerImage("Beta", 2) + providerImage("\xC9tat", 3);
    const std::string ports = test::fx::header(kPortSize, "QXDB 7.1") + portImage("Modem 2", 0) +
                              portImage("Gone", 1, true) + portImage("Direct 1", 2) + portImage("direct 1", 3);
    struct Case {
        const char* what;
        Kind kind;
        std::string file;
        std::string key;
        int expectSlot;  // -1: none
    };
    const Case cases[] = {
        {"first prefix in file order, not the longest", Kind::Route, routes, "5551234", 0},
        {"disabled route still returned", Kind::Route, routes, "7771", 2},
        {"deleted route skipped", Kind::Route, routes, "1234", 4},
        {"no prefix: Default by name in any case", Kind::Route, routes, "999", 5},
        {"prefix compared in the same case", Kind::Route, routesOf({{.name = "Ab", .npanxx = "A"}}), "a1", -1},
        {"empty prefix matches every PIN",
         Kind::Route, routesOf({{.name = "A", .npanxx = "9"}, {.name = "All"}, {.name = "B", .npanxx = "55"}}),
         "551", 1},
        {"an earlier route wins over a later empty prefix",
         Kind::Route, routesOf({{.name = "A", .npanxx = "9"}, {.name = "All"}}), "9", 0},
        {"a longer prefix earlier in the file wins",
         Kind::Route, routesOf({{.name = "Long", .npanxx = "5551"}, {.name = "Short", .npanxx = "5"}}), "55512", 0},
        {"the same prefix twice: the first",
         Kind::Route, routesOf({{.name = "A", .npanxx = "55"}, {.name = "B", .npanxx = "55"}}), "55", 0},
        {"PIN shorter than every prefix",
         Kind::Route, routesOf({{.name = "A", .npanxx = "5551"}, {.name = "Default", .npanxx = "9"}}), "555", 1},
        {"no match and the only Default deleted",
         Kind::Route, routesOf({{.name = "A", .npanxx = "9"}, {.name = "Default", .npanxx = "0", .deleted = true}}),
         "5", -1},
        {"a deleted Default, then a live DEFAULT",
         Kind::Route,
         routesOf({{.name = "Default", .npanxx = "0", .deleted = true}, {.name = "DEFAULT", .npanxx = "1"}}), "5",
         1},
        {"route by name ignores case", Kind::RouteByName, routes, "r555", 1},
        {"route by name finds Default", Kind::RouteByName, routes, "DEFAULT", 5},
        {"deleted route not found by name", Kind::RouteByName, routes, "Del", -1},
        {"route name equal but for case: the first",
         Kind::RouteByName, routesOf({{.name = "Xy", .npanxx = "1"}, {.name = "XY", .npanxx = "2"}}), "xY", 0},
        {"provider: deleted skipped, case ignored, first of equals", Kind::Provider, providers, "Beta", 1},
        {"provider: only ASCII letters fold", Kind::Provider, providers, "\xE9TAT", -1},
        {"provider: same bytes found", Kind::Provider, providers, "\xC9TAT", 3},
        {"provider: not there", Kind::Provider, providers, "Gamma", -1},
        {"provider: a longer name is another name", Kind::Provider, providers, "Beta ", -1},
        {"port: case ignored, first of equals", Kind::Port, ports, "DIRECT 1", 2},
        {"port: deleted not found", Kind::Port, ports, "Gone", -1},
    };
    const std::int32_t sizes[] = {kRouteSize, kRouteSize, kProviderSize, kPortSize};
    for (const auto& c : cases) {
        test::TempDir dir;
        const fs::path file = dir / fileOf(c.kind);
        test::writeFile(file, c.file);
        setModified(file, kLongAgo);
        const std::int32_t expect = c.expectSlot < 0 ? -1 : slotPos(c.expectSlot, sizes[static_cast<int>(c.kind)]);
        ScriptedPrompt prompt;
        EXPECT_EQ(lookUp(c.kind, c.key, dir.path(), prompt, nullptr), expect) << c.what << " (scan)";
        TestClock clock;
        RecordIndexCache cache(clock.clock());
        EXPECT_EQ(lookUp(c.kind, c.key, dir.path(), prompt, &cache), expect) << c.what << " (index built)";
        EXPECT_EQ(lookUp(c.kind, c.key, dir.path(), prompt, &cache), expect) << c.what << " (index warm)";
        EXPECT_EQ(cache.builds(), 1u) << c.what;
        EXPECT_TRUE(prompt.calls.empty()) << c.what;
    }
}

TEST(RecordIndex, RefusedAndDeclinedFilesBehaveAsWithoutAnIndexOnEveryCall) {
    struct Case {
        const char* what;
        Kind kind;
        std::string file;
    };
    const Case cases[] = {
        {"newer route file", Kind::Route, test::fx::header(kRouteSize, "QXDB 1.2")},
        {"newer provider file", Kind::Provider, test::fx::header(kProviderSize, "QXDB 7.7")},
        {"port file too old to convert, discarding declined", Kind::Port,
         test::fx::header(600, "QXDB 6.9") + std::string(600, 'x')},
        {"file shorter than a header", Kind::Route, "QXDB"},
    };
    for (const auto& c : cases) {
        auto calls = [&](RecordIndexCache* cache) {
            test::TempDir dir;
            test::writeFile(dir / fileOf(c.kind), c.file);
            setModified(dir / fileOf(c.kind), kLongAgo);
            ScriptedPrompt prompt;  // answers No
            for (int i = 0; i < 3; ++i) EXPECT_EQ(lookUp(c.kind, "555", dir.path(), prompt, cache), -1) << c.what;
            EXPECT_EQ(test::readFile(dir / fileOf(c.kind)), c.file) << c.what;
            std::vector<std::string> texts;
            for (const auto& call : prompt.calls) texts.push_back(call.kind + ": " + call.text);
            return texts;
        };
        TestClock clock;
        RecordIndexCache cache(clock.clock());
        const auto scanned = calls(nullptr);
        EXPECT_EQ(calls(&cache), scanned) << c.what;
        EXPECT_EQ(cache.builds(), 0u) << c.what;
        if (c.file.size() > 57) {
            EXPECT_EQ(scanned.size(), 3u) << c.what;  // once per call
        }
    }
}

TEST(RecordIndex, OlderFileIsUpgradedOnceThenAnsweredFromTheIndex) {
    test::TempDir dir;
    // A "QXDB 1.0" route file: 440-byte records without the three flags.
    const std::string old = test::fx::header(440, "QXDB 1.0") +
                            Image(440).put(0, text("Old")).put(36, text("55")).put(52, text("Acme")).put(426, "\x01").str();
    test::writeFile(dir / "NpaNxxRoute.dat", old);
    TestClock clock;
    RecordIndexCache cache(clock.clock());
    ScriptedPrompt prompt;
    auto found = FindRoute("5551", dir.path(), false, prompt, &cache);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->RouteName(), "Old");
    ASSERT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(prompt.calls[0].text, "Routing Database Updated To QXDB 1.1");
    EXPECT_EQ(cache.builds(), 0u);  // answered by the scan that upgraded it

    setModified(dir / "NpaNxxRoute.dat", kLongAgo);
    found = FindRoute("5551", dir.path(), false, prompt, &cache);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->FilePos(), 57);
    EXPECT_EQ(cache.builds(), 1u);
    EXPECT_EQ(prompt.calls.size(), 1u);
}

// A manager-style change of a settled, indexed file. `settleAfter`: the look-up
// after the change comes an hour later, or within the same second.
struct Change {
    const char* what;
    Kind kind;
    std::string file;
    std::string key;
    int slotBefore;
    std::function<void(const fs::path& dir, RecordIndexCache& cache)> change;
    int slotAfter;
    // False for a change that only the time guard can see: put in the time
    // granule of the index's own build, which a real clock never allows.
    bool anHourLaterToo = true;
};

void runChanges(const std::vector<Change>& changes) {
    for (bool sameSecond : {false, true}) {
        for (const auto& c : changes) {
            if (!sameSecond && !c.anHourLaterToo) continue;
            const std::string what = std::string(c.what) + (sameSecond ? " (same second)" : " (an hour later)");
            const std::int32_t size = c.kind == Kind::Provider ? kProviderSize
                                      : c.kind == Kind::Port   ? kPortSize
                                                               : kRouteSize;
            test::TempDir dir;
            const fs::path file = dir / fileOf(c.kind);
            test::writeFile(file, c.file);
            setModified(file, kLongAgo);
            TestClock clock;
            RecordIndexCache cache(clock.clock());
            ScriptedPrompt prompt;
            ASSERT_EQ(lookUp(c.kind, c.key, dir.path(), prompt, &cache), slotPos(c.slotBefore, size)) << what;
            ASSERT_EQ(cache.builds(), 1u) << what;
            c.change(dir.path(), cache);
            if (sameSecond) clock.setAhead(0);
            const std::int32_t expect = c.slotAfter < 0 ? -1 : slotPos(c.slotAfter, size);
            EXPECT_EQ(lookUp(c.kind, c.key, dir.path(), prompt, &cache), expect) << what;
            EXPECT_EQ(cache.builds(), sameSecond ? 1u : 2u) << what;
            EXPECT_TRUE(prompt.calls.empty()) << what;
        }
    }
}

TEST(RecordIndex, ManagerWritesInPlaceAreSeenByTheNextLookUp) {
    const std::string routes = test::routeFile({{.name = "A", .npanxx = "9"},
                                                {.name = "B", .npanxx = "55"},
                                                {.name = "Gone", .npanxx = "5", .deleted = true}});
    const std::string providers =
        test::fx::header(kProviderSize, "QXDB 7.6") + providerImage("Acme", 0) + providerImage("Zeta", 1);
    const std::string ports = test::fx::header(kPortSize, "QXDB 7.1") + portImage("Modem 1", 0);
    UnattendedPrompt quiet(nullptr);
    const std::vector<Change> changes = {
        {"route's prefix edited", Kind::Route, routes, "5551", 1,
         [&](const fs::path& dir, RecordIndexCache&) {
             auto r = FindRoute("A", dir, true, quiet, nullptr);
             r->setNPANXX("555");
             ASSERT_TRUE(SaveRoute(*r, dir, quiet));
         },
         0},
        {"new route takes the deleted slot", Kind::Route, routes, "5551", 1,
         [&](const fs::path& dir, RecordIndexCache&) {
             RouteRec r;
             r.setRouteName("New");
             r.setNPANXX("5");
             ASSERT_TRUE(SaveRoute(r, dir, quiet));
             ASSERT_EQ(r.FilePos(), slotPos(2, kRouteSize));
         },
         1},
        {"route renamed away", Kind::RouteByName, routes, "b", 1,
         [&](const fs::path& dir, RecordIndexCache&) {
             auto r = FindRoute("B", dir, true, quiet, nullptr);
             r->setRouteName("C");
             ASSERT_TRUE(SaveRoute(*r, dir, quiet));
         },
         -1},
        {"provider renamed to the name looked up", Kind::Provider, providers, "zeta", 1,
         [&](const fs::path& dir, RecordIndexCache&) {
             auto p = FindProvider("Acme", dir, quiet, nullptr);
             p->setCompanyName("ZETA");
             ASSERT_TRUE(SaveProvider(*p, dir, quiet));
         },
         0},
        {"provider deleted in place", Kind::Provider, providers, "Zeta", 1,
         [&](const fs::path& dir, RecordIndexCache&) {
             auto p = FindProvider("Zeta", dir, quiet, nullptr);
             p->setDeleted(1);
             ASSERT_TRUE(storeRecord(ProviderRec::kKind, dir, p->data(), SlotRule::FirstFreeSlot, quiet));
         },
         -1},
        {"port appended with the name looked up", Kind::Port, ports, "modem 1", 0,
         [&](const fs::path& dir, RecordIndexCache&) {
             auto p = FindPort("Modem 1", dir, quiet, nullptr);
             p->setName("Modem 0");
             ASSERT_TRUE(SavePort(*p, dir, quiet));
             PortRec again;
             again.setName("MODEM 1");
             ASSERT_TRUE(SavePort(again, dir, quiet));
         },
         1},
    };
    runChanges(changes);
}

TEST(RecordIndex, ReplacedFilesAreSeenByTheNextLookUp) {
    const std::string before = test::routeFile({{.name = "A", .npanxx = "55"}, {.name = "B", .npanxx = "5"}});
    const std::string after = test::routeFile({{.name = "A", .npanxx = "66"}, {.name = "B", .npanxx = "5"}});
    // The same size and, as far as a coarse clock shows, the same time.
    auto replace = [&](const fs::path& dir, RecordIndexCache&) {
        test::writeFile(dir / "new.tmp", after);
        setModified(dir / "new.tmp", kLongAgo);
        ASSERT_EQ(std::rename((dir / "new.tmp").c_str(), (dir / "NpaNxxRoute.dat").c_str()), 0);
    };
    // Written in place with the old time put back: only the change time tells.
    auto rewriteKeepingTime = [&](const fs::path& dir, RecordIndexCache&) {
        test::writeFile(dir / "NpaNxxRoute.dat", after);
        setModified(dir / "NpaNxxRoute.dat", kLongAgo);
    };
    auto removeThenRecreate = [&](const fs::path& dir, RecordIndexCache&) {
        fs::remove(dir / "NpaNxxRoute.dat");
        UnattendedPrompt quiet(nullptr);
        EXPECT_FALSE(FindRoute("551", dir, false, quiet, nullptr));
        test::writeFile(dir / "NpaNxxRoute.dat", after);
        setModified(dir / "NpaNxxRoute.dat", kLongAgo);
    };
    std::vector<Change> changes = {
        {"replaced by rename", Kind::Route, before, "551", 0, replace, 1},
        {"rewritten, old time put back", Kind::Route, before, "551", 0, rewriteKeepingTime, 1, false},
        {"removed and made again", Kind::Route, before, "551", 0, removeThenRecreate, 1},
    };
    runChanges(changes);
}

TEST(RecordIndex, NewlyChangedFileIsNotTrustedToItsIndex) {
    TestClock clock;
    RecordIndexCache cache(clock.clock());
    struct stat st {};
    test::TempDir dir;
    test::writeFile(dir / "x", "x");
    ASSERT_EQ(::stat((dir / "x").c_str(), &st), 0);
    FileStamp stamp = FileStamp::of(st);
    EXPECT_TRUE(cache.settled(stamp));
    clock.setAhead(1);
    EXPECT_FALSE(cache.settled(stamp));
    clock.setAhead(-3600);  // a time stamp in the future
    EXPECT_FALSE(cache.settled(stamp));
}

TEST(RecordIndex, ConcurrentLookUpsSeeOneFileOrTheOther) {
    test::TempDir dir;
    const std::string one = test::routeFile({{.name = "One", .npanxx = "5"}, {.name = "Two", .npanxx = "55"}});
    const std::string two = test::routeFile({{.name = "One", .npanxx = "6"}, {.name = "Two", .npanxx = "55"}});
    const std::string providers = test::fx::header(kProviderSize, "QXDB 7.6") + providerImage("Acme", 0);
    test::writeFile(dir / "NpaNxxRoute.dat", one);
    test::writeFile(dir / "Provider.dat", providers);
    setModified(dir / "NpaNxxRoute.dat", kLongAgo);
    setModified(dir / "Provider.dat", kLongAgo);
    TestClock clock;
    RecordIndexCache cache(clock.clock());
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&] {
            UnattendedPrompt quiet(nullptr);
            while (!stop) {
                auto r = FindRoute("551", dir.path(), false, quiet, &cache);
                auto p = FindProvider("ACME", dir.path(), quiet, &cache);
                if (!r || (r->RouteName() != "One" && r->RouteName() != "Two") || !p) ++wrong;
            }
        });
    }
    for (int i = 0; i < 200; ++i) {
        test::writeFile(dir / "new.tmp", i % 2 ? one : two);
        setModified(dir / "new.tmp", kLongAgo + i);
        ASSERT_EQ(std::rename((dir / "new.tmp").c_str(), (dir / "NpaNxxRoute.dat").c_str()), 0);
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(wrong.load(), 0);
    UnattendedPrompt quiet(nullptr);
    EXPECT_EQ(FindRoute("551", dir.path(), false, quiet, &cache)->RouteName(), "One");
}

}  // namespace
}  // namespace nv
