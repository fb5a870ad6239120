#include "switchedinterfaces.h"

#include "dns/dnsmanager.h"
#include "store/dnsdatafile.h"

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

QStringList switchedIds(DnsManager &manager, const DnsDataFile &dataFile)
{
    QStringList ids;
    for (const QString &id : dataFile.switchedIds(switchableEntries(manager))) {
        if (!manager.vpnAdapters().contains(id))
            ids.append(id);
    }
    return ids;
}
