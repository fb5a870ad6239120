#include "runlock.h"

#include "logging/logline.h"
#include "store/vendorfolder.h"

#include "utils/clock.h"

namespace {

const QString logSource = QStringLiteral("Dns");
const QString lockFileName = QStringLiteral("dns.lock");

// How often a waiting run tries again: it should start soon after the other
// ends.
const int pollMs = 50;

} // namespace

RunLock::RunLock(const VendorFolder &folder) : folder(folder) {}

QString RunLock::lockFilePath() const
{
    return folder.filePath(lockFileName);
}

bool RunLock::take(int waitMs, const std::function<Turn()> &turn)
{
    const int descriptor = folder.openFile(lockFileName, FileUse::Lock);
    if (descriptor < 0) {
        logWarning(logSource,
                   QStringLiteral("Cannot create the run lock '%1', DNS servers left unchanged")
                       .arg(lockFilePath()));
        return false;
    }
    return waitFor(descriptor, waitMs, turn);
}

RunLock::Outcome RunLock::takeIfFileExists(int waitMs)
{
    const OpenedFile file = folder.openChecked(lockFileName, FileUse::ExistingLock);
    if (file.status == OpenedFile::Missing)
        return NoLockFile;
    if (file.status != OpenedFile::Opened) {
        logWarning(
            logSource,
            QStringLiteral("Cannot open the run lock '%1': %2").arg(lockFilePath(), file.error));
        return NotTaken;
    }
    return waitFor(file.descriptor, waitMs, {}) ? Taken : NotTaken;
}

bool RunLock::waitFor(int descriptor, int waitMs, const std::function<Turn()> &turn)
{
    lock = std::make_unique<SystemLock>(descriptor);
    const qint64 start = runclock::nowMs();
    bool hadToWait = false;
    for (;;) {
        const Turn now = turn ? turn() : Turn::Go;
        if (now == Turn::Yield)
            return false;
        const SystemLock::Outcome outcome =
            now == Turn::Go ? lock->tryTake() : SystemLock::HeldByAnother;
        if (outcome == SystemLock::Taken)
            break;
        if (outcome == SystemLock::Failed) {
            logWarning(logSource, QStringLiteral("Cannot lock '%1': %2, DNS servers left unchanged")
                                      .arg(lockFilePath(), lock->error()));
            return false;
        }
        if (runclock::nowMs() - start >= waitMs) {
            logWarning(logSource, QStringLiteral("Another run still holds '%1' after %2 ms, DNS "
                                                 "servers left unchanged")
                                      .arg(lockFilePath(), QString::number(waitMs)));
            return false;
        }
        hadToWait = true;
        runclock::sleepMs(pollMs);
    }
    if (hadToWait) {
        logInfo(logSource, QStringLiteral("Waited %1 ms for another run to finish")
                               .arg(runclock::nowMs() - start));
    }
    return true;
}
