// The tests' in-memory machine starts no process: runCommandOnce answers
// (commandrun_mem.cpp), and the flush never falls back on ipconfig's.
#include "systemcommand.h"

QString systemProgram(const QString &command)
{
    return command;
}

void SystemProcess::bindToToolLifetime() {}

void SystemProcess::setupChildProcess() {}

bool endCommandsWithThisProcess()
{
    return true;
}
