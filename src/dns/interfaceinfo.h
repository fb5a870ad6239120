#pragma once

#include <QSet>
#include <QString>
#include <QStringList>

// The instance IDs of the machine's TAP adapters, as one walk of the network
// adapter class key found them: the subkeys whose "MatchingDeviceId" is
// "tap0901" exactly.
class VpnAdapters
{
public:
    static VpnAdapters read();
    // True when `id` is the instance ID of a TAP adapter, ignoring letter case.
    bool contains(const QString &id) const;

private:
    QSet<QString> lowerCaseIds;
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
