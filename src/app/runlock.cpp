#include "runlock.h"

#include "logging/logline.h"
#include "utils/paths.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

const QString logSource = QStringLiteral("Dns");

// Polled here rather than left to QLockFile::tryLock(timeout), whose pause
// between attempts doubles up to more than 6 s: a waiting run should start
// soon after the other ends.
const unsigned long pollMs = 50;

} // namespace

QString runLockPath()
{
    return vendorFilePath(QStringLiteral("dns.lock"));
}

RunLock::RunLock(const QString &path) : path(path), lockFile(path)
{
    // Only a lock whose process is gone is stale: however long a running
    // process holds it, no second run may start beside it.
    lockFile.setStaleLockTime(0);
}

bool RunLock::take(int waitMs)
{
    QElapsedTimer waited;
    waited.start();
    bool hadToWait = false;
    while (!lockFile.tryLock(0)) {
        if (lockFile.error() != QLockFile::LockFailedError) {
            logWarning(logSource,
                       QStringLiteral("Cannot create the run lock '%1', DNS servers left unchanged")
                           .arg(path));
            return false;
        }
        if (waited.hasExpired(waitMs)) {
            logWarning(logSource, QStringLiteral("Another run still holds '%1' after %2 ms, DNS "
                                                 "servers left unchanged")
                                      .arg(path, QString::number(waitMs)));
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
