// The simulated machine's protection: POSIX owners and mode bits stand for
// Windows' owners and access lists, root for SYSTEM and Administrators.
#include "protectedfolder.h"

#include "fileeffect.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The protected list's twin: only the owner may list or change the folder;
// others may pass through it to the log file, as Windows lets every user.
const mode_t protectedMode = 0711;
// The files the tool creates, the log aside: readable by trusted accounts
// only.
const mode_t privateFileMode = 0600;
const mode_t logFileMode = 0644;

QByteArray nativePath(const QString &path)
{
    return QFile::encodeName(QDir::cleanPath(path));
}

bool isTrustedOwner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

// The mode bits that no account but the owner may hold on a file for `use`.
mode_t othersForbidden(FileUse use)
{
    return use == FileUse::Lock || use == FileUse::ExistingLock ? mode_t(S_IRWXG | S_IRWXO)
                                                                : mode_t(S_IWGRP | S_IWOTH);
}

// What the open file is: a plain file of a trusted owner with one link,
// which no other account may use beyond what `use` allows, is one to use. A
// folder of a trusted owner is none that was planted, but cannot be used
// either (isLockUse).
OpenedFile::Status statusOf(const struct stat &status, FileUse use)
{
    if (!isTrustedOwner(status.st_uid))
        return OpenedFile::Untrusted;
    if (S_ISDIR(status.st_mode) && !isLockUse(use))
        return OpenedFile::Failed;
    const bool plain = S_ISREG(status.st_mode) && status.st_nlink == 1 &&
                       (status.st_mode & othersForbidden(use)) == 0;
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

// The entry at `path` itself, whatever it is (a symbolic link too), open
// for examining and renaming only; -1 when it cannot be opened.
int openEntry(const QString &path)
{
    return open(nativePath(path).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
}

// The status of the open entry for `use`; Failed when it cannot be read.
OpenedFile::Status statusOfEntry(int entry, FileUse use)
{
    struct stat status;
    return fstat(entry, &status) == 0 ? statusOf(status, use) : OpenedFile::Failed;
}

// What is at `path` when it could not be opened for `use` with `error`: a
// symbolic link (ELOOP), a folder opened for writing (EISDIR), a FIFO
// without a reader, ... examined on the entry itself.
OpenedFile notOpened(const QString &path, FileUse use, int error)
{
    if (error == ENOENT)
        return notOpened(OpenedFile::Missing, error);
    const int entry = openEntry(path);
    if (entry < 0)
        return notOpened(errno == ENOENT ? OpenedFile::Missing : OpenedFile::Failed, error);
    const OpenedFile::Status status = statusOfEntry(entry, use);
    close(entry);
    return notOpened(status == OpenedFile::Opened ? OpenedFile::Failed : status, error);
}

// True when `path` still names the entry open as `descriptor`: POSIX renames
// and deletes by path only, so this is checked immediately before.
bool namesEntry(const QString &path, int descriptor)
{
    struct stat atPath;
    struct stat open;
    return lstat(nativePath(path).constData(), &atPath) == 0 && fstat(descriptor, &open) == 0 &&
           atPath.st_dev == open.st_dev && atPath.st_ino == open.st_ino;
}

bool renameEntry(int descriptor, const QString &path, const QString &to, unsigned flags,
                 QString *error)
{
    if (!namesEntry(path, descriptor)) {
        *error = QStringLiteral("no longer the entry that was checked");
        return false;
    }
    // rename() never copies; RENAME_NOREPLACE keeps it from replacing even
    // an empty folder at `to`.
    if (renameat2(AT_FDCWD, nativePath(path).constData(), AT_FDCWD, nativePath(to).constData(),
                  flags) == 0)
        return true;
    *error = qt_error_string(errno);
    return false;
}

int openFlags(FileUse use)
{
    switch (use) {
    case FileUse::Read:
        return O_RDONLY;
    case FileUse::Lock:
        return O_RDWR | O_CREAT;
    case FileUse::ExistingLock:
        return O_RDWR;
    case FileUse::Append:
        return O_WRONLY | O_APPEND | O_CREAT;
    case FileUse::NewAppend:
        return O_WRONLY | O_APPEND | O_CREAT | O_EXCL;
    }
    return O_RDONLY;
}

bool failWith(QString *error)
{
    *error = qt_error_string(errno);
    return false;
}

// What is at `path`, which could not be opened as a folder.
FolderHold::State stateOfUnopened(const QString &path)
{
    struct stat status;
    if (lstat(nativePath(path).constData(), &status) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FolderHold::Missing : FolderHold::Unprotected;
    if (!isTrustedOwner(status.st_uid))
        return FolderHold::NotOurs;
    if (S_ISLNK(status.st_mode))
        return FolderHold::Link;
    return S_ISDIR(status.st_mode) ? FolderHold::Unprotected : FolderHold::NotFolder;
}

// The open folder checked and, when its owner is trusted but its mode is
// not the protected one and `repair` asks for it, given that mode.
FolderHold::State stateOf(int folder, FolderHold::Repair repair)
{
    struct stat status;
    if (fstat(folder, &status) != 0)
        return FolderHold::Unprotected;
    if (!isTrustedOwner(status.st_uid))
        return FolderHold::NotOurs;
    if ((status.st_mode & 07777) != protectedMode && repair == FolderHold::RepairList &&
        fchmod(folder, protectedMode) != 0)
        return FolderHold::Unprotected;
    return FolderHold::Held;
}

} // namespace

void makeAdministratorsDefaultOwner() {}

bool makeProtectedFolder(const QString &path)
{
    const QByteArray folder = nativePath(path);
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    if (mkdir(folder.constData(), 0700) != 0)
        return errno == EEXIST;
    // Owned by root, as Windows gives a folder made with Administrators as
    // owner in its descriptor, which fails without elevation: as here for
    // any other user, whose folder then goes again.
    const int descriptor =
        open(folder.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const bool made =
        descriptor >= 0 && fchown(descriptor, 0, 0) == 0 && fchmod(descriptor, protectedMode) == 0;
    if (descriptor >= 0)
        close(descriptor);
    if (!made)
        rmdir(folder.constData());
    return made;
}

struct FolderHold::Private
{
    int descriptor = -1;
    State state = Missing;
};

FolderHold::FolderHold(const QString &path, Repair repair) : d(new Private)
{
    d->descriptor =
        open(nativePath(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    d->state = d->descriptor >= 0 ? stateOf(d->descriptor, repair) : stateOfUnopened(path);
    if (d->state != Held && d->descriptor >= 0) {
        close(d->descriptor);
        d->descriptor = -1;
    }
}

FolderHold::~FolderHold()
{
    if (d->descriptor >= 0)
        close(d->descriptor);
}

FolderHold::State FolderHold::state() const
{
    return d->state;
}

OpenedFile openTrustedFile(const QString &path, FileUse use)
{
    // O_NONBLOCK: opening a FIFO planted there would wait for a writer.
    const int descriptor =
        open(nativePath(path).constData(), openFlags(use) | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
             use == FileUse::Append || use == FileUse::NewAppend ? logFileMode : privateFileMode);
    if (descriptor < 0)
        return notOpened(path, use, errno);
    struct stat status;
    if (fstat(descriptor, &status) != 0) {
        const int error = errno;
        close(descriptor);
        return notOpened(OpenedFile::Failed, error);
    }
    const OpenedFile::Status kind = statusOf(status, use);
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

void closeDescriptor(int descriptor)
{
    close(descriptor);
}

namespace {

// False, with the reason in `error`, when a test failed the effect or ended
// the run at it.
bool goesAhead(EffectOutcome outcome, QString *error)
{
    if (outcome != EffectOutcome::Go) {
        *error = outcome == EffectOutcome::Killed ? QStringLiteral("the run was killed")
                                                  : QStringLiteral("failed by a test");
    }
    return outcome == EffectOutcome::Go;
}

} // namespace

bool writeNewFile(const QString &temporary, const QString &path, const QByteArray &bytes,
                  QString *error)
{
    if (!goesAhead(beforeFileEffect(FileEffect::Write, temporary), error))
        return false;
    const int descriptor =
        open(nativePath(temporary).constData(),
             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, privateFileMode);
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
    bool done = (written == bytes.size() && fchmod(descriptor, privateFileMode) == 0 &&
                 fsync(descriptor) == 0) ||
                failWith(error);
    const EffectOutcome replace =
        done ? beforeFileEffect(FileEffect::Replace, path) : EffectOutcome::Go;
    if (replace == EffectOutcome::Killed) {
        // What a killed process leaves: the temporary file, written whole.
        close(descriptor);
        return goesAhead(replace, error);
    }
    done = done && goesAhead(replace, error) && renameEntry(descriptor, temporary, path, 0, error);
    if (!done && namesEntry(temporary, descriptor))
        unlink(nativePath(temporary).constData());
    if (close(descriptor) != 0 && done)
        done = failWith(error);
    return done;
}

EntryRename renameCheckedEntry(const QString &path, const QString &to, FileUse use,
                               OpenedFile::Status expected, QString *error)
{
    if (!goesAhead(beforeFileEffect(FileEffect::Rename, path), error))
        return EntryRename::Failed;
    const int entry = openEntry(path);
    if (entry < 0) {
        failWith(error);
        return errno == ENOENT ? EntryRename::Missing : EntryRename::Failed;
    }
    EntryRename outcome = EntryRename::Unexpected;
    if (statusOfEntry(entry, use) == expected)
        outcome = renameEntry(entry, path, to, RENAME_NOREPLACE, error) ? EntryRename::Renamed
                                                                        : EntryRename::Failed;
    close(entry);
    return outcome;
}

bool removeTrustedFile(const QString &path, QString *error)
{
    if (!goesAhead(beforeFileEffect(FileEffect::Remove, path), error))
        return false;
    const int entry = openEntry(path);
    if (entry < 0)
        return failWith(error);
    bool removed = false;
    if (statusOfEntry(entry, FileUse::Read) != OpenedFile::Opened)
        *error = QStringLiteral("not a file of the tool's");
    else if (!namesEntry(path, entry))
        *error = QStringLiteral("no longer the entry that was checked");
    else
        removed = unlink(nativePath(path).constData()) == 0 || failWith(error);
    close(entry);
    return removed;
}

bool moveAsideForeignFolder(const QString &path, const QString &to, QString *error)
{
    if (!goesAhead(beforeFileEffect(FileEffect::Rename, path), error))
        return false;
    const int entry = openEntry(path);
    if (entry < 0)
        return failWith(error);
    struct stat status;
    bool moved = false;
    if (fstat(entry, &status) != 0)
        failWith(error);
    else if (isTrustedOwner(status.st_uid))
        *error = QStringLiteral("owned by a trusted account by now");
    else
        moved = renameEntry(entry, path, to, RENAME_NOREPLACE, error);
    close(entry);
    return moved;
}
