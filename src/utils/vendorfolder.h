#pragma once

#include "protectedfolder.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The vendor folder "Tarnwick" below ProgramData, where the tool keeps its
// data file, run lock and log: the one place that decides whether it and the
// files in it may be used. The tool runs elevated and trusts what it reads
// there, so the folder is checked once per run and held for the whole run
// (FolderHold). A folder that is a link or junction, or that cannot be made
// the tool's own (protectExistingFolder), is never used: every file path
// then comes out empty, and nothing is read or written there.
class VendorFolder
{
public:
    // The process's vendor folder, found among Qt's generic data locations
    // and checked at the first call.
    static const VendorFolder &instance();

    // Checks the folder at `path`, creating it protected when it is missing;
    // an empty path is never usable.
    explicit VendorFolder(const QString &path);

    bool isUsable() const { return usable; }
    // The folder, or an empty string when it is not usable.
    QString path() const { return usable ? folder : QString(); }
    // A file in the folder, with native separators. A file there that no
    // trusted account owns was planted while the folder let users write: it
    // is first set aside under another name, with a warning, so that it is
    // neither read nor lost. Empty when the folder is not usable or such a
    // file cannot be set aside.
    QString trustedFilePath(const QString &fileName) const;

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
    };
    // Reads the whole file `fileName` of the folder. An untrusted file is set
    // aside and reads as Missing. Failed: the folder is unusable, or the file
    // exists but cannot be opened or read; one attempt, no retry.
    FileRead readFile(const QString &fileName) const;
    // Replaces the file atomically with `bytes`: a new temporary file in the
    // folder, written, flushed, then renamed over `fileName`. False, with a
    // warning naming the file, when any step fails; the old file is then
    // untouched.
    bool writeFile(const QString &fileName, const QByteArray &bytes) const;
    // Moves the file aside as "NAME.<reason>-<time>" by renaming it, never
    // reading or copying it, and warns naming both; false when it fails.
    bool setAside(const QString &fileName, const QString &reason) const;

private:
    bool check();

    QString folder;
    std::unique_ptr<FolderHold> hold;
    bool usable = false;
};
