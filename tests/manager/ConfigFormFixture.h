#pragma once
// The configuration editor on a temporary data and install directory, with a
// scripted operator and a service whose state the test sets.
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <deque>
#include <memory>

#include "manager/ConfigForm.h"
#include "tests/gui/FakeOperatorUi.h"
#include "tests/gui/WidgetLookup.h"
#include "tests/peers/TestSupport.h"

namespace nv::test {

// Answers each query from `states` (the last one repeats), one event-loop turn
// later, as systemctl's asynchronous answers arrive.
class FakeServiceControl : public ServiceControl {
public:
    std::deque<ServiceState> states{ServiceState::Stopped};
    bool stopAccepted = true;
    QString stopError;
    int queries = 0;
    int stops = 0;

    void query(StateHandler done) override {
        ++queries;
        ServiceState s = states.front();
        if (states.size() > 1) states.pop_front();
        QTimer::singleShot(0, [done, s] { done(s); });
    }
    void start(DoneHandler done) override {
        QTimer::singleShot(0, [done] { done(true, {}); });
    }
    void stop(DoneHandler done) override {
        ++stops;
        QTimer::singleShot(0, [this, done] { done(stopAccepted, stopError); });
    }
};

class ConfigFormTest : public ::testing::Test {
protected:
    TempDir dir;
    std::filesystem::path workDir = dir / "data";
    std::filesystem::path appDir = dir / "app";
    FakeOperatorUi ui;
    FakeServiceControl service;
    ManagerContext ctx{appDir, workDir, ui};
    std::unique_ptr<TConfigFrm> form;

    void SetUp() override {
        std::filesystem::create_directories(workDir);
        std::filesystem::create_directories(appDir);
        form = std::make_unique<TConfigFrm>(ctx, service);
    }

    std::filesystem::path configPath() const { return workDir / "Config.Dat"; }

    template <typename T>
    T* control(const char* name) {
        return child<T>(*form, name);
    }
    QLineEdit* edit(const char* name) { return control<QLineEdit>(name); }
    QComboBox* combo(const char* name) { return control<QComboBox>(name); }
    QCheckBox* check(const char* name) { return control<QCheckBox>(name); }
    QPushButton* button(const char* name) { return control<QPushButton>(name); }
    QTabWidget* tabs() { return control<QTabWidget>("PageControl1"); }
};

}  // namespace nv::test
