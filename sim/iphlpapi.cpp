// Stand-in for iphlpapi.dll: GetAdaptersAddresses lists the adapters that
// the wmic stand-in lists, with the interface of Windows' own
// (adapteraddresses.h). Every call is journaled as "iphlpapi" and
// "GetAdaptersAddresses" and obeys ROOT/faults/iphlpapi: "fail" returns
// ERROR_NOT_ENOUGH_MEMORY, "noop" succeeds with no adapters (ERROR_NO_DATA,
// as Windows answers then), "crash" ends the calling process, "hang" hangs
// as a command that never answers does (standin.h) before it lists. The simulated
// machine has no hidden adapters, and the structures hold nothing the flags
// would leave out, so the flags change nothing.
//
// SetInterfaceDnsSettings (interfacednssettings.h), which the build without
// it leaves out (TARNWICK_WITHOUT_DNS_API, as Windows before 10 2004), sets
// one protocol's NameServer of the interface with that GUID, ignoring
// letter case, storing IPv6 servers as the netsh stand-in does. It is
// journaled as "iphlpapi", "SetInterfaceDnsSettings", the GUID, "ipv4" or
// "ipv6" and the servers, and obeys the same rules: "fail" returns
// ERROR_INVALID_PARAMETER, "noop" succeeds and writes nothing, "crash" ends
// the process, "hang" returns success only half a second after the tool's
// time-out (ROOT/dns-call-timeout-ms, else 30 s), and a process of its own,
// which outlives the tool, writes the list a quarter of a second before
// that: a late write that the tool sees only if it waits for the call.
#include "adapteraddresses.h"
#include "interfacednssettings.h"
#include "simkeys.h"
#include "simregistry.h"
#include "standin.h"
#include "standinplatform.h"

#include <QFile>
#include <QHostAddress>
#include <QList>
#include <QRegularExpression>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const QString name = QStringLiteral("iphlpapi");
const QStringList call = {QStringLiteral("GetAdaptersAddresses")};

// Lays the list out as Windows does: the structures, then the names they
// point to. Asks for a larger buffer when this one cannot hold it all.
unsigned long fillBuffer(const QList<QByteArray> &names, SimAdapterAddresses *buffer,
                         unsigned long *size)
{
    unsigned long needed = names.size() * sizeof(SimAdapterAddresses);
    for (const QByteArray &adapterName : names)
        needed += adapterName.size() + 1;
    if (!buffer || *size < needed) {
        *size = needed;
        return simiphlpapi::errorBufferOverflow;
    }
    char *text = reinterpret_cast<char *>(buffer + names.size());
    for (int i = 0; i < names.size(); ++i) {
        buffer[i] = {sizeof(SimAdapterAddresses), i + 1 < names.size() ? buffer + i + 1 : nullptr,
                     text};
        std::memcpy(text, names.at(i).constData(), names.at(i).size() + 1);
        text += names.at(i).size() + 1;
    }
    return simiphlpapi::errorSuccess;
}

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned long
GetAdaptersAddresses(unsigned long family, unsigned long /*flags*/, void * /*reserved*/,
                     SimAdapterAddresses *adapterAddresses, unsigned long *sizePointer)
{
    const QString root = SimRegistry::rootFromEnvironment();
    appendToJournal(root, name, call);
    const QString action = faultAction(root, name, call);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("fail"))
        return simiphlpapi::errorNotEnoughMemory;
    if (action == QLatin1String("hang"))
        hang(root);
    if (!sizePointer || (family != simiphlpapi::afUnspec && family != simiphlpapi::afInet &&
                         family != simiphlpapi::afInet6))
        return simiphlpapi::errorInvalidParameter;

    QList<QByteArray> names;
    if (action != QLatin1String("noop")) {
        for (const QString &guid : listedAdapterGuids(MachineRegistry(root)))
            names.append(guid.toLatin1());
    }
    if (names.isEmpty())
        return simiphlpapi::errorNoData;
    return fillBuffer(names, adapterAddresses, sizePointer);
}

#ifndef TARNWICK_WITHOUT_DNS_API

namespace {

QString guidText(const SimGuid &guid)
{
    QString text = QStringLiteral("{%1-%2-%3-")
                       .arg(guid.data1, 8, 16, QLatin1Char('0'))
                       .arg(guid.data2, 4, 16, QLatin1Char('0'))
                       .arg(guid.data3, 4, 16, QLatin1Char('0'));
    for (int i = 0; i < 8; ++i) {
        text += QStringLiteral("%1").arg(guid.data4[i], 2, 16, QLatin1Char('0'));
        if (i == 1)
            text += QLatin1Char('-');
    }
    return (text + QLatin1Char('}')).toUpper();
}

// A write that lands `delayMs` from now, from a process of its own: only
// async-signal-safe calls after the fork.
void writeLater(const QString &root, const QString &key, const QString &text, int delayMs)
{
    const QString directory = SimRegistry(root).findKey(key);
    if (directory.isEmpty())
        return;
    const QByteArray path = QFile::encodeName(directory + QStringLiteral("/NameServer"));
    const QByteArray temporary = path + ".late";
    const QByteArray bytes = text.toUtf8();
    if (fork() != 0)
        return;
    setsid();
    const timespec delay{delayMs / 1000, (delayMs % 1000) * 1000000L};
    nanosleep(&delay, nullptr);
    const int file = open(temporary.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (file >= 0 && write(file, bytes.constData(), size_t(bytes.size())) == bytes.size() &&
        close(file) == 0)
        rename(temporary.constData(), path.constData());
    _exit(0);
}

int callTimeoutMs(const QString &root)
{
    QFile shortened(root + QStringLiteral("/dns-call-timeout-ms"));
    bool ok = false;
    const int ms =
        shortened.open(QIODevice::ReadOnly) ? shortened.readAll().trimmed().toInt(&ok) : 0;
    return ok ? ms : 30000;
}

} // namespace

extern "C" __attribute__((visibility("default"))) unsigned long
SetInterfaceDnsSettings(SimGuid interface, const SimDnsInterfaceSettings *settings)
{
    const QString root = SimRegistry::rootFromEnvironment();
    if (!settings || settings->version != simdnssettings::version1 ||
        !(settings->flags & simdnssettings::nameServer))
        return simiphlpapi::errorInvalidParameter;
    const bool ipv6 = settings->flags & simdnssettings::ipv6;
    const QString text =
        settings->nameServer ? QString::fromUtf16(settings->nameServer) : QString();
    const QString guid = guidText(interface);
    const QStringList arguments = {QStringLiteral("SetInterfaceDnsSettings"), guid,
                                   ipv6 ? QStringLiteral("ipv6") : QStringLiteral("ipv4"), text};
    appendToJournal(root, name, arguments);
    const QString action = faultAction(root, name, arguments);
    if (action == QLatin1String("crash"))
        crash();
    if (action == QLatin1String("fail"))
        return simiphlpapi::errorInvalidParameter;
    const MachineRegistry registry(root);
    const QString key = dnsStackKey(guid, ipv6);
    if (!registry.hasKey(key))
        return simdnssettings::errorNotFound;
    const std::optional<QString> servers = storedDnsServers(text, ipv6);
    if (!servers)
        return simiphlpapi::errorInvalidParameter;
    const QString stored = *servers;
    if (action == QLatin1String("noop"))
        return simiphlpapi::errorSuccess;
    if (action == QLatin1String("hang")) {
        writeLater(root, key, stored, callTimeoutMs(root) + 250);
        pause(callTimeoutMs(root) + 500);
        return simiphlpapi::errorSuccess;
    }
    return registry.setValue(key, QStringLiteral("NameServer"), stored)
               ? simiphlpapi::errorSuccess
               : simiphlpapi::errorInvalidParameter;
}

#endif
