#include "paths.h"

#include "logging/logline.h"

#include <QStandardPaths>

namespace {

const QString locationMarker = QStringLiteral("ProgramData");

} // namespace

QString vendorFolderIn(const QStringList &locations)
{
    for (const QString &location : locations) {
        if (location.contains(locationMarker))
            return QStringLiteral("%1/%2").arg(location, QStringLiteral("Tarnwick"));
    }
    return QString();
}

QString vendorFolderPath()
{
    const QString folder =
        vendorFolderIn(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
    if (folder.isEmpty()) {
        logWarning(QStringLiteral("Utils"),
                   QStringLiteral("Can't find '%1' path!").arg(locationMarker));
    }
    return folder;
}
