#pragma once
// Runs one command with root's rights for the manager, which itself never runs
// as root: "pkexec <program> <args>", or, when NERIVALE_PRIVILEGED_RUNNER names
// another command (sudo, a test's stub), that command in pkexec's place.
// Asynchronous: the GUI thread never waits on the password prompt or the child.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

namespace nv {

inline constexpr const char* kPrivilegedRunnerVariable = "NERIVALE_PRIVILEGED_RUNNER";

class PrivilegedRunner : public QObject {
    Q_OBJECT
public:
    struct Result {
        bool ok = false;    // ran and ended with exit status 0
        int exitCode = -1;  // -1: did not start or crashed
        QString command;    // the whole command line, for the operator
        QString stdErr;     // what the command wrote to stderr, trimmed
        QString failure;    // why it did not start or crashed; empty otherwise
        // The text a failure dialog shows: the command, its exit status and stderr.
        QString describe() const;
    };
    using Done = std::function<void(const Result&)>;

    explicit PrivilegedRunner(QObject* parent = nullptr) : QObject(parent) {}

    // $NERIVALE_PRIVILEGED_RUNNER split as a command line, else {"pkexec"}.
    static QStringList runnerCommand();
    // Starts `program args` under the runner; `done` runs once, on this thread,
    // when it has ended or failed to start.
    void run(const QString& program, const QStringList& args, Done done);
    bool running() const { return m_running; }

private:
    bool m_running = false;
};

}  // namespace nv
