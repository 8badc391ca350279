// The manager's record writers (SavePort, SaveRoute) and name lists, against
// files built byte by byte at the layout's offsets.
#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <optional>

#include "foundation/RecordAccess.h"
#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
namespace fs = std::filesystem;
using test::fx::byte;
using test::fx::Image;
using test::fx::le16;
using test::fx::le32;
using test::fx::ScriptedPrompt;
using test::fx::text;

constexpr int kPortSize = 776;
constexpr int kRouteSize = 443;
constexpr int kProviderSize = 2871;

std::string portImage(const std::string& name, std::int32_t pos, bool deleted = false) {
    return Image(kPortSize)
        .put(0, text(name))
        .put(322, le16(2))
        .put(324, text("Line Two"))
        .put(584, byte(1))
        .put(586, byte(1))
        .put(587, byte(deleted ? 1 : 0))
        .put(588, le32(pos))
        .str();
}

PortRec port(const std::string& name) {
    PortRec r;
    r.setName(name);
    r.setTapiDevice(2);
    r.setModem("Line Two");
    r.setPortEnabled(true);
    r.setDirection(1);
    return r;
}

std::string routeImage(const std::string& name, const std::string& prefix, std::int32_t pos,
                       bool deleted = false) {
    return Image(kRouteSize)
        .put(0, text(name))
        .put(36, text(prefix))
        .put(52, text("Acme"))
        .put(88, text("NONE"))
        .put(426, byte(1))
        .put(427, le32(pos))
        .put(431, byte(deleted ? 1 : 0))
        .str();
}

RouteRec route(const std::string& name, const std::string& prefix) {
    RouteRec r;
    r.setRouteName(name);
    r.setNPANXX(prefix);
    r.setProvider("Acme");
    r.setSecProvider("NONE");
    r.setEnabled(true);
    return r;
}

std::string providerImage(const std::string& name, int deliveryType, bool deleted = false) {
    return Image(kProviderSize)
        .put(0, text(name))
        .put(706, byte(deleted ? 1 : 0))
        .put(2506, byte(deliveryType))
        .str();
}

// The header time of a file just written is the UTC date of the write.
void expectHeaderStampedToday(const std::string& file) {
    const std::time_t before = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&before, &utc);
    auto u16 = [&](std::size_t off) {
        return static_cast<int>(static_cast<unsigned char>(file[off]) |
                                (static_cast<unsigned char>(file[off + 1]) << 8));
    };
    EXPECT_EQ(u16(4), utc.tm_year + 1900);
    EXPECT_EQ(u16(6), utc.tm_mon + 1);
    EXPECT_EQ(u16(8), utc.tm_wday);
    EXPECT_EQ(u16(10), utc.tm_mday);
}

TEST(RecordWriters, SavePortCreatesTheFileWithItsHeader) {
    test::TempDir dir;
    ScriptedPrompt prompt;
    PortRec r = port("Modem 1");
    ASSERT_TRUE(SavePort(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), 57);
    const std::string file = test::readFile(dir / "Ports.dat");
    ASSERT_EQ(file.size(), 57u + kPortSize);
    EXPECT_EQ(test::toHex(file.substr(0, 4)), "08 03 00 00");
    expectHeaderStampedToday(file);
    EXPECT_EQ(file.substr(20, 9), text("QXDB 7.1"));
    EXPECT_EQ(file.substr(29, 28), std::string(28, '\0'));
    EXPECT_SAME_FILE(file.substr(57), portImage("Modem 1", 57));
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(RecordWriters, SavePortAppendsAndWritesInPlace) {
    test::TempDir dir;
    // A deleted slot between two live records, in a file spelled the Windows way.
    const std::string before = test::fx::header(kPortSize, "QXDB 7.1") + portImage("A", 57) +
                               portImage("Gone", 833, true) + portImage("B", 1609);
    test::writeFile(dir / "Ports.Dat", before);
    ScriptedPrompt prompt;

    PortRec added = port("C");
    ASSERT_TRUE(SavePort(added, dir.path(), prompt));
    EXPECT_EQ(added.FilePos(), 2385);  // appended: the free slot is not reused
    std::string expected = before + portImage("C", 2385);
    EXPECT_SAME_FILE(test::readFile(dir / "Ports.Dat"), expected);  // header untouched
    EXPECT_FALSE(fs::exists(dir / "Ports.dat"));

    // Remove: the record read back with Deleted set, written at its place.
    auto b = FindPort("b", dir.path(), prompt);
    ASSERT_TRUE(b);
    b->setDeleted(true);
    ASSERT_TRUE(SavePort(*b, dir.path(), prompt));
    expected.replace(1609, kPortSize, portImage("B", 1609, true));
    EXPECT_SAME_FILE(test::readFile(dir / "Ports.Dat"), expected);

    // Then another add appends again: the file grows by one record.
    PortRec d = port("D");
    ASSERT_TRUE(SavePort(d, dir.path(), prompt));
    EXPECT_EQ(d.FilePos(), 3161);
    EXPECT_SAME_FILE(test::readFile(dir / "Ports.Dat"), expected + portImage("D", 3161));
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(RecordWriters, WritersRefuseNewerFilesAndBadPositions) {
    struct Case {
        const char* what;
        std::string file;
        bool route;
        std::int32_t filePos;
        std::string message;  // the one error shown, or empty
    };
    const std::string ports = test::fx::header(kPortSize, "QXDB 7.1") + portImage("A", 57);
    const Case cases[] = {
        {"newer Ports.dat", test::fx::header(kPortSize, "QXDB 7.2") + portImage("A", 57), false, -1,
         "Port Data File Not Compatiple With This Version!"},
        {"newer route file", test::fx::header(kRouteSize, "QXDB 1.2") + routeImage("Default", "0", 57), true, -1,
         "Route Data File Not Compatiple With This Version!"},
        {"position inside a record", ports, false, 58, ""},
        {"position past the end", ports, false, 57 + 2 * kPortSize, ""},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const fs::path path = dir / (c.route ? "NpaNxxRoute.dat" : "Ports.dat");
        test::writeFile(path, c.file);
        ScriptedPrompt prompt;
        bool ok;
        if (c.route) {
            RouteRec r = route("X", "9");
            r.setFilePos(c.filePos);
            ok = SaveRoute(r, dir.path(), prompt);
        } else {
            PortRec r = port("X");
            r.setFilePos(c.filePos);
            ok = SavePort(r, dir.path(), prompt);
        }
        EXPECT_FALSE(ok) << c.what;
        EXPECT_EQ(test::readFile(path), c.file) << c.what;
        if (c.message.empty()) {
            EXPECT_TRUE(prompt.calls.empty()) << c.what;
        } else {
            ASSERT_EQ(prompt.calls.size(), 1u) << c.what;
            EXPECT_EQ(prompt.calls[0].text, c.message) << c.what;
        }
    }
}

TEST(RecordWriters, SaveRouteCreatesTheFileWithItsHeader) {
    test::TempDir dir;
    ScriptedPrompt prompt;
    RouteRec r = route("Default", "0000000000");
    ASSERT_TRUE(SaveRoute(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), 57);
    const std::string file = test::readFile(dir / "NpaNxxRoute.dat");
    ASSERT_EQ(file.size(), 57u + kRouteSize);
    EXPECT_EQ(test::toHex(file.substr(0, 4)), "BB 01 00 00");
    expectHeaderStampedToday(file);
    EXPECT_EQ(file.substr(20, 37), text("QXDB 1.1") + std::string(28, '\0'));
    EXPECT_SAME_FILE(file.substr(57), routeImage("Default", "0000000000", 57));
}

TEST(RecordWriters, SaveRouteReusesTheFirstFreeSlotAndRestampsTheHeader) {
    test::TempDir dir;
    const fs::path path = dir / "NpaNxxRoute.dat";
    const std::string header = test::fx::header(kRouteSize, "QXDB 1.1");  // time zero
    const std::string body = routeImage("Default", "0000000000", 57) + routeImage("Old", "312", 500, true) +
                             routeImage("Two", "55", 943, true) + routeImage("Three", "66", 1386);
    test::writeFile(path, header + body);
    fs::last_write_time(path, fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    const auto oldTime = fs::last_write_time(path);
    ScriptedPrompt prompt;

    RouteRec r = route("New", "415");
    ASSERT_TRUE(SaveRoute(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), 500);
    std::string file = test::readFile(path);
    ASSERT_EQ(file.size(), header.size() + body.size());  // the file does not grow
    expectHeaderStampedToday(file);
    EXPECT_EQ(file.substr(0, 4), header.substr(0, 4));
    EXPECT_EQ(file.substr(20), text("QXDB 1.1") + std::string(28, '\0') + routeImage("Default", "0000000000", 57) +
                                   routeImage("New", "415", 500) + body.substr(2 * kRouteSize));
    EXPECT_GT(fs::last_write_time(path), oldTime);

    // Delete in place, stamped again; then the next add takes that first free slot.
    test::writeFile(path, header + file.substr(57));
    auto three = FindRoute("THREE", dir.path(), true, prompt);
    ASSERT_TRUE(three);
    three->setDeleted(true);
    ASSERT_TRUE(SaveRoute(*three, dir.path(), prompt));
    file = test::readFile(path);
    expectHeaderStampedToday(file);
    EXPECT_EQ(file.substr(1386, kRouteSize), routeImage("Three", "66", 1386, true));
    RouteRec again = route("Again", "77");
    ASSERT_TRUE(SaveRoute(again, dir.path(), prompt));
    EXPECT_EQ(again.FilePos(), 943);
    RouteRec last = route("Last", "88");
    ASSERT_TRUE(SaveRoute(last, dir.path(), prompt));
    EXPECT_EQ(last.FilePos(), 1386);
    RouteRec appended = route("Appended", "99");
    ASSERT_TRUE(SaveRoute(appended, dir.path(), prompt));
    EXPECT_EQ(appended.FilePos(), 1829);
    EXPECT_EQ(test::readFile(path).size(), 57u + 5 * kRouteSize);
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(RecordWriters, NameListsTakeLiveRecordsWithANameInFileOrder) {
    test::TempDir dir;
    test::writeFile(dir / "provider.dat", test::fx::header(kProviderSize, "QXDB 7.6") +
                                              providerImage("Direct A", 0) + providerImage("Modem B", 1) +
                                              providerImage("Gone", 0, true) + providerImage("", 0) +
                                              providerImage("Direct C", 0));
    test::writeFile(dir / "NpaNxxRoute.dat", test::fx::header(kRouteSize, "QXDB 1.1") +
                                                 routeImage("Default", "0", 57) + routeImage("Gone", "1", 500, true) +
                                                 routeImage("", "2", 943) + routeImage("East", "3", 1386));
    ScriptedPrompt prompt;
    using Names = std::vector<std::string>;
    EXPECT_EQ(LoadProviderNames(dir.path(), prompt), (Names{"Direct A", "Modem B", "Direct C"}));
    EXPECT_EQ(LoadProviderNamesByType(dir.path(), 0, prompt), (Names{"Direct A", "Direct C"}));
    EXPECT_EQ(LoadProviderNamesByType(dir.path(), 7, prompt), Names{});
    EXPECT_EQ(LoadRouteNames(dir.path(), prompt), (Names{"Default", "East"}));
    EXPECT_TRUE(prompt.calls.empty());

    test::TempDir empty;
    EXPECT_TRUE(LoadProviderNames(empty.path(), prompt).empty());
    EXPECT_TRUE(LoadRouteNames(empty.path(), prompt).empty());
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(RecordWriters, NameListsRefuseANewerFile) {
    struct Case {
        std::string file, contents, message;
        bool routes;
    };
    const Case cases[] = {
        {"Provider.dat", test::fx::header(kProviderSize, "QXDB 7.7") + providerImage("A", 0),
         "Provider Data File Not Compatiple With This Version!", false},
        {"NpaNxxRoute.dat", test::fx::header(kRouteSize, "QXDB 1.2") + routeImage("Default", "0", 57),
         "Route Data File Not Compatiple With This Version!", true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        test::writeFile(dir / c.file, c.contents);
        ScriptedPrompt prompt;
        auto names = c.routes ? LoadRouteNames(dir.path(), prompt) : LoadProviderNames(dir.path(), prompt);
        EXPECT_TRUE(names.empty()) << c.file;
        ASSERT_EQ(prompt.calls.size(), 1u) << c.file;
        EXPECT_EQ(prompt.calls[0].kind, "error");
        EXPECT_EQ(prompt.calls[0].text, c.message);
        EXPECT_EQ(test::readFile(dir / c.file), c.contents);
    }
}

TEST(RecordWriters, NameListsUpgradeAnOlderFileOnce) {
    test::TempDir dir;
    // A 1.0 route file: 440-byte records, before the three flags.
    auto old = [](const std::string& name, std::int32_t pos, bool deleted) {
        return Image(440).put(0, text(name)).put(427, le32(pos)).put(431, byte(deleted ? 1 : 0)).str();
    };
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::fx::header(440, "QXDB 1.0") + old("Default", 57, false) + old("Gone", 497, true) +
                        old("West", 937, false));
    ScriptedPrompt prompt;
    EXPECT_EQ(LoadRouteNames(dir.path(), prompt), (std::vector<std::string>{"Default", "West"}));
    ASSERT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(prompt.calls[0].text, "Routing Database Updated To QXDB 1.1");
    const std::string file = test::readFile(dir / "NpaNxxRoute.dat");
    EXPECT_EQ(file.size(), 57u + 2 * kRouteSize);
    EXPECT_EQ(file.substr(20, 9), text("QXDB 1.1"));
    prompt.calls.clear();
    EXPECT_EQ(LoadRouteNames(dir.path(), prompt).size(), 2u);
    EXPECT_TRUE(prompt.calls.empty());  // once upgraded, never again
}

TEST(RecordWriters, DeclinedUpgradeGivesAnEmptyListWithoutAskingAgain) {
    test::TempDir dir;
    const std::string tooOld = test::fx::header(1500, "QXDB 6.9") + Image(1500).put(0, text("Acme")).str();
    test::writeFile(dir / "Provider.dat", tooOld);
    ScriptedPrompt prompt;  // answers No
    EXPECT_TRUE(LoadProviderNames(dir.path(), prompt).empty());
    EXPECT_TRUE(LoadProviderNamesByType(dir.path(), 0, prompt).empty());
    ASSERT_EQ(prompt.calls.size(), 2u);  // one question per list, never a loop
    EXPECT_EQ(prompt.calls[0].text, "Provider DB Incompatible! Delete Data?");
    EXPECT_EQ(prompt.calls[1].text, "Provider DB Incompatible! Delete Data?");
    EXPECT_EQ(test::readFile(dir / "Provider.dat"), tooOld);
}

}  // namespace
}  // namespace nv
