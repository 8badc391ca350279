#include "service/PageIntake.h"

#include <gtest/gtest.h>

#include "protocols/EncoderFrame.h"
#include "service/SrvcMainFrm.h"

namespace nv {
namespace {

RouteRec route(const std::string& npanxx, bool removePrefix, bool pinInSubject) {
    RouteRec r;
    r.setRouteName("R");
    r.setNPANXX(npanxx);
    r.setRemoveRoutePrefix(removePrefix);
    r.setPlacePinInSubPri(pinInSubject);
    r.setEddr("@pri.example");
    r.setSecEddr("sec@example.net");
    return r;
}

TEST(PageIntake, BuiltinProvidersMatchExactlyAndAreNeverStored) {
    struct Case {
        const char* name;
        bool pinInSubject;
        int type;  // -1: not built in
    } cases[] = {
        {"TNPP", false, 7},    {"Brevicor", false, 9}, {"E-Page", false, 8}, {"E-Page", true, 10},
        {"tnpp", false, -1},   {"BREVICOR", false, -1}, {"E-Page ", false, -1}, {"NONE", false, -1},
        {"", false, -1},
    };
    for (const auto& c : cases) {
        auto rec = builtinProvider(c.name, route("55", false, c.pinInSubject), "@pri.example");
        if (c.type < 0) {
            EXPECT_FALSE(rec) << c.name;
            continue;
        }
        ASSERT_TRUE(rec) << c.name;
        EXPECT_EQ(rec->CompanyName(), c.name);
        EXPECT_EQ(rec->DeliveryType(), c.type);
        EXPECT_EQ(rec->FilePos(), -1);
        EXPECT_EQ(rec->MsgLength(), 0);
        EXPECT_EQ(rec->SNPPServer(), (c.type == 8 || c.type == 10) ? "@pri.example" : "");
    }
}

TEST(PageIntake, PrefixRemovalUsesTheRoutesOwnPrefixLength) {
    EXPECT_EQ(routedPin("5551234", route("555", true, false)), "1234");
    EXPECT_EQ(routedPin("5551234", route("555", false, false)), "5551234");
    // Reached through "Default": its own NPANXX length counts, a shorter PIN empties.
    EXPECT_EQ(routedPin("123456", route("0000000000", true, false)), "");
    EXPECT_EQ(routedPin("123456789012", route("0000000000", true, false)), "12");
}

TEST(PageIntake, PageRecordCarriesRoutedPinAndServerName) {
    auto primary = std::make_unique<ProviderRec>();
    primary->setCompanyName("Acme SNPP");
    primary->setMsgLength(160);
    auto page = buildIntakePage(std::move(primary), nullptr, "1234", "hi there", encoder::testPageBlock("5551234", "hi there"));
    EXPECT_EQ(page->Originator, "Nerivale Server");
    EXPECT_EQ(page->Originator.find('\0'), std::string::npos);
    EXPECT_EQ(page->Recipient->UserID(), "Nerivale Server");
    EXPECT_EQ(page->Recipient->ProviderName(), "Acme SNPP");
    EXPECT_EQ(page->Recipient->SecProviderName(), "NONE");
    EXPECT_EQ(page->Recipient->PIN(), "1234");
    EXPECT_EQ(page->Recipient->SecPIN(), "1234");
    EXPECT_EQ(page->Recipient->Priority(), kIntakePriority);
    EXPECT_EQ(page->PrimaryProvider->MsgLength(), 8);
    EXPECT_FALSE(page->SecondaryProvider);
    EXPECT_EQ(page->MessageText, "hi there");
    EXPECT_EQ(page->RawBlock, std::string("\x01" "A,1,5551234,\x02" "hi there\x03\x04\r\n"));

    auto empty = buildIntakePage(std::make_unique<ProviderRec>(), builtinProvider("TNPP", route("", false, false), ""),
                                 "9", "", "");
    EXPECT_EQ(empty->PrimaryProvider->MsgLength(), 0);
    EXPECT_EQ(empty->Recipient->SecProviderName(), "TNPP");
}

}  // namespace
}  // namespace nv
