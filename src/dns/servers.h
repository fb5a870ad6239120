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

// The list with each server once, at its first place: a server listed twice
// is one server to Windows, and netsh refuses to add it a second time.
QStringList withoutRepeats(const QStringList &servers);

// A "NameServer" value as the servers text of its pieces, each address in
// canonicalAddress form and each once: the text a replacement compares with
// what it asks for, whichever separators, address forms and repeats Windows
// stored.
QString canonicalServersText(const QString &value);

// The most servers the inventory keeps per interface and protocol. Windows
// uses two or three; the bound only keeps a forged registry value from
// making every later run issue thousands of netsh commands.
const int maxServersPerProtocol = 16;

// What the inventory takes from one TCP/IP stack's "NameServer" value.
struct NameServerList
{
    QStringList servers;  // plain addresses of the stack's protocol, in order,
                          // in canonicalAddress form, each once
    QStringList rejected; // pieces that are not, left out
    int ignored = 0;      // addresses past maxServersPerProtocol, left out
};

// The pieces of splitNameServerValue that are plain addresses (isPlainAddress)
// of the stack's protocol, so that only addresses reach the data file and
// netsh: a piece such as "x;{ID}@6.6.6.6" would otherwise be saved as an
// entry of its own and restored onto another interface.
NameServerList parseNameServerValue(const QString &value, bool ipv4);

// "ID@SERVERS": the IPv4 then the IPv6 servers, all separated by ",".
QString interfaceEntry(const QString &id, const QStringList &ipv4, const QStringList &ipv6);

// "(a, b)", "()" for an empty list: the form of server lists in log lines.
QString serverListForLog(const QStringList &servers);

// The VPN's default servers: "172.16.0.1" and "fd00:dead:beef:cafe::1".
QStringList vpnDefaultServers();

// True when the list holds one of the wanted servers, compared exactly.
bool holdsAnyOf(const QStringList &servers, const QStringList &wanted);

// True when the list is exactly one of the VPN's servers `vpnServers`: what
// a vpn run leaves, one server per protocol. A VPN server beside others is
// one of the user's own (172.16.0.1 is a common router address).
bool isLoneVpnServer(const QStringList &servers, const QStringList &vpnServers);

// The address as a one-entry list; an empty list for an empty address.
QStringList singleServerList(const QString &address);
