#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// What Windows' system commands and DNS functions do to a machine's
// registry, as one definition for the stand-ins (commands.cpp, iphlpapi.cpp)
// and the tests' in-memory machine (memmachine.h).

// The registry the commands read and change. Key paths are full
// ("HKEY_LOCAL_MACHINE\..."); key and value names match ignoring case.
class RegistryAccess
{
public:
    virtual ~RegistryAccess() = default;
    virtual bool hasKey(const QString &keyPath) const = 0;
    // The subkeys' names, as stored; empty for a missing key.
    virtual QStringList subkeys(const QString &keyPath) const = 0;
    // A string value's text; empty for a missing key or value.
    virtual QString value(const QString &keyPath, const QString &name) const = 0;
    // Sets a string value of an existing key; false when that fails.
    virtual bool setValue(const QString &keyPath, const QString &name,
                          const QString &text) const = 0;
};

// A command's exit code and standard output.
struct CommandAnswer
{
    int exitCode = 0;
    QByteArray output;
};

// A failure's answer: exit code 1, the message on one line.
CommandAnswer failedWith(const char *message);

// What the command `name` (wmic, netsh, ipconfig) answers to `arguments`
// and does to the registry. `form` "utf16" makes wmic answer in UTF-16LE
// with a byte order mark, as it may when its output is redirected; else in
// 8 bits, where its CR LF line ends come out as CR CR LF. An unknown name
// exits with 127.
CommandAnswer answerCommand(const QString &name, const RegistryAccess &registry,
                            const QStringList &arguments, const QString &form);

// The action of the first of `rules` that applies to a call with these
// arguments, or "" for none. A rule is "ACTION" or "ACTION TEXT"; it
// applies when it has no TEXT or when TEXT occurs in the arguments joined
// by single blanks.
QString faultActionIn(const QStringList &rules, const QStringList &arguments);

// The GUIDs of the machine's network adapters, upper-cased as Windows lists
// them: the subkeys of the network connections key.
QStringList listedAdapterGuids(const RegistryAccess &registry);

// SetInterfaceDnsSettings' part: the key of the interface's IPv4 or IPv6
// stack, and the NameServer text that Windows stores for `servers`
// (separated by commas or blanks, IPv6 in its own form); none when one is
// not an address of the protocol.
QString dnsStackKey(const QString &guid, bool ipv6);
std::optional<QString> storedDnsServers(const QString &servers, bool ipv6);
