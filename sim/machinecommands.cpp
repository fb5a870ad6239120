#include "machinecommands.h"

#include "simkeys.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>

namespace {

// What separates the servers of a NameServer value.
const QRegularExpression &serverSeparators()
{
    static const QRegularExpression separators(QStringLiteral("[,\\s]+"));
    return separators;
}

CommandAnswer wmic(const RegistryAccess &registry, const QStringList &arguments, bool utf16)
{
    const QStringList expected = {QStringLiteral("nic"), QStringLiteral("where"),
                                  QStringLiteral("GUID is not null"), QStringLiteral("get"),
                                  QStringLiteral("GUID")};
    if (arguments != expected)
        return failedWith("Invalid query.");
    const QStringList guids = listedAdapterGuids(registry);
    int width = 4;
    for (const QString &guid : guids)
        width = std::max(width, int(guid.size()));
    const QString lineEnd = utf16 ? QStringLiteral("\r\n") : QStringLiteral("\r\r\n");
    QString text = QStringLiteral("GUID").leftJustified(width + 2) + lineEnd;
    for (const QString &guid : guids)
        text += guid.leftJustified(width + 2) + lineEnd;
    text += lineEnd;
    QByteArray output = text.toUtf8();
    if (utf16) {
        output = "\xFF\xFE";
        for (const QChar c : qAsConst(text))
            output.append(char(c.cell())).append(char(c.row()));
    }
    return {0, output};
}

CommandAnswer ipconfig(const QStringList &arguments)
{
    if (arguments != QStringList(QStringLiteral("/flushdns")))
        return failedWith("Error: unrecognized or incomplete command line.");
    return {0,
            "\r\nWindows IP Configuration\r\n\r\nSuccessfully flushed the DNS Resolver Cache.\r\n"};
}

bool isAddressOf(const QString &text, QAbstractSocket::NetworkLayerProtocol protocol)
{
    // QHostAddress forgives surrounding blanks; netsh does not.
    return !text.isEmpty() && text == text.trimmed() && QHostAddress(text).protocol() == protocol;
}

// The interface's key below Tcpip or Tcpip6, found by its connection name.
QString stackKeyOfConnection(const RegistryAccess &registry, const QString &interfacesKey,
                             const QString &name)
{
    for (const QString &guid : registry.subkeys(simkeys::networkConnections)) {
        const QString connectionName = registry.value(
            simkeys::networkConnections + QLatin1Char('\\') + guid + QStringLiteral("\\Connection"),
            QStringLiteral("Name"));
        const QString key = interfacesKey + QLatin1Char('\\') + guid;
        if (!connectionName.isEmpty() && connectionName.compare(name, Qt::CaseInsensitive) == 0)
            return registry.hasKey(key) ? key : QString();
    }
    return QString();
}

// netsh interface ipv4|ipv6 set dns name= NAME static ADDRESS primary validate=no
// netsh interface ipv4|ipv6 add dns name= NAME ADDRESS index=N
CommandAnswer netsh(const RegistryAccess &registry, const QStringList &a)
{
    const bool setForm =
        a.size() == 10 && a.at(2) == QLatin1String("set") && a.at(6) == QLatin1String("static") &&
        a.at(8) == QLatin1String("primary") && a.at(9) == QLatin1String("validate=no");
    const bool addForm = a.size() == 8 && a.at(2) == QLatin1String("add") &&
                         a.at(7).startsWith(QLatin1String("index="));
    if ((!setForm && !addForm) || a.at(0) != QLatin1String("interface") ||
        (a.at(1) != QLatin1String("ipv4") && a.at(1) != QLatin1String("ipv6")) ||
        a.at(3) != QLatin1String("dns") || a.at(4) != QLatin1String("name="))
        return failedWith("The following command was not found.");

    const bool ipv4 = a.at(1) == QLatin1String("ipv4");
    const QString key = stackKeyOfConnection(
        registry, ipv4 ? simkeys::tcpipInterfaces : simkeys::tcpip6Interfaces, a.at(5));
    if (key.isEmpty())
        return failedWith("The filename, directory name, or volume label syntax is incorrect.");

    QString address = setForm ? a.at(7) : a.at(6);
    const bool clearing =
        setForm && address.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
    if (!clearing &&
        !isAddressOf(address, ipv4 ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol))
        return failedWith("The parameter is incorrect.");

    // Windows keeps an IPv6 server in a text form of its own, as QHostAddress
    // writes it here, not necessarily as netsh was given it.
    if (!clearing && !ipv4)
        address = QHostAddress(address).toString();
    QStringList servers;
    if (addForm) {
        bool ok = false;
        const int index = a.at(7).mid(int(qstrlen("index="))).toInt(&ok);
        if (!ok || index < 1)
            return failedWith("The parameter is incorrect.");
        servers = registry.value(key, QStringLiteral("NameServer"))
                      .split(serverSeparators(), Qt::SkipEmptyParts);
        if (servers.contains(address))
            return failedWith("The object already exists.");
        servers.insert(std::min(index - 1, int(servers.size())), address);
    } else if (!clearing) {
        servers.append(address);
    }
    if (!registry.setValue(key, QStringLiteral("NameServer"), servers.join(QLatin1Char(','))))
        return failedWith("Access is denied.");
    return {};
}

} // namespace

CommandAnswer failedWith(const char *message)
{
    return {1, QByteArray(message) + "\r\n"};
}

CommandAnswer answerCommand(const QString &name, const RegistryAccess &registry,
                            const QStringList &arguments, const QString &form)
{
    if (name == QLatin1String("wmic"))
        return wmic(registry, arguments, form == QLatin1String("utf16"));
    if (name == QLatin1String("netsh"))
        return netsh(registry, arguments);
    if (name == QLatin1String("ipconfig"))
        return ipconfig(arguments);
    return {127, name.toUtf8() + ": not a stand-in name\n"};
}

QString faultActionIn(const QStringList &rules, const QStringList &arguments)
{
    const QString joined = arguments.join(QLatin1Char(' '));
    for (const QString &rule : rules) {
        if (rule.trimmed().isEmpty())
            continue;
        const int blank = rule.indexOf(QLatin1Char(' '));
        const QString text = blank < 0 ? QString() : rule.mid(blank + 1);
        if (text.isEmpty() || joined.contains(text))
            return blank < 0 ? rule : rule.left(blank);
    }
    return QString();
}

QStringList listedAdapterGuids(const RegistryAccess &registry)
{
    QStringList guids;
    for (const QString &subkey : registry.subkeys(simkeys::networkConnections))
        guids.append(subkey.toUpper());
    return guids;
}

QString dnsStackKey(const QString &guid, bool ipv6)
{
    return (ipv6 ? simkeys::tcpip6Interfaces : simkeys::tcpipInterfaces) + QLatin1Char('\\') + guid;
}

std::optional<QString> storedDnsServers(const QString &servers, bool ipv6)
{
    QStringList stored;
    for (const QString &server : servers.split(serverSeparators(), Qt::SkipEmptyParts)) {
        const QHostAddress address(server);
        if (address.protocol() !=
            (ipv6 ? QAbstractSocket::IPv6Protocol : QAbstractSocket::IPv4Protocol))
            return std::nullopt;
        stored.append(ipv6 ? address.toString() : server);
    }
    return stored.join(QLatin1Char(','));
}
