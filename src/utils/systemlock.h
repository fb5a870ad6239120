#pragma once

#include <QString>
#include <memory>

// A lock between processes that the operating system releases when its
// holder ends, however it ends: nothing a run leaves behind, not even a file
// of any content, can keep a later run out. On the simulated machine it is an
// advisory lock (flock) on the file "dns.lock" in the vendor folder; on
// Windows a named mutex in the global namespace, which only SYSTEM and
// Administrators may open, so that no user's file or handle can hold it.
class SystemLock
{
public:
    // `lockFile` names the lock file; the mutex of Windows has a name of its own.
    explicit SystemLock(const QString &lockFile);
    ~SystemLock();
    SystemLock(const SystemLock &) = delete;
    SystemLock &operator=(const SystemLock &) = delete;

    // What the lock is, for log lines: the lock file, or the mutex's name.
    QString name() const;
    // Makes the lock's object; false when it cannot be made.
    bool open();
    // Takes the lock unless another process holds it; never waits.
    bool tryTake();

private:
    struct Private;
    std::unique_ptr<Private> d;
};
