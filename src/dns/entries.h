#pragma once

#include "servers.h"

#include <QList>
#include <QString>
#include <QStringList>

// Interface entries: an interface ID, "@", and that interface's servers
// separated by ",", as given on the command line and saved in the data file.
// Inside the tool an entry is a value (InterfaceEntry); the text form exists
// only at those two edges.

// Bounds that keep a run's time and log finite whatever it is given. Windows
// machines have a few dozen interfaces even with virtual adapters, and an
// interface holds a handful of servers per protocol: these leave a wide
// margin, yet stop a hostile command line or data file from running
// thousands of netsh commands.
const int maxEntriesPerRun = 1024;
// maxEntriesPerRun, which a test may lower on the simulated machine
// (machinebound.h, "entries-per-run"); read once per process. It bounds the
// entries a run reads of its command line and of the data file, and so the
// interfaces a vpn run switches: each of them is read back by the next run.
int entriesPerRun();
// An entry lists both protocols, so that a saved entry of an interface with
// the most servers the inventory keeps (maxServersPerProtocol) is read whole.
const int maxItemsPerEntry = 2 * maxServersPerProtocol;

struct InterfaceEntry
{
    QString id;
    QStringList ipv4;     // in their order, trimmed, each once
    QStringList ipv6;     // in their order, in canonicalAddress form, each once
    QStringList rejected; // items that are no plain address, to be named in warnings
    int ignoredItems = 0; // items past maxItemsPerEntry, not looked at

    // An entry with a rejected item says something other than what was
    // meant (a typo, blanks for commas): it is never applied or restored.
    bool isWhole() const { return rejected.isEmpty(); }
};

// Reads one entry. Its ID is trimmed, as those of a saved "Args" value are
// (parseSavedArgs). Without "@" it has no servers; with more than one, none
// either, and all after the first "@" is rejected. A servers text without
// "," is one item; with "," every item, empty ones included, is either a
// plain address (isPlainAddress once blanks around it are trimmed) or
// rejected. A text that QHostAddress reads as an address but that is not
// plain is rejected too. A server repeated in the entry counts once, at its
// first place. Only the first maxItemsPerEntry items are read.
InterfaceEntry parseInterfaceEntry(const QString &word);

// The entry's text: "ID@SERVERS" (interfaceEntry), then any rejected items,
// so that reading it again gives an entry that is whole just when this one is.
QString formatInterfaceEntry(const InterfaceEntry &entry);

// The entries of a saved "Args" value: white space simplified, split at the
// separator, each part trimmed, blank parts left out.
QStringList parseSavedArgs(const QString &value, const QString &separator);

// The words of a command line for the start-up line: the first
// entriesPerRun(), each cut by boundedForLog, joined by blanks.
QString argsForLog(const QStringList &args);

// Whether the words of a vpn run's command line name any server, as the run
// reads them: its first entriesPerRun() entries, their addresses only.
bool namesAnyServer(const QStringList &words);

// The items of those entries that are not plain addresses, but for empty
// ones (a trailing ",", blanks between two ","), which callers that join an
// empty server leave.
QStringList nonEmptyRejectedItems(const QStringList &words);

// The IDs of the entries whose servers hold one of `servers`.
QStringList idsOnServers(const QList<InterfaceEntry> &entries, const QStringList &servers);

// The entry in `entries` with the ID, ignoring letter case; null when none.
const InterfaceEntry *findEntry(const QList<InterfaceEntry> &entries, const QString &id);

// The entry with its first maxServersPerProtocol servers of each protocol:
// no more than the inventory reads back, so that the next vpn run records
// every server set. How many were left out goes to `leftOut`.
InterfaceEntry withServersReadBack(InterfaceEntry entry, int *leftOut);

// The entry's servers without any of `servers`.
InterfaceEntry withoutServers(InterfaceEntry entry, const QStringList &servers);

// The entries a vpn run records, from the entries saved by earlier runs and
// the `current` entry of each listed interface (its servers in force). An
// interface in `switched` (still switched to the VPN by an earlier run) keeps
// its saved entry; when it has no whole one, nothing better than its current
// servers without `vpnServers` is left to record, and its ID is added to
// `unrecorded`. Every other interface takes its current entry. Saved entries
// of interfaces not listed now are kept as well. IDs are matched ignoring
// letter case.
QList<InterfaceEntry> entriesToRecord(const QList<InterfaceEntry> &saved,
                                      const QList<InterfaceEntry> &current,
                                      const QStringList &switched, const QStringList &vpnServers,
                                      QStringList *unrecorded);
