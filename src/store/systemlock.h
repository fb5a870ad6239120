#pragma once

#include <QString>
#include <optional>

// The run lock between processes, which the operating system releases when
// its holder ends, however it ends: nothing a run leaves behind, not even a
// file of any content, can keep a later run out. It locks the open file
// "dns.lock" of the vendor folder, which only SYSTEM and Administrators may
// open (protectedfolder.h), so that no user can take or hold it: LockFileEx
// on Windows; on the simulated machine a POSIX record lock (fcntl), which
// belongs to the process, so that no child it forks holds it, not even
// before the child execs. A record lock goes when its process closes any
// descriptor of the file: the process opens the lock file once, for this
// object alone.
class SystemLock
{
public:
    // Takes over `descriptor`, the open lock file (FileUse::Lock), and
    // closes it, releasing the lock, when the object goes.
    explicit SystemLock(int descriptor);
    ~SystemLock();
    SystemLock(const SystemLock &) = delete;
    SystemLock &operator=(const SystemLock &) = delete;

    enum Outcome
    {
        Taken,
        // Another process holds it: worth waiting for.
        HeldByAnother,
        // Any other error, which waiting would not mend.
        Failed
    };
    // Takes the lock unless another process holds it; never waits. The
    // reason of Failed is in error().
    Outcome tryTake();
    QString error() const { return failure; }

private:
    int descriptor;
    bool held = false;
    QString failure;
};

// Byte locks that mark runs alive (runorder.h), in a file of their own that
// the process opens once (see above). Like the lock above, the system drops
// them when their process ends. Bytes may lie far beyond the file's end.

// Takes the lock of the byte at `offset` unless another process holds it;
// never waits. False when it is not taken.
bool lockByte(int descriptor, quint64 offset);
// Releases the lock of the byte at `offset` that this process holds.
void unlockByte(int descriptor, quint64 offset);
// Whether another process holds a lock on a byte in [first, last]; none
// when that cannot be told. A range holding a byte this process locked is
// never asked about (Windows would see its own lock there).
std::optional<bool> isRangeLockedByAnother(int descriptor, quint64 first, quint64 last);
