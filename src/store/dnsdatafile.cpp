#include "dnsdatafile.h"

#include "dns/interfaceid.h"
#include "dns/servers.h"
#include "logging/logline.h"
#include "utils/clock.h"
#include "utils/text.h"

#include <QDir>

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
const QString adapterKey = QStringLiteral("VpnDns/Adapter");
const QString generationKey = QStringLiteral("Record/Generation");
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
    const Deadline retryEnd(DnsDataFile::readRetryMs);
    while (file.status == VendorFolder::FileRead::Failed && !retryEnd.hasExpired()) {
        runclock::sleepMs(readRetryPauseMs);
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
    for (const QString &key :
         {generationKey, argsKey, ipv4Key, ipv6Key, switchedKey, switchedForKey, adapterKey}) {
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

// Generations stay below this bound, far from where one more would wrap to
// 0 and make a stale dns.dat read as ahead of its copy.
const quint64 generationBound = quint64(1) << 63;

// The generation a text records; none for a file of an earlier version, or
// one whose generation an editor spoiled or set out of range.
std::optional<quint64> generationOf(const IniText &ini)
{
    bool ok = false;
    const quint64 generation = ini.text(generationKey).toULongLong(&ok);
    return ok && generation < generationBound ? std::optional<quint64>(generation) : std::nullopt;
}

// Whether the text holds a generation that reads as none: a number past the
// range, or no number at all, which only an edit leaves. None can be higher,
// so a run that writes after it starts again low, and a dns.dat that still
// holds it after a run stopped between its two writes is the older.
bool generationSpoiled(const IniText &ini)
{
    return ini.contains(generationKey) && !generationOf(ini);
}

// Every version writes "Switched" as interface IDs: an item that is none was
// mistyped, and the interface it stood for would read as not switched.
QString foreignSwitchedItem(const IniText &ini)
{
    for (const QString &id : parseSavedArgs(ini.text(switchedKey), separator)) {
        if (!isInterfaceGuid(id))
            return QStringLiteral("'%1' holds '%2', which is no interface ID")
                .arg(switchedKey, boundedForLog(id));
    }
    return QString();
}

// Why a copy that parses cannot be a record as written, or an empty text.
// Only this version writes the copy, always with its generation and the
// user's entries, with the VPN's four keys or none of them, and nothing
// else: a copy otherwise was cut at a line's end or lost lines, and may hide
// a switch.
QString incompleteCopy(const IniText &ini)
{
    for (const QString &key : {generationKey, argsKey}) {
        if (!ini.contains(key))
            return QStringLiteral("'%1' is missing").arg(key);
    }
    const QStringList vpnKeys{ipv4Key, ipv6Key, switchedKey, switchedForKey};
    const auto present = std::count_if(vpnKeys.cbegin(), vpnKeys.cend(),
                                       [&ini](const QString &key) { return ini.contains(key); });
    if (present != 0 && present != vpnKeys.size())
        return QStringLiteral("some of the VPN's keys are missing");
    const QStringList written = vpnKeys + QStringList{generationKey, argsKey, adapterKey};
    for (const QString &key : ini.values.keys()) {
        if (!written.contains(key, Qt::CaseInsensitive))
            return QStringLiteral("it holds '%1', which no copy holds").arg(key);
    }
    return QString();
}

bool isAbsent(const VendorFolder::FileRead &file)
{
    return file.status == VendorFolder::FileRead::Missing && !file.untrusted;
}

// What is wrong with a file that is there but does not hold a record, for
// log lines and reasons; empty for one that reads whole.
QString problemOf(const VendorFolder::FileRead &file, const IniText &ini)
{
    if (file.untrusted)
        return QStringLiteral("is not ours");
    if (file.status == VendorFolder::FileRead::Missing)
        return QStringLiteral("is missing");
    return ini.isWhole() ? QString() : QStringLiteral("does not read whole");
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
    IniText written = parseIniText(file.bytes);
    IniText copied = parseIniText(copy.bytes);
    // No version of the tool writes a file without a value: one that holds
    // none was cut to nothing (a power loss, another program). Read as an
    // empty record, it would hide a switch that the other file, or nothing
    // any more, records.
    for (IniText *ini : {&written, &copied}) {
        if (ini->isWhole() && ini->values.isEmpty())
            ini->damage = QStringLiteral("it holds nothing");
        else if (ini->isWhole())
            ini->damage = foreignSwitchedItem(*ini);
    }
    if (copied.isWhole())
        copied.damage = incompleteCopy(copied);
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
    const Record fileRecord = recordOf(written);
    const Record copyRecord = recordOf(copied);
    highestGeneration = qMax(fileRecord.generation.value_or(0), copyRecord.generation.value_or(0));
    const bool copyAhead = copyRecord.generation &&
                           (fileRecord.generation ? *copyRecord.generation > *fileRecord.generation
                                                  : generationSpoiled(written));
    rewriteDue = !(fileWhole && copyWhole && sameRecord(written, copied));
    if (isAbsent(file) && isAbsent(copy)) {
        recordSource = Source::None;
    } else if (fileWhole && (!copyWhole || !rewriteDue)) {
        recordSource = Source::DataFile;
        record = fileRecord;
        // A missing copy is an earlier version's file, or one deleted: it is
        // written again without a word.
        if (!copyWhole && !isAbsent(copy)) {
            reason =
                QStringLiteral("its copy '%1' %2, '%3' holds the record")
                    .arg(displayPath(copyName), problemOf(copy, copied), displayPath(fileName));
        }
    } else if (fileWhole && !copyAhead) {
        recordSource = Source::Rewritten;
        reason = QStringLiteral("'%1' differs from its copy, another program wrote it")
                     .arg(displayPath(fileName));
        record = rewrittenRecord(fileRecord, copyRecord);
        otherVpnServers = recordedVpnServers(copied);
        // Only a writer without generations leaves dns.dat's "Switched"
        // beside servers it rewrote; with them, it is this tool's own.
        if ((fileRecord.generation || copyRecord.generation) && switchedBelongsToVpn(fileRecord))
            ownSwitched = fileRecord.switched;
    } else if (copyWhole) {
        recordSource = Source::Copy;
        reason = QStringLiteral("'%1' %2, using its copy '%3'")
                     .arg(displayPath(fileName),
                          fileWhole ? QStringLiteral("is older than its copy")
                                    : problemOf(file, written),
                          displayPath(copyName));
        record = copyRecord;
    } else {
        recordSource = Source::Damaged;
        reason = QStringLiteral("neither '%1' nor its copy reads whole, no record of the user's "
                                "DNS servers")
                     .arg(displayPath(fileName));
        otherVpnServers = recordedVpnServers(written) + recordedVpnServers(copied);
    }
    if (!reason.isEmpty())
        logWarning(logSource, QStringLiteral("DNS record: %1").arg(reason));
    if (record.unreadEntries > 0) {
        logWarning(logSource,
                   QStringLiteral("DNS data file '%1' holds more than %2 entries, %3 are not read")
                       .arg(displayPath(fileName))
                       .arg(entriesPerRun())
                       .arg(record.unreadEntries));
    }
}

DnsDataFile::Record DnsDataFile::recordOf(const IniText &ini)
{
    Record read;
    read.generation = generationOf(ini);
    // Only a GUID names an interface a run handles: anything else (an ID a
    // cut or an edit spoiled) could never be restored, and would keep the
    // record of a switch for good.
    for (const QString &id : parseSavedArgs(ini.text(switchedKey), separator)) {
        if (isInterfaceGuid(id))
            read.switched.append(id);
    }
    QStringList words = parseSavedArgs(ini.text(argsKey), separator);
    read.unreadEntries = qMax(0, words.size() - entriesPerRun());
    if (read.unreadEntries > 0) {
        // Those of switched interfaces first: a switch back needs them.
        std::stable_partition(words.begin(), words.end(), [&read](const QString &word) {
            return containsId(read.switched, word.section(QLatin1Char('@'), 0, 0));
        });
    }
    for (const QString &word : words.mid(0, entriesPerRun()))
        read.saved.append(parseInterfaceEntry(word));
    read.vpnRecorded = ini.holdsGroup(vpnGroup);
    read.vpnIpv4 = ini.text(ipv4Key);
    read.vpnIpv6 = ini.text(ipv6Key);
    read.switchedRecorded = ini.contains(switchedKey);
    read.switchedFor = ini.text(switchedForKey);
    read.vpnAdapter = isInterfaceGuid(ini.text(adapterKey)) ? ini.text(adapterKey) : QString();
    return read;
}

DnsDataFile::Record DnsDataFile::rewrittenRecord(const Record &written, const Record &copied)
{
    Record merged = written;
    // Either may name a switched interface that is not listed now.
    merged.switched = unitedIds(written.switched, copied.switched);
    // An entry that is not whole (a typo, a cut) says nothing of the user's
    // servers: the copy's, where it is whole, still does.
    for (InterfaceEntry &entry : merged.saved) {
        const InterfaceEntry *other = findEntry(copied.saved, entry.id);
        if (!entry.isWhole() && other && other->isWhole())
            entry = *other;
    }
    for (const InterfaceEntry &entry : copied.saved) {
        if (findEntry(merged.saved, entry.id))
            continue;
        if (merged.saved.size() < entriesPerRun())
            merged.saved.append(entry);
        else
            ++merged.unreadEntries;
    }
    if (!merged.vpnRecorded) {
        merged.vpnRecorded = copied.vpnRecorded;
        merged.vpnIpv4 = copied.vpnIpv4;
        merged.vpnIpv6 = copied.vpnIpv6;
    }
    // Without it another TAP adapter would count as the VPN's, and never be
    // switched back.
    if (merged.vpnAdapter.isEmpty())
        merged.vpnAdapter = copied.vpnAdapter;
    return merged;
}

bool DnsDataFile::hasRecord() const
{
    return recordSource == Source::DataFile || recordSource == Source::Copy ||
           recordSource == Source::Rewritten;
}

QStringList DnsDataFile::vpnServers() const
{
    return vpnDefaultServers() + otherVpnServers + recordVpnServers();
}

QStringList DnsDataFile::recordVpnServers() const
{
    QStringList servers;
    // Earlier versions recorded them as given.
    for (const QString &server : {record.vpnIpv4, record.vpnIpv6}) {
        if (!server.isEmpty())
            servers.append(canonicalAddress(server));
    }
    return servers;
}

bool DnsDataFile::switchedBelongsToVpn(const Record &record)
{
    // A version without "SwitchedFor" kept "Switched" as this one does; a
    // "SwitchedFor" that differs from the VPN servers was left behind by an
    // older version that rewrote those.
    return record.switchedRecorded &&
           (record.switchedFor.isEmpty() ||
            record.switchedFor == switchedFor(record.vpnIpv4, record.vpnIpv6));
}

bool DnsDataFile::switchedIsTrusted() const
{
    return recordSource != Source::Rewritten && switchedBelongsToVpn(record);
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
    QStringList ids = unitedIds(idsOnServers(current, vpnServers()), ownSwitched);
    for (const QString &id : record.switched) {
        if (!findEntry(current, id))
            ids = unitedIds(ids, {id});
    }
    return ids;
}

bool DnsDataFile::recordSwitch(const QList<InterfaceEntry> &entries, const QString &ipv4,
                               const QString &ipv6, const QStringList &switched,
                               const QStringList &listed, const QString &adapter)
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
    wanted.vpnAdapter = adapter;
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
        wanted.vpnAdapter.clear();
    }
    if (rewriteDue || keyValues(wanted) != keyValues(record))
        write(wanted);
}

QList<QPair<QString, QString>> DnsDataFile::keyValues(const Record &record)
{
    QStringList saved;
    for (const InterfaceEntry &entry : record.saved)
        saved.append(formatInterfaceEntry(entry));
    QList<QPair<QString, QString>> values{
        {generationKey, QString::number(record.generation.value_or(0))},
        {argsKey, joinNonEmpty(saved, separator)}};
    if (record.vpnRecorded) {
        values.append({ipv4Key, record.vpnIpv4});
        values.append({ipv6Key, record.vpnIpv6});
        values.append({switchedKey, record.switched.join(separator)});
        values.append({switchedForKey, record.switchedFor});
        if (!record.vpnAdapter.isEmpty())
            values.append({adapterKey, record.vpnAdapter});
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

bool DnsDataFile::write(Record wanted)
{
    // Higher than either file's, so that a dns.dat left behind by a run that
    // stopped between the two writes reads as older than its copy.
    // Below the bound it stays: a stale dns.dat of the same generation reads
    // as a rewrite, never as ahead of its copy.
    wanted.generation = qMin(highestGeneration + 1, generationBound - 1);
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
    highestGeneration = *wanted.generation;
    otherVpnServers.clear();
    ownSwitched.clear();
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
