#pragma once

#include <QString>
#include <QStringList>

// DNS server lists and their text forms.

// The "servers text": entries joined by "," without blanks.
QString joinServers(const QStringList &servers);
// The servers text split at every ",", empty parts kept ("" gives {""}).
QStringList splitServers(const QString &text);

// The servers of a registry "NameServer" value, which Windows writes either
// comma- or blank-separated: split at both, empty pieces dropped.
QStringList splitNameServerValue(const QString &value);

// "ID@SERVERS": the IPv4 then the IPv6 servers, all separated by ",".
QString interfaceEntry(const QString &id, const QStringList &ipv4, const QStringList &ipv6);

// "(a, b)", "()" for an empty list: the form of server lists in log lines.
QString serverListForLog(const QStringList &servers);

// The VPN's default servers: "172.16.0.1" and "fd00:dead:beef:cafe::1".
QStringList vpnDefaultServers();

// True when the list holds one of the wanted servers, compared exactly.
bool holdsAnyOf(const QStringList &servers, const QStringList &wanted);

// True when the list holds one of the VPN's default servers, compared exactly.
bool containsVpnDns(const QStringList &servers);

// The address as a one-entry list; an empty list for an empty address.
QStringList singleServerList(const QString &address);
