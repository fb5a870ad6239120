#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// What the command line asked for, and the run of that mode.
class DnsDataFile;
class DnsManager;
class InterfaceInfo;

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
    // The run itself, once it holds the run lock.
    void switchDns(const QString &dataFilePath);
    // Turns a reset into a user run fed with the entries of the data file.
    void reset(const DnsDataFile &dataFile);
    // The arguments read as interface entries, with the last IPv4 and the
    // last IPv6 server among them; warns about every item not taken.
    QList<InterfaceInfo> readArguments(DnsManager &manager, QString *lastIpv4, QString *lastIpv6);

    // Records the user's servers and the interfaces about to be switched,
    // then points every interface at the VPN's servers; changes nothing when
    // the record does not reach the disk.
    void switchToVpn(DnsManager &manager, DnsDataFile &dataFile, const QString &lastIpv4,
                     const QString &lastIpv6);
    // Restores the user's servers and records which interfaces are still
    // switched to the VPN, forgetting the VPN record when none is.
    void switchToUser(DnsManager &manager, DnsDataFile &dataFile,
                      const QList<InterfaceInfo> &records);
    // Without saved entries: takes the VPN's default servers out of every
    // non-VPN interface's lists in the inventory.
    void removeVpnDefaultServers(DnsManager &manager);
    void warnAboutIgnoredEntries();
    void warnAboutIgnoredItems(const QString &word, int ignoredItems);

    Mode mode = Unknown;
    QStringList args;
    bool resetToDefaults = false;
    // A reset: the entries are those of the data file, and only the
    // interfaces still switched to the VPN take them.
    bool restoringSwitched = false;
};
