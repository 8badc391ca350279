#pragma once
// "Neri Vale": the manager's main window. Starts, stops and restarts the
// service, polls its state every 10 seconds and shows it (menus, icon, status
// bar), counts its on-line time, shows the log lines and counters the service
// sends over the pipe link, and opens the editors, the guide and the About box.
#include <QDateTime>
#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <optional>
#include <string>

#include "manager/ManagerContext.h"
#include "manager/ServiceControl.h"

class QAction;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QTimer;

namespace nv {

class PipeLink;
class PipeMessage;
class TRoutingTableFrm;
class ServerStatsPanel;
class TConfigFrm;

class TZQSrvcMngr : public QMainWindow {
    Q_OBJECT
public:
    // The pauses and clocks of the window; tests shorten them and set the time.
    struct Options {
        std::function<QDateTime()> now = [] { return QDateTime::currentDateTime(); };
        int pollMs = 10000;          // Timer2: the state poll
        int clockMs = 1000;          // Timer3: the clock and the on-line time
        int startSettleMs = 5;       // after a start request, before the state is read
        int stopSettleMs = 1000;     // after a stop request, before the state is read
        int restartPollMs = 1000;    // Restart: how often it asks whether the service stopped
        int restartBoundMs = 60000;  // Restart: how long it waits for that at most
    };

    TZQSrvcMngr(ManagerContext& ctx, ServiceControl& service, QWidget* parent = nullptr);
    TZQSrvcMngr(ManagerContext& ctx, ServiceControl& service, Options options, QWidget* parent = nullptr);
    ~TZQSrvcMngr() override;

    // The configuration editor created beside the window; set before the first show.
    void setConfigForm(TConfigFrm* form);

    // Results come through `done` on the GUI thread; nothing here waits.
    // True when the start request was accepted.
    void StartServer(std::function<void(bool)> done = {});
    // True when the stop request was accepted (the service may still be stopping).
    void StopServer(std::function<void(bool)> done = {});
    // Brings menus, icon, status panel and the editor's service buttons in line
    // with `state`; nullopt shows the service off-line without asking.
    void SetStatus(std::optional<ServiceState> state);
    // Asks the service's state and shows it.
    void refreshStatus(std::function<void(ServiceState)> then = {});
    // Stop, wait until stopped (bounded), start; "Service Restarted!" or "Unable to Restart Service!".
    void Restart1Click();
    // One command to the service (Windows-1252 bytes, sent as they are).
    void SendPipeData(const std::string& text);

    void Timer2Timer();  // the state poll
    void Timer3Timer();  // the clock
    // One message from the service.
    void PipeServer1PipeMessage(const QByteArray& message);

    bool firstShowDone() const { return m_firstShowDone; }
    bool restarting() const { return m_restarting; }
    // 0 off-line, 1 on-line.
    int iconIndex() const { return m_iconIndex; }
    PipeLink& pipeLink() { return *m_pipe; }
    const QString& Ver() const { return m_ver; }

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void buildMenus();
    void buildBody();
    QAction* addItem(QMenu* menu, const char* name, const QString& caption, bool enabled,
                     void (TZQSrvcMngr::*slot)());
    void firstShow();
    void setOnLine(bool online);
    void restartPoll();
    void restartDone(bool ok);
    void handleAllCounters(const PipeMessage& msg);
    void handleStatusChange(const PipeMessage& msg);
    void appendLog(const QString& line);

    // Menu actions.
    void sendTestMsg();
    void clearMsgQueue();
    void cancelCall();
    void shutDown();
    void routingTables();
    void serviceProviders();
    void configuration();
    void tapPorts();
    void startClick();
    void stopClick();
    void viewLog();
    void clearLog();
    void clearStats();
    void contents();
    void about();
    void contact();

    ManagerContext& m_ctx;
    ServiceControl& m_service;
    Options m_options;
    TConfigFrm* m_configFrm = nullptr;
    PipeLink* m_pipe = nullptr;
    QString m_ver;

public:
    // The window's parts, by the names the operator's guide and the tests use.
    QAction* SendTestMsg1 = nullptr;
    QAction* ClearMsgQueue1 = nullptr;
    QAction* CancelCall1 = nullptr;
    QAction* ShutDown1 = nullptr;
    QAction* RoutingTables1 = nullptr;
    QAction* ServiceProviders1 = nullptr;
    QAction* Configuration1 = nullptr;
    QAction* TapPorts1 = nullptr;
    QAction* Start1 = nullptr;
    QAction* Stop1 = nullptr;
    QAction* Restart1 = nullptr;
    QAction* ViewLog1 = nullptr;
    QAction* ClearLog1 = nullptr;
    QAction* ClearStats1 = nullptr;
    QAction* Contents1 = nullptr;
    QAction* About1 = nullptr;
    QAction* EMailKOR1 = nullptr;
    QAction* KORWebSite1 = nullptr;
    QPlainTextEdit* LogWindow = nullptr;
    ServerStatsPanel* Stats = nullptr;
    QLabel* StatusPanel0 = nullptr;  // date and time
    QLabel* StatusPanel1 = nullptr;  // "Gateway On-Line" / "Gateway Off-Line"
    QTimer* Timer2 = nullptr;
    QTimer* Timer3 = nullptr;
    int rHours = 0;
    int rMin = 0;

private:
    int m_iconIndex = 0;
    bool m_firstShowDone = false;
    bool m_firstShowQueued = false;
    bool m_shuttingDown = false;
    bool m_restarting = false;
    bool m_callsCancelled = false;  // the service said "cancelcall1=1" since it last started
    std::optional<ServiceState> m_lastPolled;
    QDeadlineTimer m_restartDeadline;
    qint64 m_lastMinute = 0;
    QPointer<TRoutingTableFrm> m_routing;
};

}  // namespace nv
