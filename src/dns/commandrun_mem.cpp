// The system commands of the tests' in-memory machine: the stand-ins'
// answers, without a process.
#include "systemcommand.h"

#include "memmachine.h"

CommandOutcome runCommandOnce(const QString &program, const QStringList &arguments, int timeoutMs)
{
    const MemMachine::CommandRun run =
        MemMachine::current().runCommand(program, arguments, timeoutMs);
    CommandOutcome outcome;
    outcome.started = run.started;
    outcome.timedOut = run.timedOut;
    outcome.crashed = run.crashed;
    outcome.exitCode = run.answer.exitCode;
    outcome.output = run.answer.output;
    return outcome;
}
