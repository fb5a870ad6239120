#include "servers.h"

#include "utils/text.h"

#include <QRegularExpression>
#include <algorithm>

QString joinServers(const QStringList &servers)
{
    return servers.join(QLatin1Char(','));
}

QStringList splitServers(const QString &text)
{
    return text.split(QLatin1Char(','));
}

QStringList splitNameServerValue(const QString &value)
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    return value.split(separators, Qt::SkipEmptyParts);
}

QStringList withoutRepeats(const QStringList &servers)
{
    QStringList once;
    for (const QString &server : servers) {
        if (!once.contains(server))
            once.append(server);
    }
    return once;
}

QString canonicalServersText(const QString &value)
{
    QStringList pieces = splitNameServerValue(value);
    for (QString &piece : pieces)
        piece = canonicalAddress(piece);
    return joinServers(withoutRepeats(pieces));
}

NameServerList parseNameServerValue(const QString &value, bool ipv4)
{
    NameServerList list;
    for (const QString &piece : splitNameServerValue(value)) {
        if (!isPlainAddress(piece) || (ipv4 ? !isIPv4(piece) : !isIPv6(piece)))
            list.rejected.append(piece);
        else if (list.servers.contains(canonicalAddress(piece)))
            continue;
        else if (list.servers.size() < maxServersPerProtocol)
            list.servers.append(canonicalAddress(piece));
        else
            ++list.ignored;
    }
    return list;
}

QString interfaceEntry(const QString &id, const QStringList &ipv4, const QStringList &ipv6)
{
    const QString servers =
        joinNonEmpty({joinServers(ipv4), joinServers(ipv6)}, QStringLiteral(","));
    return QStringLiteral("%1@%2").arg(id, servers);
}

QString serverListForLog(const QStringList &servers)
{
    return QLatin1Char('(') + servers.join(QStringLiteral(", ")) + QLatin1Char(')');
}

QStringList vpnDefaultServers()
{
    return {QStringLiteral("172.16.0.1"), QStringLiteral("fd00:dead:beef:cafe::1")};
}

bool holdsAnyOf(const QStringList &servers, const QStringList &wanted)
{
    return std::any_of(servers.cbegin(), servers.cend(),
                       [&](const QString &server) { return wanted.contains(server); });
}

bool isLoneVpnServer(const QStringList &servers, const QStringList &vpnServers)
{
    return servers.size() == 1 && vpnServers.contains(servers.first());
}

QStringList singleServerList(const QString &address)
{
    return address.isEmpty() ? QStringList() : QStringList(address);
}
