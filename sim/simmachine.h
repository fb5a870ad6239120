#pragma once

#include "simkeys.h"

#include <QList>
#include <QString>

// One network interface of a simulated machine.
struct SimInterface
{
    QString guid;             // upper case, with braces
    QString name;             // connection name; empty: no "Name" value
    QString pnpInstanceId;    // "PnPInstanceId" of the connection key
    QString matchingDeviceId; // "MatchingDeviceId" of its adapter-class subkey
    QString ipv4Servers;      // "NameServer" below Tcpip; empty: value not written
    QString ipv6Servers;      // "NameServer" below Tcpip6
    bool lowerCaseStackKeys = false;
    bool connectionKey = true; // false: no key below the network connections
};

// The fixed sample network that `tarnwick-sim create ROOT --sample` writes.
QList<SimInterface> sampleInterfaces();

// An interface with keys in both TCP/IP stacks but no network connection key.
SimInterface bareInterface();

// Another product's TAP adapter ("Other VPN", driver tap0901), with a static
// IPv4 server of its own.
SimInterface secondTapInterface();

// `count` ordinary interfaces, static IPv4 servers on every other one.
QList<SimInterface> generatedInterfaces(int count);

// Writes the interfaces into the registry below ROOT/registry, with
// `adapterCount` adapter-class subkeys in all (extra ones belong to no
// interface).
void writeRegistry(const QString &root, const QList<SimInterface> &interfaces, int adapterCount);
