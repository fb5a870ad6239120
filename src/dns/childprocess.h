#pragma once

#include "systemcommand.h"

#include <QObject>
#include <QProcess>

// Runs one system command at a time without waiting for it, and reports its
// end through processFinished. The tool runs no event loop, so the end is
// seen only while something waits: waitForFinished, which the owner calls
// before it goes.
class ChildProcess : public QObject
{
    Q_OBJECT

public:
    explicit ChildProcess(QObject *parent = nullptr);
    // Waits up to 10000 ms for a command still running, and reports nothing:
    // an owner that holds this object as a member is partly destroyed by now.
    ~ChildProcess() override;

    // Starts the program; a command still running is killed first.
    void start(const QString &program, const QStringList &arguments);
    // Waits up to `timeoutMs` for a command still running; its end is
    // reported before this returns.
    void waitForFinished(int timeoutMs);

signals:
    // True only for a normal exit with exit code 0.
    void processFinished(bool success);

protected slots:
    void onErrorOccurred(QProcess::ProcessError error);
    void onFinished(int exitCode, QProcess::ExitStatus exitStatus);

private:
    SystemProcess process;
};
