#include "entries.h"

#include "dns/servers.h"
#include "utils/text.h"

#include <QSet>
#include <algorithm>

ParsedEntry parseInterfaceEntry(const QString &word)
{
    const QStringList parts = word.split(QLatin1Char('@'));
    ParsedEntry entry;
    entry.id = parts.first();
    if (parts.size() != 2)
        return entry;

    const QString &servers = parts.at(1);
    QStringList items;
    if (servers.contains(QLatin1Char(','))) {
        items = servers.split(QLatin1Char(','));
    } else {
        const QString single = servers.simplified();
        if (isIPv4(single) || isIPv6(single))
            items.append(single);
    }

    entry.ignoredItems = qMax(0, items.size() - maxItemsPerEntry);
    // QHostAddress accepts blanks around an address; they must not reach netsh,
    // the data file or the comparison with the registry.
    for (const QString &item : items.mid(0, maxItemsPerEntry)) {
        const QString address = item.trimmed();
        if (isPlainAddress(address) && isIPv4(address))
            entry.ipv4.append(address);
        else if (isPlainAddress(address) && isIPv6(address))
            entry.ipv6.append(address);
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

QStringList entriesToRecord(const QStringList &saved, const QStringList &current,
                            const QStringList &vpnServers)
{
    QStringList recorded;
    QSet<QString> listedIds;
    for (const QString &entry : current) {
        const QString id = entryId(entry).toUpper();
        listedIds.insert(id);
        const auto match =
            std::find_if(saved.cbegin(), saved.cend(), [&](const QString &candidate) {
                return entryId(candidate).toUpper() == id;
            });
        const bool onVpnServers = holdsAnyOf(entryServers(entry), vpnServers);
        recorded.append(onVpnServers && match != saved.cend() ? *match : entry);
    }
    for (const QString &entry : saved) {
        if (!listedIds.contains(entryId(entry).toUpper()))
            recorded.append(entry);
    }
    return recorded;
}
