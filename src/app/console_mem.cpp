// What a run in the tests' own process prints goes to the in-memory machine;
// a killed run prints nothing more.
#include "console.h"

#include "memmachine.h"

void writeText(StandardStream stream, const QString &text)
{
    MemMachine &machine = MemMachine::current();
    if (!machine.killed())
        (stream == StandardStream::Output ? machine.standardOutput : machine.standardError) +=
            text.toUtf8();
}
