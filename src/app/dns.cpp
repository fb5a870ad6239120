#include "dns.h"

#include "dns/dnsmanager.h"
#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "dns/systemcommand.h"
#include "dnsdatafile.h"
#include "entries.h"
#include "logging/logline.h"
#include "runlock.h"
#include "utils/text.h"
#include "utils/vendorfolder.h"

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

// The names of the inventory's interfaces with these IDs; the ID itself for
// an interface not listed now.
QStringList interfaceNames(const DnsManager &manager, const QStringList &ids)
{
    QStringList names;
    for (const QString &id : ids) {
        QString name = id;
        for (const InterfaceInfo &record : manager.interfaces()) {
            if (sameInterfaceId(record.id(), id))
                name = record.name();
        }
        names.append(name);
    }
    return names;
}

// The entries of the interfaces a switch to the VPN switches and a switch
// back restores: all but the VPN's own, which a switch back never touches.
QStringList switchableEntries(const DnsManager &manager)
{
    QStringList entries;
    for (const InterfaceInfo &record : manager.interfaces()) {
        if (!record.isVpn())
            entries.append(interfaceEntry(record.id(), record.ipv4Dns(), record.ipv6Dns()));
    }
    return entries;
}

// The IDs of entries.
QStringList entryIds(const QStringList &entries)
{
    QStringList ids;
    for (const QString &entry : entries)
        ids.append(entryId(entry));
    return ids;
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
    if (!endCommandsWithThisProcess()) {
        logWarning(objectName(),
                   QStringLiteral("System commands of this run may outlive it: no job object"));
    }
    // Without a usable vendor folder there is neither a record nor a run
    // lock: no run could undo what it changed, so none changes anything.
    const VendorFolder &vendorFolder = VendorFolder::instance();
    if (!vendorFolder.isUsable()) {
        logWarning(objectName(),
                   QStringLiteral("No vendor folder for the DNS data file, DNS servers left "
                                  "unchanged"));
    } else {
        RunLock runLock(vendorFolder);
        if (runLock.take(runLockWaitMs))
            switchDns(vendorFolder.trustedFilePath(QStringLiteral("dns.dat")));
    }
    logInfo(objectName(), QStringLiteral("Process finished"));
    return true;
}

void Dns::switchDns(const QString &dataFilePath)
{
    if (dataFilePath.isEmpty()) {
        logWarning(objectName(),
                   QStringLiteral("No DNS data file to use, DNS servers left unchanged"));
        return;
    }
    DnsDataFile dataFile(dataFilePath);
    if (mode == Reset)
        reset(dataFile);

    DnsManager manager;
    QString lastIpv4;
    QString lastIpv6;
    const QList<InterfaceInfo> records = readArguments(manager, &lastIpv4, &lastIpv6);
    manager.refreshInterfaces();
    if (mode == Vpn)
        switchToVpn(manager, dataFile, lastIpv4, lastIpv6);
    else
        switchToUser(manager, dataFile, records);
}

QList<InterfaceInfo> Dns::readArguments(DnsManager &manager, QString *lastIpv4, QString *lastIpv6)
{
    QList<InterfaceInfo> records;
    warnAboutIgnoredEntries();
    for (const QString &word : args.mid(0, maxEntriesPerRun)) {
        const ParsedEntry entry = parseInterfaceEntry(word);
        for (const QString &item : entry.rejected) {
            logWarning(objectName(),
                       QStringLiteral("Cannot parse DNS data (%1)").arg(boundedForLog(item)));
        }
        warnAboutIgnoredItems(word, entry.ignoredItems);
        if (!entry.ipv4.isEmpty())
            *lastIpv4 = entry.ipv4.last();
        if (!entry.ipv6.isEmpty())
            *lastIpv6 = entry.ipv6.last();
        records.append(
            InterfaceInfo(entry.id, entry.id, entry.ipv4, entry.ipv6, manager.vpnAdapters()));
    }
    return records;
}

void Dns::switchToVpn(DnsManager &manager, DnsDataFile &dataFile, const QString &lastIpv4,
                      const QString &lastIpv6)
{
    logInfo(objectName(), QStringLiteral("Switch to VPN DNS: %1, %2").arg(lastIpv4, lastIpv6));
    const QStringList switchable = switchableEntries(manager);
    const QStringList switched = dataFile.switchedIds(switchable);
    const QStringList entries = entriesToRecord(
        dataFile.savedEntries(), manager.interfaceDnsEntries(), switched, dataFile.vpnServers());
    // On disk before the first DNS change, so that a run killed while netsh
    // works still leaves what a reset needs.
    if (!dataFile.recordSwitch(entries, lastIpv4, lastIpv6,
                               unitedIds(switched, entryIds(switchable)))) {
        logWarning(
            objectName(),
            QStringLiteral("Cannot record the user's DNS servers, DNS servers left unchanged"));
        return;
    }
    manager.setDnsFromVpn(singleServerList(lastIpv4), singleServerList(lastIpv6));
}

void Dns::switchToUser(DnsManager &manager, DnsDataFile &dataFile,
                       const QList<InterfaceInfo> &records)
{
    logInfo(objectName(), QStringLiteral("Switch to user DNS"));
    const QStringList switched = dataFile.switchedIds(switchableEntries(manager));
    QStringList targets;
    if (resetToDefaults) {
        removeVpnDefaultServers(manager);
        for (const InterfaceInfo &record : manager.interfaces())
            targets.append(record.id());
    } else {
        manager.mergeUserDns(records);
        for (const InterfaceInfo &record : records) {
            // A reset leaves an interface that is no longer switched as it is:
            // it is on the user's own servers, perhaps ones set since.
            if (!restoringSwitched || containsId(switched, record.id()))
                targets.append(record.id());
        }
    }
    const QStringList stillSwitched = idsWithout(switched, manager.setDnsFromUser(targets));
    if (!stillSwitched.isEmpty()) {
        // With the record kept, the next vpn run keeps their saved entries and
        // the next reset restores them.
        logWarning(objectName(),
                   QStringLiteral("DNS servers not restored on '%1', keeping the VPN DNS record")
                       .arg(interfaceNames(manager, stillSwitched).join(QStringLiteral("', '"))));
    }
    dataFile.recordSwitchBack(stillSwitched);
}

void Dns::removeVpnDefaultServers(DnsManager &manager)
{
    logInfo(objectName(), QStringLiteral("Clear current DNS entries"));
    for (InterfaceInfo &record : manager.interfaces()) {
        if (record.isVpn())
            continue;
        // Only the VPN's servers go; servers of the user's own beside them
        // stay.
        if (containsVpnDns(record.ipv4Dns())) {
            logInfo(objectName(),
                    QStringLiteral("Clear DNS entries for IPv4 on '%1'").arg(record.name()));
            record.setIpv4Dns(withoutVpnDns(record.ipv4Dns()));
        }
        if (containsVpnDns(record.ipv6Dns())) {
            logInfo(objectName(),
                    QStringLiteral("Clear DNS entries for IPv6 on '%1'").arg(record.name()));
            record.setIpv6Dns(withoutVpnDns(record.ipv6Dns()));
        }
    }
}

void Dns::reset(const DnsDataFile &dataFile)
{
    logInfo(objectName(), QStringLiteral("Resetting DNS settings..."));
    args.clear();
    mode = User;

    if (!dataFile.exists()) {
        resetToDefaults = true;
        logWarning(objectName(),
                   QStringLiteral("DNS data file doesn't exist, resetting to default values"));
        return;
    }
    args = dataFile.savedEntries();
    restoringSwitched = true;
    // A file without saved entries cannot restore anything: strip the VPN's
    // servers as if there were no file, rather than leave them in place.
    if (args.isEmpty()) {
        resetToDefaults = true;
        logWarning(
            objectName(),
            QStringLiteral("DNS data file holds no saved entries, resetting to default values"));
    }
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
