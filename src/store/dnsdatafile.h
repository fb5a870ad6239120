#pragma once

#include "dns/entries.h"
#include "initext.h"
#include "vendorfolder.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>

// The data file dns.dat in the vendor folder, in Qt's INI format: the one
// place that reads and writes it. It records the user's servers and which
// interfaces the tool has switched to the VPN, so that a switch back
// restores exactly those:
//
//   [Record]  Generation  one more than the highest either file held when
//                         it was written
//   [UserDns] Args        the user's servers, interface entries joined by ";"
//   [VpnDns]  IPv4, IPv6  the VPN servers of the last vpn run
//   [VpnDns]  Switched    the IDs of the interfaces switched to the VPN and
//                         not yet confirmed restored, joined by ";"
//   [VpnDns]  SwitchedFor the IPv4 and IPv6 values, joined by ",", that
//                         "Switched" was written with
//   [VpnDns]  Adapter     the ID of the VPN's own TAP adapter, where the vpn
//                         run's entries named it; without it every TAP
//                         adapter counts as the VPN's
//
// "[VpnDns]" exists while any interface is switched. Versions before
// "Switched" wrote the other keys alike, and may still rewrite them during a
// downgrade; for their files, and where "SwitchedFor" no longer matches,
// the interfaces on a VPN server count as the switched ones.
//
// Every write stores the record twice, first as the copy dns.dat.copy, then
// as dns.dat, each atomically and under the same checks. The copy is what a
// run falls back on when dns.dat does not read whole (a re-save as UTF-16,
// a file cut short, garbage) or is older than the copy (a run stopped
// between its two writes, or one that could not replace dns.dat); a dns.dat
// that differs otherwise shows that another writer (an older version after
// a downgrade, a hand edit) rewrote it. Every run that acts on a record
// writes both files again where they do not hold it alike.
class DnsDataFile
{
public:
    // How long a file that exists but cannot be read (a scanner holding it,
    // say) is tried again before the run gives up.
    static const int readRetryMs = 2000;

    // Where the run's record comes from, and so which rules decide.
    enum class Source
    {
        // Neither file exists: a reset clears only lists that are exactly a
        // VPN default server.
        None,
        // dns.dat reads whole and matches its copy, or its copy is missing,
        // does not read whole or is not ours (the copy is then written
        // again).
        DataFile,
        // dns.dat does not read whole, is missing or not ours, or holds an
        // older generation than its copy: the copy, which then replaces it.
        Copy,
        // dns.dat reads whole but differs from its copy otherwise: another
        // writer rewrote it. Its entries win where they are whole, the
        // copy's fill in what it lacks or holds not whole, and the
        // interfaces on a VPN server count as switched, as
        // do those that dns.dat's own "Switched" names where either file has
        // a generation.
        Rewritten,
        // Neither file reads whole (a file that holds no value never does):
        // no record, as without a data file, but with the VPN servers the
        // damaged files still read. A switch may be hidden in them.
        Damaged
    };

    // Reads both files now, warning when one cannot be read or does not
    // read whole, and which file the record then comes from.
    explicit DnsDataFile(const VendorFolder &folder);

    Source source() const { return recordSource; }
    // Why the record comes from where it does, for log lines and status
    // output: empty for None and a DataFile that matched its copy.
    QString sourceReason() const { return reason; }
    // True when a record was read (DataFile, Copy, Rewritten): a reset then
    // restores the switched interfaces from it.
    bool hasRecord() const;
    // False when a file exists but could not be read: the run then changes
    // nothing, and neither file is written.
    bool isReadable() const { return readable; }
    // The entries of "[UserDns] Args", as read (some may not be whole), at
    // most entriesPerRun() of them, those of switched interfaces first.
    QList<InterfaceEntry> savedEntries() const { return record.saved; }
    // The VPN servers of the last vpn run as recorded; empty when none.
    QString vpnIpv4() const { return record.vpnIpv4; }
    QString vpnIpv6() const { return record.vpnIpv6; }
    // Whether a record holds a switch to the VPN ("[VpnDns]"), and the ID of
    // the VPN's own adapter it names; empty where it names none.
    bool vpnRecorded() const { return hasRecord() && record.vpnRecorded; }
    QString vpnAdapter() const { return record.vpnAdapter; }
    // The servers that mark an interface as switched to the VPN: the VPN's
    // default servers and those either file records.
    QStringList vpnServers() const;
    // The record's own VPN servers (vpnIpv4, vpnIpv6), in the form that
    // compares; empty when none.
    QStringList recordVpnServers() const;
    // The IDs of the switched interfaces. Without a "Switched" that belongs
    // to the recorded VPN servers, or for a Rewritten record, the IDs of the
    // `current` entries (the servers in force of the interfaces a switch
    // back restores) that hold a VPN server, when a switch is recorded; those
    // that either file's "Switched" names and that are not among `current`,
    // as the rule cannot see them; and, where either file has a generation,
    // those that dns.dat's own "Switched" names. A "Switched" in the copy
    // alone never makes a listed interface switched: an older version may
    // have restored it since, and the user changed its servers.
    QStringList switchedIds(const QList<InterfaceEntry> &current) const;
    // Whether switchedIds() finds them by their servers rather than by the
    // record's "Switched".
    bool switchedByRule() const;

    // Replaces both files' content with the record of a switch to the VPN,
    // keeping the entries of interfaces `listed` or `switched` only. A file
    // that does not read whole is first set aside. True only when the record
    // reached the disk: read back, each file is what was written.
    bool recordSwitch(const QList<InterfaceEntry> &entries, const QString &ipv4,
                      const QString &ipv6, const QStringList &switched, const QStringList &listed,
                      const QString &adapter);
    // After a switch back: keeps the interfaces not restored as switched, or
    // forgets the VPN record when none remains. Writes only a record that
    // changes or that a file does not hold yet (the copy replacing dns.dat,
    // a missing copy, say); a failed write is warned about.
    void recordSwitchBack(const QStringList &stillSwitched);

private:
    struct Record
    {
        std::optional<quint64> generation; // none in files of earlier versions
        QList<InterfaceEntry> saved;
        bool vpnRecorded = false;
        QString vpnIpv4;
        QString vpnIpv6;
        bool switchedRecorded = false;
        QStringList switched;
        QString switchedFor;   // empty in files of versions without it
        QString vpnAdapter;    // empty where no entry named the VPN's adapter
        int unreadEntries = 0; // past entriesPerRun(), left out of `saved`
    };

    void read();
    void decide(const VendorFolder::FileRead &file, const VendorFolder::FileRead &copy);
    static Record recordOf(const IniText &ini);
    static Record rewrittenRecord(const Record &written, const Record &copied);
    static bool switchedBelongsToVpn(const Record &record);
    bool switchedIsTrusted() const;
    bool write(Record wanted);
    bool writeOne(const QString &name, const QList<QPair<QString, QString>> &values) const;
    bool setAsideDamaged();
    static QList<QPair<QString, QString>> keyValues(const Record &record);
    QString displayPath(const QString &name) const;

    const VendorFolder &folder;
    bool readable = true;
    Source recordSource = Source::None;
    QString reason;
    // The files that do not read whole and are set aside before a write.
    QStringList damagedFiles;
    // The files do not hold the record alike: the next switch back writes it.
    bool rewriteDue = false;
    // The highest generation either file holds.
    quint64 highestGeneration = 0;
    // dns.dat's own "Switched" of a Rewritten record that counts for listed
    // interfaces too.
    QStringList ownSwitched;
    // The VPN servers of the file not taken as the record.
    QStringList otherVpnServers;
    Record record;
};
