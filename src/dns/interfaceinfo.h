#pragma once

#include <QString>
#include <QStringList>

// One network interface: its ID (the adapter GUID with braces, in the letter
// case of its registry key), connection name, IPv4 and IPv6 DNS servers, and
// whether it is the VPN's TAP adapter. That is looked up in the registry when
// the record is constructed; copies keep the flag without a lookup.
class InterfaceInfo
{
public:
    InterfaceInfo(const QString &id, const QString &name, const QStringList &ipv4Dns,
                  const QStringList &ipv6Dns);

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
    // Sets `vpn` when an adapter-class subkey has "MatchingDeviceId" "tap0901"
    // and a "NetCfgInstanceId" equal to the ID, ignoring case in the IDs only.
    void detectVpnAdapter();

    QStringList ipv4Servers;
    QStringList ipv6Servers;
    QString interfaceId;
    QString connectionName;
    bool vpn = false;
};
