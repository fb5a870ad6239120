#include "machinebound.h"

#include "simregistry.h"

#include <QFile>

int boundOnThisMachine(const char *name, int bound)
{
    QFile lowered(SimRegistry::rootFromEnvironment() + QLatin1Char('/') + QLatin1String(name));
    bool ok = false;
    const int value =
        lowered.open(QIODevice::ReadOnly) ? lowered.readAll().trimmed().toInt(&ok) : 0;
    return ok ? value : bound;
}
