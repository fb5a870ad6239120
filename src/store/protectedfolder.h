#pragma once

#include <QByteArray>
#include <QString>
#include <memory>

// The vendor folder's protection: who owns it and its files, and who may
// use them. The tool runs elevated and trusts what it reads there, while
// below ProgramData any user may create folders and, in a folder that
// inherits ProgramData's access list, files.
//
// On Windows: owner SYSTEM or Administrators, and a protected access list
// (no inherited entries) that gives SYSTEM and Administrators full control
// and nobody else any right, so that no user can even hold the folder open.
// On the simulated machine the POSIX twin: owned by root or the tool's own
// user, mode 0711 (others may pass through to the log file, nothing more).
//
// An account counts as trusted when it is SYSTEM, Administrators, or the
// account the tool runs as (elevated, an administrator; folders and files of
// earlier versions may have that account as owner). On the simulated machine
// root and the tool's own user.

// Makes Administrators the owner of what this process creates from now on
// (Windows: the default owner of its token), rather than the account of
// the administrator who started it; everything the tool creates also names
// Administrators as owner in its own security descriptor. Logs a critical
// line when the default owner cannot be set (without elevation). Does
// nothing on the simulated machine.
void makeAdministratorsDefaultOwner();

// Creates the folder, protected and owned by Administrators (simulated
// machine: root) from the start, with its missing parents. Without elevation
// (simulated machine: not as root) the creation fails, so that no folder of a
// standard user's is ever left there. True when the folder was created or
// something is there by now.
bool makeProtectedFolder(const QString &path);

// Holds the folder for as long as the object lives, after one open that
// checks and, where need be, repairs it: a handle without delete sharing on
// Windows, so that the folder cannot be renamed and replaced by a link or
// junction meanwhile; an open descriptor on the simulated machine (POSIX
// cannot forbid the rename; the simulation does not need it).
//
// On Windows the backup and restore privileges are enabled around that open
// and the repair alone, and put back as they were after it: the open then
// succeeds whatever the folder's list says, also one that shuts
// Administrators out. A folder of a trusted owner whose access list is not
// the protected one (an installer's inherits ProgramData's) gets it on the
// held handle itself, for the folder alone: the files in it keep theirs.
class FolderHold
{
public:
    enum State
    {
        Held,
        Missing,
        // Whatever is there (folder, file, link, junction) has an owner that
        // is not trusted: it is never used, but may be moved aside.
        NotOurs,
        // A link or junction of a trusted owner.
        Link,
        // A file of a trusted owner.
        NotFolder,
        // It cannot be opened, examined or given the protected list.
        Unprotected
    };

    // Whether a folder of a trusted owner with another list is given the
    // protected one; a reader that changes nothing holds it as it is.
    enum Repair
    {
        RepairList,
        LeaveList
    };

    explicit FolderHold(const QString &path, Repair repair = RepairList);
    ~FolderHold();
    FolderHold(const FolderHold &) = delete;
    FolderHold &operator=(const FolderHold &) = delete;

    State state() const;

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
    // The run lock (systemlock.h), created when missing, opened for reading
    // and writing. Beyond the checks above, no other account may even read
    // it, so that none can lock it: a file of the tool's is readable by
    // trusted accounts only (simulated machine: mode 0600).
    Lock,
    // The log, created when missing, readable by every user. Every write
    // lands at the end of the file as it is then, never at an end another
    // process has moved since: on POSIX an O_APPEND file; on Windows a
    // handle with append access only, since Qt's own append mode there only
    // seeks to the end once, at opening.
    Append,
    // A log file as Append's, which must not exist yet: created afresh.
    NewAppend,
    // The run lock as for Lock, but never created: Missing when absent.
    ExistingLock
};

// Whether the file is one of the run's lock files. Anything else at such a
// name than a plain file of the tool's is set aside, a folder of a trusted
// owner too: left there, it would keep every run from taking a turn. At any
// other name such a folder is a file that cannot be read.
inline bool isLockUse(FileUse use)
{
    return use == FileUse::Lock || use == FileUse::ExistingLock;
}

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
        Failed,
        // Another program holds it open without sharing what the tool needs
        // (Windows only: POSIX has no sharing modes). It can neither be used
        // nor set aside until that program ends.
        HeldOpen
    } status = Failed;
    // A C runtime descriptor of the checked file when Opened, owned by the
    // caller (on Windows over the handle; in binary mode but for Append).
    int descriptor = -1;
    // Why, when Failed.
    QString error;
};

// Opens the file at `path` itself, never what a link there leads to, and
// checks it on the open handle.
OpenedFile openTrustedFile(const QString &path, FileUse use);
// Closes a descriptor of OpenedFile.
void closeDescriptor(int descriptor);

// Creates the file `temporary`, which must not exist yet, readable and
// writable by trusted accounts only (simulated machine: mode 0600), writes
// `bytes` into it, flushes them to the disk and, on its own handle, renames
// it over `path`, never copying it; on Windows a `path` that another program
// holds open is tried again for up to 2 s. False, with the reason in
// `error`, when any step fails; the temporary file is then deleted on that
// handle.
bool writeNewFile(const QString &temporary, const QString &path, const QByteArray &bytes,
                  QString *error);

// What renameCheckedEntry did.
enum class EntryRename
{
    Renamed,
    Missing,
    // The entry's check did not give the status asked for: nothing renamed.
    Unexpected,
    // Held open by another program without delete sharing (Windows only).
    HeldOpen,
    Failed
};

// Renames the entry at `path` (a file, folder, link or junction itself,
// never what it leads to) to `to` in the same folder, never replacing
// anything there nor copying: on a handle opened for that alone, and only
// when that handle's check for `use` (as openTrustedFile's) gives
// `expected`: Opened for a file of the tool's, Untrusted for one to set
// aside. So the entry renamed is always the one checked, never another that
// took its name since an earlier open. The reason in `error` when Failed.
EntryRename renameCheckedEntry(const QString &path, const QString &to, FileUse use,
                               OpenedFile::Status expected, QString *error);

// Deletes the file at `path` when, checked on the handle that deletes it, it
// is a file to read (openTrustedFile, FileUse::Read); anything else stays.
// False, with the reason in `error`, when nothing was deleted.
bool removeTrustedFile(const QString &path, QString *error);

// Renames whatever is at the folder path `path` to `to`, on a handle opened
// for that alone, when that handle shows an owner that is not trusted.
// False, with the reason in `error`, when it does not.
bool moveAsideForeignFolder(const QString &path, const QString &to, QString *error);
