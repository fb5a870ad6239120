#include "paths.h"

#include "filelink.h"
#include "logging/logline.h"
#include "protectedfolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

const QString logSource = QStringLiteral("Utils");
const QString locationMarker = QStringLiteral("ProgramData");

QString vendorFolderOrWarn(const QString &warning)
{
    const QString folder =
        vendorFolderIn(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    if (folder.isEmpty())
        logWarning(logSource, warning);
    return folder;
}

} // namespace

QString vendorFolderIn(const QStringList &locations)
{
    for (const QString &location : locations) {
        if (location.contains(locationMarker))
            return QStringLiteral("%1/%2").arg(location, QStringLiteral("Tarnwick"));
    }
    return QString();
}

QString dataFolderPath()
{
    return vendorFolderOrWarn(QStringLiteral("Can't find log data path!"));
}

QString vendorFolderPath()
{
    return vendorFolderOrWarn(QStringLiteral("Can't find '%1' path!").arg(locationMarker));
}

bool isTrustedVendorFolder(const QString &folder)
{
    if (isLink(folder)) {
        logWarning(logSource,
                   QStringLiteral("Vendor folder is a link or junction, not used: %1").arg(folder));
        return false;
    }
    if (QFileInfo(folder).isDir() && !protectExistingFolder(folder)) {
        logWarning(
            logSource,
            QStringLiteral("Vendor folder cannot be made our own, not used: %1").arg(folder));
        return false;
    }
    return true;
}

QString dnsDataFilePath()
{
    const QString folder = dataFolderPath();
    if (!folder.isEmpty() && !isTrustedVendorFolder(folder))
        return QString();
    return QDir::toNativeSeparators(QStringLiteral("%1/dns.dat").arg(folder));
}
