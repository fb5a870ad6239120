#pragma once

#include "dns/entries.h"

#include <QList>
#include <QStringList>

// Which interfaces count as switched to the VPN: one reading, shared by the
// runs that act on it and by the status that reports it, so that both
// always agree.
class DnsDataFile;
class DnsManager;
class InterfaceInfo;

// The interface's ID and servers in force as an entry.
InterfaceEntry entryOf(const InterfaceInfo &record);

// The entries of the interfaces a switch to the VPN switches and a switch
// back restores: all but the VPN's own, which a switch back never touches.
QList<InterfaceEntry> switchableEntries(const DnsManager &manager);

// The entries of the interfaces a switch to the VPN switches: with those in
// `switched` that are not listed now (they stay switched), at most
// entriesPerRun(), as many as the next run reads back; those in `switched`
// first, then in listing order, so that successive runs leave out the same
// ones. The names of the interfaces left as they are go to `leftAlone`.
QList<InterfaceEntry> entriesToSwitch(const DnsManager &manager, const QStringList &switched,
                                      QStringList *leftAlone);

// The interfaces the data file holds switched. A VPN adapter never counts:
// a switch back never touches it, so it could never leave the record.
QStringList switchedIds(DnsManager &manager, const DnsDataFile &dataFile);
