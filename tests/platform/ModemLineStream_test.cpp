// The modem line's AT dialogue on a scripted stream: result codes in, commands
// out, with no device and no real waiting.
#include <gtest/gtest.h>

#include "platform/ModemLine.h"
#include "tests/peers/ScriptedByteStream.h"

namespace nv::test {
namespace {

using namespace std::chrono_literals;

ModemList oneLine() {
    ModemList list;
    list.add(ModemEntry{1, "Scripted", {}, {"ATZ", "ATE0"}, true});
    return list;
}

struct LineRun {
    std::vector<LineMessage> messages;
    // Pumps until `done` or a minute of clock time.
    void pumpUntil(ModemLine& line, ManualClock& clock, const std::function<bool()>& done) {
        for (int i = 0; i < 600 && !done(); ++i) {
            line.pump([this](const LineMessage& m) { messages.push_back(m); });
            clock.advance(100ms);
        }
    }
    std::uint32_t lastState() const {
        for (auto it = messages.rbegin(); it != messages.rend(); ++it)
            if (it->kind == LineMessage::Kind::CallState) return it->callState;
        return 0;
    }
};

struct DialCase {
    const char* name;
    std::vector<std::string> answer;  // the modem's answer to the dial command, in reads
    std::uint32_t state;
};

void PrintTo(const DialCase& c, std::ostream* os) { *os << c.name; }

class ModemLineDial : public ::testing::TestWithParam<DialCase> {};

TEST_P(ModemLineDial, ResultCodeBecomesCallState) {
    ManualClock clock;
    ScriptedByteStream io(&clock);
    io.deliverAfterWrite("ATZ\r", "ATZ\r\r\nOK\r\n");
    io.deliverAfterWrite("ATE0\r", "\r\nOK\r\n");
    io.onWrite([](std::string_view w, ScriptedByteStream& st) {
        if (w == "ATDT5551234\r")
            for (const auto& chunk : GetParam().answer) st.deliver(chunk);
    });
    ModemLine line(oneLine(), clock);
    ASSERT_EQ(line.openOn(1, io), 0);
    const std::int32_t id = line.makeCall("555-1234");
    ASSERT_GT(id, 0);
    LineRun run;
    run.pumpUntil(line, clock, [&] { return run.lastState() != 0; });
    EXPECT_EQ(run.lastState(), GetParam().state);
    ASSERT_FALSE(run.messages.empty());
    EXPECT_EQ(run.messages.front().requestId, id);
    EXPECT_EQ(run.messages.front().result, 0);
    EXPECT_EQ(io.written(), "ATZ\rATE0\rATDT5551234\r");
    EXPECT_EQ(line.stream() != nullptr, GetParam().state == LINECALLSTATE_CONNECTED);
}

INSTANTIATE_TEST_SUITE_P(
    Codes, ModemLineDial,
    ::testing::Values(DialCase{"Connect", {"\r\nCONNECT 9600\r\n"}, LINECALLSTATE_CONNECTED},
                      DialCase{"ConnectInPieces", {"\r\nCONN", "ECT", "\r"}, LINECALLSTATE_CONNECTED},
                      DialCase{"Busy", {"\r\nBUSY\r\n"}, LINECALLSTATE_BUSY},
                      DialCase{"NoCarrier", {"\r\nNO CARRIER\r\n"}, LINECALLSTATE_DISCONNECTED},
                      DialCase{"NoDialtone", {"\nNO DIALTONE\n"}, LINECALLSTATE_DISCONNECTED},
                      DialCase{"Error", {"\r\nERROR\r\n"}, LINECALLSTATE_DISCONNECTED}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ModemLineStream, BytesAfterConnectStayForTheCall) {
    ManualClock clock;
    ScriptedByteStream io(&clock);
    io.deliverAfterWrite("ATZ\r", "\r\nOK\r\n");
    io.deliverAfterWrite("ATE0\r", "\r\nOK\r\n");
    io.deliverAfterWrite("ATD", "\r\nCONNECT 2400/ARQ\r\n\r\nID=");
    io.deliverAfterWrite("", "\r\nNO CARRIER\r\n");
    ModemLine line(oneLine(), clock);
    ASSERT_EQ(line.openOn(1, io), 0);
    io.deliver("\r\nERROR\r\n");  // stale: the call starts by discarding it
    line.makeCall("1");
    LineRun run;
    run.pumpUntil(line, clock, [&] { return run.lastState() != 0; });
    ModemStream* s = line.stream();
    ASSERT_TRUE(s);
    EXPECT_EQ(s->readAvailable(100), "ID=");
    ASSERT_TRUE(s->writeAll("\r", 1s));
    EXPECT_EQ(s->readAvailable(100), "\r\nNO CARRIER\r\n");
    EXPECT_FALSE(s->up());
    run.pumpUntil(line, clock, [&] { return run.lastState() == LINECALLSTATE_DISCONNECTED; });
    EXPECT_EQ(run.lastState(), LINECALLSTATE_DISCONNECTED);
    EXPECT_EQ(line.stream(), nullptr);
}

TEST(ModemLineStream, InitWithoutAnswerFailsAfterTheCommandTimeout) {
    ManualClock clock;
    ScriptedByteStream io(&clock);
    ModemLine line(oneLine(), clock);
    ASSERT_EQ(line.openOn(1, io), 0);
    const auto start = clock.now();
    const std::int32_t id = line.makeCall("1");
    LineRun run;
    run.pumpUntil(line, clock, [&] { return !run.messages.empty(); });
    ASSERT_EQ(run.messages.size(), 1u);
    EXPECT_EQ(run.messages[0].requestId, id);
    EXPECT_EQ(run.messages[0].result, LINEERR_OPERATIONFAILED);
    EXPECT_GE(clock.now() - start, ModemLine::kCommandTimeout);
    EXPECT_EQ(io.written(), "ATZ\r");
}

TEST(ModemLineStream, RingIsOfferedOnceAndAnswered) {
    ManualClock clock;
    ScriptedByteStream io(&clock);
    io.deliver("\r\nRING\r\n\r\nRING\r\n");
    io.deliverAfterWrite("ATA\r", "\r\nCONNECT\r\n");
    ModemLine line(oneLine(), clock);
    ASSERT_EQ(line.openOn(1, io), 0);
    LineRun run;
    run.pumpUntil(line, clock, [&] { return run.lastState() == LINECALLSTATE_OFFERING; });
    line.pump([&](const LineMessage& m) { run.messages.push_back(m); });
    const std::int32_t id = line.answer();
    run.pumpUntil(line, clock, [&] { return run.lastState() == LINECALLSTATE_CONNECTED; });
    std::vector<std::uint32_t> states;
    for (const auto& m : run.messages)
        if (m.kind == LineMessage::Kind::CallState) states.push_back(m.callState);
    EXPECT_EQ(states, (std::vector<std::uint32_t>{LINECALLSTATE_OFFERING, LINECALLSTATE_CONNECTED}));
    EXPECT_GT(id, 0);
}

}  // namespace
}  // namespace nv::test
