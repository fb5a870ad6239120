#include "paths.h"

#include "logging/logline.h"

QString vendorFolderPath()
{
    const QString programData = programDataFolder();
    if (programData.isEmpty()) {
        logWarning(QStringLiteral("Utils"), QStringLiteral("Can't find 'ProgramData' path!"));
        return QString();
    }
    return QStringLiteral("%1/%2").arg(programData, QStringLiteral("Tarnwick"));
}
