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

namespace {

CommandOutcome runOnce(const QString &program, const QStringList &arguments, int timeoutMs)
{
    CommandOutcome outcome;
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

} // namespace

CommandOutcome runSystemCommand(const QString &command, const QStringList &arguments, int timeoutMs)
{
    const QString program = systemProgram(command);
    if (program.isEmpty())
        return CommandOutcome();
    CommandOutcome outcome = runOnce(program, arguments, timeoutMs);
    // A command that did not start never ran, so starting it once more
    // changes nothing twice: a passing failure to create the process (a
    // loaded machine) then leaves no stack on servers it should not keep.
    // A program that is not there fails alike again and is not retried.
    if (!outcome.started && !QStandardPaths::findExecutable(program).isEmpty()) {
        logWarning(QStringLiteral("SystemProcess"),
                   QStringLiteral("%1 did not start; starting it once more").arg(command));
        outcome = runOnce(program, arguments, timeoutMs);
    }
    return outcome;
}
