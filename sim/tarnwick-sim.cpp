// tarnwick-sim: makes, enters and shows simulated Windows machines.
//
//   tarnwick-sim create ROOT --sample [--with-bare-interface]
//   tarnwick-sim create ROOT --interfaces N [--adapters A]
//     (either with --with-dns-api: SetInterfaceDnsSettings in iphlpapi, and
//     --with-second-tap: another product's TAP adapter)
//   tarnwick-sim env ROOT
//   tarnwick-sim run ROOT -- COMMAND...
//   tarnwick-sim show ROOT
//   tarnwick-sim reg ROOT FILE
//   tarnwick-sim read-reg ROOT FILE...
#include "regfile.h"
#include "simmachine.h"
#include "simregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QTextStream>
#include <QVector>
#include <cstdio>
#include <unistd.h>

namespace {

const QStringList standinNames = {QStringLiteral("wmic"), QStringLiteral("netsh"),
                                  QStringLiteral("ipconfig")};

int usage()
{
    std::fputs("usage: tarnwick-sim create ROOT (--sample [--with-bare-interface] |\n"
               "                                --interfaces N [--adapters A])\n"
               "                                [--with-dns-api] [--with-second-tap]\n"
               "       tarnwick-sim env ROOT\n"
               "       tarnwick-sim run ROOT -- COMMAND...\n"
               "       tarnwick-sim show ROOT\n"
               "       tarnwick-sim reg ROOT FILE\n"
               "       tarnwick-sim read-reg ROOT FILE...\n",
               stderr);
    return 2;
}

int fail(const QString &message)
{
    std::fprintf(stderr, "tarnwick-sim: %s\n", qPrintable(message));
    return 1;
}

QString absoluteRoot(const QString &root)
{
    return QDir::cleanPath(QFileInfo(root).absoluteFilePath());
}

bool installFile(const QString &source, const QString &target)
{
    QFile::remove(target);
    return QFile::copy(source, target) &&
           QFile::setPermissions(target, QFileInfo(source).permissions());
}

bool installProgramsAndLibraries(const QString &root, bool withDnsApi)
{
    QDir dir(root);
    if (!dir.mkpath(QStringLiteral("bin")) || !dir.mkpath(QStringLiteral("lib")) ||
        !dir.mkpath(QStringLiteral("faults")) || !dir.mkpath(QStringLiteral("ProgramData")))
        return false;
    for (const QString &name : standinNames) {
        if (!installFile(QStringLiteral(TARNWICK_STANDIN_PATH),
                         root + QStringLiteral("/bin/") + name))
            return false;
    }
    QFile journal(root + QStringLiteral("/journal"));
    return installFile(QStringLiteral(TARNWICK_DNSAPI_PATH),
                       root + QStringLiteral("/lib/libdnsapi.so")) &&
           installFile(QStringLiteral(TARNWICK_DNSAPI_NOFUNCTION_PATH),
                       root + QStringLiteral("/lib/libdnsapi-nofunction.so")) &&
           installFile(withDnsApi ? QStringLiteral(TARNWICK_IPHLPAPI_PATH)
                                  : QStringLiteral(TARNWICK_IPHLPAPI_NODNSAPI_PATH),
                       root + QStringLiteral("/lib/libiphlpapi.so")) &&
           journal.open(QIODevice::WriteOnly);
}

bool parseCount(const QString &text, int *count)
{
    bool ok = false;
    *count = text.toInt(&ok);
    return ok && *count >= 0;
}

int create(QStringList words)
{
    // With SetInterfaceDnsSettings, as Windows 10 2004 and later; without
    // it, as before, every list is set with netsh.
    const bool withDnsApi = words.removeAll(QStringLiteral("--with-dns-api")) > 0;
    // Another product's TAP adapter beside the VPN's.
    const bool withSecondTap = words.removeAll(QStringLiteral("--with-second-tap")) > 0;
    if (words.size() < 2)
        return usage();
    const QString root = absoluteRoot(words.at(0));
    QList<SimInterface> interfaces;
    int adapters = 0;
    if (words.size() == 2 && words.at(1) == QLatin1String("--sample")) {
        interfaces = sampleInterfaces();
        adapters = interfaces.size();
    } else if (words.size() == 3 && words.at(1) == QLatin1String("--sample") &&
               words.at(2) == QLatin1String("--with-bare-interface")) {
        interfaces = sampleInterfaces();
        adapters = interfaces.size();
        interfaces.append(bareInterface());
    } else if (words.at(1) == QLatin1String("--interfaces") &&
               (words.size() == 3 || words.size() == 5)) {
        int count = 0;
        if (!parseCount(words.at(2), &count))
            return usage();
        adapters = count + 4;
        if (words.size() == 5 &&
            (words.at(3) != QLatin1String("--adapters") || !parseCount(words.at(4), &adapters)))
            return usage();
        interfaces = generatedInterfaces(count);
    } else {
        return usage();
    }
    if (withSecondTap) {
        // Among the interfaces with an adapter key, after them.
        interfaces.insert(qMin(adapters, int(interfaces.size())), secondTapInterface());
        ++adapters;
    }

    const QDir dir(root);
    if (dir.exists() && !dir.isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        return fail(QStringLiteral("%1 exists and is not empty").arg(root));
    if (QFileInfo(root).exists() && !QFileInfo(root).isDir())
        return fail(QStringLiteral("%1 exists and is not a directory").arg(root));
    if (!QDir().mkpath(root) || !installProgramsAndLibraries(root, withDnsApi))
        return fail(QStringLiteral("cannot create the machine in %1").arg(root));
    writeRegistry(root, interfaces, adapters);
    return 0;
}

QString shellQuoted(const QString &text)
{
    QString quoted = text;
    quoted.replace(QLatin1Char('\''), QStringLiteral("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

int printEnvironment(const QString &root)
{
    const QString absolute = absoluteRoot(root);
    QTextStream out(stdout);
    out << "export TARNWICK_SIM_ROOT=" << shellQuoted(absolute) << '\n'
        << "export XDG_DATA_HOME=" << shellQuoted(absolute + QStringLiteral("/ProgramData")) << '\n'
        << "export PATH=" << shellQuoted(absolute + QStringLiteral("/bin")) << ":\"$PATH\"\n";
    return 0;
}

int runInside(const QString &root, int argc, char **argv, int commandIndex)
{
    if (commandIndex >= argc)
        return usage();
    const QByteArray absolute = QFile::encodeName(absoluteRoot(root));
    const QByteArray path = absolute + "/bin:" + qgetenv("PATH");
    setenv("TARNWICK_SIM_ROOT", absolute.constData(), 1);
    setenv("XDG_DATA_HOME", (absolute + "/ProgramData").constData(), 1);
    setenv("PATH", path.constData(), 1);
    execvp(argv[commandIndex], argv + commandIndex);
    std::perror(argv[commandIndex]);
    return 127;
}

QString orDash(const QString &text)
{
    return text.isEmpty() ? QStringLiteral("-") : text;
}

bool isTapAdapter(const SimRegistry &registry, const QString &id)
{
    const QString classKey = registry.findKey(simkeys::adapterClass);
    for (const QString &subkey : SimRegistry::subkeys(classKey)) {
        const QString adapter = classKey + QLatin1Char('/') + subkey;
        if (SimRegistry::readValue(adapter, QStringLiteral("MatchingDeviceId")) ==
                QLatin1String("tap0901") &&
            SimRegistry::readValue(adapter, QStringLiteral("NetCfgInstanceId"))
                    .compare(id, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

int show(const QString &root)
{
    const SimRegistry registry(absoluteRoot(root));
    const QString ipv4Key = registry.findKey(simkeys::tcpipInterfaces);
    if (ipv4Key.isEmpty())
        return fail(QStringLiteral("%1 holds no simulated machine").arg(root));

    QList<QStringList> rows = {{QStringLiteral("ID"), QStringLiteral("NAME"), QStringLiteral("TAP"),
                                QStringLiteral("IPV4"), QStringLiteral("IPV6")}};
    for (const QString &id : SimRegistry::subkeys(ipv4Key)) {
        const QString name = SimRegistry::readValue(
            registry.findKey(simkeys::networkConnections + QLatin1Char('\\') + id +
                             QStringLiteral("\\Connection")),
            QStringLiteral("Name"));
        const QString ipv6Key =
            registry.findKey(simkeys::tcpip6Interfaces + QLatin1Char('\\') + id);
        rows.append(
            {id, name.isEmpty() ? QStringLiteral("-") : QLatin1Char('"') + name + QLatin1Char('"'),
             isTapAdapter(registry, id) ? QStringLiteral("yes") : QStringLiteral("no"),
             orDash(SimRegistry::readValue(ipv4Key + QLatin1Char('/') + id,
                                           QStringLiteral("NameServer"))),
             orDash(SimRegistry::readValue(ipv6Key, QStringLiteral("NameServer")))});
    }

    QVector<int> widths(rows.first().size(), 0);
    for (const QStringList &row : rows) {
        for (int column = 0; column < row.size(); ++column)
            widths[column] = qMax(widths[column], row.at(column).size());
    }
    QTextStream out(stdout);
    for (const QStringList &row : rows) {
        QString line;
        for (int column = 0; column < row.size(); ++column)
            line += row.at(column).leftJustified(widths[column] + 2);
        out << line.trimmed() << '\n';
    }
    return 0;
}

int writeRegistrationFile(const QString &root, const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(registrationFileOf(absoluteRoot(root))) < 0)
        return fail(QStringLiteral("cannot write %1").arg(fileName));
    return 0;
}

int readRegistrationFiles(const QString &root, const QStringList &fileNames)
{
    QList<QByteArray> files;
    for (const QString &fileName : fileNames) {
        QFile file(fileName);
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1").arg(fileName));
        files.append(file.readAll());
    }
    readRegistrationFiles(absoluteRoot(root), files);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    QStringList words;
    for (int i = 1; i < argc; ++i)
        words.append(QString::fromLocal8Bit(argv[i]));
    if (words.size() < 2)
        return usage();

    const QString command = words.takeFirst();
    if (command == QLatin1String("create"))
        return create(words);
    if (command == QLatin1String("env") && words.size() == 1)
        return printEnvironment(words.at(0));
    if (command == QLatin1String("show") && words.size() == 1)
        return show(words.at(0));
    if (command == QLatin1String("reg") && words.size() == 2)
        return writeRegistrationFile(words.at(0), words.at(1));
    if (command == QLatin1String("read-reg") && words.size() >= 2)
        return readRegistrationFiles(words.at(0), words.mid(1));
    if (command == QLatin1String("run") && words.size() >= 3 && words.at(1) == QLatin1String("--"))
        return runInside(words.at(0), argc, argv, 4);
    return usage();
}
