#include "systemlock.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

SystemLock::SystemLock(int descriptor) : descriptor(descriptor) {}

SystemLock::~SystemLock()
{
    close(descriptor);
}

SystemLock::Outcome SystemLock::tryTake()
{
    struct flock wholeFile = {};
    wholeFile.l_type = F_WRLCK;
    wholeFile.l_whence = SEEK_SET;
    held = fcntl(descriptor, F_SETLK, &wholeFile) == 0;
    if (held)
        return Taken;
    // POSIX gives either for a lock another process holds.
    if (errno == EACCES || errno == EAGAIN)
        return HeldByAnother;
    failure = qt_error_string(errno);
    return Failed;
}
