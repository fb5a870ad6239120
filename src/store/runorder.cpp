#include "runorder.h"

#include "logging/logline.h"
#include "store/systemlock.h"
#include "store/vendorfolder.h"

#include "utils/clock.h"

#include <QFile>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString counterFileName = QStringLiteral("dns.order");
const QString aliveFileName = QStringLiteral("dns.alive");
// Where the bytes of user runs begin: no number ever reaches it.
const quint64 userRunBytes = quint64(1) << 62;

// Another run holds the counter's lock for a few milliseconds at most.
const int counterLockWaitMs = 2000;
const int counterLockPollMs = 1;

// Only a lock another run holds is waited for.
bool takeWithin(SystemLock &lock, int waitMs)
{
    const Deadline waitEnd(waitMs);
    SystemLock::Outcome outcome;
    while ((outcome = lock.tryTake()) != SystemLock::Taken) {
        if (outcome == SystemLock::Failed || waitEnd.hasExpired())
            return false;
        runclock::sleepMs(counterLockPollMs);
    }
    return true;
}

// A line of the counter file as a decimal number, 0 for an empty or missing
// one (a file just made, or one an earlier version wrote with its first line
// only); none for one that does not read, or reads at or past the bytes of
// user runs: no request holds such a number.
std::optional<quint64> parseLine(const QList<QByteArray> &lines, int index)
{
    const QByteArray line = lines.value(index).trimmed();
    if (line.isEmpty())
        return 0;
    bool ok = false;
    const quint64 value = line.toULongLong(&ok);
    return ok && value < userRunBytes ? std::optional<quint64>(value) : std::nullopt;
}

// A counter line: 20 digits and a line end, always the same length, so that
// a new value overwrites the old one whole.
QByteArray formatLine(quint64 value)
{
    return QByteArray::number(value).rightJustified(20, '0') + '\n';
}

} // namespace

RunOrder::RunOrder(const VendorFolder &folder, Kind kind) : folder(folder), kind(kind) {}

RunOrder::~RunOrder()
{
    if (alive < 0)
        return;
    // Unlocked before the close, which on Windows releases it only once the
    // system gets to it: till then a later run would see this one alive.
    if (lockedByte)
        unlockByte(alive, *lockedByte);
    closeDescriptor(alive);
}

void RunOrder::takeNumber()
{
    alive = folder.openFile(aliveFileName, FileUse::Lock);
    std::optional<quint64> taken;
    const bool counted = alive >= 0 && withCounter([&](Counter &counter) {
                             const quint64 next = counter.taken + 1;
                             const quint64 byte = kind == UserRun ? userRunBytes + next : next;
                             if (!lockByte(alive, byte))
                                 return;
                             lockedByte = byte;
                             counter.taken = next;
                             taken = next;
                         });
    if (!counted || !taken) {
        logWarning(logSource,
                   QStringLiteral("Cannot take a request number from '%1' and '%2', "
                                  "this run does not yield to later requests")
                       .arg(folder.filePath(counterFileName), folder.filePath(aliveFileName)));
        return;
    }
    number = taken;
}

Turn RunOrder::turn() const
{
    Turn now = Turn::Go;
    withCounter([&](Counter &counter) { now = turnAt(counter); });
    return now;
}

Turn RunOrder::startWork() const
{
    Turn now = Turn::Go;
    withCounter([&](Counter &counter) {
        now = turnAt(counter);
        if (now == Turn::Go && kind == SwitchRun && number)
            counter.working = qMax(counter.working, *number);
    });
    return now;
}

Turn RunOrder::turnAt(const Counter &counter) const
{
    if (!number)
        return Turn::Go;
    const quint64 own = *number;
    if (kind == UserRun) {
        if (counter.taken > own)
            return Turn::Yield;
        return isAnyAlive(0, own - 1) ? Turn::Wait : Turn::Go;
    }
    if (counter.working > own)
        return Turn::Yield;
    return counter.taken > own && isAnyAlive(own + 1, counter.taken) ? Turn::Wait : Turn::Go;
}

bool RunOrder::isAnyAlive(quint64 first, quint64 last) const
{
    // A lock that cannot be tested counts as none: the run then goes on as
    // one without a number would.
    return isRangeLockedByAnother(alive, first, last).value_or(false);
}

bool RunOrder::withCounter(const std::function<void(Counter &)> &step) const
{
    const int descriptor = folder.openFile(counterFileName, FileUse::Lock);
    if (descriptor < 0)
        return false;
    // Owns the descriptor: closing it releases the lock.
    SystemLock lock(descriptor);
    QFile file;
    if (!takeWithin(lock, counterLockWaitMs) ||
        !file.open(descriptor, QIODevice::ReadWrite, QFileDevice::DontCloseHandle))
        return false;
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (file.error() != QFileDevice::NoError)
        return false;
    const std::optional<quint64> taken = parseLine(lines, 0);
    const std::optional<quint64> working = parseLine(lines, 1);
    // A run yields to the second line: above the first, or garbled (a power
    // loss, another program), no request holds it, and every run would
    // yield to it for good. The counter goes on above both.
    const bool garbled = !taken || !working || *working > *taken;
    const Counter before{qMax(taken.value_or(0), working.value_or(0)), garbled ? 0 : *working};
    if (garbled) {
        logWarning(logSource,
                   QStringLiteral("Request counter '%1' does not read or its lines disagree, "
                                  "going on from %2")
                       .arg(folder.filePath(counterFileName), QString::number(before.taken)));
    }
    Counter counter = before;
    step(counter);
    if (!garbled && counter.taken == before.taken && counter.working == before.working)
        return true;
    const QByteArray written = formatLine(counter.taken) + formatLine(counter.working);
    return file.seek(0) && file.write(written) == written.size() && file.flush();
}
