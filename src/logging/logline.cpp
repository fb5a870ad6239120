#include "logline.h"

#include <QDebug>

void logInfo(const QString &source, const QString &message)
{
    qInfo().noquote().nospace() << source << ": " << message;
}

void logWarning(const QString &source, const QString &message)
{
    qWarning().noquote().nospace() << source << ": " << message;
}

void logCritical(const QString &source, const QString &message)
{
    qCritical().noquote().nospace() << source << ": " << message;
}
