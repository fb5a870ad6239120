#include "dnsdatafile.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "entries.h"
#include "logging/logline.h"
#include "utils/filelink.h"
#include "utils/text.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString separator = QStringLiteral(";");
const QString argsKey = QStringLiteral("UserDns/Args");
const QString vpnGroup = QStringLiteral("VpnDns");
const QString ipv4Key = QStringLiteral("VpnDns/IPv4");
const QString ipv6Key = QStringLiteral("VpnDns/IPv6");
const QString switchedKey = QStringLiteral("VpnDns/Switched");

QString text(const QSettings &settings, const QString &key)
{
    return settings.value(key, QString()).toString();
}

// The status of an instance once every section of its file is parsed: Qt
// parses sections as they are read, so a parse error shows only then.
QSettings::Status parsedStatus(const QSettings &settings)
{
    settings.allKeys();
    return settings.status();
}

} // namespace

DnsDataFile::DnsDataFile(const QString &path) : path(path)
{
    read();
}

void DnsDataFile::read()
{
    fileExists = QFileInfo::exists(path);
    if (!fileExists)
        return;
    const QSettings settings(path, QSettings::IniFormat);
    const QString file = QDir::toNativeSeparators(path);
    const QSettings::Status status = parsedStatus(settings);
    if (status == QSettings::AccessError)
        logWarning(logSource, QStringLiteral("Cannot access DNS data file '%1'").arg(file));
    else if (status == QSettings::FormatError)
        logWarning(logSource, QStringLiteral("DNS data file '%1' cannot be parsed").arg(file));

    record.saved = parseSavedArgs(text(settings, argsKey), separator);
    record.vpnRecorded = settings.childGroups().contains(vpnGroup);
    record.vpnIpv4 = text(settings, ipv4Key);
    record.vpnIpv6 = text(settings, ipv6Key);
    record.switchedRecorded = settings.contains(switchedKey);
    record.switched = parseSavedArgs(text(settings, switchedKey), separator);
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

QStringList DnsDataFile::switchedIds(const QStringList &current) const
{
    if (record.switchedRecorded)
        return record.switched;
    return record.vpnRecorded ? idsOnServers(current, vpnServers()) : QStringList();
}

bool DnsDataFile::recordSwitch(const QStringList &entries, const QString &ipv4, const QString &ipv6,
                               const QStringList &switched)
{
    Record wanted;
    wanted.saved = entries;
    wanted.vpnRecorded = true;
    wanted.vpnIpv4 = ipv4;
    wanted.vpnIpv6 = ipv6;
    wanted.switchedRecorded = true;
    wanted.switched = switched;
    return write(wanted);
}

void DnsDataFile::recordSwitchBack(const QStringList &stillSwitched)
{
    Record wanted = record;
    wanted.vpnRecorded = !stillSwitched.isEmpty();
    wanted.switchedRecorded = wanted.vpnRecorded;
    wanted.switched = stillSwitched;
    if (!wanted.vpnRecorded) {
        wanted.vpnIpv4.clear();
        wanted.vpnIpv6.clear();
    }
    const bool unchanged = wanted.vpnRecorded == record.vpnRecorded &&
                           wanted.switchedRecorded == record.switchedRecorded &&
                           wanted.switched == record.switched;
    if (fileExists && !unchanged)
        write(wanted);
}

bool DnsDataFile::isWritable() const
{
    // QSettings writes through a link to wherever it leads; whoever made the
    // link would choose the file this tool overwrites.
    if (!isLink(path))
        return true;
    logWarning(logSource, QStringLiteral("DNS data file '%1' is a link, it is not written")
                              .arg(QDir::toNativeSeparators(path)));
    return false;
}

bool DnsDataFile::write(const Record &wanted)
{
    if (!isWritable())
        return false;
    {
        QSettings settings(path, QSettings::IniFormat);
        // The whole content is the record: what a damaged file held besides
        // it goes.
        settings.clear();
        settings.setValue(argsKey, joinNonEmpty(wanted.saved, separator));
        if (wanted.vpnRecorded) {
            settings.setValue(ipv4Key, wanted.vpnIpv4);
            settings.setValue(ipv6Key, wanted.vpnIpv6);
            settings.setValue(switchedKey, wanted.switched.join(separator));
        }
        settings.sync();
    }
    // The instance keeps the first error it met, also one of reading the
    // old file; only a fresh reading tells whether this write took.
    fileExists = QFileInfo::exists(path);
    if (!holdsOnDisk(wanted)) {
        logWarning(
            logSource,
            QStringLiteral("Cannot write DNS data file '%1'").arg(QDir::toNativeSeparators(path)));
        return false;
    }
    record = wanted;
    return true;
}

bool DnsDataFile::holdsOnDisk(const Record &wanted) const
{
    const QSettings settings(path, QSettings::IniFormat);
    if (parsedStatus(settings) != QSettings::NoError ||
        text(settings, argsKey) != joinNonEmpty(wanted.saved, separator) ||
        settings.childGroups().contains(vpnGroup) != wanted.vpnRecorded)
        return false;
    return !wanted.vpnRecorded || (text(settings, ipv4Key) == wanted.vpnIpv4 &&
                                   text(settings, ipv6Key) == wanted.vpnIpv6 &&
                                   text(settings, switchedKey) == wanted.switched.join(separator));
}
