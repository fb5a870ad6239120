#pragma once

#include <QString>
#include <QStringList>

// The data file dns.dat, in Qt's INI format: the one place that reads and
// writes it. It records the user's servers and which interfaces the tool has
// switched to the VPN, so that a switch back restores exactly those:
//
//   [UserDns] Args       the user's servers, interface entries joined by ";"
//   [VpnDns]  IPv4, IPv6 the VPN servers of the last vpn run
//   [VpnDns]  Switched   the IDs of the interfaces switched to the VPN and not
//                        yet confirmed restored, joined by ";"
//
// "[VpnDns]" exists while any interface is switched. Versions before
// "Switched" wrote the other keys alike; for their files the interfaces on a
// VPN server count as the switched ones.
class DnsDataFile
{
public:
    // Reads the file at `path` now, warning when it cannot be read or parsed.
    explicit DnsDataFile(const QString &path);

    bool exists() const { return fileExists; }
    // The entries of "[UserDns] Args", trimmed, blank ones left out.
    QStringList savedEntries() const { return record.saved; }
    // The servers that mark an interface as switched to the VPN: the VPN's
    // default servers and those of the last vpn run.
    QStringList vpnServers() const;
    // The IDs of the switched interfaces. For a file without "Switched", the
    // IDs of the `current` entries (the servers in force of the interfaces a
    // switch back restores) that hold a VPN server, when a switch is recorded
    // at all.
    QStringList switchedIds(const QStringList &current) const;

    // Replaces the file's content with the record of a switch to the VPN.
    // True only when the record reached the disk: read back, it is what was
    // written.
    bool recordSwitch(const QStringList &entries, const QString &ipv4, const QString &ipv6,
                      const QStringList &switched);
    // After a switch back: keeps the interfaces not restored as switched, or
    // forgets the VPN record when none remains. Writes nothing when there is
    // no file or nothing changes; a failed write is warned about.
    void recordSwitchBack(const QStringList &stillSwitched);

private:
    struct Record
    {
        QStringList saved;
        bool vpnRecorded = false;
        QString vpnIpv4;
        QString vpnIpv6;
        bool switchedRecorded = false;
        QStringList switched;
    };

    void read();
    // False, with a warning, for a link at the file.
    bool isWritable() const;
    bool write(const Record &wanted);
    bool holdsOnDisk(const Record &wanted) const;

    QString path;
    bool fileExists = false;
    Record record;
};
