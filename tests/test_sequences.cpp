#include "dns/servers.h"
#include "testmachine.h"

#include <QTextCodec>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>

#include <unistd.h>

// Sequences of runs on a fresh sample machine, killed, failed, partial and
// overlapping ones included, checked against a model of the servers the user
// last gave each interface: a final reset that restores every interface must
// leave each on exactly those. After each step, `status` must answer what
// the record and the servers in force say, and change nothing.
//
// Steps, one per string (a list of them joined by "; " replays a sequence):
//   vpn A|B|C|D                 vpn with the TAP adapter's entry and a server set
//   reset
//   user NAME[!K][,NAME[!K]...] an entry per named interface, its model servers;
//                               with !K a malformed one of kind K (1 two "@",
//                               2 no address, 3 blanks for commas, 4 a bad
//                               item beside the model servers)
//   RUN | FAULT                 one of the three above with a fault for that run:
//                               netsh fail|crash|noop TEXT, kill TEXT (netsh
//                               hangs at the first call holding TEXT, the tool
//                               is killed there), no listing, wmic fail,
//                               replace fails (dns.dat immutable meanwhile),
//                               kill between writes (before dns.dat is
//                               replaced), native fail|noop|crash|hang TEXT
//                               (SetInterfaceDnsSettings, on a machine that
//                               has it, for the calls holding TEXT)
//   together RUN + RUN after N ms
//   change NAME@SERVERS         the user gives the interface these servers (left
//                               out while the model holds it switched)
//   garble lock [HEX]           these bytes (none without HEX) in dns.lock
//   damage KIND                 dns.dat edited by hand or another program:
//                               "Args" blanked (blank), its quotes taken away
//                               (unquote), the TAP adapter's ID added to
//                               "Switched" (tap), a byte order mark (bom), a
//                               comment after each group line (comment), a
//                               UTF-16 re-save (utf16), an older version's
//                               rewrite of "Args" (rewrite), the file cut
//                               short (cut)
//   damage copy KIND            dns.dat.copy re-saved as UTF-16 (utf16), cut
//                               short (cut), deleted (delete), or given to
//                               another account (untrusted)
//
// TARNWICK_SEQUENCES random sequences (10; 1 under Wine, where a run costs
// seconds) of TARNWICK_SEQUENCE_STEPS steps (14) each; sequence i uses the
// seed TARNWICK_SEED + i, or without it fixed seeds and, last, a fresh one.
// A damage step that would leave neither file holding the record whole
// changes nothing: that loss is one the README names.
// TARNWICK_REPLAY, a step list, replaces them. TARNWICK_KEEP_FAILED, a
// folder, receives a copy of a failed sequence's machine.

namespace {

// Every run must end within this bound and exit with code 0.
const int runBoundMs = 60000;
// The connection name of the sample machine's TAP adapter.
const QString tapName = QStringLiteral("Local Area Connection");
const QString unreadableStep = QStringLiteral("cannot read the step");

// An interface's servers as the "NameServer" texts of its two stacks,
// compared as a user would: a repeated server once, IPv6 in one form.
struct Servers
{
    QString ipv4;
    QString ipv6;
    bool operator==(const Servers &other) const
    {
        return canonicalServersText(ipv4) == canonicalServersText(other.ipv4) &&
               canonicalServersText(ipv6) == canonicalServersText(other.ipv6);
    }
};

// The servers of an entry's text after "@": addresses joined by ",".
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

QString describe(const Servers &servers)
{
    return QStringLiteral("IPv4 '%1', IPv6 '%2'").arg(servers.ipv4, servers.ipv6);
}

Servers nameServers(const TestMachine &machine, const QString &id)
{
    return {machine.nameServer(id, true), machine.nameServer(id, false)};
}

// The interfaces a switch back restores, by connection name.
const QMap<QString, QString> &userInterfaceIds()
{
    static const QMap<QString, QString> ids = {{QStringLiteral("Ethernet"), sample::ethernet},
                                               {QStringLiteral("Wi-Fi"), sample::wifi},
                                               {QStringLiteral("Ethernet 2"), sample::ethernet2}};
    return ids;
}

// The entry servers of a vpn step's server set; empty for an unknown set.
QString vpnSetServers(const QString &set)
{
    static const QHash<QString, QString> sets = {
        {QStringLiteral("A"), sample::vpnIpv4 + QLatin1Char(',') + sample::vpnIpv6},
        {QStringLiteral("B"), QStringLiteral("10.8.0.1,fd00:8::1")},
        {QStringLiteral("C"), QStringLiteral("10.9.0.1")},
        {QStringLiteral("D"), QStringLiteral("fd00:9::1")}};
    return sets.value(set);
}

// The problems that are not empty, joined.
QString joinProblems(QStringList problems)
{
    problems.removeAll(QString());
    return problems.join(QStringLiteral("; "));
}

bool isVpnRun(const QString &run)
{
    return run.startsWith(QLatin1String("vpn "));
}

// Waits for a started run until the deadline and kills it when it overruns;
// what went wrong, or an empty text. A run the test killed only has to end.
QString awaitRun(QProcess &tool, const QString &run, bool killed, const QDeadlineTimer &deadline)
{
    if (tool.state() != QProcess::NotRunning &&
        !tool.waitForFinished(int(deadline.remainingTime()))) {
        tool.kill();
        tool.waitForFinished();
        return QStringLiteral("'%1' did not end within %2 s")
            .arg(run, QString::number(runBoundMs / 1000));
    }
    if (killed)
        return QString();
    if (tool.exitStatus() != QProcess::NormalExit || tool.error() == QProcess::FailedToStart)
        return QStringLiteral("'%1' did not exit: %2").arg(run, tool.errorString());
    if (tool.exitCode() != 0)
        return QStringLiteral("'%1' exited with code %2")
            .arg(run, QString::number(tool.exitCode()));
    return QString();
}

// One sequence of steps, and where and how it failed.
struct Sequence
{
    Sequence(const QString &origin, const QStringList &steps) : origin(origin), steps(steps) {}

    QString origin; // a seed, a replay or a regression row
    QStringList steps;
    int stepsRun = 0; // steps that went as the model says
    QString failure;  // empty when every step and the final check passed
    QStringList log;  // the tool's log lines of the step that failed

    QString report() const
    {
        const QString where = stepsRun < steps.size()
                                  ? QStringLiteral("step %1 '%2'")
                                        .arg(QString::number(stepsRun + 1), steps.at(stepsRun))
                                  : QStringLiteral("the final reset");
        const QString logPart =
            log.isEmpty() ? QString() : QStringLiteral("\n  its log:\n    ") + log.join("\n    ");
        return QStringLiteral("%1 failed at %2: %3\n  TARNWICK_REPLAY='%4'%5")
            .arg(origin, where, failure, steps.join(QStringLiteral("; ")), logPart);
    }
};

// Executes steps on a fresh sample machine and keeps the model: for each
// interface the servers the user last gave it, and whether the tool
// considers it switched to the VPN.
class SequenceRunner
{
public:
    SequenceRunner();
    bool isValid() const { return machine.isValid(); }
    // What differed from the model or failed; empty when the step went well.
    QString execute(const QString &step);
    // Clears all faults, runs reset, and checks that nothing was lost.
    QString finalReset();
    // Asks `status --json` and holds its answer against the model; what
    // differed, or an empty text.
    QString checkStatus();
    QStringList logLines() const { return machine.logLines(); }
    // Copies the machine's folder, Wine prefix included, into `destination`.
    void keepMachine(const QString &destination) const;

private:
    struct InterfaceModel
    {
        Servers user;
        bool switched = false;
    };

    QString runAlone(const QString &run, const QString &fault);
    QString runTogether(const QString &pair);
    QString changeServers(const QString &entry);
    QString garbleLock(const QString &hexBytes) const;
    QString damageDataFile(const QString &step);
    bool recordsAlike() const;
    void readRecord(bool edited = false);
    void followRewrite(const QSettings &written, const QSettings &copied, bool withGeneration,
                       bool edited);
    QString userEntry(const QString &named) const;
    QStringList toolArguments(const QString &run) const;
    bool setFault(const QString &fault) const;
    bool immutable(bool on) const;
    void clearFaults() const;
    bool killAtCall(QProcess &tool, const QString &text, int callsBefore,
                    const QDeadlineTimer &deadline) const;
    QString checkOnVpn(const QString &set) const;
    QString expectedState() const;
    QString difference(const QString &name, const QString &id, const Servers &expected,
                       const QString &expectation) const;

    TestMachine machine;
    QMap<QString, InterfaceModel> model;
    QMap<QString, Servers> neverListed; // by ID
    Servers recordVpn;                  // the VPN servers of the record read
};

SequenceRunner::SequenceRunner()
{
    // A hanging SetInterfaceDnsSettings costs a second, not 30.
    QFile timeout(machine.root() + QStringLiteral("/dns-call-timeout-ms"));
    if (timeout.open(QIODevice::WriteOnly))
        timeout.write("1000");
    for (auto it = userInterfaceIds().cbegin(); it != userInterfaceIds().cend(); ++it)
        model[it.key()].user = nameServers(machine, it.value());
    for (const QString &id : {sample::kernelDebug, sample::unnamed})
        neverListed.insert(id, nameServers(machine, id));
}

QString SequenceRunner::execute(const QString &step)
{
    const QString together = QStringLiteral("together ");
    const QString change = QStringLiteral("change ");
    const QString garble = QStringLiteral("garble lock");
    const QString damage = QStringLiteral("damage ");
    if (step.startsWith(damage))
        return damageDataFile(step.mid(damage.size()));
    if (step.startsWith(together))
        return runTogether(step.mid(together.size()));
    if (step.startsWith(change))
        return changeServers(step.mid(change.size()));
    if (step.startsWith(garble))
        return garbleLock(step.mid(garble.size()).trimmed());
    const QString faultSeparator = QStringLiteral(" | ");
    return runAlone(step.section(faultSeparator, 0, 0), step.section(faultSeparator, 1));
}

void SequenceRunner::keepMachine(const QString &destination) const
{
    QProcess::execute(QStringLiteral("cp"),
                      {QStringLiteral("-a"), QFileInfo(machine.root()).path(), destination});
}

QString SequenceRunner::runAlone(const QString &run, const QString &fault)
{
    const QStringList arguments = toolArguments(run);
    if (arguments.isEmpty() || !setFault(fault))
        return unreadableStep;
    const int callsBefore = machine.netshCalls().size();
    const QDeadlineTimer deadline(runBoundMs);
    QProcess tool;
    machine.startTool(tool, arguments);
    const QString kill = QStringLiteral("kill ");
    // The tool ends by itself, as a killed run does.
    const bool betweenWrites = fault == QLatin1String("kill between writes") ||
                               fault.startsWith(QLatin1String("native crash"));
    const bool fileFault = betweenWrites || fault == QLatin1String("replace fails");
    bool killed = !betweenWrites && fault.startsWith(kill) &&
                  killAtCall(tool, fault.mid(kill.size()), callsBefore, deadline);
    if (betweenWrites && tool.waitForFinished(int(deadline.remainingTime())))
        killed = tool.exitStatus() == QProcess::CrashExit;
    const QString problem = awaitRun(tool, run, killed, deadline);
    clearFaults();
    readRecord();
    if (!problem.isEmpty() || fault == QLatin1String("no listing") || (killed && !isVpnRun(run)))
        return problem;
    // A run that ends leaves the record it acted on in both files.
    if (!killed && !fileFault && !recordsAlike())
        return QStringLiteral("dns.dat and its copy differ after '%1'").arg(run);
    const bool undisturbed = fault.isEmpty() || fault == QLatin1String("wmic fail") ||
                             (fault.startsWith(kill) && !killed);
    return isVpnRun(run) && undisturbed ? checkOnVpn(run.section(QLatin1Char(' '), 1)) : QString();
}

QString SequenceRunner::runTogether(const QString &pair)
{
    static const QRegularExpression form(QStringLiteral("^(.+) \\+ (.+) after (\\d+) ms$"));
    const QRegularExpressionMatch match = form.match(pair);
    const QStringList runs = {match.captured(1), match.captured(2)};
    const QStringList firstArguments = toolArguments(runs.first());
    const QStringList secondArguments = toolArguments(runs.last());
    if (firstArguments.isEmpty() || secondArguments.isEmpty())
        return unreadableStep;

    const QDeadlineTimer deadline(runBoundMs);
    QProcess first;
    QProcess second;
    machine.startTool(first, firstArguments);
    QThread::msleep(match.captured(3).toULong());
    machine.startTool(second, secondArguments);
    const QString problems = joinProblems({awaitRun(first, runs.first(), false, deadline),
                                           awaitRun(second, runs.last(), false, deadline)});
    readRecord();
    return problems;
}

QString SequenceRunner::changeServers(const QString &entry)
{
    const QString name = entry.section(QLatin1Char('@'), 0, 0);
    if (!entry.contains(QLatin1Char('@')) || !model.contains(name))
        return unreadableStep;
    // The user only changes an interface the tool does not hold switched; a
    // switch back that did not take leaves the step out.
    InterfaceModel &interface = model[name];
    if (interface.switched)
        return QString();
    interface.user = serversOf(entry.section(QLatin1Char('@'), 1));
    const QString id = userInterfaceIds().value(name);
    machine.setNameServer(id, true, interface.user.ipv4);
    machine.setNameServer(id, false, interface.user.ipv6);
    return QString();
}

// One of the tool's data files as the tool reads it, through a copy in
// `scratch` without a byte order mark, which QSettings reads as a line of
// its own; none when it is missing, another account's, or does not read
// whole (bytes that are no UTF-8 text, a last line cut short, a value that
// is no text).
std::unique_ptr<QSettings> readDataFile(const QString &path, const QTemporaryDir &scratch)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || QFileInfo(path).ownerId() != 0)
        return nullptr;
    QByteArray bytes = file.readAll();
    if (bytes.startsWith("\xef\xbb\xbf"))
        bytes = bytes.mid(3);
    if (bytes.contains('\0') || QString::fromUtf8(bytes).toUtf8() != bytes ||
        (!bytes.isEmpty() && !bytes.endsWith('\n')))
        return nullptr;
    QFile stripped(scratch.filePath(QFileInfo(path).fileName()));
    if (!stripped.open(QIODevice::WriteOnly) || stripped.write(bytes) != bytes.size())
        return nullptr;
    stripped.close();
    auto settings = std::make_unique<QSettings>(stripped.fileName(), QSettings::IniFormat);
    for (const QString &key : settings->allKeys()) {
        if (settings->value(key).userType() != QMetaType::QString)
            return nullptr;
    }
    return settings->status() == QSettings::NoError ? std::move(settings) : nullptr;
}

bool sameRecord(const QSettings &one, const QSettings &other)
{
    const QStringList keys = one.allKeys();
    return keys == other.allKeys() &&
           std::all_of(keys.cbegin(), keys.cend(),
                       [&](const QString &key) { return one.value(key) == other.value(key); });
}

std::optional<quint64> generationOf(const QSettings &settings)
{
    bool ok = false;
    const quint64 generation = settings.value(QStringLiteral("Record/Generation")).toULongLong(&ok);
    return ok ? std::optional<quint64>(generation) : std::nullopt;
}

// The upper-case IDs a record's "Switched" names.
QStringList switchedIds(const QSettings &record)
{
    return record.value(QStringLiteral("VpnDns/Switched"))
        .toString()
        .toUpper()
        .split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// Edits dns.dat or its copy as a careless hand, another editor or another
// writer would. Where one file no longer holds the record, the other does;
// where dns.dat still reads whole but no longer matches its copy, the
// interfaces on a VPN server count as switched (readRecord).
QString SequenceRunner::damageDataFile(const QString &step)
{
    const QString copyPrefix = QStringLiteral("copy ");
    const bool ofCopy = step.startsWith(copyPrefix);
    const QString kind = ofCopy ? step.mid(copyPrefix.size()) : step;
    const QString copyPath = machine.dataFilePath() + QStringLiteral(".copy");
    QFile file(ofCopy ? copyPath : machine.dataFilePath());
    // One file always holds the record whole: the copy is spoiled only while
    // dns.dat holds the same, dns.dat only while the copy reads whole.
    QTemporaryDir scratch;
    if (!file.exists() || (ofCopy ? !recordsAlike() : !readDataFile(copyPath, scratch)))
        return QString();
    if (kind == QLatin1String("delete") || kind == QLatin1String("untrusted")) {
        const bool done =
            kind == QLatin1String("delete")
                ? file.remove()
                : chown(QFile::encodeName(file.fileName()).constData(), 65534, 65534) == 0;
        readRecord(true);
        return done ? QString() : QStringLiteral("cannot %1 %2").arg(kind, file.fileName());
    }
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot read %1").arg(file.fileName());
    QByteArray text = file.readAll();
    file.close();
    static const QRegularExpression args(QStringLiteral("^Args=\"?([^\"\r\n]*)\"?"),
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression switched(QStringLiteral("^Switched=\"?([^\"\r\n]*)\"?"),
                                             QRegularExpression::MultilineOption);
    QString edited = QString::fromLatin1(text);
    if (kind == QLatin1String("blank"))
        edited.replace(args, QStringLiteral("Args="));
    else if (kind == QLatin1String("unquote"))
        edited.replace(args, QStringLiteral("Args=\\1"));
    else if (kind == QLatin1String("tap"))
        edited.replace(switched,
                       QStringLiteral("Switched=\"\\1;") + sample::tap + QLatin1Char('"'));
    else if (kind == QLatin1String("bom"))
        edited.prepend(QChar(0xfeff));
    else if (kind == QLatin1String("comment"))
        edited.replace(QStringLiteral("]\r\n"), QStringLiteral("] ; by hand\r\n"));
    else if (kind == QLatin1String("cut")) // in the middle of its last line
        edited.chop(4);
    else if (kind == QLatin1String("rewrite")) // an older version's entries, in its order
        edited.replace(args, QStringLiteral("Args=\"") +
                                 machine.dataFileValue(QStringLiteral("UserDns/Args"))
                                     .split(QLatin1Char(';'))
                                     .mid(1)
                                     .join(QLatin1Char(';')) +
                                 QStringLiteral(";\""));
    else if (kind != QLatin1String("utf16"))
        return unreadableStep;
    const QByteArray bytes = kind == QLatin1String("utf16")
                                 ? QTextCodec::codecForName("UTF-16")->fromUnicode(edited)
                             : kind == QLatin1String("bom") ? edited.toUtf8()
                                                            : edited.toLatin1();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) < 0 ||
        !file.flush())
        return QStringLiteral("cannot write %1").arg(file.fileName());
    file.close();
    readRecord(true);
    return QString();
}

bool SequenceRunner::recordsAlike() const
{
    const QString copyPath = machine.dataFilePath() + QStringLiteral(".copy");
    if (!QFile::exists(machine.dataFilePath()) && !QFile::exists(copyPath))
        return true;
    QTemporaryDir scratch;
    const std::unique_ptr<QSettings> written = readDataFile(machine.dataFilePath(), scratch);
    const std::unique_ptr<QSettings> copied = readDataFile(copyPath, scratch);
    return written && copied && sameRecord(*written, *copied);
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
void SequenceRunner::readRecord(bool edited)
{
    QTemporaryDir scratch;
    const std::unique_ptr<QSettings> written = readDataFile(machine.dataFilePath(), scratch);
    const std::unique_ptr<QSettings> copied =
        readDataFile(machine.dataFilePath() + QStringLiteral(".copy"), scratch);
    const QSettings *record = written ? written.get() : copied.get();
    if (written && copied && !sameRecord(*written, *copied)) {
        const auto writtenGeneration = generationOf(*written);
        const auto copiedGeneration = generationOf(*copied);
        if (!writtenGeneration || !copiedGeneration || *copiedGeneration <= *writtenGeneration) {
            followRewrite(*written, *copied, writtenGeneration || copiedGeneration, edited);
            return;
        }
        record = copied.get();
    }
    recordVpn = record ? Servers{record->value(QStringLiteral("VpnDns/IPv4")).toString(),
                                 record->value(QStringLiteral("VpnDns/IPv6")).toString()}
                       : Servers();
    const QStringList switched = record ? switchedIds(*record) : QStringList();
    for (auto it = model.begin(); it != model.end(); ++it)
        it->switched = switched.contains(userInterfaceIds().value(it.key()).toUpper());
}

void SequenceRunner::followRewrite(const QSettings &written, const QSettings &copied,
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
    QStringList entries;
    for (const QSettings *settings : {&written, &copied}) {
        vpnServers << settings->value(QStringLiteral("VpnDns/IPv4")).toString()
                   << canonicalServersText(
                          settings->value(QStringLiteral("VpnDns/IPv6")).toString());
        entries += settings->value(QStringLiteral("UserDns/Args")).toString().split(';');
    }
    for (auto it = model.begin(); it != model.end(); ++it) {
        const QString id = userInterfaceIds().value(it.key());
        const Servers held = nameServers(machine, id);
        const QStringList servers = splitNameServerValue(canonicalServersText(held.ipv4)) +
                                    splitNameServerValue(canonicalServersText(held.ipv6));
        it->switched = (switchRecorded && std::any_of(servers.begin(), servers.end(),
                                                      [&](const QString &server) {
                                                          return vpnServers.contains(server);
                                                      })) ||
                       (ownSwitched && switchedIds(written).contains(id.toUpper()));
        const QStringList saved = entries.filter(QRegularExpression(
            "^" + QRegularExpression::escape(id) + "@", QRegularExpression::CaseInsensitiveOption));
        if (edited)
            it->user =
                it->switched && !saved.isEmpty() ? serversOf(saved.first().section('@', 1)) : held;
    }
}

QString SequenceRunner::garbleLock(const QString &hexBytes) const
{
    QDir().mkpath(machine.vendorFolder());
    QFile lock(machine.vendorFolder() + QStringLiteral("/dns.lock"));
    if (!lock.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        lock.write(QByteArray::fromHex(hexBytes.toLatin1())) < 0)
        return QStringLiteral("cannot write %1").arg(lock.fileName());
    return QString();
}

QStringList SequenceRunner::toolArguments(const QString &run) const
{
    const QString mode = run.section(QLatin1Char(' '), 0, 0);
    const QString rest = run.section(QLatin1Char(' '), 1);
    if (run == QLatin1String("reset"))
        return {run};
    if (mode == QLatin1String("vpn") && !vpnSetServers(rest).isEmpty())
        return {mode, sample::tap + QLatin1Char('@') + vpnSetServers(rest)};
    if (mode != QLatin1String("user"))
        return {};
    QStringList arguments{mode};
    for (const QString &named : rest.split(QLatin1Char(','))) {
        arguments.append(userEntry(named));
        if (arguments.last().isEmpty())
            return {};
    }
    return arguments;
}

// The entry of a user step's "NAME" or "NAME!K"; empty for an unknown name.
QString SequenceRunner::userEntry(const QString &named) const
{
    const QString name = named.section(QLatin1Char('!'), 0, 0);
    if (!model.contains(name))
        return QString();
    const QString servers = entryServers(model.value(name).user);
    static const QStringList malformed = {
        QStringLiteral("%1"), QStringLiteral("192.0.2.53@192.0.2.54"),
        QStringLiteral("192.0.2.300"), QStringLiteral("192.0.2.53 192.0.2.54"),
        QStringLiteral("%1,fd00::bad::1")};
    const int kind = named.section(QLatin1Char('!'), 1).toInt();
    return userInterfaceIds().value(name) + QLatin1Char('@') +
           QString(malformed.value(kind)).replace(QStringLiteral("%1"), servers);
}

bool SequenceRunner::setFault(const QString &fault) const
{
    if (fault.isEmpty())
        return true;
    const QStringList fail{QStringLiteral("fail")};
    if (fault == QLatin1String("replace fails"))
        return immutable(true);
    static const QRegularExpression nativeFault(
        QStringLiteral("^native (fail|noop|crash|hang) (SetInterfaceDnsSettings.*|ipv[46])$"));
    const QRegularExpressionMatch native = nativeFault.match(fault);
    if (native.hasMatch()) {
        machine.setFaults(QStringLiteral("iphlpapi"),
                          {native.captured(1) + QLatin1Char(' ') + native.captured(2)});
        return true;
    }
    if (fault == QLatin1String("kill between writes")) {
        machine.setFaults(QStringLiteral("vendorfolder"), {QStringLiteral("kill dns.dat")});
        return true;
    }
    if (fault == QLatin1String("no listing") || fault == QLatin1String("wmic fail")) {
        machine.setFaults(QStringLiteral("wmic"), fail);
        if (fault == QLatin1String("no listing"))
            machine.setFaults(QStringLiteral("iphlpapi"), fail);
        return true;
    }
    static const QRegularExpression netshFault(
        QStringLiteral("^(?:netsh (fail|crash|noop)|kill) (.+)$"));
    const QRegularExpressionMatch match = netshFault.match(fault);
    if (!match.hasMatch())
        return false;
    const QString action = match.captured(1).isEmpty() ? QStringLiteral("hang") : match.captured(1);
    machine.setFaults(QStringLiteral("netsh"), {action + QLatin1Char(' ') + match.captured(2)});
    return true;
}

// Makes dns.dat immutable, so that the tool cannot replace it, or no longer;
// a missing dns.dat stays so.
bool SequenceRunner::immutable(bool on) const
{
    return !QFile::exists(machine.dataFilePath()) ||
           QProcess::execute(
               QStringLiteral("chattr"),
               {on ? QStringLiteral("+i") : QStringLiteral("-i"), machine.dataFilePath()}) == 0;
}

void SequenceRunner::clearFaults() const
{
    immutable(false);
    for (const char *program : {"netsh", "wmic", "iphlpapi", "vendorfolder"})
        machine.clearFaults(QString::fromLatin1(program));
}

// Waits until the run makes a netsh call holding `text` (netsh then hangs),
// and kills the tool alone there; false when the run ended before.
bool SequenceRunner::killAtCall(QProcess &tool, const QString &text, int callsBefore,
                                const QDeadlineTimer &deadline) const
{
    const auto reached = [&] {
        return !machine.netshCalls().mid(callsBefore).filter(text).isEmpty();
    };
    const bool stopped =
        QTest::qWaitFor([&] { return reached() || tool.state() == QProcess::NotRunning; },
                        int(deadline.remainingTime()));
    if (!stopped || tool.state() == QProcess::NotRunning)
        return false;
    tool.kill();
    tool.waitForFinished();
    return true;
}

QString SequenceRunner::checkOnVpn(const QString &set) const
{
    const Servers vpn = serversOf(vpnSetServers(set));
    QStringList differences{difference(tapName, sample::tap, vpn, QStringLiteral("not the VPN's"))};
    for (auto it = userInterfaceIds().cbegin(); it != userInterfaceIds().cend(); ++it)
        differences.append(difference(it.key(), it.value(), vpn, QStringLiteral("not the VPN's")));
    return joinProblems(differences);
}

// "NAME holds SERVERS, EXPECTATION SERVERS" when the interface does not hold
// the expected servers; empty when it does.
QString SequenceRunner::difference(const QString &name, const QString &id, const Servers &expected,
                                   const QString &expectation) const
{
    const Servers held = nameServers(machine, id);
    if (held == expected)
        return QString();
    return QStringLiteral("%1 holds %2, %3 %4")
        .arg(name, describe(held), expectation, describe(expected));
}

// The state the model expects: "none" without a record (no step leaves a
// lone VPN default server, which a reset would take for the VPN's) or a
// switched interface; "switched" when every listed one is on the record's
// VPN servers.
QString SequenceRunner::expectedState() const
{
    QStringList ids = userInterfaceIds().values();
    if (std::none_of(model.cbegin(), model.cend(),
                     [](const InterfaceModel &interface) { return interface.switched; }))
        return QStringLiteral("none");
    ids.append(sample::tap);
    const bool allOnVpn = std::all_of(ids.cbegin(), ids.cend(), [&](const QString &id) {
        return nameServers(machine, id) == recordVpn;
    });
    return allOnVpn ? QStringLiteral("switched") : QStringLiteral("partial");
}

QString SequenceRunner::checkStatus()
{
    const auto dataFile = [this] {
        QFile file(machine.dataFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray recordBefore = dataFile();
    const qint64 logSizeBefore = QFileInfo(machine.logFilePath()).size();
    const int callsBefore = machine.netshCalls().size();
    const TestMachine::Run run =
        machine.runTool({QStringLiteral("status"), QStringLiteral("--json")});
    const QJsonObject answer = QJsonDocument::fromJson(run.standardOutput).object();

    QStringList problems;
    const QString expected = expectedState();
    const QString state = answer.value(QStringLiteral("state")).toString();
    const int exitCode = expected == "none" ? 0 : expected == "switched" ? 10 : 11;
    if (state != expected || run.exitCode != exitCode) {
        problems.append(
            QStringLiteral("status answered '%1' (exit code %2, error output '%3'), the model '%4'")
                .arg(state, QString::number(run.exitCode),
                     QString::fromUtf8(run.standardError).simplified().left(500), expected));
    }
    for (const QJsonValue &value : answer.value(QStringLiteral("interfaces")).toArray()) {
        const QJsonObject interface = value.toObject();
        const QString name = interface.value(QStringLiteral("name")).toString();
        if (model.contains(name) &&
            interface.value(QStringLiteral("switched")).toBool() != model.value(name).switched)
            problems.append(
                QStringLiteral("status holds %1 switched otherwise than the record").arg(name));
        // On the VPN's servers: what the record names, in each protocol.
        const bool onVpn =
            (!recordVpn.ipv4.isEmpty() || !recordVpn.ipv6.isEmpty()) &&
            nameServers(machine, interface.value(QStringLiteral("id")).toString()) == recordVpn;
        if (interface.value(QStringLiteral("onVpnServers")).toBool() != onVpn)
            problems.append(QStringLiteral("status holds %1 %2 the VPN's servers")
                                .arg(name, onVpn ? QStringLiteral("off") : QStringLiteral("on")));
    }
    if (dataFile() != recordBefore || QFileInfo(machine.logFilePath()).size() != logSizeBefore ||
        machine.netshCalls().size() != callsBefore)
        problems.append(QStringLiteral("status changed the data file, the log or DNS servers"));
    return joinProblems(problems);
}

QString SequenceRunner::finalReset()
{
    clearFaults();
    const QString problem = runAlone(QStringLiteral("reset"), QString());
    if (!problem.isEmpty())
        return problem;

    QStringList differences;
    const QStringList lines = machine.logLines();
    const int start = lines.lastIndexOf(
        QRegularExpression(QStringLiteral(".*\tDns: Initialized with 'Reset' mode")));
    for (const QString &line : lines.mid(start + 1)) {
        if (line.startsWith(QLatin1String("warning\t")) &&
            line.contains(QLatin1String("not restored"))) {
            differences.append(QStringLiteral("the reset warned: ") +
                               line.section(QLatin1Char('\t'), 1));
        }
    }
    for (auto it = model.cbegin(); it != model.cend(); ++it) {
        differences.append(difference(it.key(), userInterfaceIds().value(it.key()), it->user,
                                      QStringLiteral("the user gave it")));
    }
    for (auto it = neverListed.cbegin(); it != neverListed.cend(); ++it) {
        differences.append(difference(QStringLiteral("never listed ") + it.key(), it.key(),
                                      it.value(), QStringLiteral("it held")));
    }
    return joinProblems(differences);
}

void runSequence(Sequence &sequence)
{
    SequenceRunner runner;
    if (!runner.isValid()) {
        sequence.failure = QStringLiteral("no sample machine");
        return;
    }
    // The log of a failed step goes into the report: a failure seen once,
    // on a loaded machine, is then explained by what the tool said.
    const auto failed = [&](int logLinesBefore) {
        if (sequence.failure.isEmpty())
            return false;
        const QStringList lines = runner.logLines();
        sequence.log = lines.mid(lines.size() >= logLinesBefore ? logLinesBefore : 0);
        const QString keep = qEnvironmentVariable("TARNWICK_KEEP_FAILED");
        if (!keep.isEmpty())
            runner.keepMachine(keep);
        return true;
    };
    for (; sequence.stepsRun < sequence.steps.size(); ++sequence.stepsRun) {
        const int logLinesBefore = int(runner.logLines().size());
        sequence.failure = runner.execute(sequence.steps.at(sequence.stepsRun));
        if (sequence.failure.isEmpty())
            sequence.failure = runner.checkStatus();
        if (failed(logLinesBefore))
            return;
    }
    const int logLinesBefore = int(runner.logLines().size());
    sequence.failure = runner.finalReset();
    failed(logLinesBefore);
}

// Under Wine on a loaded machine, now and then a Wine program dies as it
// starts, in a way no rerun repeats; where neither the tool's second start
// of a command nor TestMachine::runTool covers it (a run this test starts
// itself), a sequence that fails there runs once more on a fresh machine and
// fails only if it fails again. The first failure is reported in full, as a
// warning. On the simulated machine a sequence runs once.
void runSequenceRetriedUnderWine(Sequence &sequence)
{
    runSequence(sequence);
    if (sequence.failure.isEmpty() || !TestMachine::windowsWanted())
        return;
    qWarning().noquote() << "retried under Wine:" << sequence.report();
    Sequence again{sequence.origin, sequence.steps};
    runSequence(again);
    sequence = again;
}

// Draws steps with fixed weights. A rough guess of the interfaces that may
// be switched keeps `change` to those that most likely are not.
class StepGenerator
{
public:
    explicit StepGenerator(quint32 seed) : random(seed) {}
    QStringList steps(int count);

private:
    int weighted(std::initializer_list<int> weights);
    QString pick(const QStringList &choices);
    QString step();
    QString run();
    QString fault(const QString &run);
    QString netshText();
    QString killText(const QString &run);
    QString change();
    QString freshServers();
    QString garbleLock();
    QString damage();
    void track(const QString &run, bool disturbed);

    QRandomGenerator random;
    const QStringList names = userInterfaceIds().keys();
    QSet<QString> maybeSwitched;
    int addressesGiven = 0;
};

QStringList StepGenerator::steps(int count)
{
    QStringList steps;
    while (steps.size() < count)
        steps.append(step());
    return steps;
}

int StepGenerator::weighted(std::initializer_list<int> weights)
{
    int draw = random.bounded(std::accumulate(weights.begin(), weights.end(), 0));
    int index = 0;
    for (auto weight = weights.begin(); draw >= *weight; ++weight, ++index)
        draw -= *weight;
    return index;
}

QString StepGenerator::pick(const QStringList &choices)
{
    return choices.at(random.bounded(choices.size()));
}

QString StepGenerator::step()
{
    const bool userMayChange = maybeSwitched.size() < names.size();
    switch (weighted({42, 6, userMayChange ? 6 : 0, 1, 2})) {
    case 0: {
        const QString text = run();
        const QString runFault = random.bounded(3) == 0 ? fault(text) : QString();
        track(text, !runFault.isEmpty());
        return runFault.isEmpty() ? text : text + QStringLiteral(" | ") + runFault;
    }
    case 1: {
        const QString first = run();
        const QString second = run();
        track(first, true);
        track(second, true);
        return QStringLiteral("together %1 + %2 after %3 ms")
            .arg(first, second, QString::number(random.bounded(51)));
    }
    case 2:
        return change();
    case 3:
        return garbleLock();
    default:
        return damage();
    }
}

QString StepGenerator::damage()
{
    QStringList kinds{"blank",   "unquote", "tap",        "bom",      "comment",    "utf16",
                      "rewrite", "cut",     "copy utf16", "copy cut", "copy delete"};
    // Wine keeps no owners.
    if (!TestMachine::windowsWanted())
        kinds.append(QStringLiteral("copy untrusted"));
    return QStringLiteral("damage ") + pick(kinds);
}

QString StepGenerator::run()
{
    switch (weighted({5, 4, 2})) {
    case 0:
        return QStringLiteral("vpn ") + pick({"A", "B", "C", "D"});
    case 1:
        return QStringLiteral("reset");
    default: {
        const int chosen = random.bounded(1, 1 << names.size());
        QStringList named;
        for (int i = 0; i < names.size(); ++i) {
            if (!(chosen & (1 << i)))
                continue;
            // Now and then a typo: an entry that must change nothing.
            const int malformed = random.bounded(8) == 0 ? random.bounded(1, 5) : 0;
            named.append(malformed ? names.at(i) + QLatin1Char('!') + QString::number(malformed)
                                   : names.at(i));
        }
        return QStringLiteral("user ") + named.join(QLatin1Char(','));
    }
    }
}

QString StepGenerator::fault(const QString &run)
{
    // Listing faults hold on the simulated machine only (wineListsTheHostsAdapters),
    // as do those of the tool's own file writes.
    const int simulatedOnly = TestMachine::windowsWanted() ? 0 : 1;
    const int native = TestMachine::nativeDnsWanted() ? 4 : 0;
    switch (weighted({5, 3, simulatedOnly, simulatedOnly, simulatedOnly, simulatedOnly, native})) {
    case 0: {
        const QString action = pick({"fail", "fail", "crash", "noop"});
        return QStringLiteral("netsh %1 %2").arg(action, netshText());
    }
    case 1:
        return QStringLiteral("kill ") + killText(run);
    case 2:
        return QStringLiteral("no listing");
    case 3:
        return QStringLiteral("wmic fail");
    case 4:
        return QStringLiteral("replace fails");
    case 5:
        return QStringLiteral("kill between writes");
    default:
        return QStringLiteral("native %1 %2")
            .arg(pick({"fail", "noop", "crash", "hang"}),
                 pick({"SetInterfaceDnsSettings", "ipv4", "ipv6",
                       "SetInterfaceDnsSettings " + userInterfaceIds().value(pick(names))}));
    }
}

// Text that picks netsh calls: one interface's set commands, one protocol,
// one interface and protocol, or the second server of a list. "Ethernet" is
// followed by " static" so that it does not pick "Ethernet 2".
QString StepGenerator::netshText()
{
    const QString name = pick(names + QStringList(tapName));
    const QString protocol = pick({"ipv4", "ipv6"});
    switch (random.bounded(4)) {
    case 0:
        return QStringLiteral("name= %1 static").arg(name);
    case 1:
        return QStringLiteral("interface ") + protocol;
    case 2:
        return QStringLiteral("%1 set dns name= %2 static").arg(protocol, name);
    default:
        return QStringLiteral("index=2");
    }
}

// Text of a call the run makes, so that the kill is reached: a vpn run sets
// the first server of its set on each interface not on it yet (every one,
// unless that set is in force already); a switch back makes most of the
// calls netshText() picks.
QString StepGenerator::killText(const QString &run)
{
    if (!isVpnRun(run))
        return netshText();
    const QString firstServer =
        vpnSetServers(run.section(QLatin1Char(' '), 1)).section(QLatin1Char(','), 0, 0);
    return QStringLiteral("name= %1 static %2")
        .arg(pick(names + QStringList(tapName)), firstServer);
}

QString StepGenerator::change()
{
    QStringList candidates = names;
    for (const QString &name : qAsConst(maybeSwitched))
        candidates.removeAll(name);
    return QStringLiteral("change %1@%2").arg(pick(candidates), freshServers());
}

// Zero to two servers per protocol that the sequence did not use yet, from
// the documentation ranges; now and then one of a VPN's servers among them,
// a server repeated, or an IPv6 server in a long upper-case form. Never a
// VPN default server alone: without a data file a reset takes such a list
// for the VPN's.
QString StepGenerator::freshServers()
{
    QStringList ipv4;
    QStringList ipv6;
    for (int count = random.bounded(3); count > 0; --count) {
        ipv4.append(pick({"192.0.2.", "198.51.100.", "203.0.113."}) +
                    QString::number(100 + addressesGiven++ % 150));
    }
    for (int count = random.bounded(3); count > 0; --count) {
        const int number = 100 + addressesGiven++;
        ipv6.append(random.bounded(4) == 0 ? QStringLiteral("2001:DB8:0:0:0:0:0:%1").arg(number)
                                           : QStringLiteral("2001:db8::%1").arg(number));
    }
    if (random.bounded(4) == 0 && !ipv4.isEmpty())
        ipv4.insert(random.bounded(ipv4.size() + 1), pick({"172.16.0.1", "10.8.0.1", "10.9.0.1"}));
    if (random.bounded(4) == 0 && !ipv6.isEmpty())
        ipv6.insert(random.bounded(ipv6.size() + 1), pick({"fd00:dead:beef:cafe::1", "fd00:8::1"}));
    if (random.bounded(5) == 0 && !ipv4.isEmpty())
        ipv4.append(ipv4.first());
    if (random.bounded(5) == 0 && !ipv6.isEmpty())
        ipv6.append(ipv6.first());
    return (ipv4 + ipv6).join(QLatin1Char(','));
}

QString StepGenerator::garbleLock()
{
    QByteArray bytes(random.bounded(3) == 0 ? 0 : random.bounded(1, 33), Qt::Uninitialized);
    for (char &byte : bytes)
        byte = char(random.bounded(256));
    return (QStringLiteral("garble lock ") + QString::fromLatin1(bytes.toHex())).trimmed();
}

// A vpn run may switch every interface; only an undisturbed switch back
// surely switches back those it targets with a well-formed entry.
void StepGenerator::track(const QString &run, bool disturbed)
{
    if (isVpnRun(run)) {
        maybeSwitched = QSet<QString>(names.cbegin(), names.cend());
    } else if (!disturbed) {
        const QStringList targets = run == QLatin1String("reset")
                                        ? names
                                        : run.section(QLatin1Char(' '), 1).split(QLatin1Char(','));
        for (const QString &name : targets)
            maybeSwitched.remove(name);
    }
}

int environmentNumber(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// TARNWICK_REPLAY's step list, or TARNWICK_SEQUENCES random ones: from
// TARNWICK_SEED on, or fixed seeds and a fresh one from the system.
QList<Sequence> plannedSequences()
{
    const QString replay = qEnvironmentVariable("TARNWICK_REPLAY");
    if (!replay.isEmpty())
        return {Sequence{QStringLiteral("replay"), replay.split(QStringLiteral("; "))}};

    const int count =
        environmentNumber("TARNWICK_SEQUENCES", TestMachine::windowsWanted() ? 1 : 10);
    const int length = environmentNumber("TARNWICK_SEQUENCE_STEPS", 14);
    bool seeded = false;
    const quint32 firstSeed = qEnvironmentVariable("TARNWICK_SEED").toUInt(&seeded);
    QList<Sequence> sequences;
    for (int i = 0; i < count; ++i) {
        quint32 seed = seeded ? firstSeed + quint32(i) : quint32(i + 1);
        if (!seeded && i == count - 1) {
            seed = QRandomGenerator::system()->generate();
            qInfo("fresh seed: %u", seed);
        }
        sequences.append(
            Sequence{QStringLiteral("seed %1").arg(seed), StepGenerator(seed).steps(length)});
    }
    return sequences;
}

} // namespace

class TestSequences : public QObject
{
    Q_OBJECT

private slots:
    void randomSequencesLoseNothing();
    void regressionsLoseNothing_data();
    void regressionsLoseNothing();
};

void TestSequences::randomSequencesLoseNothing()
{
    QList<Sequence> sequences = plannedSequences();
    int steps = 0;
    int losses = 0;
    for (Sequence &sequence : sequences) {
        runSequenceRetriedUnderWine(sequence);
        steps += sequence.stepsRun;
        if (!sequence.failure.isEmpty()) {
            ++losses;
            qInfo().noquote() << sequence.report();
        }
    }
    qInfo("sequences: %d, steps: %d, losses: %d", int(sequences.size()), steps, losses);
    QCOMPARE(losses, 0);
}

void TestSequences::regressionsLoseNothing_data()
{
    QTest::addColumn<QString>("steps");

    QTest::newRow("reset listing no interface keeps the record")
        << "vpn B; reset | no listing; vpn C";
    QTest::newRow("rewritten dns.dat, reset listing no interface")
        << "vpn A; damage tap; reset | no listing";
    QTest::newRow("user run naming some interfaces") << "vpn B; user Ethernet; vpn C";
    QTest::newRow("half-done switch back") << "vpn A; reset | netsh fail index=2; vpn B";
    QTest::newRow("reset killed between set and add") << "vpn C; reset | kill index=2; vpn B";
    QTest::newRow("IPv4-only VPN whose set fails")
        << "vpn C | netsh fail ipv4 set dns name= Ethernet 2 static 10.9.0.1; vpn B";
    QTest::newRow("VPN servers changed by a killed run")
        << "vpn B; vpn C | kill interface ipv4 set dns name= Ethernet static 10.9.0.1 primary "
           "validate=no; vpn A";
    QTest::newRow("interface failing in a reset and in the next vpn run")
        << "vpn B; reset | netsh fail name= Wi-Fi ; vpn C | netsh fail name= Wi-Fi ; vpn D";
    QTest::newRow("user change on a restored interface before a switch back")
        << "vpn A; reset | netsh fail name= Wi-Fi ; change Ethernet@203.0.113.7; reset";
    QTest::newRow("user's server equal to a VPN server while not switched")
        << "vpn B; reset; change Ethernet@172.16.0.1,192.0.2.60; vpn B; reset";
    QTest::newRow("malformed user entry") << "vpn B; user Ethernet!1,Wi-Fi!3,Ethernet 2!4; reset";
    QTest::newRow("blanked saved entries") << "vpn B; damage blank; vpn C; reset";
    QTest::newRow("server listed twice") << "change Ethernet@192.0.2.53,192.0.2.53; vpn A; reset";
    QTest::newRow("TAP adapter recorded as switched") << "vpn A; damage tap; reset";
    QTest::newRow("dns.dat edited, re-saved and rewritten")
        << "vpn A; damage bom; damage comment; user Wi-Fi; damage rewrite; vpn B; damage utf16; "
           "change Wi-Fi@172.16.0.1; reset";
    QTest::newRow("damaged copy beside a whole dns.dat")
        << "vpn C | netsh fail ipv4 set dns name= Ethernet 2 static 10.9.0.1; damage copy utf16; "
           "reset";
    QTest::newRow("copy cut short, IPv6-only VPN")
        << "vpn D | netsh fail ipv6 set dns name= Ethernet static fd00:9::1; damage copy cut; "
           "reset";
    QTest::newRow("dns.dat that cannot be replaced")
        << "vpn C | netsh fail ipv4 set dns name= Ethernet 2 static 10.9.0.1; vpn B | replace "
           "fails; reset";
    QTest::newRow("vpn run killed between its two writes")
        << "vpn C | netsh fail ipv4 set dns name= Ethernet 2 static 10.9.0.1; vpn B | kill between "
           "writes; reset";
    QTest::newRow("untrusted copy")
        << "vpn C | netsh fail ipv4 set dns name= Ethernet 2 static 10.9.0.1; damage copy "
           "untrusted; reset";
    QTest::newRow("deleted copy written again")
        << "vpn A; damage copy delete; reset | netsh fail interface; reset";
    QTest::newRow("empty lock file") << "garble lock; vpn A";
    QTest::newRow("garbled lock file") << "garble lock 9c0e41ff7a; vpn A";
}

void TestSequences::regressionsLoseNothing()
{
    QFETCH(QString, steps);
    if (steps.contains(QLatin1String("no listing")) || steps.contains(QLatin1String("wmic fail")))
        SIMULATED_MACHINE_ONLY(wineListsTheHostsAdapters);
    if (steps.contains(QLatin1String("untrusted")) || steps.contains(QLatin1String("writes")) ||
        steps.contains(QLatin1String("replace")))
        SIMULATED_MACHINE_ONLY("Wine keeps no owners, and the tool's own writes fail or stop "
                               "only on the simulated machine");

    Sequence sequence{QString::fromLatin1(QTest::currentDataTag()),
                      steps.split(QStringLiteral("; "))};
    runSequenceRetriedUnderWine(sequence);
    // Qt Test cuts a failure's message at 1024 bytes: the whole report,
    // the log included, goes out before.
    if (!sequence.failure.isEmpty())
        qInfo().noquote() << sequence.report();
    QVERIFY2(sequence.failure.isEmpty(), "the sequence failed, as reported above");
}

QTEST_GUILESS_MAIN(TestSequences)
#include "test_sequences.moc"
