#include "manager/SystemctlServiceControl.h"

#include <QProcess>

#include "platform/ServiceHost.h"

namespace nv {

SystemctlServiceControl::SystemctlServiceControl(QObject* parent, QString program, QString unit)
    : QObject(parent),
      m_program(std::move(program)),
      m_unit(unit.isEmpty() ? QString::fromLatin1(kServiceUnitName) : std::move(unit)) {}

void SystemctlServiceControl::run(const QStringList& args, Finished done) {
    auto* p = new QProcess(this);
    p->setProgram(m_program);
    p->setArguments(args);
    // finished and errorOccurred(FailedToStart) are exclusive; one of them ends the run.
    connect(p, &QProcess::finished, this, [p, done](int code, QProcess::ExitStatus status) {
        const QByteArray out = p->readAllStandardOutput();
        const QString err = QString::fromLocal8Bit(p->readAllStandardError()).trimmed();
        p->deleteLater();
        done(code, status == QProcess::CrashExit, out, err);
    });
    connect(p, &QProcess::errorOccurred, this, [p, done](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return;
        const QString err = p->errorString();
        p->deleteLater();
        done(-1, true, {}, err);
    });
    p->start();
}

ServiceState SystemctlServiceControl::stateFromShow(const QByteArray& output, int exitCode) {
    if (exitCode != 0) return ServiceState::Other;
    QByteArray load, active;
    for (const QByteArray& raw : output.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.startsWith("LoadState=")) load = line.mid(10);
        if (line.startsWith("ActiveState=")) active = line.mid(12);
    }
    if (load == "not-found") return ServiceState::NotInstalled;
    if (active == "active") return ServiceState::Running;
    if (active == "inactive" || active == "failed") return ServiceState::Stopped;
    return ServiceState::Other;
}

void SystemctlServiceControl::query(StateHandler done) {
    run({"show", "-p", "LoadState,ActiveState", m_unit},
        [done](int code, bool crashed, const QByteArray& out, const QString&) {
            done(crashed ? ServiceState::Other : stateFromShow(out, code));
        });
}

void SystemctlServiceControl::start(DoneHandler done) {
    run({"--no-block", "start", m_unit}, [done](int code, bool crashed, const QByteArray&, const QString& err) {
        done(!crashed && code == 0, err);
    });
}

void SystemctlServiceControl::stop(DoneHandler done) {
    run({"--no-block", "stop", m_unit}, [done](int code, bool crashed, const QByteArray&, const QString& err) {
        done(!crashed && code == 0, err);
    });
}

}  // namespace nv
