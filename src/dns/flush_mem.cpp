#include "flush.h"

#include "memmachine.h"

bool flushResolverCache()
{
    return !MemMachine::current().killed();
}
