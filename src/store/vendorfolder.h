#pragma once

// The store (src/store) and the logger use each other: the log is opened
// through this folder, and the store logs its warnings. So that neither
// builds on the other's internals, the dependency runs one way per file:
// store files include only logging/logline.h, and only logger.cpp includes
// store headers.

#include "protectedfolder.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The vendor folder "Tarnwick" below ProgramData, where the tool keeps its
// data file, run lock and log: the one place that decides whether it and the
// files in it may be used, and the one owner of how they are opened, read,
// written and set aside. The tool runs elevated and trusts what it reads
// there, so the folder is checked once per run and held for the whole run
// (FolderHold). A folder that no trusted account owns is moved aside and
// made afresh; a link or junction, or a folder that cannot be made the
// tool's own, is never used: nothing is then read or written there.
class VendorFolder
{
public:
    // The process's vendor folder, found among Qt's generic data locations
    // and checked at the first call.
    static const VendorFolder &instance();
    // Lets the folder go, so that the next instance() checks it afresh: for
    // tests that run the tool more than once in one process.
    static void forgetInstance();

    // What a VendorFolder may do to the folder and its files.
    enum Access
    {
        // Create the folder, give it the protected list, set aside what is
        // not ours.
        Use,
        // Only read what is there: nothing is created, repaired, written or
        // set aside; an untrusted file reads as Missing, as it would once set
        // aside.
        ReadOnly
    };

    // Checks the folder at `path`, with `Use` creating it protected when it
    // is missing; an empty path is never usable.
    explicit VendorFolder(const QString &path, Access access = Use);

    bool isUsable() const { return usable; }
    // Only for ReadOnly: nothing is there that a run would use, since it
    // would create the folder afresh (missing, or not ours and moved aside).
    bool isAbsent() const { return absent; }
    // The folder, or an empty string when it is not usable.
    QString path() const { return usable ? folder : QString(); }
    // The path of the file `fileName` in the folder, with native
    // separators, for log lines.
    QString filePath(const QString &fileName) const;

    // What readFile found.
    struct FileRead
    {
        enum Status
        {
            Read,
            Missing,
            Failed
        } status = Missing;
        QByteArray bytes; // the whole file, when Read
        QString error;    // why, when Failed (for log lines)
        // Missing: an untrusted file was there, set aside (Use) or left as
        // it is (ReadOnly).
        bool untrusted = false;
    };
    // Reads the whole file `fileName` of the folder through one handle that
    // is checked first (trusted owner, one link, no link/reparse point,
    // writable by trusted accounts only). An untrusted file is set aside
    // with the existing warning and reads as Missing, as does one that a
    // ReadOnly folder leaves where it is. Failed: the folder is
    // unusable, or the file exists but cannot be opened or read (access
    // error, sharing violation on Windows); one attempt, no retry (the
    // caller retries).
    FileRead readFile(const QString &fileName) const;
    // Replaces the file atomically with `bytes`: a new protected temporary
    // file "NAME.tmp-<unique>" in the folder (simulated machine: owner root
    // or the tool's user, mode 0600), written, flushed, then renamed on its
    // handle over `fileName` with no copy. Temporary files of that name that
    // a run killed while writing left behind are deleted first, when they
    // pass the checks of a file of the tool's; the caller holds the run lock.
    // False, with a warning naming the file, when any step fails; the old
    // file is then untouched.
    bool writeFile(const QString &fileName, const QByteArray &bytes) const;
    // Moves the file, which must pass the checks of a file to read, aside as
    // "NAME.<reason>-<time>" by renaming it on a checked handle, never
    // reading or copying it, and warns naming both; false when it fails.
    bool setAside(const QString &fileName, const QString &reason) const;
    // Opens the file `fileName` of the folder for `use` (Lock, Append,
    // NewAppend), creating it when missing, through one handle checked as
    // readFile's is. An untrusted file is set aside first, with its warning,
    // and a fresh one made. The open file's C runtime descriptor, which the
    // caller closes, or -1 when the folder is unusable or the file cannot be
    // opened.
    int openFile(const QString &fileName, FileUse use) const;
    // Renames the file `fileName`, which must pass the checks for `use`, to
    // `newName` in the folder, on a checked handle and never replacing a
    // file there. False, with the reason in `error`, when it does not.
    bool renameFile(const QString &fileName, const QString &newName, FileUse use,
                    QString *error) const;
    // Deletes the file `fileName` when it passes the checks of a file to
    // read; anything else stays. False when nothing was deleted.
    bool removeFile(const QString &fileName) const;
    // The file opened and checked as openFile's, with what was found; an
    // untrusted one is set aside first, or with ReadOnly reads as Missing
    // (`untrusted` then true either way).
    OpenedFile openChecked(const QString &fileName, FileUse use, bool *untrusted = nullptr) const;

private:
    bool check();
    // ReadOnly: holds the folder as it is, when it is there and ours.
    bool checkExisting();
    // Whatever is at the folder's path has an owner that is not trusted:
    // it is renamed aside, with a warning, and the path checked anew. False,
    // with a critical line, when it cannot be renamed.
    bool moveAsideFolder();
    // Warns unless the folder is held.
    bool isHeld() const;
    // Sets a file that is untrusted for `use` aside with its warning. False, with a critical
    // line naming the file, when it cannot: the name is then not used.
    bool setAsideUntrusted(const QString &fileName, FileUse use) const;
    // Deletes the temporary files of `fileName` that a killed run left.
    void removeLeftoverTemporaries(const QString &fileName) const;

    QString folder;
    Access access;
    std::unique_ptr<FolderHold> hold;
    bool usable = false;
    bool absent = false;
};
