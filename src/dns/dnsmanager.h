#pragma once

#include "childprocess.h"
#include "flush.h"
#include "interfacedns.h"
#include "interfaceinfo.h"

#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

// The machine's network interfaces and their DNS servers: the inventory, read
// from the adapter list and the registry, and the two plans that point every
// interface at the VPN's servers or back at its own.
class DnsManager : public QObject
{
    Q_OBJECT

public:
    // No system command is started once `commandDeadline` has expired: the
    // run's deadline (runlock.h). What is left undone is named in warnings.
    explicit DnsManager(Deadline commandDeadline = Deadline::never(), QObject *parent = nullptr);
    // Waits up to 10000 ms for a fallback flush still running, so that its
    // end is logged while the manager is whole.
    ~DnsManager() override;

    // loadInterfaces(), then one log line per interface.
    void refreshInterfaces();
    // Rebuilds the inventory: the interfaces whose adapter is listed, that
    // have a key in both TCP/IP stacks and a connection name. One found in a
    // single stack is left out with a warning; it does not affect the others.
    void loadInterfaces();
    void logInterfaces();

    // The machine's TAP adapters, read at the first call and kept for the
    // manager's life, one run. Every record of the run takes its VPN flag
    // from this one reading: a walk of the adapter class key per record
    // would read every adapter's values for each of the 3N + 1 records of a
    // run, and the adapters installed do not change while a run lasts.
    const VpnAdapters &vpnAdapters();
    // Names the VPN's own adapter, before the first vpnAdapters(): the last
    // of `candidates` that is a TAP adapter (VpnAdapters::ownedBy).
    void setVpnAdapterCandidates(const QStringList &candidates) { ownCandidates = candidates; }

    // An interface the adapter list reports that the inventory leaves out.
    struct LeftOut
    {
        QString id;
        QString name;
        QString reason;
    };
    // Those of the last loadInterfaces(), each once.
    const QList<LeftOut> &leftOut() const { return leftOutInterfaces; }
    // False when no adapter lister answered at the last loadInterfaces().
    bool adaptersListed() const { return listed; }
    // The upper-case IDs of the interfaces whose "NameServer" held items the
    // inventory left out (not addresses, or past the bound), at the last
    // loadInterfaces(): their lists hold more than their records say.
    const QSet<QString> &partlyReadIds() const { return partlyRead; }

    // The inventory itself; callers may change the server lists in place.
    QList<InterfaceInfo> &interfaces() { return inventory; }
    const QList<InterfaceInfo> &interfaces() const { return inventory; }
    // The inventory's interface with this ID, ignoring letter case; null
    // for an interface not listed now.
    const InterfaceInfo *interfaceWithId(const QString &id) const;

    // Makes the interface's "NameServer" for the protocol equal to `servers`
    // (a servers text of canonical addresses): through SetInterfaceDnsSettings
    // where iphlpapi.dll has it, confirmed by reading the value back, else, or
    // where that fails (with a warning), with netsh; true when it is equal
    // afterwards, or was already, compared as canonicalServersText. Past the
    // deadline nothing further is started, with a warning. After a call to the
    // function that did not return in time, netsh sets the rest of the run.
    bool replaceDnsSettings(const QString &id, const QString &name, const QString &servers,
                            bool ipv4);
    // Ends the run's changes: waits, within the run's bound, for calls to
    // SetInterfaceDnsSettings that did not return in time and reads their
    // lists back, logging a critical line for one that never returns; then
    // one line with the lists set natively, the netsh commands run and their
    // milliseconds.
    void finishRun();

    // The VPN adapter and each interface named in `ids` (ignoring letter
    // case) get these servers; then the resolver cache is flushed.
    void setDnsFromVpn(const QStringList &ipv4Servers, const QStringList &ipv6Servers,
                       const QStringList &ids);
    // Each non-VPN interface named in `ids` (ignoring letter case) gets its
    // own inventory lists; then the flush. Returns the IDs of those that hold
    // their lists in both protocols afterwards.
    QStringList setDnsFromUser(const QStringList &ids);
    // Each inventory interface takes both lists of the first saved record with
    // its ID, ignoring letter case; the others keep theirs.
    void mergeUserDns(const QList<InterfaceInfo> &saved);

    // Flushes the resolver cache, falling back to "ipconfig /flushdns",
    // which is started and not waited for, unless the deadline has expired.
    void flushDns();

protected slots:
    void onProcessFinished(bool status);

private:
    // The GUIDs of the machine's adapters as wmic lists them, or where it is
    // not installed, fails, hangs or lists none, as GetAdaptersAddresses
    // does; none when both fail. Logs which lister answered, with how many
    // adapters and in how many milliseconds.
    QSet<QString> adapterGuids();
    // Appends a record per listed interface of one stack; the upper-case IDs
    // of those whose "NameServer" cannot be read go to `unreadable` instead.
    void readNameServers(QList<InterfaceInfo> &records, const QSet<QString> &guids, bool ipv4,
                         QSet<QString> *unreadable);
    QString connectionName(const QString &id);
    // Names each interface found in one stack only; such interfaces are left
    // out of the inventory, the others are kept.
    void logUnpairedInterfaces(const QList<InterfaceInfo> &ipv4Records,
                               const QList<InterfaceInfo> &ipv6Records);
    // Replaces both protocols' servers of one interface; true when both took.
    bool replaceInterfaceDns(const InterfaceInfo &record, const QStringList &ipv4Servers,
                             const QStringList &ipv6Servers);
    QString readNameServer(const QString &id, bool ipv4) const;
    void logDnsReplacement(const QString &id, const QString &name, const QString &before,
                           const QString &requested, const QString &suffix);

    // Sets the list through SetInterfaceDnsSettings; true when it reads back
    // as asked. False, with a warning, when it does not, so that netsh sets it.
    bool setNatively(const QString &id, const QString &name, const QString &servers, bool ipv4);
    // DnsFlushResolverCache on a worker thread, given 10 s; true when it
    // succeeded, else false with a warning. Not tried once a call of the run
    // was abandoned.
    bool flushDirectly();
    void leaveOut(const QString &id, const QString &name, const QString &reason);
    // Warns, naming what is left undone, when the deadline has expired.
    bool deadlineExpired(const QString &undone) const;

    ChildProcess process;
    const Deadline commandDeadline;
    QList<InterfaceInfo> inventory;
    QList<LeftOut> leftOutInterfaces;
    QSet<QString> partlyRead;
    bool listed = false;
    std::optional<VpnAdapters> vpnAdapterReading;
    QStringList ownCandidates;
    // Both functions are found when the run starts, before any call can be
    // abandoned (flush.h).
    std::unique_ptr<InterfaceDns> nativeDns;
    ResolverCacheFlush resolverCacheFlush;
    bool nativeAsked = false; // a list was to be set natively
    // A call into a system library did not return in time: none is risked
    // again in this run.
    bool nativeAbandoned = false;
    // The interfaces with such a call, which stay switched.
    QStringList abandonedIds;
    int nativeLists = 0;
    qint64 nativeNs = 0; // summed in nanoseconds: a call may take less than 1 ms
    int netshCommands = 0;
    qint64 netshNs = 0;
    const QString ipv4InterfacesKey = QStringLiteral(
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip\\Parameters\\Interfaces");
    const QString ipv6InterfacesKey = QStringLiteral(
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\Tcpip6\\Parameters\\Interfaces");
    const QString nameServerKey = QStringLiteral("NameServer");
};
