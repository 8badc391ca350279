// "Install Service", "Apply Changes" and "Uninstall Service": ZQSvc INSTALL /
// UNINSTALL run with root's rights through the privileged runner, the service's
// state asked through ServiceControl. Every step is asynchronous; a second click
// while one runs is ignored.
#include <QCheckBox>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "foundation/ConfigFile.h"
#include "manager/ConfigForm.h"
#include "manager/QtText.h"
#include "platform/DataDirectory.h"

namespace nv {

namespace {

constexpr const char* kServiceProgramName = "ZQSvc";

// Runs `f` only while the form still exists (a late reply from systemctl).
template <typename F>
auto guarded(TConfigFrm* form, F f) {
    return [self = QPointer<TConfigFrm>(form), f = std::move(f)](auto&&... args) {
        if (self) f(std::forward<decltype(args)>(args)...);
    };
}

}  // namespace

QString TConfigFrm::serviceProgram() const {
    const std::filesystem::path beside = programDirectory() / kServiceProgramName;
    std::error_code ec;
    if (std::filesystem::is_regular_file(beside, ec)) return QString::fromStdString(beside.string());
    return QString::fromStdString((m_ctx.appDir / kServiceProgramName).string());
}

bool TConfigFrm::checkLogon() {
    if (DefaultLogon->isChecked()) return true;
    if (LogonName->text().isEmpty()) {
        failField(LogonName, TabSheet1, "Must Enter Logon Name!");
        return false;
    }
    if (LogonPassword->text().isEmpty()) {
        failField(LogonPassword, TabSheet1, "Must Enter Logon Password!");
        return false;
    }
    return true;
}

// [Server] as the operator left it. The password is kept for files shared with
// the Windows version only: a systemd unit has no use for it.
bool TConfigFrm::saveServerKeys() {
    ServerSection server;
    server.LogonName = toCp1252(LogonName->text());
    server.Password = toCp1252(LogonPassword->text());
    server.DefaultLogon = DefaultLogon->isChecked();
    try {
        ConfigFile::inDataDirectory(m_ctx.workDir, ConfigSide::Manager).saveServer(server);
    } catch (const std::exception& e) {
        m_ctx.ui.errorBox(QString::fromStdString(e.what()));
        return false;
    }
    return true;
}

// A ticked "Default Service Logon" means the default account whatever name is
// left in the field, on Install and on Apply (so Apply can go back to it).
QStringList TConfigFrm::installArguments() const {
    QStringList args = {"INSTALL", "SILENT"};
    if (!DefaultLogon->isChecked() && !LogonName->text().isEmpty())
        args << "USER=" + LogonName->text();
    return args;
}

void TConfigFrm::runService(const QStringList& args,
                            std::function<void(const PrivilegedRunner::Result&)> done) {
    m_busy = true;
    m_runner.run(serviceProgram(), args,
                 guarded(this, [this, done = std::move(done)](const PrivilegedRunner::Result& r) {
                     m_busy = false;
                     serviceStepDone();
                     done(r);
                 }));
}

void TConfigFrm::serviceStepDone() {
    if (onServiceChanged) onServiceChanged();
}

void TConfigFrm::Install2Click() {
    if (m_busy || !checkLogon() || !saveServerKeys()) return;
    runService(installArguments(), [this](const PrivilegedRunner::Result& r) {
        if (r.ok)
            m_ctx.ui.information("Neri Vale Service Installed!");
        else
            m_ctx.ui.errorBox(r.describe());
    });
}

void TConfigFrm::ApplySvcChgClick() {
    if (m_busy || !checkLogon() || !saveServerKeys()) return;
    m_busy = true;
    m_service.query(guarded(this, [this](ServiceState s) { applyAfterQuery(s); }));
}

// Apply rewrites the unit of an installed service; the same unit as Install
// but for the account.
void TConfigFrm::applyAfterQuery(ServiceState state) {
    if (state == ServiceState::NotInstalled) {
        m_busy = false;
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.warning("Service Update Failed!");
        return;
    }
    runService(installArguments(), [this](const PrivilegedRunner::Result& r) {
        if (r.ok)
            m_ctx.ui.warning("Service Updated!");
        else
            m_ctx.ui.warning("Service Update Failed!\n\n" + r.describe());
    });
}

void TConfigFrm::Uninstall2Click() {
    if (m_busy) return;
    m_busy = true;
    m_service.query(guarded(this, [this](ServiceState s) { uninstallAfterQuery(s); }));
}

void TConfigFrm::uninstallAfterQuery(ServiceState state) {
    if (state == ServiceState::NotInstalled) {
        m_busy = false;
        m_ctx.ui.beep(BeepKind::Information);
        m_ctx.ui.information("Neri Vale Service Not Installed!");
        return;
    }
    m_ctx.ui.beep(BeepKind::Information);
    if (!m_ctx.ui.confirm("Remove Neri Vale Service?")) {
        m_busy = false;
        return;
    }
    stopThenUninstall();
}

// The service is removed only once it has stopped: its live state decides,
// not the last poll's, and the stop is waited for (bounded) without blocking.
void TConfigFrm::stopThenUninstall() {
    m_service.query(guarded(this, [this](ServiceState state) {
        if (state == ServiceState::Stopped || state == ServiceState::NotInstalled) {
            runUninstall();
            return;
        }
        m_service.stop(guarded(this, [this](bool accepted, const QString& error) {
            if (!accepted) {
                unableToStop(error);
                return;
            }
            m_stopWaitedMs = 0;
            m_stopTimer->start(m_stopPollMs);
        }));
    }));
}

void TConfigFrm::pollStopped() {
    m_service.query(guarded(this, [this](ServiceState state) {
        if (state == ServiceState::Stopped || state == ServiceState::NotInstalled) {
            serviceStepDone();
            runUninstall();
            return;
        }
        m_stopWaitedMs += m_stopPollMs;
        if (m_stopWaitedMs >= m_stopLimitMs)
            unableToStop({});
        else
            m_stopTimer->start(m_stopPollMs);
    }));
}

void TConfigFrm::unableToStop(const QString& error) {
    m_busy = false;
    serviceStepDone();
    m_ctx.ui.beep(BeepKind::Information);
    QString text = "Unable To Stop Neri Vale Service!";
    if (!error.isEmpty()) text += "\n\n" + error;
    m_ctx.ui.warning(text);
}

void TConfigFrm::runUninstall() {
    runService({"UNINSTALL", "SILENT"}, [this](const PrivilegedRunner::Result& r) {
        if (r.ok)
            m_ctx.ui.information("Neri Vale Service Removed!");
        else
            m_ctx.ui.errorBox(r.describe());
    });
}

}  // namespace nv
