#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The instance IDs of the machine's TAP adapters, as one walk of the network
// adapter class key found them: the subkeys whose "MatchingDeviceId" is
// "tap0901" exactly. Other products share that driver: where a run knows
// which of them is the VPN's own, only that one counts as the VPN's.
class VpnAdapters
{
public:
    static VpnAdapters read();
    // The same adapters with the VPN's own the last of `candidates` that is
    // one of them; without such a candidate every one counts as the VPN's.
    VpnAdapters ownedBy(const QStringList &candidates) const;
    // True when `id`, ignoring letter case, is the VPN's own adapter, or any
    // TAP adapter where no own one is known.
    bool contains(const QString &id) const;
    // True when `id` is the instance ID of any TAP adapter.
    bool isTapAdapter(const QString &id) const;
    // The VPN's own adapter's ID in lower case; empty where it is not known.
    QString own() const { return ownId; }
    // True when several TAP adapters are installed and none is known as the
    // VPN's own: any of them may be another product's that a vpn run
    // switched.
    bool isAmbiguous() const { return ownId.isEmpty() && lowerCaseIds.size() > 1; }

private:
    QSet<QString> lowerCaseIds;
    QString ownId;
};

// One network interface: its ID (the adapter GUID with braces, in the letter
// case of its registry key), connection name, IPv4 and IPv6 DNS servers, and
// whether it is the VPN's TAP adapter. That is decided when the record is
// constructed; copies keep the flag without a lookup.
class InterfaceInfo
{
public:
    // Takes the flag from a reading of the adapters that the run's records
    // share.
    InterfaceInfo(const QString &id, const QString &name, const QStringList &ipv4Dns,
                  const QStringList &ipv6Dns, const VpnAdapters &vpnAdapters);

    QString id() const { return interfaceId; }
    QString name() const { return connectionName; }
    QStringList &ipv4Dns() { return ipv4Servers; }
    QStringList &ipv6Dns() { return ipv6Servers; }
    const QStringList &ipv4Dns() const { return ipv4Servers; }
    const QStringList &ipv6Dns() const { return ipv6Servers; }
    void setIpv4Dns(const QStringList &servers) { ipv4Servers = servers; }
    void setIpv6Dns(const QStringList &servers) { ipv6Servers = servers; }
    bool isVpn() const { return vpn; }

private:
    // Sets `vpn` when the ID is among the TAP adapters' instance IDs.
    void detectVpnAdapter(const VpnAdapters &vpnAdapters);

    QStringList ipv4Servers;
    QStringList ipv6Servers;
    QString interfaceId;
    QString connectionName;
    bool vpn = false;
};
