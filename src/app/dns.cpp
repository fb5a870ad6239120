#include "dns.h"

#include "dns/dnsmanager.h"
#include "dns/servers.h"
#include "entries.h"
#include "logging/logline.h"
#include "runlock.h"
#include "utils/filelink.h"
#include "utils/paths.h"
#include "utils/text.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

Dns::Mode modeFromWord(const QString &word)
{
    if (word == QLatin1String("reset"))
        return Dns::Reset;
    if (word == QLatin1String("vpn"))
        return Dns::Vpn;
    if (word == QLatin1String("user"))
        return Dns::User;
    return Dns::Unknown;
}

QString displayName(Dns::Mode mode)
{
    switch (mode) {
    case Dns::Reset:
        return QStringLiteral("Reset");
    case Dns::Vpn:
        return QStringLiteral("VPN DNS");
    case Dns::User:
        return QStringLiteral("User DNS");
    case Dns::Unknown:
        break;
    }
    return QString();
}

// The warning about the command line is written once per process, however
// often the check runs.
bool invalidWarningWritten = false;

} // namespace

Dns::Dns(int argc, char **argv)
{
    setObjectName(QStringLiteral("Dns"));
    if (argc < 2)
        return;

    mode = modeFromWord(QString::fromUtf8(argv[1]));
    for (int i = 2; i < argc; ++i)
        args.append(QString::fromUtf8(argv[i]));

    if (isInvalid())
        return;

    QString suffix;
    if (mode == Reset)
        args.clear();
    else
        suffix = QStringLiteral(" and args '%1'").arg(argsForLog(args));
    logInfo(objectName(),
            QStringLiteral("Initialized with '%1' mode").arg(displayName(mode)) + suffix);
}

bool Dns::isInvalid()
{
    const bool invalid = args.isEmpty() ? mode != Reset : mode == Unknown;
    if (invalid && !invalidWarningWritten) {
        invalidWarningWritten = true;
        logWarning(objectName(), QStringLiteral("Invalid command line arguments"));
    }
    return invalid;
}

bool Dns::run()
{
    if (isInvalid())
        return false;
    logInfo(objectName(), QStringLiteral("Process started"));
    RunLock runLock(runLockPath());
    if (!runLock.take(runLockWaitMs)) {
        logInfo(objectName(), QStringLiteral("Process finished"));
        return true;
    }
    if (mode == Reset)
        reset();

    DnsManager manager;
    QList<InterfaceInfo> records;
    QString lastIpv4;
    QString lastIpv6;
    warnAboutIgnoredEntries();
    for (const QString &word : args.mid(0, maxEntriesPerRun)) {
        const ParsedEntry entry = parseInterfaceEntry(word);
        for (const QString &item : entry.rejected) {
            logWarning(objectName(),
                       QStringLiteral("Cannot parse DNS data (%1)").arg(boundedForLog(item)));
        }
        warnAboutIgnoredItems(word, entry.ignoredItems);
        if (!entry.ipv4.isEmpty())
            lastIpv4 = entry.ipv4.last();
        if (!entry.ipv6.isEmpty())
            lastIpv6 = entry.ipv6.last();
        records.append(
            InterfaceInfo(entry.id, entry.id, entry.ipv4, entry.ipv6, manager.vpnAdapters()));
    }

    manager.refreshInterfaces();
    QSettings settings(dnsDataFilePath(), QSettings::IniFormat);
    if (mode == Vpn)
        switchToVpn(manager, settings, lastIpv4, lastIpv6);
    else
        switchToUser(manager, settings, records);
    syncDataFile(settings);
    logInfo(objectName(), QStringLiteral("Process finished"));
    return true;
}

void Dns::switchToVpn(DnsManager &manager, QSettings &settings, const QString &lastIpv4,
                      const QString &lastIpv6)
{
    logInfo(objectName(), QStringLiteral("Switch to VPN DNS: %1, %2").arg(lastIpv4, lastIpv6));
    if (dataFileIsLink())
        return;
    const QStringList entries = entriesToRecord(
        savedEntries(settings), manager.interfaceDnsEntries(), recordedVpnServers(settings));
    if (!recordUserDns(settings, entries, lastIpv4, lastIpv6)) {
        logWarning(
            objectName(),
            QStringLiteral("Cannot record the user's DNS servers, DNS servers left unchanged"));
        return;
    }
    manager.setDnsFromVpn(singleServerList(lastIpv4), singleServerList(lastIpv6));
}

bool Dns::recordUserDns(QSettings &settings, const QStringList &entries, const QString &lastIpv4,
                        const QString &lastIpv6)
{
    settings.remove(userDnsGroup);
    settings.beginGroup(userDnsGroup);
    settings.setValue(QStringLiteral("Args"), joinNonEmpty(entries, argsSeparator));
    settings.endGroup();
    settings.beginGroup(vpnDnsGroup);
    settings.setValue(QStringLiteral("IPv4"), lastIpv4);
    settings.setValue(QStringLiteral("IPv6"), lastIpv6);
    settings.endGroup();
    // On disk before the first DNS change, so that a run killed while netsh
    // works still leaves what a reset needs.
    syncDataFile(settings);
    // The status keeps the first error of the instance: one met while reading
    // the old file would hide whether the write took, so any error counts.
    return settings.status() == QSettings::NoError;
}

QStringList Dns::recordedVpnServers(const QSettings &settings) const
{
    QStringList servers = vpnDefaultServers();
    for (const QString &key : {QStringLiteral("IPv4"), QStringLiteral("IPv6")}) {
        const QString server =
            settings.value(vpnDnsGroup + QLatin1Char('/') + key, QString()).toString();
        if (!server.isEmpty())
            servers.append(server);
    }
    return servers;
}

void Dns::switchToUser(DnsManager &manager, QSettings &settings,
                       const QList<InterfaceInfo> &records)
{
    logInfo(objectName(), QStringLiteral("Switch to user DNS"));
    if (resetToDefaults) {
        logInfo(objectName(), QStringLiteral("Clear current DNS entries"));
        for (InterfaceInfo &record : manager.interfaces()) {
            if (record.isVpn())
                continue;
            if (containsVpnDns(record.ipv4Dns())) {
                logInfo(objectName(),
                        QStringLiteral("Clear DNS entries for IPv4 on '%1'").arg(record.name()));
                record.setIpv4Dns({});
            }
            if (containsVpnDns(record.ipv6Dns())) {
                logInfo(objectName(),
                        QStringLiteral("Clear DNS entries for IPv6 on '%1'").arg(record.name()));
                record.setIpv6Dns({});
            }
        }
    }
    manager.mergeUserDns(records);
    const QStringList notRestored = manager.setDnsFromUser();
    if (!notRestored.isEmpty()) {
        // Those interfaces are still on the VPN's servers; with the record
        // kept, the next vpn run recognises them and keeps their saved entries.
        logWarning(objectName(),
                   QStringLiteral("DNS servers not restored on '%1', keeping the VPN DNS record")
                       .arg(notRestored.join(QStringLiteral("', '"))));
        return;
    }
    if (!dataFileIsLink())
        settings.remove(vpnDnsGroup);
}

void Dns::reset()
{
    logInfo(objectName(), QStringLiteral("Resetting DNS settings..."));
    args.clear();
    mode = User;

    const QString path = dnsDataFilePath();
    if (!QFileInfo::exists(path)) {
        resetToDefaults = true;
        logWarning(objectName(),
                   QStringLiteral("DNS data file doesn't exist, resetting to default values"));
        return;
    }
    {
        const QSettings saved(path, QSettings::IniFormat);
        warnOnDataFileError(saved);
        args = savedEntries(saved);
    }
    // A file without saved entries cannot restore anything: strip the VPN's
    // servers as if there were no file, rather than leave them in place.
    if (args.isEmpty()) {
        resetToDefaults = true;
        logWarning(
            objectName(),
            QStringLiteral("DNS data file holds no saved entries, resetting to default values"));
    }
}

bool Dns::dataFileIsLink()
{
    // QSettings writes through a link to wherever it leads; whoever made the
    // link would choose the file this tool overwrites.
    const QString path = dnsDataFilePath();
    if (!isLink(path))
        return false;
    logWarning(objectName(),
               QStringLiteral("DNS data file '%1' is a link, it is not written; %2")
                   .arg(path, mode == Vpn ? QStringLiteral("no DNS server is changed")
                                          : QStringLiteral("the VPN servers stay recorded")));
    return true;
}

void Dns::warnAboutIgnoredEntries()
{
    if (args.size() > maxEntriesPerRun) {
        logWarning(objectName(), QStringLiteral("More than %1 entries, the last %2 are ignored")
                                     .arg(maxEntriesPerRun)
                                     .arg(args.size() - maxEntriesPerRun));
    }
}

void Dns::warnAboutIgnoredItems(const QString &word, int ignoredItems)
{
    if (ignoredItems > 0) {
        logWarning(objectName(),
                   QStringLiteral("Entry (%1) lists more than %2 servers, the last %3 are ignored")
                       .arg(boundedForLog(word), QString::number(maxItemsPerEntry),
                            QString::number(ignoredItems)));
    }
}

QStringList Dns::savedEntries(const QSettings &settings)
{
    const QString value =
        settings.value(userDnsGroup + QStringLiteral("/Args"), QString()).toString();
    return parseSavedArgs(value, argsSeparator);
}

void Dns::syncDataFile(QSettings &settings)
{
    settings.sync();
    warnOnDataFileError(settings);
}

void Dns::warnOnDataFileError(const QSettings &settings)
{
    // QSettings parses the sections of a file as they are read; listing every
    // key parses all of them, so that a parse error shows in the status.
    settings.allKeys();
    const QString file = QDir::toNativeSeparators(settings.fileName());
    if (settings.status() == QSettings::AccessError)
        logWarning(objectName(), QStringLiteral("Cannot access DNS data file '%1'").arg(file));
    else if (settings.status() == QSettings::FormatError)
        logWarning(objectName(), QStringLiteral("DNS data file '%1' cannot be parsed").arg(file));
}
