#include "foundation/RecordAccess.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

#include "foundation/Encryp.h"
#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
using test::fx::Image;
using test::fx::le32;
using test::fx::f64;
using test::fx::text;
using test::fx::ScriptedPrompt;

constexpr int kP = 2871;  // provider record size
const std::string kProviderHeader = test::fx::header(kP, "QXDB 7.6");

std::string provider(const std::string& name, std::int32_t pos, bool deleted = false) {
    return Image(kP).put(0, text(name)).put(702, le32(pos)).put(706, std::string(1, deleted ? 1 : 0)).str();
}

class FixedSeed {
public:
    explicit FixedSeed(std::uint8_t seed) { setCipherSeedSource([seed] { return seed; }); }
    ~FixedSeed() { setCipherSeedSource({}); }
};

TEST(RecordAccess, SaveProviderReusesFirstFreeSlot) {
    test::TempDir dir;
    const std::string before =
        kProviderHeader + provider("Alpha", 57) + provider("Old", 2928, true) + provider("Gamma", 5799);
    test::writeFile(dir / "Provider.dat", before);
    ProviderRec r;
    r.setCompanyName("Beta");
    r.setPassword("abc");
    r.setSNPPSecure(kSwitchOff);
    r.setSMPPSecureMode(kSwitchOn);
    FixedSeed seed(0);
    ScriptedPrompt prompt;
    ASSERT_TRUE(SaveProvider(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), 2928);
    EXPECT_EQ(r.Password(), "abc");  // the caller's copy stays plain
    const std::string slot = Image(kP)
                                 .put(0, text("Beta"))
                                 .put(72, text("005285D0"))
                                 .put(702, le32(2928))
                                 .put(2543, le32(-1))
                                 .str();
    std::string expected = before;
    expected.replace(2928, kP, slot);
    EXPECT_SAME_FILE(test::readFile(dir / "Provider.dat"), expected);
    EXPECT_TRUE(prompt.calls.empty());
}

TEST(RecordAccess, SaveProviderAppendsAtTheAlignedEnd) {
    test::TempDir dir;
    // Two live records and a ragged tail left by some crash.
    const std::string live = kProviderHeader + provider("Alpha", 57) + provider("Gamma", 2928);
    test::writeFile(dir / "Provider.dat", live + std::string(100, '\x55'));
    ProviderRec r;
    r.setCompanyName("Beta");
    ScriptedPrompt prompt;
    ASSERT_TRUE(SaveProvider(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), 5799);
    EXPECT_SAME_FILE(test::readFile(dir / "Provider.dat"), live + provider("Beta", 5799));
}

TEST(RecordAccess, SaveProviderWritesHeaderIntoMissingOrStubFile) {
    for (bool stub : {false, true}) {
        test::TempDir dir;
        if (stub) test::writeFile(dir / "Provider.dat", "abc");
        ProviderRec r;
        r.setCompanyName("Beta");
        ScriptedPrompt prompt;
        ASSERT_TRUE(SaveProvider(r, dir.path(), prompt)) << stub;
        std::string file = test::readFile(dir / "Provider.dat");
        ASSERT_EQ(file.size(), 57u + kP);
        EXPECT_EQ(test::toHex(file.substr(0, 4)), "37 0B 00 00");
        EXPECT_EQ(file.substr(20, 37), text("QXDB 7.6") + std::string(28, '\0'));
        EXPECT_EQ(file.substr(57), provider("Beta", 57));
    }
}

TEST(RecordAccess, SaveProviderRefusesWhatItMustNotWrite) {
    test::TempDir dir;
    ScriptedPrompt prompt;
    ProviderRec epage;
    epage.setCompanyName("E-Page");
    EXPECT_FALSE(SaveProvider(epage, dir.path(), prompt));
    EXPECT_FALSE(std::filesystem::exists(dir / "Provider.dat"));

    // A newer file is never written into.
    const std::string newer = test::fx::header(kP, "QXDB 7.7") + provider("Alpha", 57);
    test::writeFile(dir / "Provider.dat", newer);
    ProviderRec r;
    r.setCompanyName("Beta");
    EXPECT_FALSE(SaveProvider(r, dir.path(), prompt));
    EXPECT_EQ(r.FilePos(), -1);
    ASSERT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(prompt.calls[0].text, "Provider Data File Not Compatiple With This Version!");

    // A FilePos that is no record boundary of the file is refused.
    const std::string current = kProviderHeader + provider("Alpha", 57);
    test::writeFile(dir / "Provider.dat", current);
    for (std::int32_t pos : {0, 58, 2928 + kP}) {
        r.setFilePos(pos);
        EXPECT_FALSE(SaveProvider(r, dir.path(), prompt)) << pos;
    }
    EXPECT_SAME_FILE(test::readFile(dir / "Provider.dat"), current);
}

TEST(RecordAccess, FindProviderIgnoresCaseSkipsDeletedAndDeciphers) {
    test::TempDir dir;
    std::string live = Image(kP)
                           .put(0, text("BETA"))
                           .put(72, text("005285D0"))
                           .put(702, le32(2928))
                           .put(1602, text("41E925F8"))
                           .str();
    // Made on Windows: the name is in upper case.
    test::writeFile(dir / "PROVIDER.DAT", kProviderHeader + provider("beta", 57, true) + live);
    ScriptedPrompt prompt;
    auto found = FindProvider("Beta", dir.path(), prompt);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->FilePos(), 2928);
    EXPECT_EQ(found->Password(), "abc");
    EXPECT_EQ(found->ReservedCipherText(), CipherString("41E925F8", false));
    EXPECT_FALSE(FindProvider("Gamma", dir.path(), prompt));
    EXPECT_TRUE(prompt.calls.empty());

    // Stored again, it lands in its own slot with the password ciphered again.
    found->setNotes("edited");
    ASSERT_TRUE(SaveProvider(*found, dir.path(), prompt));
    auto again = FindProvider("BETA", dir.path(), prompt);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->FilePos(), 2928);
    EXPECT_EQ(again->Notes(), "edited");
    EXPECT_EQ(again->Password(), "abc");
}

TEST(RecordAccess, ReadersRefuseNewerFileAndMissingFileHoldsNothing) {
    test::TempDir dir;
    ScriptedPrompt prompt;
    EXPECT_FALSE(FindProvider("Alpha", dir.path(), prompt));
    EXPECT_TRUE(LoadPortNames(dir.path(), prompt).empty());
    EXPECT_FALSE(FindRoute("555", dir.path(), false, prompt));
    EXPECT_TRUE(prompt.calls.empty());

    test::writeFile(dir / "Ports.dat", test::fx::header(776, "QXDB 7.2"));
    test::writeFile(dir / "NpaNxxRoute.dat", test::fx::header(443, "QXDB 1.2"));
    EXPECT_TRUE(LoadPortNames(dir.path(), prompt).empty());
    EXPECT_FALSE(FindRoute("555", dir.path(), false, prompt));
    ASSERT_EQ(prompt.calls.size(), 2u);  // the route error once: no second look for "Default"
    EXPECT_EQ(prompt.calls[0].text, "Port Data File Not Compatiple With This Version!");
    EXPECT_EQ(prompt.calls[1].text, "Route Data File Not Compatiple With This Version!");
}

TEST(RecordAccess, ReaderOffersAnUpgradeOncePerCall) {
    test::TempDir dir;
    const std::string tooOld = test::fx::header(600, "QXDB 6.9") + std::string(600, 'x');
    test::writeFile(dir / "Ports.dat", tooOld);
    ScriptedPrompt prompt;  // answers No
    EXPECT_TRUE(LoadPortNames(dir.path(), prompt).empty());
    ASSERT_EQ(prompt.calls.size(), 1u);
    EXPECT_EQ(prompt.calls[0].text, "Port DB Incompatible! Delete Data?");
    EXPECT_EQ(test::readFile(dir / "Ports.dat"), tooOld);
}

std::string route(const std::string& name, const std::string& prefix, std::int32_t pos, bool enabled = true,
                  bool deleted = false) {
    return Image(443)
        .put(0, text(name))
        .put(36, text(prefix))
        .put(52, text("P-" + name))
        .put(426, std::string(1, enabled ? 1 : 0))
        .put(427, le32(pos))
        .put(431, std::string(1, deleted ? 1 : 0))
        .str();
}

std::string routeFile(const std::vector<std::pair<std::string, std::string>>& routes) {
    std::string f = test::fx::header(443, "QXDB 1.1");
    for (const auto& [name, prefix] : routes) {
        bool deleted = name.starts_with("~");
        bool disabled = name.starts_with("!");
        f += route(deleted || disabled ? name.substr(1) : name, prefix, static_cast<std::int32_t>(f.size()),
                   !disabled, deleted);
    }
    return f;
}

TEST(RecordAccess, FindRouteTable) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> routes;  // "~" deleted, "!" disabled
        std::string key;
        bool byName;
        std::string expect;  // route name, empty for none
    };
    const std::vector<std::pair<std::string, std::string>> main = {
        {"R55", "55"}, {"R555", "555"}, {"!Off", "777"}, {"~Del", "12"}, {"Twelve", "123"}, {"default", "0000000000"}};
    const Case cases[] = {
        {"first prefix in file order, not longest", main, "5551234", false, "R55"},
        {"disabled route still returned", main, "7771", false, "Off"},
        {"deleted route skipped", main, "1234", false, "Twelve"},
        {"no prefix: Default in any case", main, "999", false, "default"},
        {"prefix is case-sensitive text", {{"Ab", "A"}}, "a1", false, ""},
        {"by name ignores case", main, "r555", true, "R555"},
        {"by name finds Default", main, "DEFAULT", true, "default"},
        {"deleted not found by name", main, "Del", true, ""},
        {"empty prefix matches all", {{"A", "9"}, {"All", ""}, {"B", "55"}}, "551", false, "All"},
        {"empty prefix after a match", {{"A", "9"}, {"All", ""}}, "9", false, "A"},
        {"none and no Default", {{"A", "9"}, {"~Default", "0"}}, "5", false, ""},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        test::writeFile(dir / "NpaNxxRoute.dat", routeFile(c.routes));
        ScriptedPrompt prompt;
        auto r = FindRoute(c.key, dir.path(), c.byName, prompt);
        EXPECT_EQ(r ? r->RouteName() : "", c.expect) << c.what;
        if (r) {
            EXPECT_EQ(r->Provider(), "P-" + c.expect) << c.what;
        }
    }
}

TEST(RecordAccess, PortNamesAndFindPort) {
    test::TempDir dir;
    auto port = [](const std::string& name, std::int32_t pos, bool deleted) {
        return Image(776).put(0, text(name)).put(587, std::string(1, deleted ? 1 : 0)).put(588, le32(pos)).str();
    };
    std::string f = test::fx::header(776, "QXDB 7.1") + port("Modem 2", 57, false) + port("Gone", 833, true) +
                    port("Direct 1", 1609, false);
    test::writeFile(dir / "Ports.Dat", f);
    ScriptedPrompt prompt;
    EXPECT_EQ(LoadPortNames(dir.path(), prompt), (std::vector<std::string>{"Modem 2", "Direct 1"}));
    auto p = FindPort("DIRECT 1", dir.path(), prompt);
    ASSERT_TRUE(p);
    EXPECT_EQ(p->FilePos(), 1609);
    EXPECT_FALSE(FindPort("Gone", dir.path(), prompt));
}

class ProviderStats : public ::testing::Test {
protected:
    void SetUp() override {
        alpha = Image(kP)
                    .put(0, text("Alpha"))
                    .put(72, text("005285D0"))
                    .put(146, le32(7))
                    .put(150, f64(100.0))
                    .put(420, le32(160))
                    .put(702, le32(57))
                    .str();
        before = kProviderHeader + alpha + provider("Gone", 2928, true) + provider("Newco", 5799);
        test::writeFile(dir / "Provider.dat", before);
    }
    // The page's copy: taken at intake, minutes old, with the intake's own message limit.
    ProviderRec staleCopy(const std::string& name, std::int32_t pos) {
        ProviderRec r;
        r.setCompanyName(name);
        r.setFilePos(pos);
        r.setMsgLength(999);
        r.setPassword("old");
        r.setPageCount(1);
        return r;
    }
    test::TempDir dir;
    std::string alpha, before;
};

TEST_F(ProviderStats, WritesOnlyCountAndTimeOfALiveRecordWithTheSameName) {
    ASSERT_TRUE(SaveProviderStats(staleCopy("ALPHA", 57), 45000.5, dir.path()));
    std::string expected = before;
    expected.replace(57 + 146, 12, le32(8) + f64(45000.5));
    EXPECT_SAME_FILE(test::readFile(dir / "Provider.dat"), expected);
}

TEST_F(ProviderStats, RefusesSlotsThatAreNotItsProvider) {
    struct Case {
        const char* what;
        std::string name;
        std::int32_t pos;
    };
    const Case cases[] = {
        {"deleted provider", "Gone", 2928},
        {"slot reused by another provider", "Oldco", 5799},
        {"never stored", "Alpha", -1},
        {"not a record boundary", "Alpha", 58},
        {"beyond the end", "Alpha", 57 + 3 * kP},
    };
    for (const auto& c : cases) EXPECT_FALSE(SaveProviderStats(staleCopy(c.name, c.pos), 1.0, dir.path())) << c.what;
    EXPECT_SAME_FILE(test::readFile(dir / "Provider.dat"), before);
}

TEST_F(ProviderStats, ConcurrentDeliveriesAllCount) {
    std::vector<std::thread> workers;
    for (int t = 0; t < 4; ++t)
        workers.emplace_back([this] {
            for (int i = 0; i < 25; ++i) SaveProviderStats(staleCopy("Alpha", 57), 2.0, dir.path());
        });
    for (auto& w : workers) w.join();
    ScriptedPrompt prompt;
    auto r = FindProvider("Alpha", dir.path(), prompt);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->PageCount(), 107);
    EXPECT_EQ(r->MsgLength(), 160);
    EXPECT_EQ(r->Password(), "abc");
}

}  // namespace
}  // namespace nv
