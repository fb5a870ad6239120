#include "paths.h"

#include "memmachine.h"

QString programDataFolder()
{
    return MemMachine::current().programData();
}
