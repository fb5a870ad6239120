#include "entries.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "utils/machinebound.h"
#include "utils/text.h"

#include <algorithm>

InterfaceEntry parseInterfaceEntry(const QString &word)
{
    const QStringList parts = word.split(QLatin1Char('@'));
    InterfaceEntry entry;
    entry.id = parts.first().trimmed();
    if (parts.size() == 1)
        return entry;
    const QString servers = word.section(QLatin1Char('@'), 1);
    if (parts.size() > 2) {
        // Which "@" ends the ID is anybody's guess: no server is taken.
        entry.rejected.append(servers);
        return entry;
    }

    QStringList items;
    if (servers.contains(QLatin1Char(',')))
        items = servers.split(QLatin1Char(','));
    else if (!servers.simplified().isEmpty())
        items.append(servers.simplified());

    entry.ignoredItems = qMax(0, items.size() - maxItemsPerEntry);
    // QHostAddress accepts blanks around an address; they must not reach netsh,
    // the data file or the comparison with the registry.
    for (const QString &item : items.mid(0, maxItemsPerEntry)) {
        const QString address = item.trimmed();
        if (isPlainAddress(address) && isIPv4(address))
            entry.ipv4.append(address);
        else if (isPlainAddress(address) && isIPv6(address))
            entry.ipv6.append(canonicalAddress(address));
        else
            entry.rejected.append(item);
    }
    entry.ipv4 = withoutRepeats(entry.ipv4);
    entry.ipv6 = withoutRepeats(entry.ipv6);
    return entry;
}

QString formatInterfaceEntry(const InterfaceEntry &entry)
{
    const QString text = interfaceEntry(entry.id, entry.ipv4, entry.ipv6);
    if (entry.isWhole())
        return text;
    // Rejected items go last, so that the entry read again is still not
    // whole and never restored as if it were.
    return text + (text.endsWith(QLatin1Char('@')) ? QString() : QStringLiteral(",")) +
           entry.rejected.join(QLatin1Char(','));
}

QStringList parseSavedArgs(const QString &value, const QString &separator)
{
    // Each part is trimmed as well: white space next to a separator would
    // otherwise become part of an ID that then matches no interface.
    QStringList entries;
    for (const QString &part : value.simplified().split(separator, Qt::SkipEmptyParts)) {
        if (!part.trimmed().isEmpty())
            entries.append(part.trimmed());
    }
    return entries;
}

int entriesPerRun()
{
    static const int bound = boundOnThisMachine("entries-per-run", maxEntriesPerRun);
    return bound;
}

bool namesAnyServer(const QStringList &words)
{
    const QStringList read = words.mid(0, entriesPerRun());
    return std::any_of(read.cbegin(), read.cend(), [](const QString &word) {
        const InterfaceEntry entry = parseInterfaceEntry(word);
        return !entry.ipv4.isEmpty() || !entry.ipv6.isEmpty();
    });
}

QStringList nonEmptyRejectedItems(const QStringList &words)
{
    QStringList items;
    for (const QString &word : words.mid(0, entriesPerRun())) {
        for (const QString &item : parseInterfaceEntry(word).rejected) {
            if (!item.trimmed().isEmpty())
                items.append(item);
        }
    }
    return items;
}

QString argsForLog(const QStringList &args)
{
    QStringList words;
    for (const QString &word : args.mid(0, entriesPerRun()))
        words.append(boundedForLog(word));
    return words.join(QLatin1Char(' '));
}

QStringList idsOnServers(const QList<InterfaceEntry> &entries, const QStringList &servers)
{
    QStringList ids;
    for (const InterfaceEntry &entry : entries) {
        if (holdsAnyOf(entry.ipv4 + entry.ipv6, servers))
            ids.append(entry.id);
    }
    return ids;
}

const InterfaceEntry *findEntry(const QList<InterfaceEntry> &entries, const QString &id)
{
    const auto match = std::find_if(entries.cbegin(), entries.cend(), [&](const InterfaceEntry &e) {
        return sameInterfaceId(e.id, id);
    });
    return match == entries.cend() ? nullptr : &*match;
}

InterfaceEntry withServersReadBack(InterfaceEntry entry, int *leftOut)
{
    *leftOut = qMax(0, entry.ipv4.size() - maxServersPerProtocol) +
               qMax(0, entry.ipv6.size() - maxServersPerProtocol);
    entry.ipv4 = entry.ipv4.mid(0, maxServersPerProtocol);
    entry.ipv6 = entry.ipv6.mid(0, maxServersPerProtocol);
    return entry;
}

InterfaceEntry withoutServers(InterfaceEntry entry, const QStringList &servers)
{
    for (const QString &server : servers) {
        entry.ipv4.removeAll(server);
        entry.ipv6.removeAll(server);
    }
    return entry;
}

QList<InterfaceEntry> entriesToRecord(const QList<InterfaceEntry> &saved,
                                      const QList<InterfaceEntry> &current,
                                      const QStringList &switched, const QStringList &vpnServers,
                                      QStringList *unrecorded)
{
    QList<InterfaceEntry> recorded;
    QStringList listedIds;
    for (const InterfaceEntry &entry : current) {
        listedIds.append(entry.id);
        const InterfaceEntry *match = findEntry(saved, entry.id);
        if (!containsId(switched, entry.id)) {
            recorded.append(entry);
        } else if (match && match->isWhole()) {
            recorded.append(*match);
        } else {
            recorded.append(withoutServers(entry, vpnServers));
            unrecorded->append(entry.id);
        }
    }
    for (const InterfaceEntry &entry : saved) {
        if (!containsId(listedIds, entry.id))
            recorded.append(entry);
    }
    return recorded;
}
