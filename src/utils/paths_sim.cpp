// The simulated machine's ProgramData folder is ROOT/ProgramData, which its
// environment names as XDG_DATA_HOME, Qt's first generic data location.
#include "paths.h"

#include <QStandardPaths>

QString programDataIn(const QStringList &locations)
{
    for (const QString &location : locations) {
        if (location.contains(QLatin1String("ProgramData")))
            return location;
    }
    return QString();
}

QString programDataFolder()
{
    return programDataIn(QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation));
}
