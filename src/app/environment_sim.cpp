#include "environment.h"

void removeEnvironmentVariable(const QString &name)
{
    qunsetenv(name.toLocal8Bit().constData());
}
