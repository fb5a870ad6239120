#pragma once

#include <QtGlobal>

#include <limits>

// The monotonic time by which a run bounds its waits and its commands, and
// its pauses: the system's (clock.cpp), or the virtual clock of the tests'
// in-memory machine (clock_mem.cpp), on which a wait of 30 s costs nothing.
// What a run only measures for its log lines stays on QElapsedTimer.
namespace runclock {

// Milliseconds since some fixed point.
qint64 nowMs();
// Pauses the calling thread.
void sleepMs(int ms);

} // namespace runclock

// A point in time on the run's clock, or never.
class Deadline
{
public:
    // `ms` from now; a span too long to count is never.
    explicit Deadline(qint64 ms)
        : endless(ms >= std::numeric_limits<qint64>::max() / 2),
          end(endless ? 0 : runclock::nowMs() + ms)
    {
    }
    static Deadline never() { return Deadline(std::numeric_limits<qint64>::max()); }

    bool isNever() const { return endless; }
    bool hasExpired() const { return !endless && runclock::nowMs() >= end; }
    // Milliseconds left, 0 once expired; never() holds the largest number.
    qint64 remainingMs() const
    {
        return endless ? std::numeric_limits<qint64>::max()
                       : qMax<qint64>(0, end - runclock::nowMs());
    }

private:
    bool endless;
    qint64 end;
};
