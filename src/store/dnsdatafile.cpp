#include "dnsdatafile.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "logging/logline.h"
#include "utils/text.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>

#include <algorithm>

namespace {

const QString logSource = QStringLiteral("Dns");
const QString fileName = QStringLiteral("dns.dat");
const QString copyName = QStringLiteral("dns.dat.copy");
const QString separator = QStringLiteral(";");
const QString argsKey = QStringLiteral("UserDns/Args");
const QString vpnGroup = QStringLiteral("VpnDns");
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

// The file, tried again while it exists but cannot be read.
VendorFolder::FileRead readPatiently(const VendorFolder &folder, const QString &name)
{
    VendorFolder::FileRead file = folder.readFile(name);
    const QDeadlineTimer retryEnd(DnsDataFile::readRetryMs);
    while (file.status == VendorFolder::FileRead::Failed && !retryEnd.hasExpired()) {
        QThread::msleep(readRetryPauseMs);
        file = folder.readFile(name);
    }
    return file;
}

bool readsWhole(const VendorFolder::FileRead &file, const IniText &ini)
{
    return file.status == VendorFolder::FileRead::Read && ini.isWhole();
}

// Whether two texts hold the same record: each key of it present in both or
// in neither, with the same text.
bool sameRecord(const IniText &one, const IniText &other)
{
    for (const QString &key : {argsKey, ipv4Key, ipv6Key, switchedKey, switchedForKey}) {
        if (one.contains(key) != other.contains(key) || one.text(key) != other.text(key))
            return false;
    }
    return one.holdsGroup(vpnGroup) == other.holdsGroup(vpnGroup);
}

// The recorded VPN servers of a text, in the form that compares.
QStringList recordedVpnServers(const IniText &ini)
{
    QStringList servers;
    for (const QString &key : {ipv4Key, ipv6Key}) {
        if (!ini.text(key).isEmpty())
            servers.append(canonicalAddress(ini.text(key)));
    }
    return servers;
}

} // namespace

DnsDataFile::DnsDataFile(const VendorFolder &folder) : folder(folder)
{
    read();
}

QString DnsDataFile::displayPath(const QString &name) const
{
    return QDir::toNativeSeparators(folder.path() + QLatin1Char('/') + name);
}

void DnsDataFile::read()
{
    const VendorFolder::FileRead file = readPatiently(folder, fileName);
    const VendorFolder::FileRead copy = readPatiently(folder, copyName);
    auto noteFailure = [this](const QString &name, const VendorFolder::FileRead &read) {
        if (read.status != VendorFolder::FileRead::Failed)
            return;
        readable = false;
        logWarning(logSource, QStringLiteral("Cannot access DNS data file '%1' (%2)")
                                  .arg(displayPath(name), read.error));
    };
    noteFailure(fileName, file);
    noteFailure(copyName, copy);
    if (readable)
        decide(file, copy);
}

void DnsDataFile::decide(const VendorFolder::FileRead &file, const VendorFolder::FileRead &copy)
{
    const IniText written = parseIniText(file.bytes);
    const IniText copied = parseIniText(copy.bytes);
    auto noteDamage = [this](const QString &name, const VendorFolder::FileRead &read,
                             const IniText &ini) {
        if (read.status != VendorFolder::FileRead::Read || ini.isWhole())
            return;
        damagedFiles.append(name);
        logWarning(logSource, QStringLiteral("DNS data file '%1' does not read whole (%2)")
                                  .arg(displayPath(name), ini.damage));
    };
    noteDamage(fileName, file, written);
    noteDamage(copyName, copy, copied);
    const bool fileWhole = readsWhole(file, written);
    const bool copyWhole = readsWhole(copy, copied);
    // A file set aside as untrusted is one that does not read whole.
    const bool noCopy = copy.status == VendorFolder::FileRead::Missing && !copy.setAside;
    if (file.status == VendorFolder::FileRead::Missing && !file.setAside && noCopy) {
        recordSource = Source::None;
    } else if (fileWhole && (noCopy || sameRecord(written, copied))) {
        recordSource = Source::DataFile;
        record = recordOf(written);
    } else if (fileWhole) {
        recordSource = Source::Rewritten;
        reason =
            copyWhole
                ? QStringLiteral("'%1' differs from its copy, another program wrote it")
                      .arg(displayPath(fileName))
                : QStringLiteral("its copy '%1' does not read whole").arg(displayPath(copyName));
        record = rewrittenRecord(recordOf(written), copyWhole ? recordOf(copied) : Record());
        otherVpnServers = recordedVpnServers(copied);
    } else if (copyWhole) {
        recordSource = Source::Copy;
        reason = QStringLiteral("'%1' does not read whole or is missing, using its copy '%2'")
                     .arg(displayPath(fileName), displayPath(copyName));
        record = recordOf(copied);
    } else {
        recordSource = Source::Damaged;
        reason = QStringLiteral("neither '%1' nor its copy reads whole, no record of the user's "
                                "DNS servers")
                     .arg(displayPath(fileName));
        otherVpnServers = recordedVpnServers(written) + recordedVpnServers(copied);
    }
    rewriteDue = recordSource == Source::Copy || recordSource == Source::Rewritten;
    if (!reason.isEmpty())
        logWarning(logSource, QStringLiteral("DNS record: %1").arg(reason));
    if (record.unreadEntries > 0) {
        logWarning(logSource,
                   QStringLiteral("DNS data file '%1' holds more than %2 entries, %3 are not read")
                       .arg(displayPath(fileName))
                       .arg(maxEntriesPerRun)
                       .arg(record.unreadEntries));
    }
}

DnsDataFile::Record DnsDataFile::recordOf(const IniText &ini)
{
    Record read;
    read.switched = parseSavedArgs(ini.text(switchedKey), separator);
    QStringList words = parseSavedArgs(ini.text(argsKey), separator);
    read.unreadEntries = qMax(0, words.size() - maxEntriesPerRun);
    if (read.unreadEntries > 0) {
        // Those of switched interfaces first: a switch back needs them.
        std::stable_partition(words.begin(), words.end(), [&read](const QString &word) {
            return containsId(read.switched, word.section(QLatin1Char('@'), 0, 0));
        });
    }
    for (const QString &word : words.mid(0, maxEntriesPerRun))
        read.saved.append(parseInterfaceEntry(word));
    read.vpnRecorded = ini.holdsGroup(vpnGroup);
    read.vpnIpv4 = ini.text(ipv4Key);
    read.vpnIpv6 = ini.text(ipv6Key);
    read.switchedRecorded = ini.contains(switchedKey);
    read.switchedFor = ini.text(switchedForKey);
    return read;
}

DnsDataFile::Record DnsDataFile::rewrittenRecord(const Record &written, const Record &copied)
{
    Record merged = written;
    // Either may name a switched interface that is not listed now.
    merged.switched = unitedIds(written.switched, copied.switched);
    for (const InterfaceEntry &entry : copied.saved) {
        if (findEntry(merged.saved, entry.id))
            continue;
        if (merged.saved.size() < maxEntriesPerRun)
            merged.saved.append(entry);
        else
            ++merged.unreadEntries;
    }
    if (!merged.vpnRecorded) {
        merged.vpnRecorded = copied.vpnRecorded;
        merged.vpnIpv4 = copied.vpnIpv4;
        merged.vpnIpv6 = copied.vpnIpv6;
    }
    return merged;
}

bool DnsDataFile::hasRecord() const
{
    return recordSource == Source::DataFile || recordSource == Source::Copy ||
           recordSource == Source::Rewritten;
}

QStringList DnsDataFile::vpnServers() const
{
    QStringList servers = vpnDefaultServers() + otherVpnServers;
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
    return recordSource != Source::Rewritten && record.switchedRecorded &&
           (record.switchedFor.isEmpty() ||
            record.switchedFor == switchedFor(record.vpnIpv4, record.vpnIpv6));
}

bool DnsDataFile::switchedByRule() const
{
    return hasRecord() && record.vpnRecorded && !switchedIsTrusted();
}

QStringList DnsDataFile::switchedIds(const QList<InterfaceEntry> &current) const
{
    if (switchedIsTrusted())
        return record.switched;
    if (!switchedByRule())
        return QStringList();
    // An interface not listed now, such as every one when no adapter lister
    // answered, keeps what the record says of it: taken as not switched, a
    // switch back would drop it from the record while it holds the VPN's
    // servers.
    QStringList ids = idsOnServers(current, vpnServers());
    for (const QString &id : record.switched) {
        if (!findEntry(current, id))
            ids = unitedIds(ids, {id});
    }
    return ids;
}

bool DnsDataFile::recordSwitch(const QList<InterfaceEntry> &entries, const QString &ipv4,
                               const QString &ipv6, const QStringList &switched,
                               const QStringList &listed)
{
    Record wanted;
    // The rule that finds switched interfaces by their servers cannot see
    // interfaces not listed now: their entries stay while it decides.
    for (const InterfaceEntry &entry : entries) {
        if (switchedByRule() || containsId(listed, entry.id) || containsId(switched, entry.id))
            wanted.saved.append(entry);
    }
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
    if (!hasRecord())
        return;
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
    if (rewriteDue || keyValues(wanted) != keyValues(record))
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

bool DnsDataFile::setAsideDamaged()
{
    // What a damaged file held besides the record would be lost in the
    // rewrite: it is kept for whoever wants to look into it.
    while (!damagedFiles.isEmpty()) {
        if (!folder.setAside(damagedFiles.constFirst(), QStringLiteral("damaged")))
            return false;
        damagedFiles.removeFirst();
    }
    return true;
}

bool DnsDataFile::write(const Record &wanted)
{
    const QList<QPair<QString, QString>> values = keyValues(wanted);
    // The copy first: while dns.dat is being replaced, the copy holds the
    // new record, and a dns.dat left behind then shows as differing.
    if (!setAsideDamaged() || !writeOne(copyName, values) || !writeOne(fileName, values)) {
        logWarning(logSource,
                   QStringLiteral("Cannot write DNS data file '%1'").arg(displayPath(fileName)));
        return false;
    }
    recordSource = Source::DataFile;
    reason.clear();
    rewriteDue = false;
    otherVpnServers.clear();
    record = wanted;
    return true;
}

bool DnsDataFile::writeOne(const QString &name, const QList<QPair<QString, QString>> &values) const
{
    if (!folder.writeFile(name, formatIniText(values)))
        return false;
    // Only a fresh reading tells whether the record reached the disk.
    const VendorFolder::FileRead back = folder.readFile(name);
    const IniText ini = parseIniText(back.bytes);
    if (back.status != VendorFolder::FileRead::Read || !ini.isWhole() ||
        ini.values.size() != values.size())
        return false;
    for (const auto &value : values) {
        if (!ini.contains(value.first) || ini.text(value.first) != value.second)
            return false;
    }
    return true;
}
