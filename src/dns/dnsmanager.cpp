#include "dnsmanager.h"

#include "adapterlist.h"
#include "flush.h"
#include "interfaceid.h"
#include "logging/logline.h"
#include "netshcommand.h"
#include "servers.h"
#include "systemcommand.h"
#include "utils/boundedcall.h"
#include "utils/machinebound.h"
#include "utils/registry.h"
#include "utils/text.h"

#include <QDebug>
#include <QElapsedTimer>
#include <QHash>
#include <QStandardPaths>
#include <algorithm>

namespace {

const int commandTimeoutMs = 30000;

QString protocolName(bool ipv4)
{
    return ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6");
}
// How long the end of a run waits for the fallback flush, and how long a
// run waits for the direct one.
const int flushWaitMs = 10000;

const QString connectionKeyTemplate = QStringLiteral(
    "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\Network\\{4D36E972-E325-11CE-BFC1-"
    "08002BE10318}\\%1\\Connection");
const QString kernelDebugAdapter = QStringLiteral("ROOT\\KDNIC\\0000");

const QString wmic = QStringLiteral("wmic");
const QStringList wmicArguments = {QStringLiteral("nic"), QStringLiteral("where"),
                                   QStringLiteral("GUID is not null"), QStringLiteral("get"),
                                   QStringLiteral("GUID")};
const QString nativeLister = QStringLiteral("GetAdaptersAddresses");

// The records by their IDs in upper case, so that IDs match ignoring letter
// case; a lookup here keeps the pairing of the two stacks linear in the
// number of interfaces.
QHash<QString, const InterfaceInfo *> recordsById(const QList<InterfaceInfo> &records)
{
    QHash<QString, const InterfaceInfo *> byId;
    for (const InterfaceInfo &record : records)
        byId.insert(record.id().toUpper(), &record);
    return byId;
}

// The IDs of the records in upper case.
QSet<QString> upperCaseIds(const QList<InterfaceInfo> &records)
{
    QSet<QString> ids;
    for (const InterfaceInfo &record : records)
        ids.insert(record.id().toUpper());
    return ids;
}

// The records whose upper-case ID is not among `ids`.
QList<InterfaceInfo> recordsOtherThan(const QList<InterfaceInfo> &records, const QSet<QString> &ids)
{
    QList<InterfaceInfo> kept;
    for (const InterfaceInfo &record : records) {
        if (!ids.contains(record.id().toUpper()))
            kept.append(record);
    }
    return kept;
}

// How one adapter lister ended: the GUIDs it listed, or why it listed none.
struct AdapterListing
{
    QSet<QString> guids;
    QString problem;
    double elapsedMs = 0;
    bool notInstalled = false;
    bool abandoned = false; // the native call did not return in time
};

// A lister that answered with no GUID failed too.
AdapterListing checkedListing(AdapterListing listing, const QElapsedTimer &timer)
{
    listing.elapsedMs = timer.nsecsElapsed() / 1e6;
    if (!listing.problem.isEmpty())
        listing.guids.clear();
    else if (listing.guids.isEmpty())
        listing.problem = QStringLiteral("no adapter listed");
    return listing;
}

// wmic is an optional feature of Windows, left out of new installations of
// Windows 11: not installed is a problem of its own.
AdapterListing listWithWmic()
{
    QElapsedTimer timer;
    timer.start();
    const CommandOutcome outcome = runSystemCommand(wmic, wmicArguments, commandTimeoutMs);
    const bool notInstalled =
        !outcome.started && QStandardPaths::findExecutable(systemProgram(wmic)).isEmpty();
    QString problem;
    if (notInstalled)
        problem = QStringLiteral("not installed");
    else if (!outcome.succeeded())
        problem = outcome.failureText(commandTimeoutMs);
    return checkedListing({parseAdapterGuids(outcome.output), problem, 0, notInstalled}, timer);
}

// On a worker thread, since the call waits on the adapter stack, given
// `timeoutMs`.
AdapterListing listNatively(int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    const auto listed = std::make_shared<NativeAdapterList>();
    const BoundedCall call([listed] { *listed = listAdaptersNatively(); });
    if (!call.waitUntil(Deadline(timeoutMs))) {
        return checkedListing(
            {{}, QStringLiteral("did not return within %1 ms").arg(timeoutMs), 0, false, true},
            timer);
    }
    return checkedListing({adapterGuidsOfNames(listed->names), listed->problem}, timer);
}

QSet<QString> answered(const QString &source, const QString &lister, const AdapterListing &listing)
{
    logInfo(source, QStringLiteral("Adapters listed by %1: %2 in %3 ms")
                        .arg(lister, QString::number(listing.guids.size()),
                             QString::number(listing.elapsedMs, 'f', 1)));
    return listing.guids;
}

// One stack's "NameServer" value as the inventory reads it; what it leaves
// out is named in one warning per kind, cut to a bounded length.
NameServerList nameServerAddresses(const QString &source, const QString &value, const QString &id,
                                   const QString &name, bool ipv4)
{
    const NameServerList list = parseNameServerValue(value, ipv4);
    const QString where =
        QStringLiteral("NameServer of '%1' (ID: %2, %3)")
            .arg(name, id, ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6"));
    if (!list.rejected.isEmpty()) {
        logWarning(source, QStringLiteral("%1 holds items that are not addresses, left out: %2")
                               .arg(where, boundedForLog(list.rejected.join(QLatin1Char(' ')))));
    }
    if (list.ignored > 0) {
        logWarning(source, QStringLiteral("%1 lists more than %2 servers, left out: %3 more")
                               .arg(where, QString::number(maxServersPerProtocol),
                                    QString::number(list.ignored)));
    }
    return list;
}

} // namespace

DnsManager::DnsManager(Deadline commandDeadline, QObject *parent)
    : QObject(parent), commandDeadline(commandDeadline),
      nativeDns(std::make_unique<InterfaceDns>()), resolverCacheFlush(findResolverCacheFlush())
{
    setObjectName(QStringLiteral("DnsManager"));
    connect(&process, &ChildProcess::processFinished, this, &DnsManager::onProcessFinished);
}

DnsManager::~DnsManager()
{
    process.waitForFinished(flushWaitMs);
}

const VpnAdapters &DnsManager::vpnAdapters()
{
    if (!vpnAdapterReading)
        vpnAdapterReading = VpnAdapters::read().ownedBy(ownCandidates);
    return *vpnAdapterReading;
}

void DnsManager::refreshInterfaces()
{
    loadInterfaces();
    logInterfaces();
}

bool DnsManager::deadlineExpired(const QString &undone) const
{
    if (!commandDeadline.hasExpired())
        return false;
    logWarning(
        objectName(),
        QStringLiteral("The run's time for system commands is over, not started: %1").arg(undone));
    return true;
}

QSet<QString> DnsManager::adapterGuids()
{
    const AdapterListing wmicListing =
        deadlineExpired(wmic) ? AdapterListing{{}, QStringLiteral("not started"), 0, false}
                              : listWithWmic();
    if (wmicListing.problem.isEmpty())
        return answered(objectName(), wmic, wmicListing);
    if (wmicListing.notInstalled) {
        logInfo(
            objectName(),
            QStringLiteral("wmic is not installed, listing adapters with %1").arg(nativeLister));
    }
    const AdapterListing nativeListing =
        listNatively(boundOnThisMachine("dns-call-timeout-ms", commandTimeoutMs));
    nativeAbandoned = nativeAbandoned || nativeListing.abandoned;
    if (nativeListing.problem.isEmpty()) {
        if (!wmicListing.notInstalled) {
            logWarning(
                objectName(),
                QStringLiteral("Listing adapters with wmic failed (%1)").arg(wmicListing.problem));
        }
        return answered(objectName(), nativeLister, nativeListing);
    }
    // One warning for both: the run then changes no interface.
    logWarning(objectName(), QStringLiteral("Listing adapters failed with wmic (%1) and with %2 "
                                            "(%3), no interface is listed")
                                 .arg(wmicListing.problem, nativeLister, nativeListing.problem));
    return {};
}

void DnsManager::loadInterfaces()
{
    inventory.clear();
    leftOutInterfaces.clear();
    partlyRead.clear();
    const QSet<QString> guids = adapterGuids();
    listed = !guids.isEmpty();
    QList<InterfaceInfo> ipv4Records;
    QList<InterfaceInfo> ipv6Records;
    QSet<QString> unreadable;
    readNameServers(ipv4Records, guids, true, &unreadable);
    readNameServers(ipv6Records, guids, false, &unreadable);
    // What such an interface holds is unknown: a vpn run would record it as
    // no servers, and a switch back would clear it. It stays as it is.
    ipv4Records = recordsOtherThan(ipv4Records, unreadable);
    ipv6Records = recordsOtherThan(ipv6Records, unreadable);

    // The two stacks are paired by interface ID, never by position: a
    // positional pairing would hand one interface another's IPv6 servers.
    const QHash<QString, const InterfaceInfo *> ipv6ById = recordsById(ipv6Records);
    QList<InterfaceInfo> paired;
    for (const InterfaceInfo &ipv4Record : ipv4Records) {
        const InterfaceInfo *ipv6Record = ipv6ById.value(ipv4Record.id().toUpper());
        if (!ipv6Record)
            continue;
        paired.append(InterfaceInfo(ipv4Record.id(), ipv4Record.name(), ipv4Record.ipv4Dns(),
                                    ipv6Record->ipv6Dns(), vpnAdapters()));
    }
    logUnpairedInterfaces(ipv4Records, ipv6Records);
    inventory = paired;
    const int vpnCount =
        int(std::count_if(inventory.cbegin(), inventory.cend(),
                          [](const InterfaceInfo &record) { return record.isVpn(); }));
    if (vpnCount > 1) {
        logWarning(objectName(), QStringLiteral("%1 TAP adapters are listed and no entry or record "
                                                "names the VPN's own: every one counts as the "
                                                "VPN's, and none is switched back from a record")
                                     .arg(vpnCount));
    }
}

void DnsManager::logUnpairedInterfaces(const QList<InterfaceInfo> &ipv4Records,
                                       const QList<InterfaceInfo> &ipv6Records)
{
    const QList<InterfaceInfo> ipv4Only = recordsOtherThan(ipv4Records, upperCaseIds(ipv6Records));
    const QList<InterfaceInfo> ipv6Only = recordsOtherThan(ipv6Records, upperCaseIds(ipv4Records));
    if (ipv4Only.isEmpty() && ipv6Only.isEmpty())
        return;
    // The critical line still flags a registry that is not as Windows keeps
    // it; since the stacks are paired by ID, only the interfaces named in the
    // warnings are left out.
    qCritical().noquote() << objectName() << ": "
                          << "DNS internal issue: Ipv4/Ipv6 mismatch";
    const auto leaveOutUnpaired = [this](const InterfaceInfo &record, const QString &missing) {
        const QString reason = QStringLiteral("no key in the %1 stack").arg(missing);
        logWarning(objectName(), QStringLiteral("Interface %1 ('%2') has %3, left unchanged")
                                     .arg(record.id(), record.name(), reason));
        leaveOut(record.id(), record.name(), reason);
    };
    for (const InterfaceInfo &record : ipv4Only)
        leaveOutUnpaired(record, QStringLiteral("IPv6"));
    for (const InterfaceInfo &record : ipv6Only)
        leaveOutUnpaired(record, QStringLiteral("IPv4"));
}

void DnsManager::leaveOut(const QString &id, const QString &name, const QString &reason)
{
    for (const LeftOut &interface : qAsConst(leftOutInterfaces)) {
        if (sameInterfaceId(interface.id, id))
            return;
    }
    leftOutInterfaces.append({id, name, reason});
}

void DnsManager::readNameServers(QList<InterfaceInfo> &records, const QSet<QString> &guids,
                                 bool ipv4, QSet<QString> *unreadable)
{
    RegistryKey interfacesKey(ipv4 ? ipv4InterfacesKey : ipv6InterfacesKey);
    for (const QString &id : interfacesKey.subkeys()) {
        // The adapter list is checked first: it spares the connection key's
        // reads for the interfaces it does not list.
        if (!guids.contains(id.toUpper()))
            continue;
        if (!isInterfaceGuid(id)) {
            logWarning(
                objectName(),
                QStringLiteral("Interface key '%1' in the %2 stack is no GUID, left unchanged")
                    .arg(boundedForLog(id),
                         ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6")));
            continue;
        }
        const QString name = connectionName(id);
        if (name.isEmpty())
            continue;
        interfacesKey.enter(id);
        const std::optional<QString> value = interfacesKey.stringValue(nameServerKey);
        interfacesKey.leave();
        if (!value) {
            logWarning(objectName(),
                       QStringLiteral("NameServer of '%1' (ID: %2, %3) cannot be read, the "
                                      "interface is left unchanged")
                           .arg(name, id, ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6")));
            unreadable->insert(id.toUpper());
            leaveOut(id, name,
                     QStringLiteral("%1 NameServer cannot be read")
                         .arg(ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6")));
            continue;
        }
        const NameServerList list = nameServerAddresses(objectName(), *value, id, name, ipv4);
        if (!list.rejected.isEmpty() || list.ignored > 0)
            partlyRead.insert(id.toUpper());
        records.append(ipv4 ? InterfaceInfo(id, name, list.servers, {}, vpnAdapters())
                            : InterfaceInfo(id, name, {}, list.servers, vpnAdapters()));
    }
}

QString DnsManager::connectionName(const QString &id)
{
    const RegistryKey connection(connectionKeyTemplate.arg(id));
    if (connection.value(QStringLiteral("PnPInstanceId")) == kernelDebugAdapter)
        return QString();
    return connection.value(QStringLiteral("Name"));
}

const InterfaceInfo *DnsManager::interfaceWithId(const QString &id) const
{
    for (const InterfaceInfo &record : inventory) {
        if (sameInterfaceId(record.id(), id))
            return &record;
    }
    return nullptr;
}

void DnsManager::logInterfaces()
{
    for (const InterfaceInfo &record : qAsConst(inventory)) {
        logInfo(objectName(),
                QStringLiteral("ID: %1, name: '%2', VPN connection: '%3', IPv4 DNS: ")
                        .arg(record.id(), record.name(), boolToString(record.isVpn())) +
                    serverListForLog(record.ipv4Dns()) + QStringLiteral(", IPv6 DNS: ") +
                    serverListForLog(record.ipv6Dns()));
    }
}

QString DnsManager::readNameServer(const QString &id, bool ipv4) const
{
    const QString key = (ipv4 ? ipv4InterfacesKey : ipv6InterfacesKey) + QLatin1Char('\\') + id;
    return RegistryKey(key).value(nameServerKey);
}

bool DnsManager::setNatively(const QString &id, const QString &name, const QString &servers,
                             bool ipv4)
{
    nativeAsked = true;
    // Past the deadline the netsh path names what is left undone.
    if (!nativeDns->isAvailable() || nativeAbandoned || commandDeadline.hasExpired())
        return false;
    QElapsedTimer timer;
    timer.start();
    const int timeoutMs = boundOnThisMachine("dns-call-timeout-ms", commandTimeoutMs);
    const InterfaceDns::Outcome outcome = nativeDns->set(id, !ipv4, servers, timeoutMs);
    nativeNs += timer.nsecsElapsed();
    const QString which = QStringLiteral("'%1' (%2)").arg(name, protocolName(ipv4));
    if (outcome.kind == InterfaceDns::Outcome::TimedOut) {
        // It may still change the list: the interface stays switched, and no
        // further call is risked in this run.
        nativeAbandoned = true;
        abandonedIds = unitedIds(abandonedIds, {id});
        logWarning(objectName(), QStringLiteral("SetInterfaceDnsSettings did not return within %1 "
                                                "ms for %2, netsh sets the rest of this run")
                                     .arg(QString::number(timeoutMs), which));
        return false;
    }
    if (outcome.error != 0) {
        logWarning(objectName(), QStringLiteral("SetInterfaceDnsSettings failed for %1 with error "
                                                "%2, setting it with netsh")
                                     .arg(which, QString::number(outcome.error)));
        return false;
    }
    if (canonicalServersText(readNameServer(id, ipv4)) != servers) {
        logWarning(objectName(), QStringLiteral("SetInterfaceDnsSettings left %1 other than "
                                                "asked, setting it with netsh")
                                     .arg(which));
        return false;
    }
    ++nativeLists;
    return true;
}

bool DnsManager::replaceDnsSettings(const QString &id, const QString &name, const QString &servers,
                                    bool ipv4)
{
    const QString before = readNameServer(id, ipv4);
    if (canonicalServersText(before) == servers) {
        logDnsReplacement(id, name, before, servers, QStringLiteral(", skipped"));
        return true;
    }
    if (setNatively(id, name, servers, ipv4)) {
        logDnsReplacement(id, name, before, servers,
                          QStringLiteral(", status: 'true', via SetInterfaceDnsSettings"));
        return true;
    }

    // An empty request clears the list: "none" is netsh's word for that.
    const QStringList entries =
        servers.isEmpty() ? QStringList(QStringLiteral("none")) : splitServers(servers);
    for (int position = 0; position < entries.size(); ++position) {
        if (deadlineExpired(
                QStringLiteral("DNS servers (%1) of '%2' for %3")
                    .arg(servers, name, ipv4 ? QStringLiteral("IPv4") : QStringLiteral("IPv6"))))
            break;
        const QStringList arguments = netshDnsArguments(ipv4, name, entries.at(position), position);
        QElapsedTimer timer;
        timer.start();
        const CommandOutcome outcome =
            runSystemCommand(QStringLiteral("netsh"), arguments, commandTimeoutMs);
        ++netshCommands;
        netshNs += timer.nsecsElapsed();
        if (outcome.succeeded())
            continue;
        const QString output = outcome.started && !outcome.timedOut
                                   ? QString::fromUtf8(outcome.output).simplified()
                                   : outcome.failureText(commandTimeoutMs);
        logInfo(objectName(),
                QStringLiteral("Subprocess (%1) finished with status: '%2', output: '%3'")
                    .arg(arguments.join(QLatin1Char(' ')), boolToString(false), output));
    }

    const bool result = canonicalServersText(readNameServer(id, ipv4)) == servers;
    logDnsReplacement(id, name, before, servers,
                      QStringLiteral(", status: '%1', via netsh").arg(boolToString(result)));
    return result;
}

void DnsManager::logDnsReplacement(const QString &id, const QString &name, const QString &before,
                                   const QString &requested, const QString &suffix)
{
    logInfo(objectName(),
            QStringLiteral("Replace DNS settings for ID: %1, name: '%2' (%3) -> (%4)%5")
                .arg(id, name, before, requested, suffix));
}

bool DnsManager::replaceInterfaceDns(const InterfaceInfo &record, const QStringList &ipv4Servers,
                                     const QStringList &ipv6Servers)
{
    const bool ipv4Done =
        replaceDnsSettings(record.id(), record.name(), joinServers(ipv4Servers), true);
    const bool ipv6Done =
        replaceDnsSettings(record.id(), record.name(), joinServers(ipv6Servers), false);
    return ipv4Done && ipv6Done && !containsId(abandonedIds, record.id());
}

void DnsManager::setDnsFromVpn(const QStringList &ipv4Servers, const QStringList &ipv6Servers,
                               const QStringList &ids)
{
    logInfo(objectName(),
            QStringLiteral("Set DNS settings from VPN, IPv4 DNS: (%1), IPv6 DNS: (%2)")
                .arg(joinServers(ipv4Servers), joinServers(ipv6Servers)));
    for (const InterfaceInfo &record : qAsConst(inventory)) {
        if ((record.isVpn() || containsId(ids, record.id())) &&
            !replaceInterfaceDns(record, ipv4Servers, ipv6Servers)) {
            // The info lines above say what failed; this one says what it means.
            logWarning(objectName(), QStringLiteral("DNS servers of '%1' are not the VPN's, it may "
                                                    "resolve around the VPN")
                                         .arg(record.name()));
        }
    }
    flushDns();
}

QStringList DnsManager::setDnsFromUser(const QStringList &ids)
{
    logInfo(objectName(), QStringLiteral("Set DNS settings from user"));
    QStringList restored;
    for (const InterfaceInfo &record : qAsConst(inventory)) {
        // The VPN's own adapter keeps the VPN's servers; where none of several
        // TAP adapters is known as its own, one the caller names is restored.
        if (!containsId(ids, record.id()) || (record.isVpn() && !vpnAdapters().isAmbiguous()))
            continue;
        if (replaceInterfaceDns(record, record.ipv4Dns(), record.ipv6Dns()))
            restored.append(record.id());
    }
    flushDns();
    return restored;
}

void DnsManager::mergeUserDns(const QList<InterfaceInfo> &saved)
{
    for (InterfaceInfo &record : inventory) {
        const auto match =
            std::find_if(saved.cbegin(), saved.cend(), [&](const InterfaceInfo &candidate) {
                return sameInterfaceId(candidate.id(), record.id());
            });
        if (match == saved.cend())
            continue;
        record.setIpv4Dns(match->ipv4Dns());
        record.setIpv6Dns(match->ipv6Dns());
    }
}

void DnsManager::finishRun()
{
    if (nativeAsked && !nativeDns->isAvailable()) {
        logInfo(objectName(), QStringLiteral("SetInterfaceDnsSettings is not in iphlpapi.dll "
                                             "(Windows before 10 2004), DNS lists are set with "
                                             "netsh"));
    }
    // An abandoned call is given as long as a command started at the
    // deadline (or now, without one) would have.
    const Deadline bound((commandDeadline.isNever() ? 0 : commandDeadline.remainingMs()) +
                         boundOnThisMachine("dns-call-timeout-ms", commandTimeoutMs));
    for (const InterfaceDns::Abandoned &call : nativeDns->waitForAbandoned(bound)) {
        const InterfaceInfo *record = interfaceWithId(call.id);
        const QString which = QStringLiteral("'%1' (%2)")
                                  .arg(record ? record->name() : call.id, protocolName(!call.ipv6));
        if (!call.returned) {
            logCritical(objectName(), QStringLiteral("SetInterfaceDnsSettings for %1 has not "
                                                     "returned, it may still change that list")
                                          .arg(which));
            continue;
        }
        logInfo(objectName(),
                QStringLiteral("SetInterfaceDnsSettings for %1 returned late, the list holds (%2)")
                    .arg(which, readNameServer(call.id, !call.ipv6)));
    }
    logInfo(objectName(), QStringLiteral("DNS lists set: %1 natively in %2 ms, %3 netsh commands "
                                         "in %4 ms")
                              .arg(nativeLists)
                              .arg(qRound64(nativeNs / 1e6))
                              .arg(netshCommands)
                              .arg(qRound64(netshNs / 1e6)));
}

bool DnsManager::flushDirectly()
{
    if (nativeAbandoned) {
        logInfo(objectName(), QStringLiteral("DnsFlushResolverCache not called after a system "
                                             "call that did not return"));
        return false;
    }
    const auto outcome = std::make_shared<FlushOutcome>();
    const BoundedCall call([outcome, flush = resolverCacheFlush] { *outcome = flush(); });
    const int timeoutMs = boundOnThisMachine("dns-call-timeout-ms", flushWaitMs);
    if (!call.waitUntil(Deadline(timeoutMs))) {
        nativeAbandoned = true;
        logWarning(
            objectName(),
            QStringLiteral("DnsFlushResolverCache did not return within %1 ms").arg(timeoutMs));
        return false;
    }
    if (outcome->failure.isEmpty())
        return true;
    logWarning(QStringLiteral("Dns"),
               QStringLiteral("%1: %2").arg(outcome->failure).arg(outcome->error));
    return false;
}

void DnsManager::flushDns()
{
    const bool ok = flushDirectly();
    logInfo(objectName(),
            QStringLiteral("Flush DNS finished with status '%1'").arg(boolToString(ok)));
    if (ok || deadlineExpired(QStringLiteral("Flush DNS (failback)")))
        return;
    logInfo(objectName(), QStringLiteral("Flush DNS (failback)"));
    process.start(systemProgram(QStringLiteral("ipconfig")), {QStringLiteral("/flushdns")});
}

void DnsManager::onProcessFinished(bool status)
{
    logInfo(
        objectName(),
        QStringLiteral("Flush DNS process finished with status '%1'").arg(boolToString(status)));
}
