#pragma once

#include "dns/servers.h"

#include <QString>
#include <QStringList>

// Interface entries: an interface ID, "@", and that interface's servers
// separated by ",", as given on the command line and saved in the data file.

// Bounds that keep a run's time and log finite whatever it is given. Windows
// machines have a few dozen interfaces even with virtual adapters, and an
// interface holds a handful of servers per protocol: these leave a wide
// margin, yet stop a hostile command line or data file from running
// thousands of netsh commands.
const int maxEntriesPerRun = 1024;
// An entry lists both protocols, so that a saved entry of an interface with
// the most servers the inventory keeps (maxServersPerProtocol) is read whole.
const int maxItemsPerEntry = 2 * maxServersPerProtocol;

struct ParsedEntry
{
    QString id;
    QStringList ipv4;     // in their order, trimmed
    QStringList ipv6;     // in their order, in canonicalAddress form
    QStringList rejected; // items that are no plain address, to be named in warnings
    int ignoredItems = 0; // items past maxItemsPerEntry, not looked at
};

// Reads one entry. Without "@" it has no servers; with more than one, none
// either, and all after the first "@" is rejected. A servers text without
// "," is one item; with "," every item, empty ones included, is either a
// plain address (isPlainAddress once blanks around it are trimmed) or
// rejected. A text that QHostAddress reads as an address but that is not
// plain is rejected too. Only the first maxItemsPerEntry items are read.
ParsedEntry parseInterfaceEntry(const QString &word);

// The entries of a saved "Args" value: white space simplified, split at the
// separator, each part trimmed, blank parts left out.
QStringList parseSavedArgs(const QString &value, const QString &separator);

// The words of a command line for the start-up line: the first
// maxEntriesPerRun, each cut by boundedForLog, joined by blanks.
QString argsForLog(const QStringList &args);

// The ID of an entry: everything before its first "@".
QString entryId(const QString &entry);

// The IDs of the entries whose servers hold one of `servers`.
QStringList idsOnServers(const QStringList &entries, const QStringList &servers);

// The entries a vpn run records, from the entries saved by earlier runs and
// the current entry of each listed interface. An interface takes its current
// entry, unless it is still switched to the VPN by an earlier run: listed in
// `switched`, or with servers in force that hold one of `vpnServers`. Then
// its saved entry, if any, is kept. Saved entries of interfaces not listed
// now are kept as well, so nothing saved is lost. IDs are matched ignoring
// letter case.
QStringList entriesToRecord(const QStringList &saved, const QStringList &current,
                            const QStringList &switched, const QStringList &vpnServers);
