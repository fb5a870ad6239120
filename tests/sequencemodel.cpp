#include "sequencemodel.h"

#include "dns/servers.h"
#include "testmachine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <memory>
#include <optional>

const QString tapName = QStringLiteral("Local Area Connection");
const QString otherTapName = QStringLiteral("Other VPN");
const QString secondTapStep = QStringLiteral("with a second TAP adapter");

bool Servers::operator==(const Servers &other) const
{
    return canonicalServersText(ipv4) == canonicalServersText(other.ipv4) &&
           canonicalServersText(ipv6) == canonicalServersText(other.ipv6);
}

Servers serversOf(const QString &entryServers)
{
    QStringList ipv4;
    QStringList ipv6;
    for (const QString &server : entryServers.split(QLatin1Char(','), Qt::SkipEmptyParts))
        (server.contains(QLatin1Char(':')) ? ipv6 : ipv4).append(server);
    return {ipv4.join(QLatin1Char(',')), ipv6.join(QLatin1Char(','))};
}

QString entryServers(const Servers &servers)
{
    QStringList parts{servers.ipv4, servers.ipv6};
    parts.removeAll(QString());
    return parts.join(QLatin1Char(','));
}

const QMap<QString, QString> &userInterfaceIds()
{
    static const QMap<QString, QString> ids = {{QStringLiteral("Ethernet"), sample::ethernet},
                                               {QStringLiteral("Wi-Fi"), sample::wifi},
                                               {QStringLiteral("Ethernet 2"), sample::ethernet2},
                                               {otherTapName, sample::otherTap}};
    return ids;
}

QStringList sampleUserNames()
{
    QStringList names = userInterfaceIds().keys();
    names.removeAll(otherTapName);
    return names;
}

QString vpnSetServers(const QString &set)
{
    static const QHash<QString, QString> sets = {
        {QStringLiteral("A"), sample::vpnIpv4 + QLatin1Char(',') + sample::vpnIpv6},
        {QStringLiteral("B"), QStringLiteral("10.8.0.1,fd00:8::1")},
        {QStringLiteral("C"), QStringLiteral("10.9.0.1")},
        {QStringLiteral("D"), QStringLiteral("fd00:9::1")}};
    return sets.value(set);
}

QString joinProblems(QStringList problems)
{
    problems.removeAll(QString());
    return problems.join(QStringLiteral("; "));
}

namespace {

// The servers without any of `taken`.
Servers withoutServers(const Servers &servers, const QStringList &taken)
{
    const auto kept = [&](const QString &text) {
        QStringList left = splitNameServerValue(canonicalServersText(text));
        left.erase(std::remove_if(left.begin(), left.end(),
                                  [&](const QString &server) { return taken.contains(server); }),
                   left.end());
        return left.join(QLatin1Char(','));
    };
    return {kept(servers.ipv4), kept(servers.ipv6)};
}

QString describe(const Servers &servers)
{
    return QStringLiteral("IPv4 '%1', IPv6 '%2'").arg(servers.ipv4, servers.ipv6);
}

// A folder for the copies that QSettings reads, in memory where it can be.
const QTemporaryDir &scratch()
{
    static const QTemporaryDir folder(QFileInfo(QStringLiteral("/dev/shm")).isWritable()
                                          ? QStringLiteral("/dev/shm/tarnwick-model-XXXXXX")
                                          : QDir::tempPath() +
                                                QStringLiteral("/tarnwick-model-XXXXXX"));
    return folder;
}

// Whether a quote is still open where a line ends: the file was cut inside
// a quoted value, which no writer of the data file leaves.
bool quoteOpenAtLineEnd(const QByteArray &bytes)
{
    bool inQuotes = false;
    for (int i = 0; i < bytes.size(); ++i) {
        const char c = bytes.at(i);
        if (c == '\\')
            ++i;
        else if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ';' && !inQuotes) // a comment, to its line end
            i = bytes.indexOf('\n', i) < 0 ? bytes.size() : bytes.indexOf('\n', i) - 1;
        else if ((c == '\n' || c == '\r') && inQuotes)
            return true;
    }
    return false;
}

// One of the tool's data files as the tool reads it, through a copy without
// a byte order mark, which QSettings reads as a line of its own; none when
// it is missing, another account's, or does not read whole (bytes that are
// no UTF-8 text, a last line cut short, a quote not closed on its line, a
// value that is no text, no value at all, an item of "Switched" that is no
// interface ID). Readings are kept by the file's
// bytes: a search reads the same few files again and again.
std::shared_ptr<const QSettings> readDataFile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || QFileInfo(path).ownerId() != 0)
        return nullptr;
    QByteArray bytes = file.readAll();
    static QHash<QByteArray, std::shared_ptr<const QSettings>> readings;
    const auto known = readings.constFind(bytes);
    if (known != readings.constEnd())
        return *known;
    if (readings.size() > 10000)
        readings.clear();
    std::shared_ptr<const QSettings> &reading = readings[bytes];
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.mid(3);
    if (bytes.contains('\0') || QString::fromUtf8(bytes).toUtf8() != bytes ||
        (!bytes.isEmpty() && !bytes.endsWith('\n')) || quoteOpenAtLineEnd(bytes))
        return nullptr;
    // A name of its own each time: QSettings caches what it read by name.
    static int copies = 0;
    QFile stripped(scratch().filePath(QString::number(++copies)));
    if (!stripped.open(QIODevice::WriteOnly) || stripped.write(bytes) != bytes.size())
        return nullptr;
    stripped.close();
    // QSettings reads the file whole as it is made.
    auto settings = std::make_shared<QSettings>(stripped.fileName(), QSettings::IniFormat);
    stripped.remove();
    if (settings->allKeys().isEmpty())
        return nullptr;
    for (const QString &key : settings->allKeys()) {
        if (settings->value(key).userType() != QMetaType::QString)
            return nullptr;
    }
    // An item of "Switched" that is no interface ID was mistyped.
    static const QRegularExpression guid(
        QStringLiteral("^\\{[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\}$"),
        QRegularExpression::CaseInsensitiveOption);
    for (const QString &id : settings->value(QStringLiteral("VpnDns/Switched"))
                                 .toString()
                                 .split(';', Qt::SkipEmptyParts)) {
        if (!guid.match(id.trimmed()).hasMatch() && !id.trimmed().isEmpty())
            return nullptr;
    }
    if (settings->status() == QSettings::NoError)
        reading = settings;
    return reading;
}

// The copy, which only the tool writes: always with its generation, the
// user's entries, the VPN's four keys or none, and nothing else. Any other
// copy lost lines and holds no record.
std::shared_ptr<const QSettings> readCopy(const QString &path)
{
    std::shared_ptr<const QSettings> copy = readDataFile(path);
    if (!copy || !copy->contains(QStringLiteral("Record/Generation")) ||
        !copy->contains(QStringLiteral("UserDns/Args")))
        return nullptr;
    const QStringList vpnKeys{QStringLiteral("VpnDns/IPv4"), QStringLiteral("VpnDns/IPv6"),
                              QStringLiteral("VpnDns/Switched"),
                              QStringLiteral("VpnDns/SwitchedFor")};
    const auto present = std::count_if(vpnKeys.cbegin(), vpnKeys.cend(),
                                       [&](const QString &key) { return copy->contains(key); });
    const QStringList written =
        vpnKeys + QStringList{QStringLiteral("Record/Generation"), QStringLiteral("UserDns/Args"),
                              QStringLiteral("VpnDns/Adapter")};
    const QStringList keys = copy->allKeys();
    const bool onlyWritten = std::all_of(keys.cbegin(), keys.cend(), [&](const QString &key) {
        return written.contains(key, Qt::CaseInsensitive);
    });
    return onlyWritten && (present == 0 || present == vpnKeys.size()) ? copy : nullptr;
}

bool sameRecord(const QSettings &one, const QSettings &other)
{
    const QStringList keys = one.allKeys();
    return keys == other.allKeys() &&
           std::all_of(keys.cbegin(), keys.cend(),
                       [&](const QString &key) { return one.value(key) == other.value(key); });
}

// A generation at or past 2^63 reads as none, and as older than any.
const quint64 generationBound = quint64(1) << 63;

std::optional<quint64> generationOf(const QSettings &settings)
{
    bool ok = false;
    const quint64 generation = settings.value(QStringLiteral("Record/Generation")).toULongLong(&ok);
    return ok && generation < generationBound ? std::optional<quint64>(generation) : std::nullopt;
}

// A generation that is no number in range, which only an edit leaves,
// reads as older than any.
bool generationSpoiled(const QSettings &settings)
{
    return settings.contains(QStringLiteral("Record/Generation")) && !generationOf(settings);
}

// Whether the copy holds a later record than dns.dat: a run stopped between
// its two writes, or one that could not replace dns.dat.
bool isCopyAhead(const QSettings &written, const QSettings &copied)
{
    const auto writtenGeneration = generationOf(written);
    const auto copiedGeneration = generationOf(copied);
    return copiedGeneration && (writtenGeneration ? *copiedGeneration > *writtenGeneration
                                                  : generationSpoiled(written));
}

// Whether an entry's servers text holds plain addresses only: an item that
// is not one (a typo, an empty one between commas) makes it no record of the
// user's servers.
bool isWholeEntry(const QString &servers)
{
    static const QRegularExpression ipv4(
        QStringLiteral("^(0|[1-9]\\d{0,2})(\\.(0|[1-9]\\d{0,2})){3}$"));
    if (servers.trimmed().isEmpty())
        return true;
    const QStringList items = servers.contains(QLatin1Char(','))
                                  ? servers.split(QLatin1Char(','))
                                  : QStringList(servers.simplified());
    return std::all_of(items.cbegin(), items.cend(), [](const QString &item) {
        const QString address = item.trimmed();
        const QHostAddress parsed(address);
        if (address.contains(QLatin1Char(':')))
            return !parsed.isNull() && !address.contains(QLatin1Char('%')) &&
                   !address.contains(QLatin1Char('['));
        return ipv4.match(address).hasMatch() && parsed.protocol() == QAbstractSocket::IPv4Protocol;
    });
}

// The servers text of the interface's first entry in a record's "Args";
// none without one.
std::optional<QString> savedServers(const QSettings &record, const QString &id)
{
    for (const QString &entry :
         record.value(QStringLiteral("UserDns/Args")).toString().split(';')) {
        if (entry.section('@', 0, 0).trimmed().compare(id, Qt::CaseInsensitive) == 0)
            return entry.section('@', 1);
    }
    return std::nullopt;
}

// The upper-case IDs a record's "Switched" names.
QStringList switchedIds(const QSettings &record)
{
    return record.value(QStringLiteral("VpnDns/Switched"))
        .toString()
        .toUpper()
        .split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

} // namespace

SequenceModel::SequenceModel(const ModelMachine &machine, const QStringList &names)
    : machine(&machine)
{
    for (const QString &name : names)
        interfaces[name].user = held(userInterfaceIds().value(name));
    for (const QString &id : {sample::kernelDebug, sample::unnamed})
        neverListed.insert(id, held(id));
}

Servers SequenceModel::held(const QString &id) const
{
    return {machine->nameServer(id, true), machine->nameServer(id, false)};
}

bool SequenceModel::maySpoil(bool ofCopy) const
{
    if (ofCopy)
        return recordsAlike();
    // The copy must hold every entry whole too: one spoiled in both files is
    // a loss the README names.
    const std::shared_ptr<const QSettings> copied = readPair().second;
    if (!copied)
        return false;
    const QStringList entries =
        copied->value(QStringLiteral("UserDns/Args")).toString().split(';', Qt::SkipEmptyParts);
    return std::all_of(entries.cbegin(), entries.cend(),
                       [](const QString &entry) { return isWholeEntry(entry.section('@', 1)); });
}

std::pair<SequenceModel::Reading, SequenceModel::Reading> SequenceModel::readPair() const
{
    return {readDataFile(machine->dataFilePath()),
            readCopy(machine->dataFilePath() + QStringLiteral(".copy"))};
}

// Which interfaces the tool holds switched, as its record says: only those
// may the user not change, and only those may a switch back restore. The
// record is dns.dat where it reads whole and its copy does not or matches
// it; the copy where dns.dat does not read whole, or holds an older
// generation than the copy. Where dns.dat reads whole but other than its
// copy, the interfaces on a VPN server count as switched, and with a
// generation in either file those dns.dat's own "Switched" names, each
// restored from its entry in dns.dat, else in the copy. Only an `edited`
// file, another writer's, may change what the user's servers are: after a
// run of the tool's own, both files hold its record, or the copy is ahead.
void SequenceModel::readRecord(bool edited)
{
    const auto [written, copied] = readPair();
    const QSettings *record = written ? written.get() : copied.get();
    if (written && copied && !sameRecord(*written, *copied)) {
        if (!isCopyAhead(*written, *copied)) {
            followRewrite(*written, *copied, generationOf(*written) || generationOf(*copied),
                          edited);
            settleLosses();
            return;
        }
        record = copied.get();
    }
    recordVpn = record ? Servers{record->value(QStringLiteral("VpnDns/IPv4")).toString(),
                                 record->value(QStringLiteral("VpnDns/IPv6")).toString()}
                       : Servers();
    const QStringList switched = record ? switchedIds(*record) : QStringList();
    for (auto it = interfaces.begin(); it != interfaces.end(); ++it)
        it->switched = switched.contains(userInterfaceIds().value(it.key()).toUpper());
    settleLosses();
}

void SequenceModel::settleLosses()
{
    for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
        if (it->switched || !it->beforeLoss)
            continue;
        // Still on the servers the user gave it: no restore took them.
        if (held(userInterfaceIds().value(it.key())) == *it->beforeLoss)
            it->user = *it->beforeLoss;
        it->beforeLoss.reset();
    }
}

void SequenceModel::followRewrite(const QSettings &written, const QSettings &copied,
                                  bool withGeneration, bool edited)
{
    // Without a recorded switch in either file no interface is switched.
    const bool switchRecorded = written.childGroups().contains(QStringLiteral("VpnDns")) ||
                                copied.childGroups().contains(QStringLiteral("VpnDns"));
    const QSettings &vpnRecord =
        written.childGroups().contains(QStringLiteral("VpnDns")) ? written : copied;
    recordVpn = {vpnRecord.value(QStringLiteral("VpnDns/IPv4")).toString(),
                 vpnRecord.value(QStringLiteral("VpnDns/IPv6")).toString()};
    // dns.dat's own "Switched", where it belongs to dns.dat's VPN servers.
    const QString switchedFor = written.value(QStringLiteral("VpnDns/SwitchedFor")).toString();
    const bool ownSwitched =
        withGeneration &&
        (switchedFor.isEmpty() ||
         switchedFor == written.value(QStringLiteral("VpnDns/IPv4")).toString() + QLatin1Char(',') +
                            written.value(QStringLiteral("VpnDns/IPv6")).toString());
    QStringList vpnServers = vpnDefaultServers();
    for (const QSettings *settings : {&written, &copied}) {
        vpnServers << settings->value(QStringLiteral("VpnDns/IPv4")).toString()
                   << canonicalServersText(
                          settings->value(QStringLiteral("VpnDns/IPv6")).toString());
    }
    for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
        const QString id = userInterfaceIds().value(it.key());
        const Servers inForce = held(id);
        const QStringList servers = splitNameServerValue(canonicalServersText(inForce.ipv4)) +
                                    splitNameServerValue(canonicalServersText(inForce.ipv6));
        it->switched = (switchRecorded && std::any_of(servers.begin(), servers.end(),
                                                      [&](const QString &server) {
                                                          return vpnServers.contains(server);
                                                      })) ||
                       (ownSwitched && switchedIds(written).contains(id.toUpper()));
        if (!edited)
            continue;
        // After another writer's edit, one taken for switched goes back to
        // its saved entry, dns.dat's where it is whole, else the copy's
        // where that one is, or without one to its servers in force without
        // the VPN's, a user's own equal to one of them included: a loss the
        // README names (beforeLoss).
        std::optional<QString> saved = savedServers(written, id);
        if (!saved || !isWholeEntry(*saved))
            saved = savedServers(copied, id);
        if (saved && !isWholeEntry(*saved))
            saved.reset();
        const Servers expected = !it->switched ? inForce
                                 : !saved      ? withoutServers(inForce, vpnServers)
                                               : serversOf(*saved);
        if (it->switched && !(expected == it->user) && !it->beforeLoss)
            it->beforeLoss = it->user;
        it->user = expected;
    }
}

void SequenceModel::loseRecord()
{
    // The loss the README names where neither file reads whole: a switched
    // interface keeps its servers in force, but for a list that is exactly a
    // VPN default server, which a reset clears and the next vpn run does not
    // record.
    const QStringList defaults = vpnDefaultServers();
    const auto withoutLoneDefault = [&](const QString &list) {
        return defaults.contains(canonicalServersText(list)) ? QString() : list;
    };
    for (auto it = interfaces.begin(); it != interfaces.end(); ++it) {
        if (!it->switched)
            continue;
        const Servers inForce = held(userInterfaceIds().value(it.key()));
        it->user = {withoutLoneDefault(inForce.ipv4), withoutLoneDefault(inForce.ipv6)};
        it->beforeLoss.reset();
    }
    readRecord();
}

bool SequenceModel::recordHidden() const
{
    const auto [written, copied] = readPair();
    const auto ours = [](const QString &path) {
        return QFileInfo::exists(path) && QFileInfo(path).ownerId() == 0;
    };
    return !written && !copied &&
           (ours(machine->dataFilePath()) || ours(machine->dataFilePath() + ".copy"));
}

bool SequenceModel::readsAsRewrite() const
{
    const auto [written, copied] = readPair();
    return written && copied && !sameRecord(*written, *copied) && !isCopyAhead(*written, *copied);
}

bool SequenceModel::recordsAlike() const
{
    if (!QFile::exists(machine->dataFilePath()) &&
        !QFile::exists(machine->dataFilePath() + QStringLiteral(".copy")))
        return true;
    const auto [written, copied] = readPair();
    return written && copied && sameRecord(*written, *copied);
}

QString SequenceModel::checkOnUser(const QStringList &names) const
{
    QStringList differences;
    for (const QString &name : names) {
        differences.append(difference(name, userInterfaceIds().value(name),
                                      interfaces.value(name).user,
                                      QStringLiteral("not the servers the user run gave it")));
    }
    return joinProblems(differences);
}

QString SequenceModel::checkOnVpn(const QString &set) const
{
    const Servers vpn = serversOf(vpnSetServers(set));
    QStringList differences{difference(tapName, sample::tap, vpn, QStringLiteral("not the VPN's"))};
    for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it) {
        differences.append(difference(it.key(), userInterfaceIds().value(it.key()), vpn,
                                      QStringLiteral("not the VPN's")));
    }
    return joinProblems(differences);
}

// "NAME holds SERVERS, EXPECTATION SERVERS" when the interface does not hold
// the expected servers; empty when it does.
QString SequenceModel::difference(const QString &name, const QString &id, const Servers &expected,
                                  const QString &expectation) const
{
    const Servers servers = held(id);
    if (servers == expected)
        return QString();
    return QStringLiteral("%1 holds %2, %3 %4")
        .arg(name, describe(servers), expectation, describe(expected));
}

// The state the model expects: "partial" where the data files may hide a
// switch, or without a record where a list is a lone VPN default server,
// which a reset would take for the VPN's; "none" without a switched
// interface; "switched" when every listed one is on the record's VPN
// servers.
QString SequenceModel::expectedState() const
{
    // Files that no longer read whole may hide a switch.
    if (recordHidden())
        return QStringLiteral("partial");
    QStringList ids;
    for (const QString &name : interfaces.keys())
        ids.append(userInterfaceIds().value(name));
    const auto [written, copied] = readPair();
    // Without a record, a list that is a lone VPN default server is one a
    // reset would clear: only a lost record leaves one.
    const bool loneDefault = std::any_of(ids.cbegin(), ids.cend(), [&](const QString &id) {
        const Servers servers = held(id);
        return vpnDefaultServers().contains(canonicalServersText(servers.ipv4)) ||
               vpnDefaultServers().contains(canonicalServersText(servers.ipv6));
    });
    if (!written && !copied && loneDefault)
        return QStringLiteral("partial");
    if (!anySwitched())
        return QStringLiteral("none");
    ids.append(sample::tap);
    const bool allOnVpn = std::all_of(ids.cbegin(), ids.cend(),
                                      [&](const QString &id) { return held(id) == recordVpn; });
    return allOnVpn ? QStringLiteral("switched") : QStringLiteral("partial");
}

bool SequenceModel::anySwitched() const
{
    return std::any_of(interfaces.cbegin(), interfaces.cend(),
                       [](const Interface &interface) { return interface.switched; });
}

QString SequenceModel::checkStatus(int exitCode, const QJsonObject &answer) const
{
    QStringList problems;
    const QString expected = expectedState();
    const QString state = answer.value(QStringLiteral("state")).toString();
    const int expectedExitCode = expected == "none" ? 0 : expected == "switched" ? 10 : 11;
    if (state != expected || exitCode != expectedExitCode) {
        problems.append(QStringLiteral("status answered '%1' (exit code %2), the model '%3'")
                            .arg(state, QString::number(exitCode), expected));
    }
    const bool switchRecorded = anySwitched();
    for (const QJsonValue &value : answer.value(QStringLiteral("interfaces")).toArray()) {
        const QJsonObject interface = value.toObject();
        const QString name = interface.value(QStringLiteral("name")).toString();
        if (interfaces.contains(name) &&
            interface.value(QStringLiteral("switched")).toBool() != interfaces.value(name).switched)
            problems.append(
                QStringLiteral("status holds %1 switched otherwise than the record").arg(name));
        // On the VPN's servers: what the record names, in each protocol.
        const bool onVpn = (!recordVpn.ipv4.isEmpty() || !recordVpn.ipv6.isEmpty()) &&
                           held(interface.value(QStringLiteral("id")).toString()) == recordVpn;
        if (interface.value(QStringLiteral("onVpnServers")).toBool() != onVpn)
            problems.append(QStringLiteral("status holds %1 %2 the VPN's servers")
                                .arg(name, onVpn ? QStringLiteral("off") : QStringLiteral("on")));
        // While a switch is recorded, every listed interface but the VPN's
        // own that is off the VPN's servers may resolve around the VPN.
        const bool leak = switchRecorded && !onVpn && name != tapName;
        if (interface.value(QStringLiteral("possibleLeak")).toBool() != leak)
            problems.append(QStringLiteral("status holds %1 %2 a possible leak")
                                .arg(name, leak ? QStringLiteral("not as") : QStringLiteral("as")));
    }
    return joinProblems(problems);
}

QString SequenceModel::checkFinalReset(const QStringList &resetLog) const
{
    QStringList differences;
    for (const QString &line : resetLog) {
        if (line.startsWith(QLatin1String("warning\t")) &&
            line.contains(QLatin1String("not restored"))) {
            differences.append(QStringLiteral("the reset warned: ") +
                               line.section(QLatin1Char('\t'), 1));
        }
    }
    for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it) {
        differences.append(difference(it.key(), userInterfaceIds().value(it.key()), it->user,
                                      QStringLiteral("the user gave it")));
    }
    for (auto it = neverListed.cbegin(); it != neverListed.cend(); ++it) {
        differences.append(difference(QStringLiteral("never listed ") + it.key(), it.key(),
                                      it.value(), QStringLiteral("it held")));
    }
    return joinProblems(differences);
}

QString SequenceModel::text() const
{
    QString text = describe(recordVpn) + QLatin1Char('\n');
    for (auto it = interfaces.cbegin(); it != interfaces.cend(); ++it) {
        text += QStringLiteral("%1: %2%3\n")
                    .arg(it.key(), describe(it->user),
                         it->switched ? QStringLiteral(", switched") : QString());
    }
    return text;
}
