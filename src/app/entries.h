#pragma once

#include <QString>
#include <QStringList>

// Interface entries: an interface ID, "@", and that interface's servers
// separated by ",", as given on the command line and saved in the data file.

struct ParsedEntry
{
    QString id;
    QStringList ipv4;     // in their order, trimmed
    QStringList ipv6;     // in their order, trimmed
    QStringList rejected; // items of a comma list that are no address
};

// Reads one entry. Without exactly one "@" it has no servers. A servers text
// without "," is one address or nothing; with "," every item, empty ones
// included, is either an address or rejected.
ParsedEntry parseInterfaceEntry(const QString &word);

// The entries of a saved "Args" value: white space simplified, split at the
// separator, each part trimmed, blank parts left out.
QStringList parseSavedArgs(const QString &value, const QString &separator);

// The ID of an entry: everything before its first "@".
QString entryId(const QString &entry);

// The entries a vpn run records, from the entries saved by earlier runs and
// the current entry of each listed interface. An interface takes its current
// entry, unless its servers in force hold one of `vpnServers`: then they are
// the VPN's from a switch that was not undone, and its saved entry, if any,
// is kept. Saved entries of interfaces not listed now are kept as well, so
// nothing saved is lost. IDs are matched ignoring letter case.
QStringList entriesToRecord(const QStringList &saved, const QStringList &current,
                            const QStringList &vpnServers);
