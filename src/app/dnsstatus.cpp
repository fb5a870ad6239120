#include "dnsstatus.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "utils/text.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

const QString noRecordReason =
    QStringLiteral("no record: a reset clears every list that is a lone VPN server");
const QString notListedReason = QStringLiteral("not listed");

// Gives the interface its cause and whether it is a possible leak, where the
// record holds a switch (`switchRecorded`) and it is not on the VPN's servers.
void assessLeak(InterfaceStatus *interface, bool switchRecorded, const QString &cause)
{
    if (!switchRecorded || interface->onVpnServers)
        return;
    interface->cause = cause;
    interface->possibleLeak = !interface->vpnAdapter && cause != QLatin1String("notListed");
}

// True when the list is exactly the recorded server, compared in one form;
// an empty record asks for an empty list.
bool holdsExactly(const QStringList &servers, const QString &recorded)
{
    return canonicalServersText(joinServers(servers)) == canonicalServersText(recorded);
}

InterfaceStatus interfaceStatus(const QString &id, const QString &name, const RecordReading &record)
{
    InterfaceStatus status;
    status.id = id;
    status.name = name;
    status.switched = containsId(record.switched, id);
    if (const InterfaceEntry *saved = findEntry(record.saved, id)) {
        status.hasSaved = true;
        status.savedIpv4 = saved->ipv4;
        status.savedIpv6 = saved->ipv6;
    }
    return status;
}

bool listsId(const QList<InterfaceStatus> &interfaces, const QString &id)
{
    for (const InterfaceStatus &interface : interfaces) {
        if (sameInterfaceId(interface.id, id))
            return true;
    }
    return false;
}

bool holdsLoneVpnServer(const QList<InterfaceInfo> &inventory, const QStringList &vpnServers)
{
    for (const InterfaceInfo &record : inventory) {
        if (!record.isVpn() && (isLoneVpnServer(record.ipv4Dns(), vpnServers) ||
                                isLoneVpnServer(record.ipv6Dns(), vpnServers)))
            return true;
    }
    return false;
}

QString serversText(const QStringList &ipv4, const QStringList &ipv6)
{
    const QStringList servers = ipv4 + ipv6;
    return servers.isEmpty() ? QStringLiteral("none") : servers.join(QStringLiteral(", "));
}

QString roleText(const InterfaceStatus &interface)
{
    QStringList roles;
    if (interface.vpnAdapter)
        roles.append(QStringLiteral("VPN adapter"));
    else
        roles.append(interface.switched ? QStringLiteral("switched")
                                        : QStringLiteral("not switched"));
    roles.append(interface.onVpnServers ? QStringLiteral("on VPN servers")
                                        : QStringLiteral("not on VPN servers"));
    if (!interface.leftOut.isEmpty())
        roles.append(QStringLiteral("left out: ") + interface.leftOut);
    if (interface.possibleLeak)
        roles.append(QStringLiteral("possible leak: ") + interface.cause);
    return roles.join(QStringLiteral(", "));
}

QJsonValue jsonList(const QStringList &servers)
{
    return QJsonArray::fromStringList(servers);
}

QJsonObject jsonInterface(const InterfaceStatus &interface)
{
    QJsonObject object;
    object.insert(QStringLiteral("id"), interface.id);
    object.insert(QStringLiteral("name"), interface.name);
    object.insert(QStringLiteral("vpnAdapter"), interface.vpnAdapter);
    object.insert(QStringLiteral("switched"), interface.switched);
    object.insert(QStringLiteral("onVpnServers"), interface.onVpnServers);
    object.insert(QStringLiteral("possibleLeak"), interface.possibleLeak);
    object.insert(QStringLiteral("cause"),
                  interface.cause.isEmpty() ? QJsonValue() : QJsonValue(interface.cause));
    object.insert(QStringLiteral("serversRead"), interface.serversRead);
    object.insert(QStringLiteral("leftOut"),
                  interface.leftOut.isEmpty() ? QJsonValue() : QJsonValue(interface.leftOut));
    object.insert(QStringLiteral("ipv4"), jsonList(interface.ipv4));
    object.insert(QStringLiteral("ipv6"), jsonList(interface.ipv6));
    object.insert(QStringLiteral("savedIpv4"),
                  interface.hasSaved ? jsonList(interface.savedIpv4) : QJsonValue());
    object.insert(QStringLiteral("savedIpv6"),
                  interface.hasSaved ? jsonList(interface.savedIpv6) : QJsonValue());
    return object;
}

} // namespace

DnsStatus unknownStatus(const QString &reason)
{
    DnsStatus status;
    status.reason = reason;
    return status;
}

DnsStatus assessStatus(const QList<InterfaceInfo> &inventory,
                       const QList<DnsManager::LeftOut> &leftOut, const QSet<QString> &partlyRead,
                       const RecordReading &record)
{
    DnsStatus status;
    status.vpnIpv4 = canonicalServersText(record.vpnIpv4);
    status.vpnIpv6 = canonicalServersText(record.vpnIpv6);
    bool allOnVpn = leftOut.isEmpty();
    const bool vpnRecorded = !record.vpnIpv4.isEmpty() || !record.vpnIpv6.isEmpty();
    const bool switchRecorded = record.hasRecord && !record.switched.isEmpty();
    for (const InterfaceInfo &listed : inventory) {
        InterfaceStatus interface = interfaceStatus(listed.id(), listed.name(), record);
        interface.vpnAdapter = listed.isVpn();
        interface.serversRead = true;
        interface.ipv4 = listed.ipv4Dns();
        interface.ipv6 = listed.ipv6Dns();
        // An item the inventory could not read is something besides the
        // VPN's servers, whatever it is.
        const bool onVpn = holdsExactly(interface.ipv4, record.vpnIpv4) &&
                           holdsExactly(interface.ipv6, record.vpnIpv6) &&
                           !partlyRead.contains(listed.id().toUpper());
        interface.onVpnServers = vpnRecorded && onVpn;
        allOnVpn = allOnVpn && onVpn;
        assessLeak(&interface, switchRecorded,
                   containsId(record.pastBound, listed.id()) ? QStringLiteral("pastBound")
                                                             : QStringLiteral("differs"));
        status.interfaces.append(interface);
    }
    for (const DnsManager::LeftOut &left : leftOut) {
        InterfaceStatus interface = interfaceStatus(left.id, left.name, record);
        interface.leftOut = left.reason;
        assessLeak(&interface, switchRecorded, QStringLiteral("unreadable"));
        status.interfaces.append(interface);
    }
    for (const QString &id : record.switched) {
        if (listsId(status.interfaces, id))
            continue;
        InterfaceStatus interface = interfaceStatus(id, id, record);
        interface.leftOut = notListedReason;
        assessLeak(&interface, switchRecorded, QStringLiteral("notListed"));
        status.interfaces.append(interface);
        allOnVpn = false;
    }

    status.reason = record.fallback;
    if (!record.hasRecord) {
        status.reason = joinNonEmpty({record.fallback, noRecordReason}, QStringLiteral("; "));
        status.state = record.mayHideSwitch || holdsLoneVpnServer(inventory, record.vpnServers)
                           ? DnsStatus::Partial
                           : DnsStatus::None;
    } else if (record.switched.isEmpty()) {
        status.state = DnsStatus::None;
    } else {
        status.state = allOnVpn ? DnsStatus::Switched : DnsStatus::Partial;
    }
    return status;
}

QString stateWord(DnsStatus::State state)
{
    switch (state) {
    case DnsStatus::None:
        return QStringLiteral("none");
    case DnsStatus::Switched:
        return QStringLiteral("switched");
    case DnsStatus::Partial:
        return QStringLiteral("partial");
    case DnsStatus::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QString formatStatusText(const DnsStatus &status)
{
    QString text = QStringLiteral("%1, VPN servers: %2")
                       .arg(stateWord(status.state), serversText(singleServerList(status.vpnIpv4),
                                                                 singleServerList(status.vpnIpv6)));
    if (!status.reason.isEmpty())
        text += QStringLiteral(" (%1)").arg(status.reason);
    text += QLatin1Char('\n');
    for (const InterfaceStatus &interface : status.interfaces) {
        const QString saved = interface.hasSaved
                                  ? serversText(interface.savedIpv4, interface.savedIpv6)
                                  : QStringLiteral("nothing");
        text += QStringLiteral("  '%1' %2: %3; servers: %4; saved: %5\n")
                    .arg(interface.name, interface.id, roleText(interface),
                         serversText(interface.ipv4, interface.ipv6), saved);
    }
    return text;
}

QByteArray formatStatusJson(const DnsStatus &status)
{
    QJsonArray interfaces;
    for (const InterfaceStatus &interface : status.interfaces)
        interfaces.append(jsonInterface(interface));
    QJsonObject object;
    object.insert(QStringLiteral("schemaVersion"), statusSchemaVersion);
    object.insert(QStringLiteral("version"), QStringLiteral(TARNWICK_VERSION));
    object.insert(QStringLiteral("state"), stateWord(status.state));
    object.insert(QStringLiteral("vpnIpv4"), status.vpnIpv4);
    object.insert(QStringLiteral("vpnIpv6"), status.vpnIpv6);
    object.insert(QStringLiteral("reason"), status.reason);
    object.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(status.warnings));
    object.insert(QStringLiteral("interfaces"), interfaces);
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}
