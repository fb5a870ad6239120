#include "vendorfolder.h"

#include "logging/logline.h"
#include "protectedfolder.h"
#include "utils/paths.h"

#include <QDateTime>
#include <QDir>
#include <QFile>

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

} // namespace

const VendorFolder &VendorFolder::instance()
{
    static const VendorFolder vendorFolder(vendorFolderPath());
    return vendorFolder;
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
    if (!renameWithoutCopy(path, aside, false, &error)) {
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
    const OpenedFile file = openChecked(fileName, FileUse::Read, &read.setAside);
    if (file.status != OpenedFile::Opened) {
        read.status = file.status == OpenedFile::Missing ? FileRead::Missing : FileRead::Failed;
        read.error = file.error;
        return read;
    }
    QFile reader;
    reader.open(file.descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    read.bytes = reader.readAll();
    read.status = reader.error() == QFileDevice::NoError ? FileRead::Read : FileRead::Failed;
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

OpenedFile VendorFolder::openChecked(const QString &fileName, FileUse use, bool *setAside) const
{
    OpenedFile file;
    file.error = unusableFolder;
    if (!usable)
        return file;
    file = openTrustedFile(filePath(fileName), use);
    if (file.status != OpenedFile::Untrusted)
        return file;
    if (access == ReadOnly) {
        file.status = OpenedFile::Missing;
        return file;
    }
    if (!setAsideUntrusted(fileName)) {
        file.status = OpenedFile::Failed;
        file.error = QStringLiteral("not ours and cannot be set aside");
        return file;
    }
    // The name is free now: a file to read is missing, one to create is
    // made afresh.
    file.status = OpenedFile::Missing;
    if (setAside)
        *setAside = true;
    return use == FileUse::Read ? file : openTrustedFile(filePath(fileName), use);
}

bool VendorFolder::writeFile(const QString &fileName, const QByteArray &bytes) const
{
    const QString path = filePath(fileName);
    // A new file renamed over the old one: the old one stays whole until the
    // rename, and nothing that a link or a second name of the old file leads
    // to is ever written.
    const QString temporary = path + QStringLiteral(".new");
    QString error = unusableFolder;
    if (usable && access == Use) {
        // One left behind by a run killed while it wrote.
        QFile::remove(temporary);
        if (createFileWith(temporary, bytes, &error) &&
            renameWithoutCopy(temporary, path, true, &error))
            return true;
        QFile::remove(temporary);
    }
    logWarning(logSource, QStringLiteral("Cannot write '%1': %2").arg(path, error));
    return false;
}

bool VendorFolder::setAside(const QString &fileName, const QString &reason) const
{
    QString aside;
    QString error = unusableFolder;
    if (!usable || access == ReadOnly || !renameAside(fileName, reason, &aside, &error)) {
        logWarning(logSource,
                   QStringLiteral("'%1' cannot be set aside: %2").arg(filePath(fileName), error));
        return false;
    }
    logWarning(logSource, QStringLiteral("'%1' set aside as '%2'").arg(filePath(fileName), aside));
    return true;
}

bool VendorFolder::renameAside(const QString &fileName, const QString &reason, QString *aside,
                               QString *error) const
{
    *aside = nameAside(filePath(fileName), reason);
    return renameWithoutCopy(filePath(fileName), *aside, false, error);
}

bool VendorFolder::setAsideUntrusted(const QString &fileName) const
{
    const QString path = filePath(fileName);
    QString aside;
    QString error;
    if (!renameAside(fileName, untrustedReason, &aside, &error)) {
        logWarning(logSource,
                   QStringLiteral("'%1' is not ours and cannot be set aside, not used: %2")
                       .arg(path, error));
        return false;
    }
    logWarning(logSource, QStringLiteral("'%1' is not ours, set aside as '%2'").arg(path, aside));
    return true;
}
