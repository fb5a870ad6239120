#include "rundeadline.h"

#include "simregistry.h"
#include "store/runlock.h"

#include <QFile>

int runDeadlineMsOnThisMachine()
{
    QFile shortened(SimRegistry::rootFromEnvironment() + QStringLiteral("/run-deadline-ms"));
    bool ok = false;
    const int deadlineMs =
        shortened.open(QIODevice::ReadOnly) ? shortened.readAll().trimmed().toInt(&ok) : 0;
    return ok ? deadlineMs : runDeadlineMs;
}
