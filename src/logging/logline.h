#pragma once

#include <QString>

// Every log line of the tool reads "<source>: <message>", written through
// the Qt message functions without quoting or inserted spaces.
void logInfo(const QString &source, const QString &message);
void logWarning(const QString &source, const QString &message);
void logCritical(const QString &source, const QString &message);
