#include "switchedinterfaces.h"

#include "dns/dnsmanager.h"
#include "dns/interfaceid.h"
#include "store/dnsdatafile.h"

#include <algorithm>

InterfaceEntry entryOf(const InterfaceInfo &record)
{
    InterfaceEntry entry;
    entry.id = record.id();
    entry.ipv4 = record.ipv4Dns();
    entry.ipv6 = record.ipv6Dns();
    return entry;
}

QList<InterfaceEntry> switchableEntries(const DnsManager &manager)
{
    QList<InterfaceEntry> entries;
    for (const InterfaceInfo &record : manager.interfaces()) {
        if (!record.isVpn())
            entries.append(entryOf(record));
    }
    return entries;
}

QList<InterfaceEntry> entriesToSwitch(const DnsManager &manager, const QStringList &switched,
                                      QStringList *leftAlone)
{
    QList<InterfaceEntry> entries = switchableEntries(manager);
    std::stable_partition(entries.begin(), entries.end(), [&](const InterfaceEntry &entry) {
        return containsId(switched, entry.id);
    });
    // A switched interface not listed now (unplugged) stays switched, and so
    // takes its place among those the next run reads back.
    const int unlistedSwitched =
        int(std::count_if(switched.cbegin(), switched.cend(),
                          [&](const QString &id) { return !manager.interfaceWithId(id); }));
    const int room = qMax(0, entriesPerRun() - unlistedSwitched);
    for (const InterfaceEntry &entry : entries.mid(room))
        leftAlone->append(manager.interfaceWithId(entry.id)->name());
    return entries.mid(0, room);
}

QStringList switchedIds(DnsManager &manager, const DnsDataFile &dataFile)
{
    QStringList ids;
    for (const QString &id : dataFile.switchedIds(switchableEntries(manager))) {
        if (!manager.vpnAdapters().contains(id))
            ids.append(id);
    }
    // A record that names no adapter of the VPN's own was written as if every
    // TAP adapter were the VPN's: another one on a recorded VPN server was
    // switched by it, and must not be recorded with those as its own.
    if (!dataFile.vpnRecorded() || !dataFile.vpnAdapter().isEmpty())
        return ids;
    for (const InterfaceEntry &entry : switchableEntries(manager)) {
        if (manager.vpnAdapters().isTapAdapter(entry.id) &&
            holdsAnyOf(entry.ipv4 + entry.ipv6, dataFile.recordVpnServers()))
            ids = unitedIds(ids, {entry.id});
    }
    return ids;
}
