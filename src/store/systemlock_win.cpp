#include "systemlock.h"

#include <io.h>
#include <windows.h>

namespace {

HANDLE handleOf(int descriptor)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// The first byte: a lock may lie beyond the file's end, and nothing reads
// or writes the lock file.
bool lockFirstByte(int descriptor)
{
    OVERLAPPED start = {};
    return LockFileEx(handleOf(descriptor), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                      1, 0, &start);
}

} // namespace

SystemLock::SystemLock(int descriptor) : descriptor(descriptor) {}

SystemLock::~SystemLock()
{
    // Closing the handle releases the lock too, but only once the system
    // gets to it: unlocked first, a waiting run takes it at once.
    OVERLAPPED start = {};
    if (held)
        UnlockFileEx(handleOf(descriptor), 0, 1, 0, &start);
    _close(descriptor);
}

SystemLock::Outcome SystemLock::tryTake()
{
    held = lockFirstByte(descriptor);
    if (held)
        return Taken;
    // With LOCKFILE_FAIL_IMMEDIATELY, a lock another handle holds.
    const DWORD error = GetLastError();
    if (error == ERROR_LOCK_VIOLATION)
        return HeldByAnother;
    failure = qt_error_string(int(error));
    return Failed;
}
