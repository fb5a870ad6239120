#include "flushwarning.h"

#include "logging/logline.h"

void logFlushFailure(const QString &text, unsigned long errorNumber)
{
    logWarning(QStringLiteral("Dns"), QStringLiteral("%1: %2").arg(text).arg(errorNumber));
}
