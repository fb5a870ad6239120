#include "dnsdatafile.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "initext.h"
#include "logging/logline.h"
#include "store/vendorfolder.h"
#include "utils/text.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString fileName = QStringLiteral("dns.dat");
const QString separator = QStringLiteral(";");
const QString argsKey = QStringLiteral("UserDns/Args");
const QString vpnGroup = QStringLiteral("VpnDns/");
const QString ipv4Key = QStringLiteral("VpnDns/IPv4");
const QString ipv6Key = QStringLiteral("VpnDns/IPv6");
const QString switchedKey = QStringLiteral("VpnDns/Switched");
const QString switchedForKey = QStringLiteral("VpnDns/SwitchedFor");
const int readRetryPauseMs = 100;

// The VPN servers a "Switched" belongs to, as "SwitchedFor" holds them.
QString switchedFor(const QString &ipv4, const QString &ipv6)
{
    return ipv4 + QLatin1Char(',') + ipv6;
}

bool holdsGroup(const QMap<QString, QString> &values, const QString &groupPrefix)
{
    const auto first = values.lowerBound(groupPrefix);
    return first != values.cend() && first.key().startsWith(groupPrefix);
}

} // namespace

DnsDataFile::DnsDataFile(const VendorFolder &folder) : folder(folder)
{
    read();
}

QString DnsDataFile::displayPath() const
{
    return QDir::toNativeSeparators(folder.path() + QLatin1Char('/') + fileName);
}

void DnsDataFile::read()
{
    VendorFolder::FileRead file = folder.readFile(fileName);
    const QDeadlineTimer retryEnd(readRetryMs);
    while (file.status == VendorFolder::FileRead::Failed && !retryEnd.hasExpired()) {
        QThread::msleep(readRetryPauseMs);
        file = folder.readFile(fileName);
    }
    fileExists = file.status != VendorFolder::FileRead::Missing;
    readable = file.status != VendorFolder::FileRead::Failed;
    if (!readable) {
        logWarning(
            logSource,
            QStringLiteral("Cannot access DNS data file '%1' (%2)").arg(displayPath(), file.error));
        return;
    }

    const IniText ini = parseIniText(file.bytes);
    damaged = ini.firstBadLine > 0;
    if (damaged)
        logWarning(logSource,
                   QStringLiteral("DNS data file '%1' cannot be parsed").arg(displayPath()));
    for (const QString &word : parseSavedArgs(ini.values.value(argsKey), separator))
        record.saved.append(parseInterfaceEntry(word));
    record.vpnRecorded = holdsGroup(ini.values, vpnGroup);
    record.vpnIpv4 = ini.values.value(ipv4Key);
    record.vpnIpv6 = ini.values.value(ipv6Key);
    record.switchedRecorded = ini.values.contains(switchedKey);
    record.switched = parseSavedArgs(ini.values.value(switchedKey), separator);
    record.switchedFor = ini.values.value(switchedForKey);
}

QStringList DnsDataFile::vpnServers() const
{
    QStringList servers = vpnDefaultServers();
    // Earlier versions recorded them as given.
    for (const QString &server : {record.vpnIpv4, record.vpnIpv6}) {
        if (!server.isEmpty())
            servers.append(canonicalAddress(server));
    }
    return servers;
}

bool DnsDataFile::switchedIsTrusted() const
{
    // A version without "SwitchedFor" kept "Switched" as this one does; a
    // "SwitchedFor" that differs from the VPN servers was left behind by an
    // older version that rewrote those.
    return record.switchedRecorded &&
           (record.switchedFor.isEmpty() ||
            record.switchedFor == switchedFor(record.vpnIpv4, record.vpnIpv6));
}

QStringList DnsDataFile::switchedIds(const QList<InterfaceEntry> &current) const
{
    if (switchedIsTrusted())
        return record.switched;
    return record.vpnRecorded ? idsOnServers(current, vpnServers()) : QStringList();
}

bool DnsDataFile::recordSwitch(const QList<InterfaceEntry> &entries, const QString &ipv4,
                               const QString &ipv6, const QStringList &switched)
{
    Record wanted;
    wanted.saved = entries;
    wanted.vpnRecorded = true;
    wanted.vpnIpv4 = ipv4;
    wanted.vpnIpv6 = ipv6;
    wanted.switchedRecorded = true;
    wanted.switched = switched;
    wanted.switchedFor = switchedFor(ipv4, ipv6);
    return write(wanted);
}

void DnsDataFile::recordSwitchBack(const QStringList &stillSwitched)
{
    Record wanted = record;
    wanted.vpnRecorded = !stillSwitched.isEmpty();
    wanted.switchedRecorded = wanted.vpnRecorded;
    wanted.switched = stillSwitched;
    if (wanted.vpnRecorded) {
        wanted.switchedFor = switchedFor(wanted.vpnIpv4, wanted.vpnIpv6);
    } else {
        wanted.vpnIpv4.clear();
        wanted.vpnIpv6.clear();
        wanted.switchedFor.clear();
    }
    if (fileExists && keyValues(wanted) != keyValues(record))
        write(wanted);
}

QList<QPair<QString, QString>> DnsDataFile::keyValues(const Record &record)
{
    QStringList saved;
    for (const InterfaceEntry &entry : record.saved)
        saved.append(formatInterfaceEntry(entry));
    QList<QPair<QString, QString>> values{{argsKey, joinNonEmpty(saved, separator)}};
    if (record.vpnRecorded) {
        values.append({ipv4Key, record.vpnIpv4});
        values.append({ipv6Key, record.vpnIpv6});
        values.append({switchedKey, record.switched.join(separator)});
        values.append({switchedForKey, record.switchedFor});
    }
    return values;
}

bool DnsDataFile::write(const Record &wanted)
{
    // What a damaged file held besides the record would be lost in the
    // rewrite: it is kept for whoever wants to look into it.
    if (damaged) {
        if (!folder.setAside(fileName, QStringLiteral("damaged"))) {
            logWarning(logSource,
                       QStringLiteral("Cannot write DNS data file '%1'").arg(displayPath()));
            return false;
        }
        damaged = false;
    }
    const QList<QPair<QString, QString>> values = keyValues(wanted);
    const bool written = folder.writeFile(fileName, formatIniText(values));
    // Only a fresh reading tells whether the record reached the disk.
    const VendorFolder::FileRead back = folder.readFile(fileName);
    QMap<QString, QString> expected;
    for (const auto &value : values)
        expected.insert(value.first, value.second);
    if (!written || back.status != VendorFolder::FileRead::Read ||
        parseIniText(back.bytes).values != expected) {
        logWarning(logSource, QStringLiteral("Cannot write DNS data file '%1'").arg(displayPath()));
        return false;
    }
    fileExists = true;
    record = wanted;
    return true;
}
