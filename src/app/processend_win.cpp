#include "processend.h"

#include <windows.h>

void terminateProcess(int exitCode)
{
    TerminateProcess(GetCurrentProcess(), UINT(exitCode));
}
