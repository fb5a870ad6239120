// The simulated machine's protection: POSIX owners and mode bits stand for
// Windows' owners and access lists.
#include "protectedfolder.h"

#include <QDir>
#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t protectedMode = 0755;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(QDir::cleanPath(path));
}

bool isTrustedOwner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

} // namespace

bool makeProtectedFolder(const QString &path)
{
    return QDir().mkpath(path) && chmod(nativePath(path).constData(), protectedMode) == 0;
}

bool protectExistingFolder(const QString &path)
{
    struct stat status;
    if (lstat(nativePath(path).constData(), &status) != 0 || !S_ISDIR(status.st_mode))
        return false;
    if (isTrustedOwner(status.st_uid) && (status.st_mode & 07777) == protectedMode)
        return true;
    return lchown(nativePath(path).constData(), geteuid(), getegid()) == 0 &&
           chmod(nativePath(path).constData(), protectedMode) == 0;
}

bool isOwnedByTrustedAccount(const QString &path)
{
    struct stat status;
    return lstat(nativePath(path).constData(), &status) == 0 && isTrustedOwner(status.st_uid);
}

struct FolderHold::Private
{
    int descriptor = -1;
};

FolderHold::FolderHold(const QString &path) : d(new Private)
{
    d->descriptor =
        open(nativePath(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
}

FolderHold::~FolderHold()
{
    if (d->descriptor >= 0)
        close(d->descriptor);
}

bool FolderHold::isHeld() const
{
    return d->descriptor >= 0;
}
