#include "vendorfolder.h"

#include "filelink.h"
#include "logging/logline.h"
#include "paths.h"
#include "protectedfolder.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

const QString logSource = QStringLiteral("Utils");

} // namespace

const VendorFolder &VendorFolder::instance()
{
    static const VendorFolder vendorFolder(vendorFolderPath());
    return vendorFolder;
}

VendorFolder::VendorFolder(const QString &path) : folder(path)
{
    usable = !folder.isEmpty() && check();
}

bool VendorFolder::check()
{
    if (!isLink(folder) && !QFileInfo(folder).isDir() && !makeProtectedFolder(folder)) {
        logWarning(logSource, QStringLiteral("Vendor folder cannot be created: %1").arg(folder));
        return false;
    }
    // Checked once it exists, so that a link made while it was created is
    // refused too: whoever made it chooses where it leads.
    hold = std::make_unique<FolderHold>(folder);
    if (isLink(folder) || !hold->isHeld()) {
        logWarning(logSource,
                   QStringLiteral("Vendor folder is a link or junction, not used: %1").arg(folder));
        return false;
    }
    if (!protectExistingFolder(folder)) {
        logWarning(
            logSource,
            QStringLiteral("Vendor folder cannot be made our own, not used: %1").arg(folder));
        return false;
    }
    return true;
}

QString VendorFolder::trustedFilePath(const QString &fileName) const
{
    if (!usable)
        return QString();
    const QString path = QDir::toNativeSeparators(QStringLiteral("%1/%2").arg(folder, fileName));
    const QFileInfo file(path);
    if ((!file.exists() && !file.isSymLink()) || isOwnedByTrustedAccount(path))
        return path;
    // Not ending in the file's own suffix, so that the log clean-up never
    // counts nor deletes it.
    const QString aside =
        QStringLiteral("%1.untrusted-%2")
            .arg(path,
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
    if (!QFile::rename(path, aside)) {
        logWarning(logSource,
                   QStringLiteral("'%1' is not ours and cannot be set aside, not used").arg(path));
        return QString();
    }
    logWarning(logSource, QStringLiteral("'%1' is not ours, set aside as '%2'")
                              .arg(path, QDir::toNativeSeparators(aside)));
    return path;
}

VendorFolder::FileRead VendorFolder::readFile(const QString &fileName) const
{
    FileRead result;
    const QString path = trustedFilePath(fileName);
    if (path.isEmpty()) {
        result.status = FileRead::Failed;
        result.error = QStringLiteral("no usable vendor folder");
        return result;
    }
    QFile file(path);
    if (!file.exists())
        return result;
    if (!file.open(QIODevice::ReadOnly)) {
        result.status = FileRead::Failed;
        result.error = file.errorString();
        return result;
    }
    result.bytes = file.readAll();
    result.status = file.error() == QFile::NoError ? FileRead::Read : FileRead::Failed;
    result.error = file.errorString();
    return result;
}

bool VendorFolder::writeFile(const QString &fileName, const QByteArray &bytes) const
{
    const QString path = trustedFilePath(fileName);
    QSaveFile file(path);
    if (path.isEmpty() || isLink(path) || !file.open(QIODevice::WriteOnly) ||
        file.write(bytes) != bytes.size() || !file.commit()) {
        logWarning(logSource, QStringLiteral("Cannot write '%1'").arg(path));
        return false;
    }
    return true;
}

bool VendorFolder::setAside(const QString &fileName, const QString &reason) const
{
    const QString path = QDir::toNativeSeparators(QStringLiteral("%1/%2").arg(folder, fileName));
    const QString aside =
        QStringLiteral("%1.%2-%3")
            .arg(path, reason,
                 QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")));
    if (!usable || !QFile::rename(path, aside))
        return false;
    logWarning(logSource,
               QStringLiteral("'%1' set aside as '%2'").arg(path, QDir::toNativeSeparators(aside)));
    return true;
}
