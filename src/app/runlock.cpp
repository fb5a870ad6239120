#include "runlock.h"

#include "logging/logline.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

const QString logSource = QStringLiteral("Dns");

// How often a waiting run tries again: it should start soon after the other
// ends.
const unsigned long pollMs = 50;

} // namespace

RunLock::RunLock(const QString &lockFile) : lock(lockFile) {}

bool RunLock::take(int waitMs)
{
    if (!lock.open()) {
        logWarning(logSource,
                   QStringLiteral("Cannot create the run lock '%1', DNS servers left unchanged")
                       .arg(lock.name()));
        return false;
    }
    QElapsedTimer waited;
    waited.start();
    bool hadToWait = false;
    while (!lock.tryTake()) {
        if (waited.hasExpired(waitMs)) {
            logWarning(logSource, QStringLiteral("Another run still holds '%1' after %2 ms, DNS "
                                                 "servers left unchanged")
                                      .arg(lock.name(), QString::number(waitMs)));
            return false;
        }
        hadToWait = true;
        QThread::msleep(pollMs);
    }
    if (hadToWait) {
        logInfo(logSource,
                QStringLiteral("Waited %1 ms for another run to finish").arg(waited.elapsed()));
    }
    return true;
}
