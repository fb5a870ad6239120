#include "vendorfolder.h"

#include "filelink.h"
#include "logging/logline.h"
#include "paths.h"
#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>

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
    if (isLink(folder)) {
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

QString VendorFolder::filePath(const QString &fileName) const
{
    if (!usable)
        return QString();
    return QDir::toNativeSeparators(QStringLiteral("%1/%2").arg(folder, fileName));
}
