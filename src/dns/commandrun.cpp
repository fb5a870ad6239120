#include "systemcommand.h"

CommandOutcome runCommandOnce(const QString &program, const QStringList &arguments, int timeoutMs)
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
