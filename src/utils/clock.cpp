#include "clock.h"

#include <QDeadlineTimer>
#include <QThread>

qint64 runclock::nowMs()
{
    return QDeadlineTimer::current().deadline();
}

void runclock::sleepMs(int ms)
{
    QThread::msleep(ulong(qMax(0, ms)));
}
