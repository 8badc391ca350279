#include "manager/PrivilegedRunner.h"

#include <QProcess>
#include <memory>

namespace nv {

QString PrivilegedRunner::Result::describe() const {
    QString text = command + "\n";
    if (!failure.isEmpty())
        text += failure;
    else
        text += QString("Exit status %1").arg(exitCode);
    if (!stdErr.isEmpty()) text += ":\n" + stdErr;
    return text;
}

QStringList PrivilegedRunner::runnerCommand() {
    const QString named = qEnvironmentVariable(kPrivilegedRunnerVariable).trimmed();
    if (named.isEmpty()) return {"pkexec"};
    return QProcess::splitCommand(named);
}

void PrivilegedRunner::run(const QString& program, const QStringList& args, Done done) {
    QStringList command = runnerCommand();
    command << program << args;
    auto* proc = new QProcess(this);
    auto result = std::make_shared<Result>();
    result->command = command.join(' ');
    m_running = true;

    // finished and errorOccurred may both arrive (a crash); report once.
    auto reported = std::make_shared<bool>(false);
    auto finish = [this, proc, result, reported, done = std::move(done)]() {
        if (!*reported) {
            *reported = true;
            result->stdErr = QString::fromLocal8Bit(proc->readAllStandardError()).trimmed();
            m_running = false;
            proc->deleteLater();
            if (done) done(*result);
        }
    };
    connect(proc, &QProcess::finished, this,
            [result, finish](int exitCode, QProcess::ExitStatus status) {
                if (status == QProcess::NormalExit) {
                    result->exitCode = exitCode;
                    result->ok = exitCode == 0;
                } else {
                    result->failure = "The command crashed";
                }
                finish();
            });
    connect(proc, &QProcess::errorOccurred, this, [proc, result, finish](QProcess::ProcessError e) {
        if (e != QProcess::FailedToStart) return;  // a crash also ends in finished()
        result->failure = "Unable to start the command: " + proc->errorString();
        finish();
    });
    proc->setProcessChannelMode(QProcess::SeparateChannels);
    proc->setStandardInputFile(QProcess::nullDevice());
    const QString runner = command.takeFirst();
    proc->start(runner, command);
}

}  // namespace nv
