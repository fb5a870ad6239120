// The simulated machine's protection: POSIX owners and mode bits stand for
// Windows' owners and access lists.
#include "protectedfolder.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const mode_t protectedMode = 0755;
// Files the tool creates: readable by trusted accounts only.
const mode_t privateFileMode = 0600;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(QDir::cleanPath(path));
}

bool isTrustedOwner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

// What the open file is: a plain file of a trusted owner with one link that
// neither group nor others may write is one to use. A folder of a trusted
// owner is none that was planted, but cannot be used either.
OpenedFile::Status statusOf(const struct stat &status)
{
    if (!isTrustedOwner(status.st_uid))
        return OpenedFile::Untrusted;
    if (S_ISDIR(status.st_mode))
        return OpenedFile::Failed;
    const bool plain = S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                       (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return plain ? OpenedFile::Opened : OpenedFile::Untrusted;
}

OpenedFile notOpened(OpenedFile::Status status, int error)
{
    OpenedFile file;
    file.status = status;
    if (status == OpenedFile::Failed)
        file.error = qt_error_string(error);
    return file;
}

bool failWith(QString *error)
{
    *error = qt_error_string(errno);
    return false;
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

OpenedFile openTrustedFile(const QString &path, FileUse)
{
    // O_NONBLOCK: opening a FIFO planted there would wait for a writer.
    const int descriptor =
        open(nativePath(path).constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        // ELOOP: a symbolic link, dangling or not.
        return notOpened(errno == ENOENT  ? OpenedFile::Missing
                         : errno == ELOOP ? OpenedFile::Untrusted
                                          : OpenedFile::Failed,
                         errno);
    }
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        const int error = errno;
        close(descriptor);
        return notOpened(OpenedFile::Failed, error);
    }
    const OpenedFile::Status kind = statusOf(status);
    if (kind != OpenedFile::Opened) {
        close(descriptor);
        // Failed here: a folder.
        return notOpened(kind, EISDIR);
    }
    OpenedFile file;
    file.status = OpenedFile::Opened;
    file.descriptor = descriptor;
    return file;
}

bool createFileWith(const QString &path, const QByteArray &bytes, QString *error)
{
    const int descriptor =
        open(nativePath(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
             privateFileMode);
    if (descriptor < 0)
        return failWith(error);
    qint64 written = 0;
    while (written < bytes.size()) {
        const ssize_t chunk =
            write(descriptor, bytes.constData() + written, size_t(bytes.size() - written));
        if (chunk > 0)
            written += chunk;
        else if (chunk == 0 || errno != EINTR)
            break;
    }
    // The mode given to open() is narrowed by the umask, never widened;
    // fchmod makes it exact.
    bool done = written == bytes.size() && fchmod(descriptor, privateFileMode) == 0 &&
                fsync(descriptor) == 0;
    if (!done)
        failWith(error);
    if (close(descriptor) != 0 && done)
        done = failWith(error);
    return done;
}

bool renameWithoutCopy(const QString &from, const QString &to, bool replace, QString *error)
{
    // rename() never copies; without RENAME_NOREPLACE it would also replace
    // an empty folder at `to`.
    return renameat2(AT_FDCWD, nativePath(from).constData(), AT_FDCWD, nativePath(to).constData(),
                     replace ? 0 : RENAME_NOREPLACE) == 0 ||
           failWith(error);
}
