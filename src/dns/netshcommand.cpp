#include "netshcommand.h"

QStringList netshDnsArguments(bool ipv4, const QString &connectionName, const QString &address,
                              int position)
{
    const QString protocol = ipv4 ? QStringLiteral("ipv4") : QStringLiteral("ipv6");
    if (position == 0) {
        return {QStringLiteral("interface"), protocol,
                QStringLiteral("set"),       QStringLiteral("dns"),
                QStringLiteral("name="),     connectionName,
                QStringLiteral("static"),    address,
                QStringLiteral("primary"),   QStringLiteral("validate=no")};
    }
    return {QStringLiteral("interface"),
            protocol,
            QStringLiteral("add"),
            QStringLiteral("dns"),
            QStringLiteral("name="),
            connectionName,
            address,
            QStringLiteral("index=%1").arg(position + 1)};
}
