#include "foundation/RecordUpgrade.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <set>
#include <thread>

#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {
namespace fs = std::filesystem;
using test::fx::Image;
using test::fx::le32;
using test::fx::ScriptedPrompt;
using test::fx::text;

using FieldValues = std::vector<std::pair<std::size_t, std::string>>;

struct OldKind {
    const char* recName;
    const char* fileName;
    const char* version;       // the old file's version
    std::size_t oldSize;
    std::size_t newSize;
    const char* newVersion;
    std::size_t filePosAt, deletedAt;
    const char* backup;
    const char* updated;       // the information text
    FieldValues defaults;           // non-zero values the upgrade must put into each record
};

const FieldValues kProvider76 = {{2532, text("443")}, {2543, le32(-1)}, {2863, le32(2775)}, {2867, le32(-1)}};
const FieldValues kProvider74 = {{2506, "\x01"}};
const FieldValues kProvider73 = {{2355, text("http://")}};

FieldValues join(std::initializer_list<FieldValues> parts) {
    FieldValues all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

std::vector<OldKind> oldKinds() {
    const char* pInfo = "Provider Database Updated To QXDB 7.6";
    auto provider = [&](const char* v, std::size_t size, FieldValues d) {
        return OldKind{"ProviderRec", "Provider.dat", v, size, 2871, "QXDB 7.6", 702, 706, "Provider.bak", pInfo, d};
    };
    FieldValues portDefaults = {{720, "\x06"},      {721, le32(60)}, {729, le32(6)},  {733, le32(10)},
                           {737, le32(10)},    {741, le32(6)},  {745, le32(2)},  {749, le32(60)},
                           {753, le32(24)},    {757, le32(10)}, {772, le32(3)}};
    return {
        provider("QXDB 7.0", 1872, join({kProvider73, kProvider74, kProvider76})),
        provider("QXDB 7.1", 1880, join({kProvider73, kProvider74, kProvider76})),
        provider("QXDB 7.2", 1946, join({kProvider73, kProvider74, kProvider76})),
        provider("QXDB 7.3", 2506, join({kProvider74, kProvider76})),
        provider("QXDB 7.4", 2507, kProvider76),
        provider("QXDB 7.5", 2511, kProvider76),
        {"PortRec", "Ports.dat", "QXDB 7.0", 649, 776, "QXDB 7.1", 588, 587, "Port.bak", "Ports Updated To QXDB 7.1",
         portDefaults},
        {"RouteRec", "NpaNxxRoute.dat", "QXDB 1.0", 440, 443, "QXDB 1.1", 427, 431, "Route.bak",
         "Routing Database Updated To QXDB 1.1", {}},
        {"UserRec", "Users.dat", "QXDB 7.0", 1112, 1124, "QXDB 7.2", 414, 418, "User.bak",
         "User Database Updated To QXDB 7.2", {{1120, le32(5)}}},
        {"UserRec", "Users.dat", "QXDB 7.1", 1120, 1124, "QXDB 7.2", 414, 418, "User.bak",
         "User Database Updated To QXDB 7.2", {{1120, le32(5)}}},
        {"GroupRec", "Groups.dat", "QXDB 7.0", 353, 361, "QXDB 7.1", 50, 54, "Group.bak",
         "Group Database Updated To QXDB 7.1", {}},
    };
}

// Old record i: a name, a marker near its end (to show the whole old record is
// carried), a stale FilePos; record 1 is deleted.
std::string oldRecord(const OldKind& k, int i) {
    Image r(k.oldSize);
    r.put(0, text("Rec " + std::to_string(i)));
    r.put(k.oldSize - 2, std::string(1, static_cast<char>(0xA0 + i)));
    r.put(k.filePosAt, le32(12345));
    r.put(k.deletedAt, std::string(1, i == 1 ? 1 : 0));
    return r.str();
}

std::string newRecord(const OldKind& k, int i, std::int32_t pos) {
    Image r(k.newSize);
    r.put(0, oldRecord(k, i));
    for (const auto& [off, bytes] : k.defaults) r.put(off, bytes);
    r.put(k.filePosAt, le32(pos));
    return r.str();
}

std::set<std::string> listing(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST(RecordUpgrade, ConvertsEveryOlderVersionOfEveryKind) {
    for (const OldKind& k : oldKinds()) {
        SCOPED_TRACE(std::string(k.recName) + " " + k.version);
        test::TempDir dir;
        // Three records, the second deleted, and half a record left at the end.
        const std::string old = test::fx::header(static_cast<std::int32_t>(k.oldSize), k.version) +
                                oldRecord(k, 0) + oldRecord(k, 1) + oldRecord(k, 2) +
                                std::string(k.oldSize / 2, '\x77');
        test::writeFile(dir / k.fileName, old);
        ScriptedPrompt prompt;
        EXPECT_EQ(UpdateRecordFile(k.recName, dir / k.fileName, prompt), UpgradeResult::Converted);

        const std::string file = test::readFile(dir / k.fileName);
        const auto second = static_cast<std::int32_t>(57 + k.newSize);
        ASSERT_EQ(file.size(), 57 + 2 * k.newSize);
        EXPECT_EQ(file.substr(0, 4), le32(static_cast<std::int32_t>(k.newSize)));
        EXPECT_EQ(file.substr(20), text(k.newVersion) + std::string(28, '\0') + newRecord(k, 0, 57) +
                                       newRecord(k, 2, second));
        EXPECT_EQ(test::readFile(dir / k.backup), old);
        ASSERT_EQ(prompt.calls.size(), 1u);
        EXPECT_EQ(prompt.calls[0].kind, "inform");
        EXPECT_EQ(prompt.calls[0].text, k.updated);
        EXPECT_EQ(listing(dir.path()), (std::set<std::string>{k.fileName, k.backup}));

        // A second run finds the current version and does nothing.
        EXPECT_EQ(UpdateRecordFile(k.recName, dir / k.fileName, prompt), UpgradeResult::NothingToDo);
        EXPECT_EQ(test::readFile(dir / k.fileName), file);
        EXPECT_EQ(test::readFile(dir / k.backup), old);
        EXPECT_EQ(prompt.calls.size(), 1u);
    }
}

// Run as root (the service may be): the upgraded file and its backup stay
// the operator's, with the old file's group and mode, even where a stale
// backup of root's was in the way.
TEST(RecordUpgrade, NewFileAndBackupKeepTheOldOwnerGroupAndMode) {
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to give files away";
    constexpr uid_t kOperator = 4242;
    constexpr gid_t kGroup = 4343;
    test::TempDir dir;
    const std::string old = test::fx::header(2511, "QXDB 7.5") + Image(2511).put(0, text("Alpha")).str();
    test::writeFile(dir / "Provider.dat", old);
    ASSERT_EQ(::chown((dir / "Provider.dat").c_str(), kOperator, kGroup), 0);
    ASSERT_EQ(::chmod((dir / "Provider.dat").c_str(), 0640), 0);
    test::writeFile(dir / "Provider.bak", "stale");
    ASSERT_EQ(::chmod((dir / "Provider.bak").c_str(), 0600), 0);
    ScriptedPrompt prompt;
    ASSERT_EQ(UpdateRecordFile("ProviderRec", dir / "Provider.dat", prompt), UpgradeResult::Converted);
    for (const char* name : {"Provider.dat", "Provider.bak"}) {
        struct stat st {};
        ASSERT_EQ(::stat((dir / name).c_str(), &st), 0) << name;
        EXPECT_EQ(st.st_uid, kOperator) << name;
        EXPECT_EQ(st.st_gid, kGroup) << name;
        EXPECT_EQ(st.st_mode & 07777, 0640u) << name;
    }
    EXPECT_EQ(test::readFile(dir / "Provider.bak"), old);
}

TEST(RecordUpgrade, DeliveryTypeFromLegacyFlagsLastSetWins) {
    struct Case {
        std::vector<std::size_t> flags;  // LegacyType6 1683, Snpp 701, Wctp 712, FleetSync 1724, Sms 1871, Direct 711
        int type;
    };
    const Case cases[] = {
        {{}, 1},           {{1683}, 6},       {{701}, 2},        {{712}, 3},       {{1724}, 5},
        {{1871}, 4},       {{711}, 0},        {{701, 711}, 0},   {{1683, 1871}, 4}, {{701, 712}, 3},
        {{1724, 1871, 701}, 4},
    };
    std::string old = test::fx::header(2506, "QXDB 7.3");
    for (const auto& c : cases) {
        Image r(2506);
        for (std::size_t f : c.flags) r.put(f, "\x01");
        old += r.str();
    }
    test::TempDir dir;
    test::writeFile(dir / "Provider.dat", old);
    ScriptedPrompt prompt;
    ASSERT_EQ(UpdateRecordFile("ProviderRec", dir / "Provider.dat", prompt), UpgradeResult::Converted);
    const std::string file = test::readFile(dir / "Provider.dat");
    for (std::size_t i = 0; i < std::size(cases); ++i)
        EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(file[57 + i * 2871 + 2506])), cases[i].type) << i;
}

TEST(RecordUpgrade, TooOldFileIsOfferedForDiscarding) {
    struct Case {
        const char* recName;
        const char* fileName;
        const char* version;
        const char* question;
        const char* discardBackup;
        bool yes;
    };
    const Case cases[] = {
        {"ProviderRec", "Provider.dat", "QXDB 6.9", "Provider DB Incompatible! Delete Data?", "cProvider.bak", true},
        {"ProviderRec", "Provider.dat", "QXDB 6.9", "Provider DB Incompatible! Delete Data?", "cProvider.bak", false},
        {"RouteRec", "NpaNxxRoute.dat", "QXDB 0.9", "Route Record DB Incompatible! Delete Data?", "Route.bak", true},
        {"PortRec", "Ports.dat", "", "Port DB Incompatible! Delete Data?", "cPort.bak", true},
        {"GroupRec", "Groups.dat", "QXDB 6", "Group DB Incompatible! Delete Data?", "cGroup.bak", false},
        {"UserRec", "Users.dat", "QXDB 1.0", "User DB Incompatible! Delete Data?", "cUser.bak", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.recName) + (c.yes ? " yes" : " no"));
        test::TempDir dir;
        const std::string old = test::fx::header(100, c.version) + std::string(100, 'r');
        test::writeFile(dir / c.fileName, old);
        test::writeFile(dir / c.discardBackup, "older backup");
        ScriptedPrompt prompt({c.yes});
        EXPECT_EQ(UpdateRecordFile(c.recName, dir / c.fileName, prompt),
                  c.yes ? UpgradeResult::Discarded : UpgradeResult::Declined);
        ASSERT_GE(prompt.calls.size(), 1u);
        EXPECT_EQ(prompt.calls[0].kind, "ask");
        EXPECT_EQ(prompt.calls[0].text, c.question);
        if (c.yes) {
            EXPECT_FALSE(fs::exists(dir / c.fileName));
            EXPECT_EQ(test::readFile(dir / c.discardBackup), old);
        } else {
            EXPECT_EQ(test::readFile(dir / c.fileName), old);
            EXPECT_EQ(test::readFile(dir / c.discardBackup), "older backup");
        }
        // Only the user file's discard names the two paths.
        bool userMessage = c.yes && std::string(c.recName) == "UserRec";
        ASSERT_EQ(prompt.calls.size(), userMessage ? 2u : 1u);
        if (userMessage) {
            EXPECT_EQ(prompt.calls[1].text,
                      (dir / c.fileName).string() + "\r\r" + (dir / c.discardBackup).string());
        }
    }
}

TEST(RecordUpgrade, LeavesFilesItMustNotConvertUntouched) {
    struct Case {
        const char* what;
        const char* recName;
        std::string bytes;
        UpgradeResult result;
        bool reported;
    };
    const std::string record(2511, 'p');
    const Case cases[] = {
        {"current version", "ProviderRec", test::fx::header(2871, "QXDB 7.6") + std::string(2871, 'p'),
         UpgradeResult::NothingToDo, false},
        {"newer version", "ProviderRec", test::fx::header(2871, "QXDB 7.7"), UpgradeResult::NothingToDo, false},
        {"shorter than a header", "ProviderRec", "QXDB", UpgradeResult::NothingToDo, false},
        {"kind word in another case", "providerrec", test::fx::header(2511, "QXDB 7.5") + record,
         UpgradeResult::NothingToDo, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        test::writeFile(dir / "Provider.dat", c.bytes);
        ScriptedPrompt prompt;
        EXPECT_EQ(UpdateRecordFile(c.recName, dir / "Provider.dat", prompt), c.result);
        EXPECT_EQ(test::readFile(dir / "Provider.dat"), c.bytes);
        EXPECT_EQ(listing(dir.path()), std::set<std::string>{"Provider.dat"});
        ASSERT_EQ(prompt.calls.size(), c.reported ? 1u : 0u);
        if (c.reported) {
            EXPECT_EQ(prompt.calls[0].kind, "error");
        }
    }
    test::TempDir empty;
    ScriptedPrompt prompt;
    EXPECT_EQ(UpdateRecordFile("ProviderRec", empty / "Provider.dat", prompt), UpgradeResult::NothingToDo);
    EXPECT_TRUE(fs::is_empty(empty.path()));
}

// An older file whose RecordSize is not the record size of one of its kind's
// versions cannot be stepped through: it is refused like a file too old to
// convert, and the service's answer (No) leaves it as it is. RecordSize 1 used
// to make every byte a record and ask for gigabytes.
TEST(RecordUpgrade, RecordSizeOfNoKnownVersionIsRefused) {
    struct Case {
        const char* what;
        const char* recName;
        const char* fileName;
        std::int32_t recordSize;
        const char* version;
        const char* question;
    };
    const char* provider = "Provider DB Incompatible! Delete Data?";
    const Case cases[] = {
        {"RecordSize 1", "ProviderRec", "Provider.dat", 1, "QXDB 7.5", provider},
        {"RecordSize 0", "ProviderRec", "Provider.dat", 0, "QXDB 7.5", provider},
        {"RecordSize negative", "ProviderRec", "Provider.dat", -5, "QXDB 7.5", provider},
        {"between two versions' sizes", "ProviderRec", "Provider.dat", 2510, "QXDB 7.3", provider},
        {"above the current size", "ProviderRec", "Provider.dat", 2872, "QXDB 7.5", provider},
        {"port", "PortRec", "Ports.dat", 100, "QXDB 7.0", "Port DB Incompatible! Delete Data?"},
        {"route", "RouteRec", "NpaNxxRoute.dat", 441, "QXDB 1.0", "Route Record DB Incompatible! Delete Data?"},
        {"user", "UserRec", "Users.dat", 1, "QXDB 7.1", "User DB Incompatible! Delete Data?"},
        {"group", "GroupRec", "Groups.dat", 360, "QXDB 7.0", "Group DB Incompatible! Delete Data?"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        test::TempDir dir;
        const std::string old = test::fx::header(c.recordSize, c.version) + std::string(4096, 'r');
        test::writeFile(dir / c.fileName, old);
        ScriptedPrompt prompt({false});
        EXPECT_EQ(UpdateRecordFile(c.recName, dir / c.fileName, prompt), UpgradeResult::Declined);
        ASSERT_EQ(prompt.calls.size(), 1u);
        EXPECT_EQ(prompt.calls[0].kind, "ask");
        EXPECT_EQ(prompt.calls[0].text, c.question);
        EXPECT_EQ(test::readFile(dir / c.fileName), old);
        EXPECT_EQ(listing(dir.path()), std::set<std::string>{c.fileName});
    }
    // The operator who answers Yes has it moved aside, as a file too old to convert.
    test::TempDir dir;
    const std::string odd = test::fx::header(1, "QXDB 7.5") + std::string(4096, 'r');
    test::writeFile(dir / "Provider.dat", odd);
    ScriptedPrompt yes({true});
    EXPECT_EQ(UpdateRecordFile("ProviderRec", dir / "Provider.dat", yes), UpgradeResult::Discarded);
    EXPECT_EQ(test::readFile(dir / "cProvider.bak"), odd);
    EXPECT_FALSE(fs::exists(dir / "Provider.dat"));

    // Every size of an older version of the kind is still converted.
    for (std::int32_t size : {1872, 1880, 1946, 2506, 2507, 2511, 2871}) {
        SCOPED_TRACE(size);
        test::TempDir dir;
        test::writeFile(dir / "Provider.dat", test::fx::header(size, "QXDB 7.5") + std::string(size, '\0'));
        ScriptedPrompt prompt;
        EXPECT_EQ(UpdateRecordFile("ProviderRec", dir / "Provider.dat", prompt), UpgradeResult::Converted);
    }
}

TEST(RecordUpgrade, FileMadeOnWindowsIsFoundInAnyCase) {
    test::TempDir dir;
    const std::string old = test::fx::header(440, "QXDB 1.0") + Image(440).put(0, text("Default")).str();
    test::writeFile(dir / "NPANXXROUTE.DAT", old);
    ScriptedPrompt prompt;
    // The manager's start-up look-up of "Default" brings the route file up to date.
    auto r = FindRoute("Default", dir.path(), true, prompt);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->FilePos(), 57);
    EXPECT_FALSE(r->RemoveRoutePrefix());
    EXPECT_EQ(listing(dir.path()), (std::set<std::string>{"NPANXXROUTE.DAT", "Route.bak"}));
    EXPECT_EQ(test::readFile(dir / "Route.bak"), old);
}

TEST(RecordUpgrade, ReadersAlwaysFindTheFileWhileItIsUpgraded) {
    // One old data directory per round, so a file once upgraded never turns old
    // again; the reader (another program's look-up) may itself start the upgrade.
    constexpr int kRounds = 40;
    test::TempDir root;
    const std::string old = test::fx::header(2511, "QXDB 7.5") + Image(2511).put(0, text("Alpha")).str() +
                            Image(2511).put(0, text("Beta")).str();
    std::vector<fs::path> dirs;
    for (int i = 0; i < kRounds; ++i) {
        dirs.push_back(root / std::to_string(i));
        fs::create_directory(dirs.back());
        test::writeFile(dirs.back() / "Provider.dat", old);
    }
    std::atomic<int> round{0};
    std::atomic<bool> stop{false};
    std::atomic<int> looks{0}, missingFile{0}, missingRecord{0};
    std::thread reader([&] {
        UnattendedPrompt prompt(nullptr);
        while (!stop) {
            const fs::path& dir = dirs[static_cast<std::size_t>(round.load())];
            int fd = ::open((dir / "Provider.dat").c_str(), O_RDONLY | O_CLOEXEC);
            if (fd < 0) ++missingFile;
            else ::close(fd);
            if (!FindProvider("beta", dir, prompt)) ++missingRecord;
            ++looks;
        }
    });
    ScriptedPrompt prompt;
    for (int i = 0; i < kRounds; ++i) {
        round = i;
        UpdateRecordFile("ProviderRec", dirs[static_cast<std::size_t>(i)] / "Provider.dat", prompt);
    }
    while (looks < 50) std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(missingFile, 0);
    EXPECT_EQ(missingRecord, 0);
    for (const auto& dir : dirs) {
        auto r = FindProvider("Beta", dir, prompt);
        ASSERT_TRUE(r);
        EXPECT_EQ(r->FilePos(), 57 + 2871);
        EXPECT_EQ(test::readFile(dir / "Provider.bak"), old);
    }
}

}  // namespace
}  // namespace nv
