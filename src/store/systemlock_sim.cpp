#include "systemlock.h"

#include <fcntl.h>
#include <unistd.h>

SystemLock::SystemLock(int descriptor) : descriptor(descriptor) {}

SystemLock::~SystemLock()
{
    close(descriptor);
}

bool SystemLock::tryTake()
{
    struct flock wholeFile = {};
    wholeFile.l_type = F_WRLCK;
    wholeFile.l_whence = SEEK_SET;
    held = fcntl(descriptor, F_SETLK, &wholeFile) == 0;
    return held;
}
