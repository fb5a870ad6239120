#include "sequencesteps.h"

#include <QElapsedTimer>
#include <QTextCodec>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <numeric>
#include <optional>

#include <unistd.h>

// Sequences of runs on a fresh sample machine, killed, failed, partial and
// overlapping ones included, held against the model of sequencemodel.h: a
// final reset that restores every interface must leave each on the servers
// the user last gave it. After each step, `status` must answer what the
// record and the servers in force say, and change nothing.
//
// Random sequences run in this process on the machine in memory (memtool.h):
// TARNWICK_SEQUENCES of them (100; none under Wine, whose twin of this test
// would repeat them). TARNWICK_PROCESS_SEQUENCES (3; 1 under Wine, where a
// run costs seconds) more run the built tool as processes. Each has
// TARNWICK_SEQUENCE_STEPS steps (14); sequence i uses the seed
// TARNWICK_SEED + i, or without it fixed seeds and, last, a fresh one.
// TARNWICK_REPLAY, a step list, replaces them: it runs in this process, and
// as processes where its steps exist there. A damage step that would leave
// neither file holding the record whole changes nothing: that loss is one
// the README names. TARNWICK_KEEP_FAILED, a folder, receives a copy of a
// failed sequence's simulated machine.

namespace {

// Every run must end within this bound and exit with code 0.
const int runBoundMs = 60000;
// Waits for a started run until the deadline and kills it when it overruns;
// what went wrong, or an empty text. A run the test killed only has to end.
QString awaitRun(QProcess &tool, const QString &run, bool killed, const QDeadlineTimer &deadline,
                 const QString &fault = QString())
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
    if (!exitCodeFits(tool.exitCode(), run, fault))
        return QStringLiteral("'%1' exited with code %2")
            .arg(run, QString::number(tool.exitCode()));
    return QString();
}

// Where a sequence runs.
enum class Where
{
    InProcess,
    Processes
};

// One sequence of steps, and where and how it failed.
struct Sequence
{
    Sequence(const QString &origin, const QStringList &steps, Where where)
        : origin(origin), steps(steps), where(where)
    {
    }

    QString origin; // a seed, a replay or a regression row
    QStringList steps;
    Where where;
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
        const QString replayable = runsAsProcesses(steps)
                                       ? QString()
                                       : QStringLiteral(" (in-process only: it kills a run at an "
                                                        "effect or fails a call by its number)");
        return QStringLiteral("%1 (%2) failed at %3: %4\n  TARNWICK_REPLAY='%5'%6%7")
            .arg(origin,
                 this->where == Where::InProcess ? QStringLiteral("in-process")
                                                 : QStringLiteral("processes"),
                 where, failure, steps.join(QStringLiteral("; ")), replayable, logPart);
    }
};

// The built tool as processes, on the simulated machine or under Wine.
class ProcessMachine : public StepMachine
{
public:
    // The sample machine, with another product's TAP adapter where `secondTap`.
    explicit ProcessMachine(bool secondTap);
    bool isValid() const override { return machine.isValid(); }
    QString nameServer(const QString &id, bool ipv4) const override
    {
        return machine.nameServer(id, ipv4);
    }
    void setNameServer(const QString &id, bool ipv4, const QString &servers) override
    {
        machine.setNameServer(id, ipv4, servers);
    }
    QStringList logLines() const override { return machine.logLines(); }
    int netshCallCount() const override { return int(machine.netshCalls().size()); }
    std::optional<RunEnd> run(const QStringList &arguments, const QString &fault,
                              const QString &label) override;
    TestMachine::Run status() override
    {
        return machine.runTool({QStringLiteral("status"), QStringLiteral("--json")});
    }
    QString vendorFolder() const override { return machine.vendorFolder(); }
    QString runTogether(const QStringList &first, const QStringList &second,
                        const QStringList &labels, int delayMs) override;
    // Copies the machine's folder, Wine prefix included, into `destination`.
    void keep(const QString &destination) const override
    {
        QProcess::execute(QStringLiteral("cp"),
                          {QStringLiteral("-a"), QFileInfo(machine.root()).path(), destination});
    }

private:
    bool setFault(const QString &fault) const;
    bool immutable(bool on) const;
    void clearFaults() const;
    bool killAtCall(QProcess &tool, const QString &text, int callsBefore,
                    const QDeadlineTimer &deadline) const;

    TestMachine machine;
};

ProcessMachine::ProcessMachine(bool secondTap)
    : machine(secondTap
                  ? QStringList{QStringLiteral("--sample"), QStringLiteral("--with-second-tap")}
                  : QStringList{QStringLiteral("--sample")})
{
    // A hanging SetInterfaceDnsSettings costs a second, not 30.
    QFile timeout(machine.root() + QStringLiteral("/dns-call-timeout-ms"));
    if (timeout.open(QIODevice::WriteOnly))
        timeout.write("1000");
}

std::optional<StepMachine::RunEnd> ProcessMachine::run(const QStringList &arguments,
                                                       const QString &fault, const QString &label)
{
    if (!setFault(fault))
        return std::nullopt;
    const int callsBefore = netshCallCount();
    const QDeadlineTimer deadline(runBoundMs);
    QProcess tool;
    machine.startTool(tool, arguments);
    const QString kill = QStringLiteral("kill ");
    // The tool ends by itself, as a killed run does.
    const bool betweenWrites = fault == QLatin1String("kill between writes") ||
                               fault.startsWith(QLatin1String("native crash"));
    bool killed = !betweenWrites && fault.startsWith(kill) &&
                  killAtCall(tool, fault.mid(kill.size()), callsBefore, deadline);
    if (betweenWrites && tool.waitForFinished(int(deadline.remainingTime())))
        killed = tool.exitStatus() == QProcess::CrashExit;
    const QString problem = awaitRun(tool, label, killed, deadline, fault);
    clearFaults();
    return RunEnd{problem, killed};
}

QString ProcessMachine::runTogether(const QStringList &first, const QStringList &second,
                                    const QStringList &labels, int delayMs)
{
    const QDeadlineTimer deadline(runBoundMs);
    QProcess firstTool;
    QProcess secondTool;
    machine.startTool(firstTool, first);
    QThread::msleep(ulong(delayMs));
    machine.startTool(secondTool, second);
    return joinProblems({awaitRun(firstTool, labels.first(), false, deadline),
                         awaitRun(secondTool, labels.last(), false, deadline)});
}

bool ProcessMachine::setFault(const QString &fault) const
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
    if (!match.hasMatch() || fault.startsWith(QLatin1String("kill at ")))
        return false;
    const QString action = match.captured(1).isEmpty() ? QStringLiteral("hang") : match.captured(1);
    machine.setFaults(QStringLiteral("netsh"), {action + QLatin1Char(' ') + match.captured(2)});
    return true;
}

// Makes dns.dat immutable, so that the tool cannot replace it, or no longer;
// a missing dns.dat stays so.
bool ProcessMachine::immutable(bool on) const
{
    return !QFile::exists(machine.dataFilePath()) ||
           QProcess::execute(
               QStringLiteral("chattr"),
               {on ? QStringLiteral("+i") : QStringLiteral("-i"), machine.dataFilePath()}) == 0;
}

void ProcessMachine::clearFaults() const
{
    immutable(false);
    for (const char *program : {"netsh", "wmic", "iphlpapi", "vendorfolder"})
        machine.clearFaults(QString::fromLatin1(program));
}

// Waits until the run makes a netsh call holding `text` (netsh then hangs),
// and kills the tool alone there; false when the run ended before.
bool ProcessMachine::killAtCall(QProcess &tool, const QString &text, int callsBefore,
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

// The user interfaces of a sequence's machine: another product's TAP adapter
// joins the sample's where its first step says so.
QStringList userNamesOf(const QStringList &steps)
{
    return sampleUserNames() +
           (steps.value(0) == secondTapStep ? QStringList(otherTapName) : QStringList());
}

std::unique_ptr<StepMachine> freshMachine(Where where, const QStringList &names)
{
    if (where == Where::InProcess)
        return std::make_unique<MemoryMachine>(names);
    return std::make_unique<ProcessMachine>(names.contains(otherTapName));
}

void runSequence(Sequence &sequence)
{
    const QStringList names = userNamesOf(sequence.steps);
    const std::unique_ptr<StepMachine> machine = freshMachine(sequence.where, names);
    if (!machine->isValid()) {
        sequence.failure = QStringLiteral("no sample machine");
        return;
    }
    SequenceRunner runner(*machine, names);
    // The log of a failed step goes into the report: a failure seen once,
    // on a loaded machine, is then explained by what the tool said.
    const auto failed = [&](int logLinesBefore) {
        if (sequence.failure.isEmpty())
            return false;
        const QStringList lines = machine->logLines();
        sequence.log = lines.mid(lines.size() >= logLinesBefore ? logLinesBefore : 0);
        const QString keep = qEnvironmentVariable("TARNWICK_KEEP_FAILED");
        if (!keep.isEmpty())
            machine->keep(keep);
        return true;
    };
    for (; sequence.stepsRun < sequence.steps.size(); ++sequence.stepsRun) {
        const int logLinesBefore = int(machine->logLines().size());
        sequence.failure = runner.execute(sequence.steps.at(sequence.stepsRun));
        if (sequence.failure.isEmpty())
            sequence.failure = runner.checkStatus();
        if (failed(logLinesBefore))
            return;
    }
    const int logLinesBefore = int(machine->logLines().size());
    sequence.failure = runner.finalReset();
    failed(logLinesBefore);
}

// Under Wine on a loaded machine, now and then a Wine program dies as it
// starts, in a way no rerun repeats; where neither the tool's second start
// of a command nor TestMachine::runTool covers it (a run this test starts
// itself), a sequence that fails there runs once more on a fresh machine and
// fails only if it fails again. The first failure is reported in full, as a
// warning. Elsewhere a sequence runs once.
void runSequenceRetriedUnderWine(Sequence &sequence)
{
    runSequence(sequence);
    if (sequence.failure.isEmpty() || !TestMachine::windowsWanted() ||
        sequence.where == Where::InProcess)
        return;
    qWarning().noquote() << "retried under Wine:" << sequence.report();
    Sequence again{sequence.origin, sequence.steps, sequence.where};
    runSequence(again);
    sequence = again;
}

// Draws steps with fixed weights. A rough guess of the interfaces that may
// be switched keeps `change` to those that most likely are not.
class StepGenerator
{
public:
    // One sequence in three runs on a machine with another product's TAP
    // adapter, which its first step says.
    StepGenerator(quint32 seed, Where where)
        : random(seed), where(where), secondTap(random.bounded(3) == 0),
          names(secondTap ? sampleUserNames() << otherTapName : sampleUserNames())
    {
    }
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
    const Where where;
    const bool secondTap;
    const QStringList names;
    QSet<QString> maybeSwitched;
    int addressesGiven = 0;
};

QStringList StepGenerator::steps(int count)
{
    QStringList steps;
    if (secondTap)
        steps.append(secondTapStep);
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
    const int processes = where == Where::Processes ? 1 : 0;
    switch (weighted({42, 6 * processes, userMayChange ? 6 : 0, processes, 2})) {
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
    QStringList kinds{
        "blank",          "unquote",  "tap",        "bom",         "comment",    "utf16",
        "rewrite",        "cut",      "empty",      "delete",      "typo",       "copy typo",
        "copy utf16",     "copy cut", "copy empty", "copy delete", "pair empty", "pair lost",
        "pair generation"};
    // Wine keeps no owners.
    if (where == Where::InProcess || !TestMachine::windowsWanted())
        kinds.append(QStringLiteral("copy untrusted"));
    // An edit of any line of either file (editedInLine).
    const QString edit = pick({"cut in", "cut at", "typo in", "drop", "repeat"});
    const QString line =
        QStringLiteral("%1 %2%3")
            .arg(edit)
            .arg(random.bounded(1, 10))
            .arg(edit.startsWith(QLatin1String("cut")) ? pick({"", "@", ","}) : QString());
    kinds << line << QStringLiteral("copy ") + line;
    if (random.bounded(4) == 0)
        return QStringLiteral("garble order ") + pick({"first", "second", "swap", "above", "top"});
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
    // as do those of the tool's own file writes; kills at any effect only
    // in this process.
    const int inProcess = where == Where::InProcess ? 1 : 0;
    const int simulatedOnly = inProcess || !TestMachine::windowsWanted() ? 1 : 0;
    const int native = TestMachine::nativeDnsWanted() ? 4 : 0;
    switch (weighted({5, 3, simulatedOnly, simulatedOnly, simulatedOnly, simulatedOnly, native,
                      3 * inProcess, 3 * inProcess})) {
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
    case 7:
        return QStringLiteral("kill at %1").arg(random.bounded(1, 17));
    case 8:
        return QStringLiteral("call %1 %2")
            .arg(random.bounded(1, 9))
            .arg(pick({"fail", "hang", "noop"}));
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

// `count` random sequences to run `where`: from TARNWICK_SEED on, or fixed
// seeds and a fresh one from the system.
QList<Sequence> randomSequences(int count, Where where)
{
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
        sequences.append(Sequence{QStringLiteral("seed %1").arg(seed),
                                  StepGenerator(seed, where).steps(length), where});
    }
    return sequences;
}

// A step list in this process, and as processes where its steps exist there.
QList<Sequence> sequencesOf(const QString &origin, const QStringList &steps)
{
    QList<Sequence> sequences;
    if (runsInProcess(steps))
        sequences.append(Sequence{origin, steps, Where::InProcess});
    if (runsAsProcesses(steps))
        sequences.append(Sequence{origin, steps, Where::Processes});
    return sequences;
}

// TARNWICK_REPLAY's step list, or the random sequences.
QList<Sequence> plannedSequences()
{
    const QString replay = qEnvironmentVariable("TARNWICK_REPLAY");
    if (!replay.isEmpty())
        return sequencesOf(QStringLiteral("replay"), replay.split(QStringLiteral("; ")));
    const bool wine = TestMachine::windowsWanted();
    return randomSequences(environmentNumber("TARNWICK_SEQUENCES", wine ? 0 : 100),
                           Where::InProcess) +
           randomSequences(environmentNumber("TARNWICK_PROCESS_SEQUENCES", wine ? 1 : 3),
                           Where::Processes);
}

} // namespace

class TestSequences : public QObject
{
    Q_OBJECT

private slots:
    void randomSequencesLoseNothing();
    void regressionsLoseNothing_data();
    void regressionsLoseNothing();
    void killedRunLeavesWhatAKilledProcessLeaves();
};

void TestSequences::randomSequencesLoseNothing()
{
    QList<Sequence> sequences = plannedSequences();
    QMap<Where, int> steps;
    QMap<Where, qint64> nanoseconds;
    int losses = 0;
    for (Sequence &sequence : sequences) {
        QElapsedTimer timer;
        timer.start();
        runSequenceRetriedUnderWine(sequence);
        nanoseconds[sequence.where] += timer.nsecsElapsed();
        // Each step with its status, and the final reset.
        steps[sequence.where] += sequence.stepsRun + 1;
        if (!sequence.failure.isEmpty()) {
            ++losses;
            qInfo().noquote() << sequence.report();
        }
    }
    for (const Where where : {Where::InProcess, Where::Processes}) {
        qInfo("%s: sequences: %d, steps: %d, %.3f ms a step",
              where == Where::InProcess ? "in-process" : "processes",
              int(std::count_if(sequences.cbegin(), sequences.cend(),
                                [&](const Sequence &sequence) { return sequence.where == where; })),
              steps.value(where),
              steps.value(where) ? nanoseconds.value(where) / 1e6 / steps.value(where) : 0.0);
    }
    qInfo("losses: %d", losses);
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
    QTest::newRow("VPN server given to an interface of a rewritten record")
        << "vpn B | no listing; damage tap; change Ethernet@203.0.113.9,10.8.0.1; reset";
    QTest::newRow("dns.dat cut to nothing, then not replaced")
        << "vpn B; damage empty; vpn A | replace fails; reset";
    QTest::newRow("mistyped server in dns.dat's entry") << "vpn B; damage typo; reset";
    QTest::newRow("dns.dat cut inside an entry, a line saved after")
        << "vpn B; damage cut in 4,; reset";
    QTest::newRow("dns.dat's Switched cut inside its one ID")
        << "vpn B; user Ethernet,Ethernet 2; damage cut in 8; reset";
    QTest::newRow("emptied pair") << "vpn A; damage pair empty; vpn B; reset";
    QTest::newRow("emptied dns.dat beside no copy") << "vpn A; damage pair lost; reset";
    QTest::newRow("garbled request counter") << "vpn B; reset; vpn C; garble order first; reset";
    QTest::newRow("counter's second line above the first")
        << "vpn B; garble order top; reset; vpn C; garble order above; reset";
    QTest::newRow("generation at the top of its range, a run stopped between its writes")
        << "vpn B; damage pair generation; reset | kill between writes; "
           "change Ethernet@203.0.113.5; reset";
    QTest::newRow("vpn run listing nothing beside an emptied pair")
        << "vpn A; damage pair empty; vpn A | no listing";
    QTest::newRow("copy cut after its generation line")
        << "vpn A; damage pair generation; damage copy cut in 2";
    QTest::newRow("generation no number, a run stopped between its writes")
        << "vpn B; damage typo in 2; vpn A | kill between writes";
    QTest::newRow("another product's TAP adapter switched, then an emptied pair")
        << "with a second TAP adapter; vpn A; user Wi-Fi,Other VPN!3; vpn A; damage pair empty";
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

    for (Sequence &sequence : sequencesOf(QString::fromLatin1(QTest::currentDataTag()),
                                          steps.split(QStringLiteral("; ")))) {
        runSequenceRetriedUnderWine(sequence);
        // Qt Test cuts a failure's message at 1024 bytes: the whole report,
        // the log included, goes out before.
        if (!sequence.failure.isEmpty())
            qInfo().noquote() << sequence.report();
        QVERIFY2(sequence.failure.isEmpty(), "the sequence failed, as reported above");
    }
}

void TestSequences::killedRunLeavesWhatAKilledProcessLeaves()
{
    SIMULATED_MACHINE_ONLY("the tool's own writes stop only on the simulated machine");
    QStringList left[2];
    for (const Where where : {Where::InProcess, Where::Processes}) {
        const std::unique_ptr<StepMachine> machine = freshMachine(where, sampleUserNames());
        QVERIFY(machine->isValid());
        for (const QString &step :
             {QStringLiteral("vpn A | "), QStringLiteral("vpn B | kill between writes")}) {
            const QString run = step.section(QStringLiteral(" | "), 0, 0);
            const QStringList arguments{QStringLiteral("vpn"), sample::tap + QLatin1Char('@') +
                                                                   vpnSetServers(run.right(1))};
            const auto end = machine->run(arguments, step.section(QStringLiteral(" | "), 1), run);
            QVERIFY(end && end->problem.isEmpty());
        }
        for (const QString &name :
             QDir(machine->vendorFolder()).entryList({"dns.dat*"}, QDir::Files))
            left[int(where)].append(
                QString(name).replace(QRegularExpression("-[0-9a-f]{32}$"), "-*"));
    }
    QCOMPARE(left[int(Where::InProcess)], left[int(Where::Processes)]);
    QVERIFY2(left[0].contains("dns.dat.tmp-*"), qPrintable(left[0].join(", ")));
}

QTEST_GUILESS_MAIN(TestSequences)
#include "test_sequences.moc"
