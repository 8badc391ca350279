#include "manager/ZQSCMain.h"

#include <QApplication>
#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTimer>
#include <charconv>
#include <filesystem>
#include <system_error>

#include "foundation/ConfigFile.h"
#include "foundation/FileUtil.h"
#include "foundation/RecordAccess.h"
#include "manager/About.h"
#include "manager/ConfigForm.h"
#include "manager/Help.h"
#include "manager/PCLForm.h"
#include "manager/PipeLink.h"
#include "manager/PortListFrm.h"
#include "manager/QtText.h"
#include "manager/RoutingTableForm.h"
#include "manager/ServerStatsPanel.h"
#include "platform/CounterIds.h"
#include "platform/DataDirectory.h"
#include "platform/PipeMessage.h"
#include "platform/SystemQueries.h"

namespace nv {
namespace fs = std::filesystem;

namespace {

// Texts of the window.
const char* const kOnLine = "Gateway On-Line";
const char* const kOffLine = "Gateway Off-Line";
const char* const kNoRoute = "Must At Least Have One Route!";
const char* const kIpcFailed = "[System] Failed To Start IPC: ";

// Commands to the service, byte for byte.
const char* const kSendCounters = "cmd=send_counters\r\n";
const char* const kPing = "cmd=ping";
const char* const kClearQueues = "cmd=clear_queues";
const char* const kCancelCall = "cmd=cancel_call";
const char* const kResetStats = "cmd=reset_stats";

// Help contexts of the menus; the guide's contact section stands in for the maker's addresses.
constexpr int kHelpContents = 0;
constexpr int kHelpContact = 13;

// The two window icons: image 0 off-line, image 1 on-line.
QIcon statusIcon(bool online) {
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 40), 2));
    p.setBrush(QColor(0, 0, 128));
    p.drawRoundedRect(2, 6, 28, 20, 4, 4);
    p.setBrush(online ? QColor(0, 200, 0) : QColor(200, 0, 0));
    p.drawEllipse(QPointF(16, 16), 6, 6);
    return QIcon(pm);
}

// A whole number as the service writes it; nothing else counts.
std::optional<int> wholeNumber(const std::string& text) {
    int v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    if (b != e && *b == '+') ++b;
    auto [ptr, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || ptr != e || b == e) return std::nullopt;
    return v;
}

}  // namespace

TZQSrvcMngr::TZQSrvcMngr(ManagerContext& ctx, ServiceControl& service, QWidget* parent)
    : TZQSrvcMngr(ctx, service, Options{}, parent) {}

TZQSrvcMngr::TZQSrvcMngr(ManagerContext& ctx, ServiceControl& service, Options options, QWidget* parent)
    : QMainWindow(parent), m_ctx(ctx), m_service(service), m_options(std::move(options)) {
    m_ver = QString::fromStdString(GetFileVersionStr((programDirectory() / "ZQSCM").string()));
    if (m_ver == "0.0.0.0") m_ver = NV_VERSION_STRING;
    setWindowTitle("Neri Vale");
    setMinimumSize(740, 396);
    const GuiSection gui = ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).gui();
    resize(gui.Width, gui.Height);

    m_pipe = new PipeLink(m_ctx.workDir, this);
    connect(m_pipe, &PipeLink::messageReceived, this, &TZQSrvcMngr::PipeServer1PipeMessage);

    buildMenus();
    buildBody();
    setOnLine(false);

    Timer2 = new QTimer(this);
    Timer2->setInterval(m_options.pollMs);
    connect(Timer2, &QTimer::timeout, this, &TZQSrvcMngr::Timer2Timer);
    Timer2->start();
    Timer3 = new QTimer(this);
    Timer3->setInterval(m_options.clockMs);
    connect(Timer3, &QTimer::timeout, this, &TZQSrvcMngr::Timer3Timer);
    Timer3->start();
    m_lastMinute = m_options.now().toSecsSinceEpoch() / 60;
}

TZQSrvcMngr::~TZQSrvcMngr() = default;

void TZQSrvcMngr::setConfigForm(TConfigFrm* form) { m_configFrm = form; }

QAction* TZQSrvcMngr::addItem(QMenu* menu, const char* name, const QString& caption, bool enabled,
                              void (TZQSrvcMngr::*slot)()) {
    QAction* a = menu->addAction(caption);
    a->setObjectName(name);
    a->setEnabled(enabled);
    connect(a, &QAction::triggered, this, slot);
    return a;
}

void TZQSrvcMngr::buildMenus() {
    QMenu* file = menuBar()->addMenu("&File");
    SendTestMsg1 = addItem(file, "SendTestMsg1", "Send &Test Msg.", false, &TZQSrvcMngr::sendTestMsg);
    ClearMsgQueue1 = addItem(file, "ClearMsgQueue1", "Clear Msg. &Queue", false, &TZQSrvcMngr::clearMsgQueue);
    CancelCall1 = addItem(file, "CancelCall1", "&Cancel Call", false, &TZQSrvcMngr::cancelCall);
    file->addSeparator();
    ShutDown1 = addItem(file, "ShutDown1", "&Shut Down", true, &TZQSrvcMngr::shutDown);

    QMenu* settings = menuBar()->addMenu("&Settings");
    RoutingTables1 = addItem(settings, "RoutingTables1", "&Routing Tables", true, &TZQSrvcMngr::routingTables);
    ServiceProviders1 =
        addItem(settings, "ServiceProviders1", "Service &Providers", true, &TZQSrvcMngr::serviceProviders);
    Configuration1 = addItem(settings, "Configuration1", "&Configuration", true, &TZQSrvcMngr::configuration);
    TapPorts1 = addItem(settings, "TapPorts1", "&Tap Ports", true, &TZQSrvcMngr::tapPorts);
    settings->addSeparator();
    QMenu* service = settings->addMenu("&Service");
    Start1 = addItem(service, "Start1", "&Start", true, &TZQSrvcMngr::startClick);
    Stop1 = addItem(service, "Stop1", "Sto&p", true, &TZQSrvcMngr::stopClick);
    Restart1 = addItem(service, "Restart1", "&Restart", true, &TZQSrvcMngr::Restart1Click);

    QMenu* log = menuBar()->addMenu("&Log");
    ViewLog1 = addItem(log, "ViewLog1", "&View Log", true, &TZQSrvcMngr::viewLog);
    ClearLog1 = addItem(log, "ClearLog1", "Clear &Log", true, &TZQSrvcMngr::clearLog);
    ClearStats1 = addItem(log, "ClearStats1", "Clear &Stats", false, &TZQSrvcMngr::clearStats);

    QMenu* help = menuBar()->addMenu("&Help");
    Contents1 = addItem(help, "Contents1", "&Contents", true, &TZQSrvcMngr::contents);
    About1 = addItem(help, "About1", "&About", true, &TZQSrvcMngr::about);
    help->addSeparator();
    EMailKOR1 = addItem(help, "EMailKOR1", "E-Mail KOR", true, &TZQSrvcMngr::contact);
    KORWebSite1 = addItem(help, "KORWebSite1", "KOR Web Site", true, &TZQSrvcMngr::contact);
}

void TZQSrvcMngr::buildBody() {
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    LogWindow = new QPlainTextEdit(central);
    LogWindow->setObjectName("LogWindow");
    LogWindow->setReadOnly(true);
    LogWindow->setLineWrapMode(QPlainTextEdit::NoWrap);
    LogWindow->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogWindow->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    LogWindow->setAccessibleName("Log");
    layout->addWidget(LogWindow, 1);
    Stats = new ServerStatsPanel(central);
    layout->addWidget(Stats, 0);
    setCentralWidget(central);

    StatusPanel0 = new QLabel(this);
    StatusPanel0->setObjectName("StatusPanel0");
    StatusPanel0->setMinimumWidth(125);
    StatusPanel0->setAlignment(Qt::AlignCenter);
    StatusPanel1 = new QLabel(this);
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setMinimumWidth(50);
    statusBar()->addWidget(StatusPanel0);
    statusBar()->addWidget(StatusPanel1, 1);
}

void TZQSrvcMngr::setOnLine(bool online) {
    m_iconIndex = online ? 1 : 0;
    const QIcon icon = statusIcon(online);
    setWindowIcon(icon);
    QApplication::setWindowIcon(icon);
    StatusPanel1->setText(online ? kOnLine : kOffLine);
}

// ---- first show and close ----------------------------------------------------

void TZQSrvcMngr::showEvent(QShowEvent* event) {
    QMainWindow::showEvent(event);
    if (m_firstShowQueued) return;
    m_firstShowQueued = true;
    // After the window is on screen, so dialogs of these steps have it as parent.
    QTimer::singleShot(0, this, &TZQSrvcMngr::firstShow);
}

void TZQSrvcMngr::firstShow() {
    raise();
    activateWindow();
    refreshStatus();
    const ConfigFile config = ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager);
    if (m_configFrm) {
        m_configFrm->loadFromConfig();
        if (!config.exists()) m_configFrm->saveSettings();
    }
    // Brings an older route file up to the current version at start.
    (void)FindRoute("Default", m_ctx.workDir, true, m_ctx.ui);
    try {
        m_pipe->listen();
    } catch (const std::exception& e) {
        m_ctx.ui.errorBox(kIpcFailed + QString::fromLocal8Bit(e.what()));
    }
    SendPipeData(kSendCounters);
    m_firstShowDone = true;
}

void TZQSrvcMngr::closeEvent(QCloseEvent* event) {
    Timer2->stop();
    if (!m_shuttingDown) {
        GuiSection gui;
        gui.Height = height();
        gui.Width = width();
        try {
            ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).saveGui(gui);
        } catch (const std::exception&) {
            // The size is a convenience; a read-only data directory must not keep the window open.
        }
    }
    event->accept();
}

// ---- service control ---------------------------------------------------------

void TZQSrvcMngr::SetStatus(std::optional<ServiceState> state) {
    auto serviceItems = [this](bool on) {
        for (QAction* a : {SendTestMsg1, ClearMsgQueue1, CancelCall1, ClearStats1}) a->setEnabled(on);
        if (on && m_callsCancelled) SendTestMsg1->setEnabled(false);
    };
    auto items = [&](bool start, bool stop) {
        Start1->setEnabled(start);
        Stop1->setEnabled(stop);
        Restart1->setEnabled(stop);
        serviceItems(stop);
    };
    auto buttons = [this](ButtonState install, ButtonState uninstall, ButtonState apply) {
        if (m_configFrm) m_configFrm->setServiceButtons(install, uninstall, apply);
    };
    using B = ButtonState;
    if (!state) {
        items(true, false);
        setOnLine(false);
        buttons(B::Off, B::On, B::Unchanged);
        return;
    }
    switch (*state) {
    case ServiceState::NotInstalled:
        items(false, false);
        setOnLine(false);
        buttons(B::On, B::Off, B::Off);
        break;
    case ServiceState::Running:
        items(false, true);
        setOnLine(true);
        buttons(B::Off, B::On, B::On);
        break;
    case ServiceState::Stopped:
        items(true, false);
        setOnLine(false);
        buttons(B::Off, B::On, B::On);
        break;
    case ServiceState::Other:
        buttons(B::Off, B::On, B::On);
        break;
    }
}

void TZQSrvcMngr::refreshStatus(std::function<void(ServiceState)> then) {
    QPointer<TZQSrvcMngr> self(this);
    m_service.query([self, then](ServiceState s) {
        if (!self) return;
        // A service that stopped since the last look has cleared its cancelled calls.
        if (s != ServiceState::Running && s != ServiceState::Other) self->m_callsCancelled = false;
        // The send_counters of a start usually finds no listener yet: ask again
        // once the service is seen running.
        const bool cameUp = s == ServiceState::Running && self->m_lastPolled &&
                            *self->m_lastPolled != ServiceState::Running;
        if (s != ServiceState::Other) self->m_lastPolled = s;
        self->SetStatus(s);
        if (cameUp) self->SendPipeData(kSendCounters);
        if (then) then(s);
    });
}

void TZQSrvcMngr::StartServer(std::function<void(bool)> done) {
    if (!FindRoute("Default", m_ctx.workDir, true, m_ctx.ui)) {
        m_ctx.ui.errorBox(kNoRoute);
        if (done) done(false);
        return;
    }
    QPointer<TZQSrvcMngr> self(this);
    m_service.start([self, done](bool accepted, const QString&) {
        if (!self) return;
        if (accepted) self->SendPipeData(kSendCounters);
        QTimer::singleShot(self->m_options.startSettleMs, self, [self, done, accepted] {
            self->refreshStatus([done, accepted](ServiceState) {
                if (done) done(accepted);
            });
        });
    });
}

void TZQSrvcMngr::StopServer(std::function<void(bool)> done) {
    QPointer<TZQSrvcMngr> self(this);
    m_service.stop([self, done](bool accepted, const QString&) {
        if (!self) return;
        // The window does not wait for the service to reach the stopped state; the next poll shows it.
        QTimer::singleShot(self->m_options.stopSettleMs, self, [self, done, accepted] {
            self->refreshStatus([done, accepted](ServiceState) {
                if (done) done(accepted);
            });
        });
    });
}

void TZQSrvcMngr::Restart1Click() {
    if (m_restarting) return;
    m_restarting = true;
    QPointer<TZQSrvcMngr> self(this);
    StopServer([self](bool ok) {
        if (!self) return;
        if (!ok) return self->restartDone(false);
        self->m_restartDeadline = QDeadlineTimer(self->m_options.restartBoundMs);
        self->restartPoll();
    });
}

// The stop was only requested: ask until the service has stopped, then start it.
void TZQSrvcMngr::restartPoll() {
    QPointer<TZQSrvcMngr> self(this);
    refreshStatus([self](ServiceState s) {
        if (!self) return;
        if (s == ServiceState::Stopped) {
            self->StartServer([self](bool ok) {
                if (self) self->restartDone(ok);
            });
        } else if (s == ServiceState::NotInstalled || self->m_restartDeadline.hasExpired()) {
            self->restartDone(false);
        } else {
            QTimer::singleShot(self->m_options.restartPollMs, self, &TZQSrvcMngr::restartPoll);
        }
    });
}

void TZQSrvcMngr::restartDone(bool ok) {
    m_restarting = false;
    if (ok)
        m_ctx.ui.information("Service Restarted!");
    else
        m_ctx.ui.warning("Unable to Restart Service!");
}

void TZQSrvcMngr::Timer2Timer() { refreshStatus(); }

void TZQSrvcMngr::Timer3Timer() {
    const QDateTime now = m_options.now();
    StatusPanel0->setText(QLocale().toString(now.date(), QLocale::ShortFormat) + " " +
                          now.time().toString("HH:mm:ss"));
    // A minute counts when the wall-clock minute changes, so a late or doubled
    // tick neither skips nor doubles one.
    const qint64 minute = now.toSecsSinceEpoch() / 60;
    if (minute == m_lastMinute) return;
    m_lastMinute = minute;
    if (!Stop1->isEnabled()) return;
    if (++rMin >= 60) {
        ++rHours;
        rMin = 0;
    }
    Stats->setOnLineTime(rHours, rMin);
    SendPipeData(kPing);
}

// ---- the pipe link -------------------------------------------------------------

void TZQSrvcMngr::SendPipeData(const std::string& text) { m_pipe->send(text); }

void TZQSrvcMngr::appendLog(const QString& line) { LogWindow->appendPlainText(line); }

void TZQSrvcMngr::PipeServer1PipeMessage(const QByteArray& message) {
    const PipeMessage msg = PipeMessage::parse(std::string_view(message.constData(), message.size()));
    const std::string cmd = msg.command();  // compared exactly, case included
    if (cmd == "ping") return;
    if (cmd == "log") {
        appendLog(fromCp1252(msg.value("data")));
    } else if (cmd == "all_counters") {
        handleAllCounters(msg);
    } else if (cmd == "cntrupd") {
        const auto id = wholeNumber(msg.value("counter"));
        if (id) Stats->setCounter(*id, fromCp1252(msg.value("value")));
    } else if (cmd == "cancelcall1") {
        // "1": calls were cancelled and the service refuses test pages until it
        // restarts. "0" changes nothing; SetStatus has set the items.
        if (msg.value("value") == "1") {
            m_callsCancelled = true;
            SendTestMsg1->setEnabled(false);
        }
    } else if (cmd == "svr_status_change") {
        handleStatusChange(msg);
    }
}

void TZQSrvcMngr::handleAllCounters(const PipeMessage& msg) {
    for (const auto& c : kAllCountersKeys)
        if (c.id != kCtTNPP && c.id != kCtBrevicor) Stats->setCounter(c.id, fromCp1252(msg.value(c.key)));
    // A value that is not a whole number ends the handling; what was set stays.
    const auto hours = wholeNumber(msg.value(kCtHoursKey));
    if (!hours) return;
    rHours = *hours;
    const auto minutes = wholeNumber(msg.value(kCtMinutesKey));
    if (!minutes) return;
    rMin = *minutes;
    Stats->setCounter(kCtTNPP, fromCp1252(msg.value(counterKeyOf(kCtTNPP))));
    Stats->setCounter(kCtBrevicor, fromCp1252(msg.value(counterKeyOf(kCtBrevicor))));
    Stats->setOnLineTime(rHours, rMin);
    if (msg.value(kCancelCallKey) == "1") {
        m_callsCancelled = true;
        SendTestMsg1->setEnabled(false);
    } else {
        m_callsCancelled = false;
    }
    if (!Timer2->isActive()) Timer2->start();
}

void TZQSrvcMngr::handleStatusChange(const PipeMessage& msg) {
    if (msg.value("value") != "1") {
        SetStatus(std::nullopt);
        return;
    }
    QPointer<TZQSrvcMngr> self(this);
    refreshStatus([self](ServiceState) {
        if (self && self->Stop1->isEnabled()) self->SendPipeData(kSendCounters);
    });
}

// ---- menu actions ----------------------------------------------------------------

void TZQSrvcMngr::sendTestMsg() {
    const auto pin = m_ctx.ui.inputText("Send Test Message", "Enter PIN To Send To:");
    if (!pin || pin->isEmpty()) return;
    SendPipeData("cmd=test_page\r\npin=" + toCp1252(*pin) + "\r\n");
}

void TZQSrvcMngr::clearMsgQueue() {
    if (m_ctx.ui.confirm("Clear Pending Page Queue?")) SendPipeData(kClearQueues);
}

void TZQSrvcMngr::cancelCall() { SendPipeData(kCancelCall); }

void TZQSrvcMngr::shutDown() {
    // Ends the program without the close handler: the window size is not saved.
    m_shuttingDown = true;
    QCoreApplication::exit(0);
}

void TZQSrvcMngr::routingTables() {
    if (m_routing) {
        m_routing->raise();
        m_routing->activateWindow();
        return;
    }
    const bool email = m_configFrm && m_configFrm->smtpEnabledSaved();
    auto* form = new TRoutingTableFrm(m_ctx, email, this);
    form->setAttribute(Qt::WA_DeleteOnClose);
    m_routing = form;
    form->exec();
}

void TZQSrvcMngr::serviceProviders() {
    TPCLForm form(m_ctx, this);
    form.exec();
}

void TZQSrvcMngr::configuration() {
    if (m_configFrm) m_configFrm->exec();
}

void TZQSrvcMngr::tapPorts() {
    bool changed = false;
    {
        TPortSettings form(m_ctx, this);
        form.exec();
        changed = form.Changed;
    }
    if (changed && Stop1->isEnabled() &&
        m_ctx.ui.showDialog(DialogKind::Confirmation, "Changes Require Service Restart!, Restart Service?",
                            {DialogButton::Yes, DialogButton::No}) != DialogButton::No)
        Restart1Click();
}

void TZQSrvcMngr::startClick() {
    QPointer<TZQSrvcMngr> self(this);
    StartServer([self](bool ok) {
        if (!self) return;
        if (ok)
            self->m_ctx.ui.information("Service Started!");
        else
            self->m_ctx.ui.warning("Unable to Start Service!");
    });
}

void TZQSrvcMngr::stopClick() {
    QPointer<TZQSrvcMngr> self(this);
    StopServer([self](bool ok) {
        if (!self) return;
        if (ok)
            self->m_ctx.ui.information("Service Stopped!");
        else
            self->m_ctx.ui.warning("Unable to Stop Service!");
    });
}

void TZQSrvcMngr::viewLog() {
    const fs::path log = resolveFileNoCase(m_ctx.workDir, kLogFileName);
    const QString path = QString::fromStdString(log.string());
    if (!m_ctx.ui.openUrl(QUrl::fromLocalFile(path))) m_ctx.ui.errorBox("Unable to open " + path);
}

void TZQSrvcMngr::clearLog() {
    m_ctx.ui.beep(BeepKind::Question);
    if (!m_ctx.ui.confirm("Clear Log File?")) return;
    std::error_code ec;
    fs::remove(resolveFileNoCase(m_ctx.workDir, kLogFileName), ec);
    LogWindow->clear();
}

void TZQSrvcMngr::clearStats() {
    if (!m_ctx.ui.confirm("Clear Stats?")) return;
    Stats->clearStats();
    SendPipeData(kResetStats);
}

void TZQSrvcMngr::contents() { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContents); }

void TZQSrvcMngr::about() {
    TAboutBox box(m_ctx, "Version " + m_ver, this);
    box.exec();
}

void TZQSrvcMngr::contact() { showHelp(m_ctx.ui, m_ctx.appDir, kHelpContact); }

}  // namespace nv
