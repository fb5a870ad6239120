#include "vendorfolder.h"

#include "logging/logline.h"
#include "protectedfolder.h"
#include "utils/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QUuid>

namespace {

const QString logSource = QStringLiteral("Utils");
const QString untrustedReason = QStringLiteral("untrusted");
const QString unusableFolder = QStringLiteral("no usable vendor folder");

// The name a file or folder is set aside under. Not ending in the file's
// own suffix, so that the log clean-up never counts nor deletes a file set
// aside.
QString nameAside(const QString &path, const QString &reason)
{
    return QStringLiteral("%1.%2-%3")
        .arg(path, reason,
             QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
}

const QString temporaryInfix = QStringLiteral(".tmp-");

// A name of its own for every temporary file, so that nothing left at any
// fixed name can block a write.
QString temporaryName(const QString &fileName)
{
    return fileName + temporaryInfix + QUuid::createUuid().toString(QUuid::Id128);
}

bool isTemporaryOf(const QString &name, const QString &fileName)
{
    static const QRegularExpression unique(QStringLiteral("^[0-9a-f]{32}$"));
    return name.startsWith(fileName + temporaryInfix) &&
           unique.match(name.mid(fileName.size() + temporaryInfix.size())).hasMatch();
}

std::unique_ptr<VendorFolder> &processFolder()
{
    static std::unique_ptr<VendorFolder> folder;
    return folder;
}

} // namespace

const VendorFolder &VendorFolder::instance()
{
    if (!processFolder())
        processFolder() = std::make_unique<VendorFolder>(vendorFolderPath());
    return *processFolder();
}

void VendorFolder::forgetInstance()
{
    processFolder().reset();
}

VendorFolder::VendorFolder(const QString &path, Access access) : folder(path), access(access)
{
    usable = !folder.isEmpty() && (access == ReadOnly ? checkExisting() : check());
}

bool VendorFolder::checkExisting()
{
    hold = std::make_unique<FolderHold>(folder, FolderHold::LeaveList);
    absent = hold->state() == FolderHold::Missing || hold->state() == FolderHold::NotOurs;
    return !absent && isHeld();
}

bool VendorFolder::check()
{
    makeAdministratorsDefaultOwner();
    hold = std::make_unique<FolderHold>(folder);
    if (hold->state() == FolderHold::NotOurs && !moveAsideFolder())
        return false;
    if (hold->state() == FolderHold::Missing) {
        if (!makeProtectedFolder(folder)) {
            logWarning(logSource,
                       QStringLiteral("Vendor folder cannot be created: %1").arg(folder));
            return false;
        }
        // Checked once it exists, so that a link made while it was created is
        // refused too: whoever made it chooses where it leads.
        hold = std::make_unique<FolderHold>(folder);
    }
    return isHeld();
}

bool VendorFolder::moveAsideFolder()
{
    // Not held, so that it can be renamed.
    hold.reset();
    const QString path = QDir::toNativeSeparators(folder);
    const QString aside = nameAside(path, untrustedReason);
    QString error;
    if (!moveAsideForeignFolder(path, aside, &error)) {
        logCritical(logSource, QStringLiteral("Vendor folder '%1' is not ours and cannot be moved "
                                              "aside, not used: %2")
                                   .arg(path, error));
        return false;
    }
    logWarning(
        logSource,
        QStringLiteral("Vendor folder '%1' is not ours, moved aside as '%2'").arg(path, aside));
    hold = std::make_unique<FolderHold>(folder);
    return true;
}

bool VendorFolder::isHeld() const
{
    switch (hold->state()) {
    case FolderHold::Held:
        return true;
    case FolderHold::Link:
        logWarning(logSource,
                   QStringLiteral("Vendor folder is a link or junction, not used: %1").arg(folder));
        break;
    case FolderHold::NotFolder:
        logWarning(logSource, QStringLiteral("Vendor folder cannot be created: %1").arg(folder));
        break;
    default:
        logWarning(
            logSource,
            QStringLiteral("Vendor folder cannot be made our own, not used: %1").arg(folder));
    }
    return false;
}

QString VendorFolder::filePath(const QString &fileName) const
{
    return QDir::toNativeSeparators(QStringLiteral("%1/%2").arg(folder, fileName));
}

VendorFolder::FileRead VendorFolder::readFile(const QString &fileName) const
{
    FileRead read;
    const OpenedFile file = openChecked(fileName, FileUse::Read, &read.untrusted);
    if (file.status != OpenedFile::Opened) {
        read.status = file.status == OpenedFile::Missing ? FileRead::Missing : FileRead::Failed;
        read.error = file.error;
        return read;
    }
    QFile reader;
    if (reader.open(file.descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        read.bytes = reader.readAll();
    else
        closeDescriptor(file.descriptor);
    read.status = reader.isOpen() && reader.error() == QFileDevice::NoError ? FileRead::Read
                                                                            : FileRead::Failed;
    if (read.status == FileRead::Failed) {
        read.bytes.clear();
        read.error = reader.errorString();
    }
    return read;
}

int VendorFolder::openFile(const QString &fileName, FileUse use) const
{
    const OpenedFile file = openChecked(fileName, use);
    return file.status == OpenedFile::Opened ? file.descriptor : -1;
}

OpenedFile VendorFolder::openChecked(const QString &fileName, FileUse use, bool *untrusted) const
{
    OpenedFile file;
    file.error = unusableFolder;
    if (!usable)
        return file;
    file = openTrustedFile(filePath(fileName), use);
    if (file.status == OpenedFile::Untrusted) {
        if (untrusted)
            *untrusted = true;
        if (access == ReadOnly) {
            file.status = OpenedFile::Missing;
            return file;
        }
        if (!setAsideUntrusted(fileName, use)) {
            file.status = OpenedFile::Failed;
            file.error = QStringLiteral("not ours and cannot be set aside");
            return file;
        }
        // The name is free now, or names a file another run made meanwhile:
        // a file to read is missing, one to create is made afresh.
        file = openTrustedFile(filePath(fileName), use);
        if (file.status == OpenedFile::Untrusted)
            file.status = OpenedFile::Failed;
    }
    if (file.status == OpenedFile::HeldOpen) {
        logCritical(logSource, QStringLiteral("'%1' is held open by another program, not used "
                                              "until that program ends: %2")
                                   .arg(filePath(fileName), file.error));
    }
    return file;
}

bool VendorFolder::writeFile(const QString &fileName, const QByteArray &bytes) const
{
    const QString path = filePath(fileName);
    // A new file renamed over the old one: the old one stays whole until the
    // rename, and nothing that a link or a second name of the old file leads
    // to is ever written.
    QString error = unusableFolder;
    if (usable && access == Use) {
        removeLeftoverTemporaries(fileName);
        if (writeNewFile(filePath(temporaryName(fileName)), path, bytes, &error))
            return true;
    }
    logWarning(logSource, QStringLiteral("Cannot write '%1': %2").arg(path, error));
    return false;
}

void VendorFolder::removeLeftoverTemporaries(const QString &fileName) const
{
    const QStringList names =
        QDir(folder).entryList({fileName + temporaryInfix + QLatin1Char('*')},
                               QDir::AllEntries | QDir::System | QDir::Hidden);
    for (const QString &name : names) {
        if (isTemporaryOf(name, fileName))
            removeFile(name);
    }
}

bool VendorFolder::removeFile(const QString &fileName) const
{
    QString error;
    return usable && access == Use && removeTrustedFile(filePath(fileName), &error);
}

bool VendorFolder::renameFile(const QString &fileName, const QString &newName, FileUse use,
                              QString *error) const
{
    if (!usable || access == ReadOnly) {
        *error = unusableFolder;
        return false;
    }
    const EntryRename outcome =
        renameCheckedEntry(filePath(fileName), filePath(newName), use, OpenedFile::Opened, error);
    if (outcome == EntryRename::Unexpected)
        *error = QStringLiteral("not a file of the tool's");
    return outcome == EntryRename::Renamed;
}

bool VendorFolder::setAside(const QString &fileName, const QString &reason) const
{
    const QString aside = nameAside(fileName, reason);
    QString error = unusableFolder;
    if (access == ReadOnly || !renameFile(fileName, aside, FileUse::Read, &error)) {
        logWarning(logSource,
                   QStringLiteral("'%1' cannot be set aside: %2").arg(filePath(fileName), error));
        return false;
    }
    logWarning(logSource,
               QStringLiteral("'%1' set aside as '%2'").arg(filePath(fileName), filePath(aside)));
    return true;
}

bool VendorFolder::setAsideUntrusted(const QString &fileName, FileUse use) const
{
    const QString path = filePath(fileName);
    const QString aside = nameAside(fileName, untrustedReason);
    QString error;
    switch (renameCheckedEntry(path, filePath(aside), use, OpenedFile::Untrusted, &error)) {
    case EntryRename::Renamed:
        logWarning(
            logSource,
            QStringLiteral("'%1' is not ours, set aside as '%2'").arg(path, filePath(aside)));
        return true;
    case EntryRename::Missing:
    case EntryRename::Unexpected:
        // Another run set it aside and may have made the file afresh.
        return true;
    default:
        logCritical(logSource,
                    QStringLiteral("'%1' is not ours and cannot be set aside, not used: %2")
                        .arg(path, error));
        return false;
    }
}
