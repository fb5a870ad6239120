#pragma once

#include <QString>
#include <memory>

// The vendor folder's protection: who owns it and its files, and who may
// write there. The tool runs elevated and trusts what it reads there, while
// below ProgramData any user may create folders and, in a folder that
// inherits ProgramData's access list, files.
//
// On Windows: owner SYSTEM or Administrators, and a protected access list
// (no inherited entries) that gives SYSTEM and Administrators full control
// and Users read and execute, inherited by files and folders below.
// On the simulated machine the POSIX twin: owned by root or the tool's own
// user, and writable by its owner only (mode 0755).
//
// An account counts as trusted when it is SYSTEM, Administrators, or the
// account the tool runs as (elevated, an administrator; Windows may give new
// objects that account as owner rather than Administrators).

// Creates the folder, protected from the start, with its missing parents.
// True when the folder exists afterwards.
bool makeProtectedFolder(const QString &path);

// Makes an existing folder the tool's own when it is not: a trusted owner
// and the protected access list. On Windows the take-ownership and restore
// privileges are enabled for that, so that a folder whose access list shuts
// Administrators out can still be taken over. True when the folder is
// protected afterwards.
bool protectExistingFolder(const QString &path);

// Holds the folder for as long as the object lives, so that it cannot be
// renamed and replaced by a link or junction between its check and its use:
// on Windows a handle without delete sharing; on the simulated machine an
// open descriptor (POSIX cannot forbid the rename; the simulation does not
// need it).
class FolderHold
{
public:
    explicit FolderHold(const QString &path);
    ~FolderHold();
    FolderHold(const FolderHold &) = delete;
    FolderHold &operator=(const FolderHold &) = delete;

    // False when the folder could not be opened as a plain folder.
    bool isHeld() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// The files in the folder. A file is trusted when a trusted account owns
// it, it has one link, it is no link or reparse point (nor any other kind
// of special file), and no other account may write it, delete it, or change
// its owner or access list (simulated machine: neither group nor others may
// write it). The check is made on the handle that is then used, so that
// nothing can be swapped in between.

// What a file is opened for.
enum class FileUse
{
    // An existing file, read whole; others may read it meanwhile, nobody
    // may write it (Windows).
    Read,
};

// What opening a file found.
struct OpenedFile
{
    enum Status
    {
        Opened,
        Missing,
        // Planted, or not a plain file: neither read nor written.
        Untrusted,
        // Exists, but cannot be opened or examined; a folder of a trusted
        // owner is one.
        Failed
    } status = Failed;
    // A C runtime descriptor of the checked file when Opened, owned by the
    // caller (on Windows over the handle, in binary mode).
    int descriptor = -1;
    // Why, when Failed.
    QString error;
};

// Opens the file at `path` itself, never what a link there leads to, and
// checks it on the open handle.
OpenedFile openTrustedFile(const QString &path, FileUse use);

// Creates the file at `path`, which must not exist yet, readable and
// writable by trusted accounts only (simulated machine: mode 0600), writes
// `bytes` into it and flushes them to the disk. False, with the reason in
// `error`, when any step fails; the file may then be left behind.
bool createFileWith(const QString &path, const QByteArray &bytes, QString *error);

// Renames the file or folder `from` (a link or junction itself, never what
// it leads to) to `to` in the same folder, never copying it. An existing
// `to` is replaced only when `replace` is true, else the rename fails. False,
// with the reason in `error`, when it fails.
bool renameWithoutCopy(const QString &from, const QString &to, bool replace, QString *error);
