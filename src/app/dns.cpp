#include "dns.h"

#include "dns/dnsmanager.h"
#include "dns/entries.h"
#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "dns/systemcommand.h"
#include "dnsstatus.h"
#include "logging/logline.h"
#include "store/dnsdatafile.h"
#include "store/runlock.h"
#include "store/runorder.h"
#include "store/vendorfolder.h"
#include "switchedinterfaces.h"
#include "utils/clock.h"
#include "utils/machinebound.h"
#include "utils/text.h"

#include <algorithm>

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

// The items, each in quotes, joined by ", ".
QString quotedItems(const QStringList &items)
{
    return QLatin1Char('\'') + items.join(QStringLiteral("', '")) + QLatin1Char('\'');
}

// The names of the inventory's interfaces with these IDs; the ID itself for
// an interface not listed now.
QStringList interfaceNames(const DnsManager &manager, const QStringList &ids)
{
    QStringList names;
    for (const QString &id : ids) {
        const InterfaceInfo *listed = manager.interfaceWithId(id);
        names.append(listed ? listed->name() : id);
    }
    return names;
}

InterfaceInfo recordOf(const InterfaceEntry &entry, const QString &name,
                       const VpnAdapters &vpnAdapters)
{
    return InterfaceInfo(entry.id, name, entry.ipv4, entry.ipv6, vpnAdapters);
}

// Why a user run does not apply its entry, as a warning: it names no listed
// interface, holds a rejected item, or names an interface that an entry
// before it, in `applied`, already gave servers. Empty when it is applied.
QString unappliedEntryProblem(const DnsManager &manager, const QList<InterfaceEntry> &entries,
                              const QList<InterfaceInfo> &applied, const InterfaceEntry &entry)
{
    const InterfaceInfo *listed = manager.interfaceWithId(entry.id);
    if (!listed) {
        return QStringLiteral("Entry for '%1' names no listed interface, it is not applied")
            .arg(boundedForLog(entry.id));
    }
    const QString name = listed->name();
    const QString text = boundedForLog(formatInterfaceEntry(entry));
    if (!entry.isWhole()) {
        // Applying what was understood of it would clear or cut the lists.
        const bool wholeOne = std::any_of(entries.cbegin(), entries.cend(), [&](const auto &e) {
            return e.isWhole() && sameInterfaceId(e.id, entry.id);
        });
        return wholeOne ? QStringLiteral("Entry (%1) holds items that are not addresses, it is "
                                         "not applied; %2 takes another entry")
                              .arg(text, name)
                        : QStringLiteral("Entry (%1) holds items that are not addresses, %2 "
                                         "left unchanged")
                              .arg(text, name);
    }
    const bool alreadyApplied = std::any_of(applied.cbegin(), applied.cend(), [&](const auto &r) {
        return sameInterfaceId(r.id(), entry.id);
    });
    if (alreadyApplied)
        return QStringLiteral("Entry (%1) names %2 again, it is not applied").arg(text, name);
    return QString();
}

// The interface's entry for a vpn run's record. Where neither data file
// reads whole, a list that is exactly one VPN server is what an earlier vpn
// run left, not the user's: it is recorded without it, with a warning.
InterfaceEntry withoutLoneVpnServers(const InterfaceInfo &record, const DnsDataFile &dataFile)
{
    InterfaceEntry entry = entryOf(record);
    if (dataFile.source() != DnsDataFile::Source::Damaged || record.isVpn())
        return entry;
    const QStringList vpnServers = dataFile.vpnServers();
    const bool ipv4 = isLoneVpnServer(entry.ipv4, vpnServers);
    const bool ipv6 = isLoneVpnServer(entry.ipv6, vpnServers);
    if (!ipv4 && !ipv6)
        return entry;
    if (ipv4)
        entry.ipv4.clear();
    if (ipv6)
        entry.ipv6.clear();
    logWarning(QStringLiteral("Dns"),
               QStringLiteral("DNS servers of '%1' are a VPN server and no record says whose, "
                              "recording its servers without it")
                   .arg(record.name()));
    return entry;
}

QStringList idsOf(const QList<InterfaceEntry> &entries)
{
    QStringList ids;
    for (const InterfaceEntry &entry : entries)
        ids.append(entry.id);
    return ids;
}

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
    // A mistyped server would leave its protocol's list cleared, which on
    // Windows means the network's own servers: a leak reported as a switch.
    const QString badItems = invalid ? QString() : notAddresses();
    // Without a server a vpn run would clear every list.
    const bool noServer = !invalid && badItems.isEmpty() && mode == Vpn && !namesAnyServer(args);
    QString warning = QStringLiteral("Invalid command line arguments");
    if (!badItems.isEmpty())
        warning += QStringLiteral(": not addresses: ") + badItems;
    else if (noServer)
        warning += QStringLiteral(": no VPN server");
    // The warning is written once, however often the check runs.
    const bool rejected = invalid || noServer || !badItems.isEmpty();
    if (rejected && !invalidWarningWritten) {
        invalidWarningWritten = true;
        logWarning(objectName(), warning);
    }
    return rejected;
}

QString Dns::notAddresses() const
{
    const QStringList items = mode == Vpn ? nonEmptyRejectedItems(args) : QStringList();
    return items.isEmpty() ? QString() : boundedForLog(quotedItems(items));
}

QString Dns::invalidItemsLine() const
{
    const QString items = notAddresses();
    return items.isEmpty() ? QString()
                           : QStringLiteral("tarnwick-dns: not addresses: %1\n").arg(items);
}

int Dns::exitCodeOf(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Done:
        return 0;
    case Outcome::Invalid:
        return -1;
    case Outcome::Unchanged:
        break;
    }
    return DnsStatus::Unknown;
}

void Dns::leaveUnchanged(const QString &warning, const QString &cause)
{
    logWarning(objectName(), warning);
    unchanged = cause;
}

Dns::Outcome Dns::run()
{
    if (isInvalid())
        return Outcome::Invalid;
    logInfo(objectName(), QStringLiteral("Process started"));
    if (!endCommandsWithThisProcess()) {
        logWarning(objectName(),
                   QStringLiteral("System commands of this run may outlive it: no job object"));
    }
    // Without a usable vendor folder there is neither a record nor a run
    // lock: no run could undo what it changed, so none changes anything.
    const VendorFolder &vendorFolder = VendorFolder::instance();
    if (!vendorFolder.isUsable()) {
        leaveUnchanged(QStringLiteral("No vendor folder for the DNS data file, DNS servers left "
                                      "unchanged"),
                       QStringLiteral("no usable vendor folder"));
    } else {
        runInTurn(vendorFolder);
    }
    logInfo(objectName(), QStringLiteral("Process finished"));
    return unchanged.isEmpty() ? Outcome::Done : Outcome::Unchanged;
}

void Dns::runInTurn(const VendorFolder &vendorFolder)
{
    RunOrder order(vendorFolder, mode == User ? RunOrder::UserRun : RunOrder::SwitchRun);
    order.takeNumber();
    RunLock runLock(vendorFolder);
    const Deadline waitEnd(runLockWaitMs);
    Turn now = Turn::Wait;
    const auto askTurn = [&] {
        return now = order.turn();
    };
    while (runLock.take(int(waitEnd.remainingMs()), askTurn)) {
        // Asked once more with the lock held: the lock may have come free for
        // a run that must still let a later request or an earlier vpn or
        // reset go first.
        now = order.startWork();
        if (now == Turn::Go) {
            switchDns(vendorFolder, Deadline(boundOnThisMachine("run-deadline-ms", runDeadlineMs)));
            return;
        }
        runLock.release();
        if (now == Turn::Yield)
            break;
    }
    if (now == Turn::Yield) {
        logWarning(objectName(), QStringLiteral("A request made after this one is waiting or has "
                                                "run, DNS servers left unchanged"));
    } else {
        // The lock's own warning said why.
        unchanged = QStringLiteral("the run lock was not had");
    }
}

void Dns::switchDns(const VendorFolder &vendorFolder, Deadline commandDeadline)
{
    DnsDataFile dataFile(vendorFolder);
    if (!dataFile.isReadable()) {
        // Whatever it records is unknown: any change could lose it.
        leaveUnchanged(QStringLiteral("Cannot read the DNS data file, DNS servers left unchanged"),
                       QStringLiteral("the DNS data file cannot be read"));
        return;
    }
    if (mode == Reset) {
        logInfo(objectName(), QStringLiteral("Resetting DNS settings..."));
        if (dataFile.source() == DnsDataFile::Source::None) {
            logWarning(objectName(),
                       QStringLiteral("DNS data file doesn't exist, resetting to default values"));
        } else if (dataFile.source() == DnsDataFile::Source::Damaged) {
            logWarning(objectName(), QStringLiteral("DNS data file cannot be read, resetting to "
                                                    "default values"));
        }
    }

    DnsManager manager(commandDeadline);
    QString lastIpv4;
    QString lastIpv6;
    const QList<InterfaceEntry> entries = readArguments(&lastIpv4, &lastIpv6);
    // The VPN's own adapter: the one a vpn run's entries name, else the one
    // the record names. Another product's TAP adapter is then the user's.
    manager.setVpnAdapterCandidates(mode == Vpn ? idsOf(entries)
                                                : QStringList(dataFile.vpnAdapter()));
    manager.refreshInterfaces();
    if (mode == Vpn) {
        switchToVpn(manager, dataFile, lastIpv4, lastIpv6);
    } else {
        logInfo(objectName(), QStringLiteral("Switch to user DNS"));
        const QStringList switched = switchedIds(manager, dataFile);
        QList<InterfaceInfo> records;
        if (mode == User)
            records = userRecords(manager, entries);
        else if (dataFile.hasRecord())
            records = resetRecords(manager, dataFile, switched);
        else
            records = defaultRecords(manager, dataFile.vpnServers());
        switchToUser(manager, dataFile, records, switched);
    }
    manager.finishRun();
}

QList<InterfaceEntry> Dns::readArguments(QString *lastIpv4, QString *lastIpv6)
{
    QList<InterfaceEntry> entries;
    warnAboutIgnoredEntries();
    for (const QString &word : args.mid(0, entriesPerRun())) {
        const InterfaceEntry entry = parseInterfaceEntry(word);
        for (const QString &item : entry.rejected) {
            logWarning(objectName(),
                       QStringLiteral("Cannot parse DNS data (%1)").arg(boundedForLog(item)));
        }
        warnAboutIgnoredItems(word, entry.ignoredItems);
        if (!entry.ipv4.isEmpty())
            *lastIpv4 = entry.ipv4.last();
        if (!entry.ipv6.isEmpty())
            *lastIpv6 = entry.ipv6.last();
        entries.append(entry);
    }
    return entries;
}

void Dns::switchToVpn(DnsManager &manager, DnsDataFile &dataFile, const QString &lastIpv4,
                      const QString &lastIpv6)
{
    logInfo(objectName(), QStringLiteral("Switch to VPN DNS: %1, %2").arg(lastIpv4, lastIpv6));
    const QStringList switched = switchedIds(manager, dataFile);
    QList<InterfaceEntry> current;
    QStringList listed;
    for (const InterfaceInfo &record : manager.interfaces()) {
        // The VPN's adapter is never switched back, yet what it held before
        // the VPN set it is the user's too: it stays recorded.
        const InterfaceEntry *saved = findEntry(dataFile.savedEntries(), record.id());
        current.append(record.isVpn() && saved ? *saved : withoutLoneVpnServers(record, dataFile));
        listed.append(record.id());
    }
    for (const InterfaceEntry &saved : dataFile.savedEntries()) {
        if (manager.vpnAdapters().contains(saved.id))
            listed.append(saved.id);
    }
    QStringList unrecorded;
    const QList<InterfaceEntry> entries = entriesToRecord(
        dataFile.savedEntries(), current, switched, dataFile.vpnServers(), &unrecorded);
    for (const QString &name : interfaceNames(manager, unrecorded)) {
        logWarning(objectName(), QStringLiteral("DNS servers of '%1' are not recorded, recording "
                                                "its servers without the VPN's")
                                     .arg(name));
    }
    QStringList leftAlone;
    const QStringList targets = idsOf(entriesToSwitch(manager, switched, &leftAlone));
    if (!leftAlone.isEmpty()) {
        logWarning(objectName(),
                   QStringLiteral("More than %1 interfaces to switch, DNS servers of '%2' left as "
                                  "they are")
                       .arg(QString::number(entriesPerRun()),
                            boundedForLog(leftAlone.join(QStringLiteral("', '")))));
    }
    // On disk before the first DNS change, so that a run killed while netsh
    // works still leaves what a reset needs.
    const QString ownAdapter = manager.vpnAdapters().own();
    const InterfaceInfo *ownListed = manager.interfaceWithId(ownAdapter);
    if (manager.interfaces().isEmpty() && !dataFile.hasRecord()) {
        // Nothing is switched, and a record written now would say that none
        // is, where files that do not read whole, or were deleted, may have
        // known better: the next reset then finds the VPN's servers by
        // themselves.
        logInfo(objectName(), QStringLiteral("No adapter listed, the DNS data file left as it is"));
    } else if (!dataFile.recordSwitch(entries, lastIpv4, lastIpv6, unitedIds(switched, targets),
                                      listed, ownListed ? ownListed->id() : ownAdapter)) {
        leaveUnchanged(
            QStringLiteral("Cannot record the user's DNS servers, DNS servers left unchanged"),
            QStringLiteral("the user's DNS servers cannot be recorded"));
        return;
    }
    manager.setDnsFromVpn(singleServerList(lastIpv4), singleServerList(lastIpv6), targets);
}

QList<InterfaceInfo> Dns::userRecords(DnsManager &manager, const QList<InterfaceEntry> &entries)
{
    QList<InterfaceInfo> records;
    for (const InterfaceEntry &entry : entries) {
        const QString problem = unappliedEntryProblem(manager, entries, records, entry);
        if (!problem.isEmpty()) {
            logWarning(objectName(), problem);
            continue;
        }
        int leftOut = 0;
        records.append(
            recordOf(withServersReadBack(entry, &leftOut), entry.id, manager.vpnAdapters()));
        if (leftOut > 0) {
            // More would be set than the next vpn run records, and so lost.
            logWarning(objectName(),
                       QStringLiteral("Entry (%1) lists more than %2 servers of a protocol, the "
                                      "last %3 are not set")
                           .arg(boundedForLog(formatInterfaceEntry(entry)),
                                QString::number(maxServersPerProtocol), QString::number(leftOut)));
        }
    }
    return records;
}

QList<InterfaceInfo> Dns::resetRecords(DnsManager &manager, const DnsDataFile &dataFile,
                                       const QStringList &switched)
{
    QList<InterfaceInfo> records;
    for (const InterfaceInfo &current : manager.interfaces()) {
        if (current.isVpn() || !containsId(switched, current.id()))
            continue;
        const InterfaceEntry *saved = findEntry(dataFile.savedEntries(), current.id());
        if (saved && saved->isWhole()) {
            records.append(recordOf(*saved, current.name(), manager.vpnAdapters()));
            continue;
        }
        // Nothing better will ever be known of its own servers: once the
        // VPN's are out, it is no longer switched.
        logWarning(objectName(), QStringLiteral("DNS servers of '%1' are not recorded, taking the "
                                                "VPN's servers out of its lists")
                                     .arg(current.name()));
        records.append(recordOf(withoutServers(entryOf(current), dataFile.vpnServers()),
                                current.name(), manager.vpnAdapters()));
    }
    return records;
}

QList<InterfaceInfo> Dns::defaultRecords(DnsManager &manager, const QStringList &vpnServers)
{
    logInfo(objectName(), QStringLiteral("Clear current DNS entries"));
    QList<InterfaceInfo> records;
    for (InterfaceInfo record : manager.interfaces()) {
        // Where nothing tells which of several TAP adapters is the VPN's own,
        // each may be another product's that a vpn run switched: they are
        // cleared as the others are.
        if (record.isVpn() && !manager.vpnAdapters().isAmbiguous())
            continue;
        // Only a list a vpn run could have left goes; the user's own
        // servers, a default one among them, stay.
        if (isLoneVpnServer(record.ipv4Dns(), vpnServers)) {
            logInfo(objectName(),
                    QStringLiteral("Clear DNS entries for IPv4 on '%1'").arg(record.name()));
            record.setIpv4Dns({});
        }
        if (isLoneVpnServer(record.ipv6Dns(), vpnServers)) {
            logInfo(objectName(),
                    QStringLiteral("Clear DNS entries for IPv6 on '%1'").arg(record.name()));
            record.setIpv6Dns({});
        }
        records.append(record);
    }
    return records;
}

void Dns::switchToUser(DnsManager &manager, DnsDataFile &dataFile,
                       const QList<InterfaceInfo> &records, const QStringList &switched)
{
    manager.mergeUserDns(records);
    QStringList targets;
    for (const InterfaceInfo &record : records)
        targets.append(record.id());
    // Found by their servers, the switched interfaces are on record before
    // the first change: one that a killed run left half restored would no
    // longer be found so.
    if (dataFile.switchedByRule())
        dataFile.recordSwitchBack(switched);
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

void Dns::warnAboutIgnoredEntries()
{
    if (args.size() > entriesPerRun()) {
        logWarning(objectName(), QStringLiteral("More than %1 entries, the last %2 are ignored")
                                     .arg(entriesPerRun())
                                     .arg(args.size() - entriesPerRun()));
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
