#pragma once
// ServiceControl over systemctl, run by QProcess without waiting: start and
// stop are queued with --no-block ("accepted", not done), the state comes from
// `systemctl show -p LoadState,ActiveState`. A refusal (polkit, no systemd) is
// a start or stop that was not accepted, or a query that counts as Other.
#include <QObject>
#include <QStringList>

#include "manager/ServiceControl.h"

namespace nv {

class SystemctlServiceControl : public QObject, public ServiceControl {
    Q_OBJECT
public:
    explicit SystemctlServiceControl(QObject* parent = nullptr, QString program = "systemctl",
                                     QString unit = {});
    void query(StateHandler done) override;
    void start(DoneHandler done) override;
    void stop(DoneHandler done) override;

    // The state that `systemctl show -p LoadState,ActiveState` printed, for a
    // query that exited with `exitCode`.
    static ServiceState stateFromShow(const QByteArray& output, int exitCode);

private:
    using Finished = std::function<void(int exitCode, bool crashed, const QByteArray& out, const QString& err)>;
    void run(const QStringList& args, Finished done);

    QString m_program;
    QString m_unit;
};

}  // namespace nv
