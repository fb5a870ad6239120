#include "paths.h"

#include "logging/logline.h"

#include <QDir>
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

QString dnsDataFilePath()
{
    return QDir::toNativeSeparators(QStringLiteral("%1/dns.dat").arg(dataFolderPath()));
}
