#include "protocols/ModemConfig.h"

#include <gtest/gtest.h>

#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

// A file as another writer would make it: header by hand, then the block.
std::string fixture(const std::string& block, std::uint32_t stringSize) {
    auto u32 = [](std::uint32_t v) {
        std::string s;
        for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
        return s;
    };
    const auto total = static_cast<std::uint32_t>(24 + block.size());
    return u32(total) + u32(total) + u32(total) + u32(1) + u32(stringSize) + u32(24) + block;
}

TEST(ModemConfigFile, DefaultSystemFileIsInstalledOnceAndMatchesTheShippedOne) {
    test::TempDir dir;
    ASSERT_TRUE(ensureSystemModemConfig(dir.path()));
    EXPECT_EQ(test::readFile(dir / "system.mcf"),
              test::readFile(std::filesystem::path(NV_SOURCE_DIR) / "protocols/data/system.mcf"));

    // An operator's file, in whatever case, stays as it is.
    test::TempDir other;
    test::writeFile(other / "SYSTEM.MCF", "mine");
    ASSERT_TRUE(ensureSystemModemConfig(other.path()));
    EXPECT_EQ(test::readFile(other / "SYSTEM.MCF"), "mine");
    EXPECT_FALSE(std::filesystem::exists(other / "system.mcf"));
}

TEST(ModemConfigFile, ReadsOurBlock) {
    const std::string block =
        "NVMCF 1\r\nSpeed=2400\r\nDataBits=8\r\nParity=n\r\nStopBits=2\r\nFlow=XonXoff\r\n"
        "ExtraInit=S7=11\r\nDial=Pulse\r\nBlindDial=1\r\nDialTimeout=45\r\nFutureKey=1\r\n";
    auto s = decodeModemConfig(fixture(block, static_cast<std::uint32_t>(block.size())));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->speed, 2400);
    EXPECT_EQ(s->dataBits, 8);
    EXPECT_EQ(s->parity, 'N');
    EXPECT_EQ(s->stopBits, 2);
    EXPECT_EQ(s->flow, ModemFlow::XonXoff);
    EXPECT_EQ(s->extraInit, "S7=11");
    EXPECT_TRUE(s->pulseDial);
    EXPECT_TRUE(s->blindDial);
    EXPECT_EQ(s->dialTimeout, 45);

    // Keys left out keep the modem's defaults.
    auto d = decodeModemConfig(fixture("NVMCF 1\r\n", 9));
    ASSERT_TRUE(d);
    EXPECT_EQ(*d, ModemSettings{});
}

TEST(ModemConfigFile, DamagedOrForeignFilesAreNotLoadable) {
    const std::string block = "NVMCF 1\r\nSpeed=2400\r\n";
    const auto size = static_cast<std::uint32_t>(block.size());
    struct Case {
        const char* what;
        std::string file;
    } cases[] = {
        {"empty", ""},
        {"shorter than the header", fixture(block, size).substr(0, 20)},
        {"size past the end", fixture(block, size + 1)},
        {"size far past the end", fixture(block, 0xFFFFFFF0u)},
        {"cut block", fixture(block, size).substr(0, 30)},
        {"other magic", fixture("UNIMODEM\r\n", 10)},
        {"newer version", fixture("NVMCF 2\r\n", 9)},
        {"binary block", fixture(test::fromHex("10 00 00 00 01 02 00 00"), 8)},
        {"bad value", fixture("NVMCF 1\r\nParity=Q\r\n", 19)},
        {"line without =", fixture("NVMCF 1\r\nSpeed\r\n", 16)},
    };
    for (const auto& c : cases) EXPECT_FALSE(decodeModemConfig(c.file)) << c.what;
}

TEST(ModemConfigFile, WrittenFileHasTheSizeHeaderAndReadsBack) {
    test::TempDir dir;
    ModemSettings s;
    s.speed = 1200;
    s.extraInit = "ATS7=33";
    s.flow = ModemFlow::None;
    ASSERT_TRUE(writeModemConfigFile(dir / "system.mcf", s));
    const std::string file = test::readFile(dir / "system.mcf");
    ASSERT_GE(file.size(), 24u);
    EXPECT_EQ(test::toHex(file.substr(0, 4)), test::toHex(fixture(file.substr(24), 0).substr(0, 4)));
    EXPECT_EQ(static_cast<unsigned char>(file[16]) + 256u * static_cast<unsigned char>(file[17]),
              file.size() - 24);
    EXPECT_EQ(file.substr(24, 9), "NVMCF 1\r\n");
    auto back = readModemConfigFile(dir / "system.mcf");
    ASSERT_TRUE(back);
    EXPECT_EQ(*back, s);
    EXPECT_FALSE(readModemConfigFile(dir / "missing.mcf"));
}

}  // namespace
}  // namespace nv

namespace nv {
namespace {

// The system.mcf installed with the programs loads and holds the modem defaults.
TEST(ModemConfigFile, ShippedSystemFileLoads) {
    auto s = readModemConfigFile(std::filesystem::path(NV_SOURCE_DIR) / "protocols/data/system.mcf");
    ASSERT_TRUE(s);
    EXPECT_EQ(*s, ModemSettings{});
}

}  // namespace
}  // namespace nv
