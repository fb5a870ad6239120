#include "machinebound.h"

#include "memmachine.h"

int boundOnThisMachine(const char *name, int bound)
{
    return MemMachine::current().bounds.value(QString::fromLatin1(name), bound);
}
