// The command socket as a door for pages: test_page with PINs no manager
// would send, handled by the engine in-process.
#include <gtest/gtest.h>

#include "foundation/Clock.h"
#include "service/PageIntake.h"
#include "service/SrvcMainFrm.h"
#include "tests/peers/LogWatch.h"
#include "tests/peers/RecordFixtures.h"
#include "tests/peers/TestSupport.h"
#include "tests/service/FastTiming.h"

namespace nv {
namespace {
using namespace std::chrono_literals;

TEST(CommandDoor, TestPagePinsTheIntakeCannotHoldAreRefusedWithAShortLine) {
    test::TempDir dir;
    // A Default route: every PIN that is taken in would be routed.
    test::writeFile(dir / "NpaNxxRoute.dat",
                    test::routeFile({{.name = "Default", .npanxx = "0000000000", .provider = "TNPP"}}));
    ManualClock clock;
    EventLoop loop;
    test::LogWatch log{dir.path(), [&] { loop.pumpFor(5ms); }};
    EngineOptions o = test::inProcessOptions(dir.path(), clock, 5000ms);
    o.localNow = [] { return LocalDateTime{2026, 12, 9, 12, 0, 0}; };
    auto engine = std::make_unique<TNerivaleSvcMain>(loop, o);

    const std::string refused = "[System] Delivery Failed For PIN: ";
    const std::string discarded = ", Invalid PIN! Page Discarded!";
    struct Case {
        const char* name;
        std::string pin;
        std::string shown;
    } cases[] = {
        {"empty", "", ""},
        {"NUL bytes", std::string(3, '\0'), "   "},
        {"NUL inside", std::string("12\0" "34", 5), "12 34"},
        {"longer than its field", std::string(kMaxPinLength + 1, '4'), std::string(kPinShownInLog, '4') + "..."},
        {"1 MB", std::string(1 << 20, '8'), std::string(kPinShownInLog, '8') + "..."},
        {"tab", "55\t55", "55 55"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = log.lines().size();
        engine->PipeServer1PipeMessage("cmd=test_page\r\npin=" + c.pin + "\r\n");
        ASSERT_TRUE(log.waitForLine(refused + c.shown + discarded, 1, 5s));
        auto lines = log.lines();
        EXPECT_EQ(lines.size(), before + 1);
        EXPECT_LT(lines.back().size(), 200u);
    }
    // A PIN that fills its field is taken in.
    engine->PipeServer1PipeMessage("cmd=test_page\r\npin=" + std::string(kMaxPinLength, '6') + "\r\n");
    EXPECT_TRUE(log.waitForLine("[Nerivale Connection] Message Received From Nerivale Port  PIN: " +
                                    std::string(kMaxPinLength, '6') +
                                    " Provider: TNPP Message: Nerivale Server Test Message",
                                1, 5s));
    engine.reset();
}

}  // namespace
}  // namespace nv
