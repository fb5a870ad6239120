#include "systemcommand.h"

#include <QCoreApplication>

SystemProcess::SystemProcess() : toolProcessId(QCoreApplication::applicationPid())
{
    bindToToolLifetime();
}

bool CommandOutcome::succeeded() const
{
    return started && !timedOut && !crashed && exitCode == 0;
}

QString CommandOutcome::failureText(int timeoutMs) const
{
    if (!started)
        return QStringLiteral("failed to start");
    if (timedOut)
        return QStringLiteral("timed out after %1 ms").arg(timeoutMs);
    if (crashed)
        return QStringLiteral("crashed");
    return QStringLiteral("exited with code %1").arg(exitCode);
}

CommandOutcome runSystemCommand(const QString &command, const QStringList &arguments, int timeoutMs)
{
    CommandOutcome outcome;
    const QString program = systemProgram(command);
    if (program.isEmpty())
        return outcome;
    SystemProcess process;
    process.start(program, arguments, QIODevice::ReadWrite);
    // Nothing is ever written to a command's input; some commands (wmic)
    // read their input to the end before they answer.
    process.closeWriteChannel();
    outcome.started = process.waitForStarted(timeoutMs);
    if (!outcome.started)
        return outcome;
    if (!process.waitForFinished(timeoutMs)) {
        outcome.timedOut = true;
        process.kill();
        process.waitForFinished(5000);
    } else {
        outcome.crashed = process.exitStatus() == QProcess::CrashExit;
        outcome.exitCode = process.exitCode();
    }
    outcome.output = process.readAllStandardOutput();
    return outcome;
}
