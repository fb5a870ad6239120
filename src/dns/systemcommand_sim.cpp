// On the simulated machine the stand-ins are found on PATH, which the machine's
// environment starts with ROOT/bin. Each command is killed by the kernel when
// the tool's thread that started it ends.
#include "systemcommand.h"

#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

QString systemProgram(const QString &command)
{
    return command;
}

void SystemProcess::bindToToolLifetime()
{
    // setupChildProcess does it, in each command's process.
}

void SystemProcess::setupChildProcess()
{
    // Runs in the command's process, between fork and exec. A tool that
    // ended before the request took leaves the command with another parent.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != toolProcessId)
        _exit(127);
}

bool endCommandsWithThisProcess()
{
    return true;
}
