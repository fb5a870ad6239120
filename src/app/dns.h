#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

// What the command line asked for, and the run of that mode.
class DnsDataFile;
class Deadline;
class DnsManager;
class InterfaceInfo;
class VendorFolder;
struct InterfaceEntry;

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

    // How a run ended, for its exit code.
    enum class Outcome
    {
        // It did its work, or yielded to a later request that does it.
        Done,
        Invalid,
        // It changed nothing for a cause the status calls unknown, or could
        // not record the user's servers: unchangedReason() says which.
        Unchanged
    };

    // True when mode and arguments do not fit together, or a vpn run's
    // entries name no server or hold an item that is no address; the warning
    // "Invalid command line arguments" is written once per process.
    bool isInvalid();
    // For an invalid vpn command line, a line for standard error that names
    // the items that are no address; empty when it holds none.
    QString invalidItemsLine() const;

    Outcome run();
    QString unchangedReason() const { return unchanged; }
    // The process's exit code: 0, -1 (255) or, for Unchanged, the one of the
    // unknown status (12), so that a caller never takes it for done.
    static int exitCodeOf(Outcome outcome);

private:
    // Takes a request number, waits for the run lock, and runs unless it
    // yields to a later request (runorder.h).
    void runInTurn(const VendorFolder &vendorFolder);
    // A vpn run's items that are no address, quoted and bounded for a line;
    // empty when there is none.
    QString notAddresses() const;
    // Logs the warning of a run that changes nothing, and keeps its cause.
    void leaveUnchanged(const QString &warning, const QString &cause);
    // The run itself, once it holds the run lock; it starts no system
    // command once `commandDeadline` has expired.
    void switchDns(const VendorFolder &vendorFolder, Deadline commandDeadline);
    // The arguments read as interface entries, with the last IPv4 and the
    // last IPv6 server among them; warns about every item not taken.
    QList<InterfaceEntry> readArguments(QString *lastIpv4, QString *lastIpv6);

    // Records the user's servers and the interfaces about to be switched,
    // then points every interface at the VPN's servers; changes nothing when
    // the record does not reach the disk.
    void switchToVpn(DnsManager &manager, DnsDataFile &dataFile, const QString &lastIpv4,
                     const QString &lastIpv6);
    // Gives the interfaces of `records` their servers, then records which
    // switched interfaces are still switched to the VPN, forgetting the VPN
    // record when none is.
    void switchToUser(DnsManager &manager, DnsDataFile &dataFile,
                      const QList<InterfaceInfo> &records, const QStringList &switched);
    // The entries of a user run's command line that it applies, as records,
    // each with at most maxServersPerProtocol servers per protocol; every
    // entry left out or cut is named in a warning.
    QList<InterfaceInfo> userRecords(DnsManager &manager, const QList<InterfaceEntry> &entries);
    // A reset's records: each switched interface listed now takes its saved
    // entry; one without a whole saved entry keeps its servers in force
    // without the VPN's, with a warning.
    QList<InterfaceInfo> resetRecords(DnsManager &manager, const DnsDataFile &dataFile,
                                      const QStringList &switched);
    // Without a record: takes out of every non-VPN interface's lists in the
    // inventory a list that is exactly one of `vpnServers` (the defaults, and
    // those a data file that does not read whole still names).
    QList<InterfaceInfo> defaultRecords(DnsManager &manager, const QStringList &vpnServers);
    void warnAboutIgnoredEntries();
    void warnAboutIgnoredItems(const QString &word, int ignoredItems);

    Mode mode = Unknown;
    QStringList args;
    bool invalidWarningWritten = false;
    QString unchanged;
};
