#pragma once
// The main window on a temporary data directory, with the stub systemctl, a
// scripted operator, a clock the test sets, and a listener standing in for the
// service's command pipe that keeps every message it is sent.
#include <gtest/gtest.h>

#include <QPlainTextEdit>
#include <memory>

#include "manager/ConfigForm.h"
#include "manager/PipeLink.h"
#include "manager/SystemctlServiceControl.h"
#include "manager/ZQSCMain.h"
#include "platform/PipeMessage.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/manager/MainWindowSupport.h"
#include "tests/peers/FakeManager.h"
#include "tests/peers/RecordFixtures.h"

namespace nv::test {

class MainWindowFixture : public ::testing::Test {
protected:
    void TearDown() override {
        window.reset();
        service.reset();
        commands.reset();
        stub.reset();
    }

    // A route file with the route "Default" (the start refuses without one).
    void writeDefaultRoute() {
        writeFile(dir / "NpaNxxRoute.dat", routeFile({{.name = "Default", .provider = "P1"}}));
    }

    TZQSrvcMngr::Options fastOptions() {
        TZQSrvcMngr::Options o;
        o.now = [this] { return now; };
        o.pollMs = 3600 * 1000;  // the tests poll by hand
        o.clockMs = 3600 * 1000;
        o.startSettleMs = 0;
        o.stopSettleMs = 0;
        o.restartPollMs = 10;
        o.restartBoundMs = restartBoundMs;
        return o;
    }

    // Opens the window with the service in `state` and waits for the first show's steps.
    void open(const std::string& state, bool withServiceListener = true) {
        stub.reset();  // its destructor restores PATH: before the next one sets it
        stub = std::make_unique<StubSystemctl>(state);
        if (withServiceListener) commands = std::make_unique<FakeManager>(dir / kServerPipeName);
        service = std::make_unique<SystemctlServiceControl>();
        window = std::make_unique<TZQSrvcMngr>(ctx, *service, fastOptions());
        configFrm = new TConfigFrm(ctx, *service, window.get());
        window->setConfigForm(configFrm);
        window->show();
        ASSERT_TRUE(waitUntil([&] { return window->firstShowDone(); }));
        ASSERT_TRUE(settle());
    }

    // Lets the asynchronous state queries finish: one more query is answered
    // only after every earlier one.
    bool settle() {
        bool done = false;
        window->refreshStatus([&](ServiceState) { done = true; });
        return waitUntil([&] { return done; });
    }

    // The commands the service was sent, once at least `count` arrived.
    std::vector<std::string> sent(std::size_t count) {
        waitUntil([&] { return commands->count() >= count; });
        return commands->messages();
    }

    // Delivers `bytes` to the window as the service would, then a marker log
    // line, and waits until the marker shows (so an ignored message has been handled).
    void deliver(const std::string& bytes) {
        ASSERT_TRUE(sendCommand(dir / kConfigPipeName, bytes));
        const std::string marker = "marker " + std::to_string(++m_markers);
        ASSERT_TRUE(sendCommand(dir / kConfigPipeName, "cmd=log\r\ndata=" + marker + "\r\n"));
        ASSERT_TRUE(waitUntil([&] { return logText().endsWith(QString::fromStdString(marker)); }));
    }
    QString logText() const { return window->LogWindow->toPlainText(); }

    int restartBoundMs = 20000;
    TempDir dir;
    FakeOperatorUi ui;
    ManagerContext ctx{dir.path(), dir.path(), ui};
    QDateTime now = QDateTime(QDate(2026, 12, 10), QTime(12, 0, 30));
    std::unique_ptr<StubSystemctl> stub;
    std::unique_ptr<FakeManager> commands;
    std::unique_ptr<SystemctlServiceControl> service;
    std::unique_ptr<TZQSrvcMngr> window;
    TConfigFrm* configFrm = nullptr;  // owned by the window

private:
    int m_markers = 0;
};

}  // namespace nv::test
