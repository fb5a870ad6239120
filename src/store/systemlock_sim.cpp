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

namespace {

struct flock byteRange(short type, quint64 first, quint64 last)
{
    struct flock range = {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = off_t(first);
    range.l_len = off_t(last - first + 1);
    return range;
}

} // namespace

bool lockByte(int descriptor, quint64 offset)
{
    struct flock byte = byteRange(F_WRLCK, offset, offset);
    return fcntl(descriptor, F_SETLK, &byte) == 0;
}

void unlockByte(int descriptor, quint64 offset)
{
    struct flock byte = byteRange(F_UNLCK, offset, offset);
    fcntl(descriptor, F_SETLK, &byte);
}

std::optional<bool> isRangeLockedByAnother(int descriptor, quint64 first, quint64 last)
{
    // F_GETLK reports a lock that would conflict, which only another
    // process's can.
    struct flock range = byteRange(F_WRLCK, first, last);
    if (fcntl(descriptor, F_GETLK, &range) != 0)
        return std::nullopt;
    return range.l_type != F_UNLCK;
}
