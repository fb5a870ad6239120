#pragma once

#include "dns/dnsmanager.h"
#include "dns/entries.h"
#include "dns/servers.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// What the status mode reports: whether the machine's DNS is switched to the
// VPN, as a value, decided and formatted without touching the machine.

// One interface as the status lists it.
struct InterfaceStatus
{
    QString id;
    QString name;
    bool vpnAdapter = false;
    // Recorded as switched: a reset restores it. Not whether it is on the
    // VPN's servers now, which onVpnServers says.
    bool switched = false;
    // It holds exactly the record's VPN servers in each protocol (none where
    // none is recorded); false without a recorded VPN server, and for an
    // interface left out or not listed. An interface that is not is a
    // possible leak around the VPN.
    bool onVpnServers = false;
    // False where nothing was read: an interface left out or not listed.
    bool serversRead = false;
    // Why a run leaves it out; empty when it does not.
    QString leftOut;
    // While the record holds a switch, why it is not on the VPN's servers:
    // "differs" (a failed switch or a list changed since), "unreadable" (left
    // out: its list cannot be read), "pastBound" (a vpn run leaves it alone),
    // "notListed"; empty otherwise.
    QString cause;
    // It may resolve around the VPN: listed now, not the VPN's adapter, and
    // a cause other than "notListed".
    bool possibleLeak = false;
    // The servers in force; empty for an interface left out.
    QStringList ipv4;
    QStringList ipv6;
    // The servers the data file saved for it, when it saved any entry.
    bool hasSaved = false;
    QStringList savedIpv4;
    QStringList savedIpv6;
};

struct DnsStatus
{
    // Exit codes 1 to 3 are avoided: on Windows a killed or aborted process
    // exits with them.
    enum State
    {
        None = 0,
        Switched = 10,
        Partial = 11,
        Unknown = 12
    };

    State state = Unknown;
    // The VPN servers the data file records; empty when none.
    QString vpnIpv4;
    QString vpnIpv6;
    // Why the state is unknown, or which fallback of a run it reflects.
    QString reason;
    // The warnings written while the status was read, as on standard error.
    QStringList warnings;
    QList<InterfaceStatus> interfaces;
};

// What a run would read of the data file.
struct RecordReading
{
    // False where a reset would follow the rule of a run without a data
    // file (no file, or neither it nor its copy reads whole).
    bool hasRecord = false;
    // Which fallback of a run the reading took, if any (the copy, a file
    // another program rewrote, a damaged record).
    QString fallback;
    // The servers that count as the VPN's (the defaults and the recorded).
    QStringList vpnServers = vpnDefaultServers();
    QList<InterfaceEntry> saved;
    QString vpnIpv4;
    QString vpnIpv6;
    // The interfaces switched, as the runs decide it (switchedinterfaces.h).
    QStringList switched;
    // Neither data file reads whole: a switch may be recorded in them.
    bool mayHideSwitch = false;
    // The interfaces a vpn run would leave alone, past the bound.
    QStringList pastBound;
};

DnsStatus unknownStatus(const QString &reason);

// The state a run would act on. With a record: None when it holds no
// switched interface; Switched when it does and every listed interface, the
// VPN's adapter included, holds exactly the recorded VPN server of each
// protocol (none where none is recorded) and nothing else, read or not
// (`partlyRead`: the upper-case IDs whose lists hold items not read), no
// interface is left out and every switched one is listed; Partial otherwise.
// Without a record: Partial where the data files may hide a switch, or a
// list is exactly a lone VPN server, which a reset without a record would
// clear; None otherwise. The reason names the fallback a run would take.
DnsStatus assessStatus(const QList<InterfaceInfo> &inventory,
                       const QList<DnsManager::LeftOut> &leftOut, const QSet<QString> &partlyRead,
                       const RecordReading &record);

// "none", "switched", "partial" or "unknown".
QString stateWord(DnsStatus::State state);

// For a person: a first line with the state and the VPN servers, then one
// line per interface.
QString formatStatusText(const DnsStatus &status);
// The JSON form's schemaVersion: raised whenever a field changes meaning.
const int statusSchemaVersion = 3;

// One JSON object with a line end: schemaVersion, version, state, vpnIpv4,
// vpnIpv6, reason, warnings and interfaces (id, name, vpnAdapter, switched,
// onVpnServers, possibleLeak, cause or null, serversRead, leftOut or null,
// ipv4, ipv6, savedIpv4 and savedIpv6 or null).
QByteArray formatStatusJson(const DnsStatus &status);
