#pragma once

#include <QString>

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
