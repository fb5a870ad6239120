#include "runlock.h"

#include "logging/logline.h"
#include "store/vendorfolder.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString lockFileName = QStringLiteral("dns.lock");

// How often a waiting run tries again: it should start soon after the other
// ends.
const unsigned long pollMs = 50;

} // namespace

RunLock::RunLock(const VendorFolder &folder) : folder(folder) {}

QString RunLock::lockFilePath() const
{
    return folder.filePath(lockFileName);
}

bool RunLock::take(int waitMs)
{
    const int descriptor = folder.openFile(lockFileName, FileUse::Lock);
    if (descriptor < 0) {
        logWarning(logSource,
                   QStringLiteral("Cannot create the run lock '%1', DNS servers left unchanged")
                       .arg(lockFilePath()));
        return false;
    }
    lock = std::make_unique<SystemLock>(descriptor);
    QElapsedTimer waited;
    waited.start();
    bool hadToWait = false;
    SystemLock::Outcome outcome;
    while ((outcome = lock->tryTake()) != SystemLock::Taken) {
        if (outcome == SystemLock::Failed) {
            logWarning(logSource, QStringLiteral("Cannot lock '%1': %2, DNS servers left unchanged")
                                      .arg(lockFilePath(), lock->error()));
            return false;
        }
        if (waited.hasExpired(waitMs)) {
            logWarning(logSource, QStringLiteral("Another run still holds '%1' after %2 ms, DNS "
                                                 "servers left unchanged")
                                      .arg(lockFilePath(), QString::number(waitMs)));
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
