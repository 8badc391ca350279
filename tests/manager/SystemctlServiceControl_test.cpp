#include "manager/SystemctlServiceControl.h"

#include <gtest/gtest.h>

#include <optional>

#include "tests/manager/MainWindowSupport.h"

namespace nv {
namespace {

std::optional<ServiceState> queryOnce(SystemctlServiceControl& sc) {
    std::optional<ServiceState> got;
    sc.query([&](ServiceState s) { got = s; });
    test::waitUntil([&] { return got.has_value(); });
    return got;
}

struct StateCase {
    const char* shown;
    ServiceState expected;
};

TEST(SystemctlServiceControl, ShowMapsToTheFourStates) {
    const StateCase cases[] = {
        {"not-found inactive", ServiceState::NotInstalled},
        {"loaded active", ServiceState::Running},
        {"loaded inactive", ServiceState::Stopped},
        {"loaded failed", ServiceState::Stopped},
        {"loaded activating", ServiceState::Other},
        {"loaded deactivating", ServiceState::Other},
        {"loaded reloading", ServiceState::Other},
        {"fail", ServiceState::Other},
    };
    test::StubSystemctl stub;
    SystemctlServiceControl sc;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.shown);
        stub.setState(c.shown);
        EXPECT_EQ(queryOnce(sc), c.expected);
    }
    EXPECT_TRUE(stub.saw("show -p LoadState,ActiveState nerivale.service"));
}

TEST(SystemctlServiceControl, StartAndStopAreQueuedWithoutWaiting) {
    test::StubSystemctl stub;
    SystemctlServiceControl sc;
    std::optional<bool> started, stopped;
    sc.start([&](bool ok, const QString&) { started = ok; });
    test::waitUntil([&] { return started.has_value(); });
    sc.stop([&](bool ok, const QString&) { stopped = ok; });
    test::waitUntil([&] { return stopped.has_value(); });
    EXPECT_EQ(started, true);
    EXPECT_EQ(stopped, true);
    EXPECT_EQ(stub.calls(), "--no-block start nerivale.service\n--no-block stop nerivale.service\n");
}

TEST(SystemctlServiceControl, ARefusalIsNotAcceptedAndSaysWhy) {
    test::StubSystemctl stub;
    stub.refuse("start");
    SystemctlServiceControl sc;
    std::optional<bool> started;
    QString error;
    sc.start([&](bool ok, const QString& e) {
        started = ok;
        error = e;
    });
    test::waitUntil([&] { return started.has_value(); });
    EXPECT_EQ(started, false);
    EXPECT_TRUE(error.contains("Access denied")) << error.toStdString();
}

TEST(SystemctlServiceControl, NoSystemctlAtAllIsAFailedQueryAndARefusedStart) {
    SystemctlServiceControl sc(nullptr, "/nonexistent/systemctl");
    EXPECT_EQ(queryOnce(sc), ServiceState::Other);
    std::optional<bool> started;
    sc.start([&](bool ok, const QString&) { started = ok; });
    test::waitUntil([&] { return started.has_value(); });
    EXPECT_EQ(started, false);
}

}  // namespace
}  // namespace nv
