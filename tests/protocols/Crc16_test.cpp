#include <gtest/gtest.h>

#include "protocols/CRC16.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {
namespace {

TEST(Crc16, CheckValueAndPacketFixtures) {
    struct Case {
        const char* hex;
        std::uint16_t crc;
    };
    // The packets are an ID page (destination 1, inertia 3, source 2,
    // serial 1, "12345" to "Hello") and the link-start packet with and
    // without STX; values from an independent bitwise CRC-16/ARC.
    const Case cases[] = {
        {"31 32 33 34 35 36 37 38 39", 0xBB3D},
        {"01 303030313033303030323031 02 42 40 3132333435 2020202020 48656C6C6F 03", 0x788B},
        {"01 303030303033303030303030 02 03", 0x0377},
        {"01 303030303033303030303030 03", 0x77C7},
    };
    for (const auto& c : cases) {
        std::uint16_t crc = 0;
        const std::string bytes = fromHex(c.hex);
        UpdateCRC16(bytes.data(), static_cast<std::uint16_t>(bytes.size()), crc);
        EXPECT_EQ(crc, c.crc) << c.hex;
        EXPECT_EQ(crc16(bytes), c.crc) << c.hex;
    }
}

TEST(Crc16, NoBytesLeaveTheValueAndChainedCallsEqualOne) {
    std::uint16_t crc = 0x1234;
    UpdateCRC16("", 0, crc);
    EXPECT_EQ(crc, 0x1234);

    const std::string all = "123456789";
    for (std::size_t cut = 0; cut <= all.size(); ++cut) {
        std::uint16_t chained = 0;
        UpdateCRC16(all.data(), static_cast<std::uint16_t>(cut), chained);
        UpdateCRC16(all.data() + cut, static_cast<std::uint16_t>(all.size() - cut), chained);
        EXPECT_EQ(chained, 0xBB3D) << cut;
    }
}

}  // namespace
}  // namespace nv::test
