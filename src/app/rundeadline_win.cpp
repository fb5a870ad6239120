#include "rundeadline.h"

#include "store/runlock.h"

int runDeadlineMsOnThisMachine()
{
    return runDeadlineMs;
}
