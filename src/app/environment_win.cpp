#include "environment.h"

#include <windows.h>

void removeEnvironmentVariable(const QString &name)
{
    qunsetenv(name.toLocal8Bit().constData());
    SetEnvironmentVariableW(reinterpret_cast<const wchar_t *>(name.utf16()), nullptr);
}
