// The locks of the tests' in-memory machine, whose runs never overlap: every
// lock is free. Taking a request number is one of a run's effects.
#include "systemlock.h"

#include "memmachine.h"

#include <unistd.h>

SystemLock::SystemLock(int descriptor) : descriptor(descriptor) {}

SystemLock::~SystemLock()
{
    close(descriptor);
}

SystemLock::Outcome SystemLock::tryTake()
{
    held = true;
    return Taken;
}

bool lockByte(int, quint64)
{
    return MemMachine::current().effect(QStringLiteral("request number")) ==
           MemMachine::Effect::Happens;
}

void unlockByte(int, quint64) {}

std::optional<bool> isRangeLockedByAnother(int, quint64, quint64)
{
    return false;
}
