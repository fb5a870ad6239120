#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// What the command line asked for, and the run of that mode.
class DnsManager;
class InterfaceInfo;
class QSettings;

class Dns : public QObject
{
    Q_OBJECT

public:
    enum Mode
    {
        Unknown = 0,
        Reset = 1,
        Vpn = 2,
        User = 3
    };

    // argc and argv as they stand after the application object took them.
    Dns(int argc, char **argv);

    // True when mode and arguments do not fit together; the warning
    // "Invalid command line arguments" is written once per process.
    bool isInvalid();

    // Performs the mode; false only for an invalid command line.
    bool run();

private:
    // Turns a reset into a user run fed with the entries of the data file.
    void reset();

    // Records the user's servers, then points every interface at the VPN's;
    // changes nothing when the record does not reach the disk.
    void switchToVpn(DnsManager &manager, QSettings &settings, const QString &lastIpv4,
                     const QString &lastIpv6);
    // Writes the entries and the VPN servers and syncs; true when they
    // reached the disk, so that a reset can undo the switch.
    bool recordUserDns(QSettings &settings, const QStringList &entries, const QString &lastIpv4,
                       const QString &lastIpv6);
    // The servers that mark an interface as switched to the VPN: the VPN's
    // default servers and those of "VpnDns".
    QStringList recordedVpnServers(const QSettings &settings) const;
    // Restores the user's servers; forgets the VPN servers only when every
    // interface was restored.
    void switchToUser(DnsManager &manager, QSettings &settings,
                      const QList<InterfaceInfo> &records);
    // Syncs the data file and warns when it could not be written.
    void syncDataFile(QSettings &settings);
    void warnOnDataFileError(const QSettings &settings);
    QStringList savedEntries(const QSettings &settings);
    // True, with a warning, when the data file is a link: it is then never
    // written, and a vpn run changes nothing it could not record.
    bool dataFileIsLink();
    void warnAboutIgnoredEntries();
    void warnAboutIgnoredItems(const QString &word, int ignoredItems);

    const QString vpnDnsGroup = QStringLiteral("VpnDns");
    const QString userDnsGroup = QStringLiteral("UserDns");
    const QString argsSeparator = QStringLiteral(";");
    Mode mode = Unknown;
    QStringList args;
    bool resetToDefaults = false;
};
