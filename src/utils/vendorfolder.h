#pragma once

#include <QString>

// The vendor folder "Tarnwick" below ProgramData, where the tool keeps its
// data file, run lock and log: the one place that decides whether it may be
// used. The tool runs elevated and trusts what it reads there, so a folder
// that is a link or junction, or that cannot be made the tool's own, is never
// used; every file path then comes out empty, and nothing is read or written.
class VendorFolder
{
public:
    // The process's vendor folder, found among Qt's generic data locations
    // and checked at the first call.
    static const VendorFolder &instance();

    // Checks the folder at `path`, creating it protected when it is missing
    // (makeProtectedFolder); an empty path is never usable.
    explicit VendorFolder(const QString &path);

    bool isUsable() const { return usable; }
    // The folder, or an empty string when it is not usable.
    QString path() const { return usable ? folder : QString(); }
    // A file in the folder, with native separators; empty when the folder is
    // not usable.
    QString filePath(const QString &fileName) const;

private:
    bool check();

    QString folder;
    bool usable = false;
};
