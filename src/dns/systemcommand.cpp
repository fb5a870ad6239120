#include "systemcommand.h"

#include "logging/logline.h"

#include <QCoreApplication>
#include <QStandardPaths>

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
    const QString program = systemProgram(command);
    if (program.isEmpty())
        return CommandOutcome();
    CommandOutcome outcome = runCommandOnce(program, arguments, timeoutMs);
    // A command that did not start never ran, so starting it once more
    // changes nothing twice: a passing failure to create the process (a
    // loaded machine) then leaves no stack on servers it should not keep.
    // A program that is not there fails alike again and is not retried.
    if (!outcome.started && !QStandardPaths::findExecutable(program).isEmpty()) {
        logWarning(QStringLiteral("SystemProcess"),
                   QStringLiteral("%1 did not start; starting it once more").arg(command));
        outcome = runCommandOnce(program, arguments, timeoutMs);
    }
    return outcome;
}
