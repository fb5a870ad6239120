#include "runorder.h"

#include "logging/logline.h"
#include "store/systemlock.h"
#include "store/vendorfolder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString counterFileName = QStringLiteral("dns.order");

// Another run holds the counter's lock for a few milliseconds at most.
const int counterLockWaitMs = 2000;
const unsigned long counterLockPollMs = 1;

// Only a lock another run holds is waited for.
bool takeWithin(SystemLock &lock, int waitMs)
{
    QElapsedTimer waited;
    waited.start();
    SystemLock::Outcome outcome;
    while ((outcome = lock.tryTake()) != SystemLock::Taken) {
        if (outcome == SystemLock::Failed || waited.hasExpired(waitMs))
            return false;
        QThread::msleep(counterLockPollMs);
    }
    return true;
}

// The counter's value in the file's bytes: its first line as a decimal
// number, 0 for an empty or unreadable text (a file just made, or one that a
// power loss cut).
quint64 parseRunOrder(const QByteArray &bytes)
{
    bool ok = false;
    const quint64 value = bytes.split('\n').constFirst().trimmed().toULongLong(&ok);
    return ok ? value : 0;
}

// The bytes of a counter value: 20 digits and a line end, always the same
// length, so that a new value overwrites the old one whole.
QByteArray formatRunOrder(quint64 value)
{
    return QByteArray::number(value).rightJustified(20, '0') + '\n';
}

} // namespace

RunOrder::RunOrder(const VendorFolder &folder) : folder(folder) {}

std::optional<quint64> RunOrder::takeNumber() const
{
    const std::optional<quint64> number = access(true);
    if (!number) {
        logWarning(logSource, QStringLiteral("Cannot take a request number from '%1', this run "
                                             "does not yield to later requests")
                                  .arg(folder.filePath(counterFileName)));
    }
    return number;
}

bool RunOrder::isTakenAfter(quint64 number) const
{
    const std::optional<quint64> latest = access(false);
    return latest && *latest > number;
}

std::optional<quint64> RunOrder::access(bool next) const
{
    const int descriptor = folder.openFile(counterFileName, FileUse::Lock);
    if (descriptor < 0)
        return std::nullopt;
    // Owns the descriptor: closing it releases the lock.
    SystemLock lock(descriptor);
    QFile counter;
    if (!takeWithin(lock, counterLockWaitMs) ||
        !counter.open(descriptor, QIODevice::ReadWrite, QFileDevice::DontCloseHandle))
        return std::nullopt;
    const QByteArray bytes = counter.readAll();
    if (counter.error() != QFileDevice::NoError)
        return std::nullopt;
    const quint64 value = parseRunOrder(bytes) + (next ? 1 : 0);
    if (next) {
        const QByteArray written = formatRunOrder(value);
        if (!counter.seek(0) || counter.write(written) != written.size() || !counter.flush())
            return std::nullopt;
    }
    return value;
}
