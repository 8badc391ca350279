// The TAP dialogue of TKORAlpaPage on a scripted stream: each mode's waits,
// read and written without a socket or a device, on a manual clock.
#include <gtest/gtest.h>

#include "protocols/KORAlphaPage.h"
#include "tests/peers/ScriptedByteStream.h"

namespace nv::test {
namespace {

std::string block(const std::string& body) {
    unsigned sum = 0;
    for (unsigned char c : body) sum += c;
    sum &= 0xFFF;
    std::string out = body;
    for (int shift : {8, 4, 0}) out += static_cast<char>('0' + ((sum >> shift) & 15));
    return out + "\r";
}

const std::string kBlock = block("\x02" "5551234\rHello\r\x03");
const std::string kLogin = "\x1bPG1\r";

struct Case {
    const char* name;
    TAOpMode mode;
    std::vector<std::string> answers;  // one per write
    bool sent;
    std::string sendResult;
    std::string written;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class TapPagerStream : public ::testing::TestWithParam<Case> {};

TEST_P(TapPagerStream, LoginAndOneBlock) {
    const Case& c = GetParam();
    ManualClock clock;
    ScriptedByteStream line(&clock);
    for (const auto& a : c.answers) line.deliverAfterWrite("", a);
    TKORAlpaPage pager({}, clock);
    pager.DeviceOperationMode = c.mode;
    pager.attachStream(&line);
    pager.bConnected = true;
    pager.bDropped = false;
    ASSERT_TRUE(pager.nLogin());
    EXPECT_EQ(pager.SendTextMessage("5551234", "Hello"), c.sent);
    EXPECT_EQ(pager.SendResult, c.sendResult);
    EXPECT_EQ(line.written(), c.written);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, TapPagerStream,
    ::testing::Values(
        Case{"DirectAck", opmaDirect, {"ID=", "\x1b[p\r", "\x06\r"}, true, "Message Submitted For Processing",
             "\r" + kLogin + kBlock},
        Case{"TcpNakThenAck", opmaTCP, {"\r\nID=", "\x06\r", "\x15\r", "\r\x06\r"}, true,
             "Message Submitted For Processing", "\r" + kLogin + kBlock + kBlock},
        Case{"ModemInvalidPin", opmaModem, {"ID=", "\x1b[p\r", "\x1e\r"}, false, "Invalid PIN Number",
             "\r" + kLogin + kBlock},
        Case{"DirectSilentTerminal", opmaDirect, {"ID=", "\x1b[p\r"}, false,
             "Error: No or Uknown Response From Terminal", "\r" + kLogin + kBlock}),
    [](const auto& info) { return std::string(info.param.name); });

// Three carriage returns, then the hang-up: EOT CR on a line, nothing over TCP.
TEST(TapPagerStreamLogin, NoPromptFailsAfterThreeCarriageReturns) {
    const std::pair<TAOpMode, std::string> cases[] = {
        {opmaDirect, "\r\r\r\x04\r"}, {opmaModem, "\r\r\r\x04\r"}, {opmaTCP, "\r\r\r"}};
    for (const auto& [mode, written] : cases) {
        ManualClock clock;
        ScriptedByteStream line(&clock);
        TKORAlpaPage pager({}, clock);
        pager.DeviceOperationMode = mode;
        pager.attachStream(&line);
        pager.bConnected = true;
        pager.bDropped = false;
        EXPECT_FALSE(pager.nLogin());
        EXPECT_EQ(line.written(), written) << mode;
    }
}

}  // namespace
}  // namespace nv::test
