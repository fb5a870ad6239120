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

// True when the file at `path` itself (never what a link there leads to) is
// owned by a trusted account.
bool isOwnedByTrustedAccount(const QString &path);

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
