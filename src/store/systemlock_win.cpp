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

namespace {

OVERLAPPED at(quint64 offset)
{
    OVERLAPPED overlapped = {};
    overlapped.Offset = DWORD(offset);
    overlapped.OffsetHigh = DWORD(offset >> 32);
    return overlapped;
}

BOOL lockRange(int descriptor, quint64 first, quint64 length)
{
    OVERLAPPED start = at(first);
    return LockFileEx(handleOf(descriptor), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0,
                      DWORD(length), DWORD(length >> 32), &start);
}

} // namespace

bool lockByte(int descriptor, quint64 offset)
{
    return lockRange(descriptor, offset, 1);
}

void unlockByte(int descriptor, quint64 offset)
{
    OVERLAPPED start = at(offset);
    UnlockFileEx(handleOf(descriptor), 0, 1, 0, &start);
}

std::optional<bool> isRangeLockedByAnother(int descriptor, quint64 first, quint64 last)
{
    // Windows has no test for a lock: the range is locked and at once
    // unlocked, which fails where any byte of it is locked already.
    const quint64 length = last - first + 1;
    if (lockRange(descriptor, first, length)) {
        OVERLAPPED start = at(first);
        UnlockFileEx(handleOf(descriptor), 0, DWORD(length), DWORD(length >> 32), &start);
        return false;
    }
    if (GetLastError() == ERROR_LOCK_VIOLATION)
        return true;
    return std::nullopt;
}
