// The stand-ins for wmic, netsh and ipconfig: one program,
// installed under each of these names, that acts by the name it is run as.
// The same code serves the simulated machine and the Windows machine under
// Wine; standinplatform.h is all that differs.
#include "simkeys.h"
#include "simregistry.h"
#include "standin.h"
#include "standinplatform.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>
#include <cstdio>

namespace {

int failWith(const char *message)
{
    std::fputs(message, stdout);
    std::fputs("\r\n", stdout);
    return 1;
}

// Reads standard input to its end, as the real wmic does before it answers:
// a caller that leaves the input open waits into its timeout.
void readInputToEnd()
{
    char buffer[4096];
    while (std::fread(buffer, 1, sizeof(buffer), stdin) > 0) {
    }
}

// Answers in UTF-16LE with a byte order mark, as the real wmic may when its
// output is redirected, or else in 8 bits, where its CR LF line ends come out
// as CR CR LF.
int wmic(const MachineRegistry &registry, const QStringList &arguments, bool utf16)
{
    readInputToEnd();
    const QStringList expected = {QStringLiteral("nic"), QStringLiteral("where"),
                                  QStringLiteral("GUID is not null"), QStringLiteral("get"),
                                  QStringLiteral("GUID")};
    if (arguments != expected)
        return failWith("Invalid query.");
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
    writeToStandardOutput(output);
    return 0;
}

int ipconfig(const QStringList &arguments)
{
    if (arguments != QStringList(QStringLiteral("/flushdns")))
        return failWith("Error: unrecognized or incomplete command line.");
    std::fputs(
        "\r\nWindows IP Configuration\r\n\r\nSuccessfully flushed the DNS Resolver Cache.\r\n",
        stdout);
    return 0;
}

bool isAddressOf(const QString &text, QAbstractSocket::NetworkLayerProtocol protocol)
{
    // QHostAddress forgives surrounding blanks; netsh does not.
    return !text.isEmpty() && text == text.trimmed() && QHostAddress(text).protocol() == protocol;
}

// The interface's key below Tcpip or Tcpip6, found by its connection name.
QString stackKeyOfConnection(const MachineRegistry &registry, const QString &interfacesKey,
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
int netsh(const MachineRegistry &registry, const QStringList &a)
{
    const bool setForm =
        a.size() == 10 && a.at(2) == QLatin1String("set") && a.at(6) == QLatin1String("static") &&
        a.at(8) == QLatin1String("primary") && a.at(9) == QLatin1String("validate=no");
    const bool addForm = a.size() == 8 && a.at(2) == QLatin1String("add") &&
                         a.at(7).startsWith(QLatin1String("index="));
    if ((!setForm && !addForm) || a.at(0) != QLatin1String("interface") ||
        (a.at(1) != QLatin1String("ipv4") && a.at(1) != QLatin1String("ipv6")) ||
        a.at(3) != QLatin1String("dns") || a.at(4) != QLatin1String("name="))
        return failWith("The following command was not found.");

    const bool ipv4 = a.at(1) == QLatin1String("ipv4");
    const QString key = stackKeyOfConnection(
        registry, ipv4 ? simkeys::tcpipInterfaces : simkeys::tcpip6Interfaces, a.at(5));
    if (key.isEmpty())
        return failWith("The filename, directory name, or volume label syntax is incorrect.");

    QString address = setForm ? a.at(7) : a.at(6);
    const bool clearing =
        setForm && address.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0;
    if (!clearing &&
        !isAddressOf(address, ipv4 ? QAbstractSocket::IPv4Protocol : QAbstractSocket::IPv6Protocol))
        return failWith("The parameter is incorrect.");

    // Windows keeps an IPv6 server in a text form of its own, as QHostAddress
    // writes it here, not necessarily as netsh was given it.
    if (!clearing && !ipv4)
        address = QHostAddress(address).toString();
    QStringList servers;
    if (addForm) {
        bool ok = false;
        const int index = a.at(7).mid(int(qstrlen("index="))).toInt(&ok);
        if (!ok || index < 1)
            return failWith("The parameter is incorrect.");
        servers = registry.value(key, QStringLiteral("NameServer"))
                      .split(QRegularExpression(QStringLiteral("[,\\s]+")), Qt::SkipEmptyParts);
        if (servers.contains(address))
            return failWith("The object already exists.");
        servers.insert(std::min(index - 1, int(servers.size())), address);
    } else if (!clearing) {
        servers.append(address);
    }
    if (!registry.setValue(key, QStringLiteral("NameServer"), servers.join(QLatin1Char(','))))
        return failWith("Access is denied.");
    return 0;
}

// A fault action that changes only the form of the answer ("utf16") is the
// `form` given here.
int actNormally(const QString &name, const MachineRegistry &registry, const QStringList &arguments,
                const QString &form)
{
    if (name == QLatin1String("wmic"))
        return wmic(registry, arguments, form == QLatin1String("utf16"));
    if (name == QLatin1String("netsh"))
        return netsh(registry, arguments);
    if (name == QLatin1String("ipconfig"))
        return ipconfig(arguments);
    std::fprintf(stderr, "%s: not a stand-in name\n", qPrintable(name));
    return 127;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList arguments = standinCommandLine(argc, argv);
    const QString name = arguments.takeFirst();

    const QString root = SimRegistry::rootFromEnvironment();
    appendToJournal(root, name, arguments);

    const QString action = faultAction(root, name, arguments);
    if (action == QLatin1String("fail"))
        return failWith("The requested operation failed.");
    if (action == QLatin1String("hang"))
        return hang(root);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("noop"))
        return 0;
    return actNormally(name, MachineRegistry(root), arguments, action);
}
