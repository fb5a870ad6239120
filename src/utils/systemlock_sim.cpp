// The simulated machine's run lock: flock on dns.lock, released by the
// kernel when the last descriptor of the holder closes, at its end at the
// latest. The descriptor is closed on exec, so the system commands a run
// starts never hold it.
#include "systemlock.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

struct SystemLock::Private
{
    QString path;
    int descriptor = -1;
};

SystemLock::SystemLock(const QString &lockFile) : d(new Private)
{
    d->path = lockFile;
}

SystemLock::~SystemLock()
{
    if (d->descriptor >= 0)
        close(d->descriptor);
}

QString SystemLock::name() const
{
    return d->path;
}

bool SystemLock::open()
{
    if (d->path.isEmpty())
        return false;
    // Never through a link: the lock file is the tool's own.
    d->descriptor = ::open(QFile::encodeName(d->path).constData(),
                           O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    return d->descriptor >= 0;
}

bool SystemLock::tryTake()
{
    return flock(d->descriptor, LOCK_EX | LOCK_NB) == 0;
}
