#include "text.h"

#include <QHostAddress>

bool isIPv4(const QString &text)
{
    return QHostAddress(text).protocol() == QAbstractSocket::IPv4Protocol;
}

bool isIPv6(const QString &text)
{
    return QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol;
}

QString boolToString(bool value)
{
    return value ? QStringLiteral("true") : QStringLiteral("false");
}

QString joinNonEmpty(const QStringList &list, const QString &separator)
{
    QStringList taken;
    for (const QString &entry : list) {
        if (!entry.simplified().isEmpty())
            taken.append(entry);
    }
    return taken.join(separator);
}
