#include "entries.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "utils/text.h"

#include <algorithm>

ParsedEntry parseInterfaceEntry(const QString &word)
{
    const QStringList parts = word.split(QLatin1Char('@'));
    ParsedEntry entry;
    entry.id = parts.first();
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
    return entry;
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

QString argsForLog(const QStringList &args)
{
    QStringList words;
    for (const QString &word : args.mid(0, maxEntriesPerRun))
        words.append(boundedForLog(word));
    return words.join(QLatin1Char(' '));
}

QString entryId(const QString &entry)
{
    return entry.section(QLatin1Char('@'), 0, 0);
}

namespace {

// The servers of an entry: everything after its "@", split at ",".
QStringList entryServers(const QString &entry)
{
    return entry.section(QLatin1Char('@'), 1).split(QLatin1Char(','), Qt::SkipEmptyParts);
}

} // namespace

QStringList idsOnServers(const QStringList &entries, const QStringList &servers)
{
    QStringList ids;
    for (const QString &entry : entries) {
        if (holdsAnyOf(entryServers(entry), servers))
            ids.append(entryId(entry));
    }
    return ids;
}

QStringList entriesToRecord(const QStringList &saved, const QStringList &current,
                            const QStringList &switched, const QStringList &vpnServers)
{
    QStringList recorded;
    QStringList listedIds;
    const QStringList stillSwitched = unitedIds(switched, idsOnServers(current, vpnServers));
    for (const QString &entry : current) {
        const QString id = entryId(entry);
        listedIds.append(id);
        const auto match =
            std::find_if(saved.cbegin(), saved.cend(), [&](const QString &candidate) {
                return sameInterfaceId(entryId(candidate), id);
            });
        recorded.append(containsId(stillSwitched, id) && match != saved.cend() ? *match : entry);
    }
    for (const QString &entry : saved) {
        if (!containsId(listedIds, entryId(entry)))
            recorded.append(entry);
    }
    return recorded;
}
