#pragma once

#include "app/entries.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

class VendorFolder;

// The data file dns.dat in the vendor folder, in Qt's INI format: the one
// place that reads and writes it. It records the user's servers and which
// interfaces the tool has switched to the VPN, so that a switch back
// restores exactly those:
//
//   [UserDns] Args        the user's servers, interface entries joined by ";"
//   [VpnDns]  IPv4, IPv6  the VPN servers of the last vpn run
//   [VpnDns]  Switched    the IDs of the interfaces switched to the VPN and
//                         not yet confirmed restored, joined by ";"
//   [VpnDns]  SwitchedFor the IPv4 and IPv6 values, joined by ",", that
//                         "Switched" was written with
//
// "[VpnDns]" exists while any interface is switched. Versions before
// "Switched" wrote the other keys alike, and may still rewrite them during a
// downgrade; for their files, and where "SwitchedFor" no longer matches,
// the interfaces on a VPN server count as the switched ones.
class DnsDataFile
{
public:
    // How long a file that exists but cannot be read (a scanner holding it,
    // say) is tried again before the run gives up.
    static const int readRetryMs = 2000;

    // Reads the file now, warning when it cannot be read or parsed.
    explicit DnsDataFile(const VendorFolder &folder);

    bool exists() const { return fileExists; }
    // False when the file exists but could not be read: the run then changes
    // nothing, and the file is never written.
    bool isReadable() const { return readable; }
    // The entries of "[UserDns] Args", as read (some may not be whole).
    QList<InterfaceEntry> savedEntries() const { return record.saved; }
    // The VPN servers of the last vpn run as recorded; empty when none.
    QString vpnIpv4() const { return record.vpnIpv4; }
    QString vpnIpv6() const { return record.vpnIpv6; }
    // The servers that mark an interface as switched to the VPN: the VPN's
    // default servers and those of the last vpn run.
    QStringList vpnServers() const;
    // The IDs of the switched interfaces. Without a "Switched" that belongs
    // to the recorded VPN servers, the IDs of the `current` entries (the
    // servers in force of the interfaces a switch back restores) that hold a
    // VPN server, when a switch is recorded at all.
    QStringList switchedIds(const QList<InterfaceEntry> &current) const;

    // Replaces the file's content with the record of a switch to the VPN. A
    // file that could not be parsed is first set aside. True only when the
    // record reached the disk: read back, it is what was written.
    bool recordSwitch(const QList<InterfaceEntry> &entries, const QString &ipv4,
                      const QString &ipv6, const QStringList &switched);
    // After a switch back: keeps the interfaces not restored as switched, or
    // forgets the VPN record when none remains. Writes nothing when there is
    // no file or nothing changes; a failed write is warned about.
    void recordSwitchBack(const QStringList &stillSwitched);

private:
    struct Record
    {
        QList<InterfaceEntry> saved;
        bool vpnRecorded = false;
        QString vpnIpv4;
        QString vpnIpv6;
        bool switchedRecorded = false;
        QStringList switched;
        QString switchedFor; // empty in files of versions without it
    };

    void read();
    bool switchedIsTrusted() const;
    bool write(const Record &wanted);
    static QList<QPair<QString, QString>> keyValues(const Record &record);
    QString displayPath() const;

    const VendorFolder &folder;
    bool fileExists = false;
    bool readable = true;
    bool damaged = false;
    Record record;
};
