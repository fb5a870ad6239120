// The virtual clock of the tests' in-memory machine: a pause only moves it.
#include "clock.h"

#include "memmachine.h"

qint64 runclock::nowMs()
{
    return MemMachine::current().nowMs();
}

void runclock::sleepMs(int ms)
{
    MemMachine::current().advanceClock(ms);
}
