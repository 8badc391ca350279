#include <gtest/gtest.h>

#include <ctime>
#include <functional>

#include "foundation/DataFile.h"
#include "foundation/Records.h"
#include "tests/foundation/fixtures/RecordFixtures.h"
#include "tests/peers/TestSupport.h"

namespace nv {
namespace {

std::string bytesAt(const std::uint8_t* base, std::size_t off, std::size_t n) {
    return std::string(reinterpret_cast<const char*>(base + off), n);
}

TEST(RecordLayout, HeaderBytesMatchFixture) {
    // Tuesday 2024-03-05 14:07:09.123 UTC
    std::tm tm{};
    tm.tm_year = 124;
    tm.tm_mon = 2;
    tm.tm_mday = 5;
    tm.tm_hour = 14;
    tm.tm_min = 7;
    tm.tm_sec = 9;
    auto when = std::chrono::system_clock::from_time_t(timegm(&tm)) + std::chrono::milliseconds(123);
    auto h = DataFileHeader::make(2871, "QXDB 7.6", when);
    std::string expected = test::fromHex(
        "37 0B 00 00"
        "E8 07 03 00 02 00 05 00 0E 00 07 00 09 00 7B 00"
        "08 51 58 44 42 20 37 2E 36"
        "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00");
    EXPECT_EQ(test::toHex(std::string(h.bytes.begin(), h.bytes.end())), test::toHex(expected));
    EXPECT_EQ(h.RecordSize(), 2871);
    EXPECT_EQ(h.VersionText(), "QXDB 7.6");
    EXPECT_EQ(h.HeaderTime().wDayOfWeek, 2);
    EXPECT_EQ(h.HeaderTime().wMilliseconds, 123);
}

TEST(RecordLayout, FieldsLandAtTheirOffsets) {
    struct Case {
        const char* what;
        std::function<std::string()> bytes;
        std::string hex;
    };
    const Case cases[] = {
        {"Provider SMPPort 2775 at 2863",
         [] { ProviderRec r; r.setSMPPort(2775); return bytesAt(r.data(), 2863, 4); }, "D70A0000"},
        {"Provider DeliveryType at 2506",
         [] { ProviderRec r; r.setDeliveryType(dtSmpp); return bytesAt(r.data(), 2506, 1); }, "0C"},
        {"Provider FilePos at 702, new record -1",
         [] { ProviderRec r; return bytesAt(r.data(), 702, 4); }, "FFFFFFFF"},
        {"Provider Deleted at 706",
         [] { ProviderRec r; r.setDeleted(true); return bytesAt(r.data(), 706, 1); }, "01"},
        {"Provider PageCount, LastAccess at 146",
         [] { ProviderRec r; r.setPageCount(3); r.setLastAccess(1.5); return bytesAt(r.data(), 146, 12); },
         "03000000000000000000F83F"},
        {"Provider SNPPSecure off at 2543",
         [] { ProviderRec r; r.setSNPPSecure(kSwitchOff); return bytesAt(r.data(), 2543, 4); }, "FFFFFFFF"},
        {"Provider SMPPSecureMode on at 2867",
         [] { ProviderRec r; r.setSMPPSecureMode(-1); r.setSMPPSecureMode(kSwitchOn); return bytesAt(r.data(), 2867, 4); },
         "00000000"},
        {"Provider TapOverIPPort at 2532",
         [] { ProviderRec r; r.setTapOverIPPort("443"); return bytesAt(r.data(), 2532, 4); }, "03343433"},
        {"Port Deleted at 587, FilePos at 588",
         [] { PortRec r; r.setDeleted(true); r.setFilePos(776 + 57); return bytesAt(r.data(), 587, 5); },
         "0141030000"},
        {"Port TapiDevice int16 at 322",
         [] { PortRec r; r.setTapiDevice(-2); return bytesAt(r.data(), 322, 2); }, "FEFF"},
        {"Route FilePos at 427, Deleted at 431",
         [] { RouteRec r; r.setFilePos(500); r.setDeleted(true); return bytesAt(r.data(), 427, 5); },
         "F401000001"},
        {"User Priority at 1120", [] { UserRec r; r.setPriority(5); return bytesAt(r.data(), 1120, 4); },
         "05000000"},
        {"Group FilePos at 50, Deleted at 54",
         [] { GroupRec r; r.setFilePos(57); r.setDeleted(true); return bytesAt(r.data(), 50, 5); }, "3900000001"},
    };
    for (const auto& c : cases) EXPECT_EQ(test::toHex(c.bytes()), test::toHex(test::fromHex(c.hex))) << c.what;
}

TEST(RecordLayout, TextFieldsClampDamagedLengthAndCutLongText) {
    ProviderRec r;
    r.setCompanyName(std::string(36, 'x'));
    EXPECT_EQ(r.CompanyName(), std::string(35, 'x'));  // 36th character dropped
    EXPECT_EQ(r.data()[0], 35);
    EXPECT_EQ(r.data()[36], 0);                          // the next field untouched

    // A damaged length byte must not read into the next field.
    r.data()[0] = 200;
    EXPECT_EQ(r.CompanyName().size(), 35u);

    // A shorter text leaves the unused tail as it was (as the Windows version stores it).
    r.setCompanyName("ab");
    EXPECT_EQ(bytesAt(r.data(), 0, 4), test::fromHex("02616278"));
}

TEST(RecordLayout, NewRecordIsZeroButForFilePos) {
    ProviderRec r;
    for (std::size_t i = 0; i < r.kSize; ++i) {
        if (i >= 702 && i < 706) continue;
        ASSERT_EQ(r.data()[i], 0) << i;
    }
    EXPECT_EQ(r.FilePos(), -1);
}

TEST(RecordLayout, RecordTimeCountsLocalDaysFrom1899) {
    struct Case {
        int year, month, day, hour, minute;
        double days;
    };
    const Case cases[] = {
        {1899, 12, 30, 0, 0, 0.0},
        {1900, 1, 1, 0, 0, 2.0},
        {2000, 1, 1, 12, 0, 36526.5},
        {2024, 7, 1, 6, 0, 45474.25},
    };
    for (const auto& c : cases) {
        std::tm tm{};
        tm.tm_year = c.year - 1900;
        tm.tm_mon = c.month - 1;
        tm.tm_mday = c.day;
        tm.tm_hour = c.hour;
        tm.tm_min = c.minute;
        tm.tm_isdst = -1;
        auto tp = std::chrono::system_clock::from_time_t(std::mktime(&tm));
        EXPECT_DOUBLE_EQ(toRecordTime(tp), c.days) << c.year;
        EXPECT_EQ(fromRecordTime(c.days), tp) << c.year;
    }
}

TEST(RecordLayout, VersionsCompareAsLengthPrefixedBytes) {
    EXPECT_LT(compareVersion("QXDB 7.5", "QXDB 7.6"), 0);
    EXPECT_LT(compareVersion("QXDB 1.1", "QXDB 7.0"), 0);
    EXPECT_EQ(compareVersion("QXDB 7.6", "QXDB 7.6"), 0);
    EXPECT_GT(compareVersion("QXDB 7.7", "QXDB 7.6"), 0);
    EXPECT_LT(compareVersion("QXDB 7", "QXDB 7.0"), 0);   // a prefix is smaller
    EXPECT_LT(compareVersion("", "QXDB 1.0"), 0);
    EXPECT_GT(compareVersion("QXDB \xE9", "QXDB 7.6"), 0);  // bytes compare unsigned
}

TEST(RecordLayout, KindsAreFoundByTheirExactWord) {
    EXPECT_EQ(findRecordKind("ProviderRec"), &ProviderRec::kKind);
    EXPECT_EQ(findRecordKind("RouteRec")->size, 443u);
    EXPECT_EQ(findRecordKind("providerrec"), nullptr);
}

}  // namespace
}  // namespace nv
