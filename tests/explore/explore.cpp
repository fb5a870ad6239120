// Every short sequence of steps, checked rather than sampled: a breadth-first
// search from the sample machine with the TAP adapter and 2 or 3 user
// interfaces, in this process on the machine in memory (memtool.h), each
// step held against the model (sequencemodel.h) as the random sequences'
// are: `status` after every step, no leak after an undisturbed vpn, and from
// every state reached a clean final reset that restores every interface.
//
// A step is one of (sequencesteps.h):
//   vpn A|B (two sets of servers), vpn C|D (IPv4 or IPv6 only), reset,
//   user NAME for each interface;
//   the user changing an interface that is not switched, a VPN server among
//   its new servers;
//   one of those runs killed at each of its effects, with each of its calls
//   failing, hanging or doing nothing, or with no adapter listed;
//   each edit of the data files the random test knows, and a run during
//   which dns.dat cannot be replaced.
// A path holds at most one fault or kill; edits do not count. States are
// told apart by the registry's values, both data files' bytes and owners,
// the model and whether a fault was spent: not by the log, set-aside files,
// the request counter or the lock.
//
// Usage: tarnwick-explore DEPTH INTERFACES [SECONDS]
// Searches to DEPTH steps, or until SECONDS have passed, and prints each
// depth's new states and seconds. Exits 1 with the shortest failing sequence
// as a replay string for test_sequences (TARNWICK_REPLAY).
#include "sequencesteps.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSet>

#include <cstdio>

namespace {

// A state reached, and the steps that reached it first.
struct Node
{
    QStringList path;
    MemTool::Snapshot snapshot;
    SequenceModel model;
    bool faultSpent = false;
};

const QStringList editSteps = {
    QStringLiteral("damage bom"),           QStringLiteral("damage comment"),
    QStringLiteral("damage blank"),         QStringLiteral("damage unquote"),
    QStringLiteral("damage tap"),           QStringLiteral("damage cut"),
    QStringLiteral("damage empty"),         QStringLiteral("damage utf16"),
    QStringLiteral("damage rewrite"),       QStringLiteral("damage delete"),
    QStringLiteral("damage copy utf16"),    QStringLiteral("damage copy cut"),
    QStringLiteral("damage copy empty"),    QStringLiteral("damage copy delete"),
    QStringLiteral("damage copy untrusted")};

class Explorer
{
public:
    Explorer(const QStringList &names, qint64 budgetMs)
        : names(names), machine(names), runner(machine, names), budgetMs(budgetMs)
    {
        clock.start();
    }
    // The search to `depth`; false with a report when a sequence fails.
    bool search(int depth);

private:
    QStringList runs() const;
    // Runs the step from the node's state, then `status`; what failed, or
    // an empty text. The run's effects and calls are kept for faultsOf.
    QString step(const Node &node, const QString &step);
    // The fault steps of `run` from the node's state, after its plain run
    // showed how many effects and calls it has.
    QStringList faultsOf(const QString &run, int ticks, int calls) const;
    QByteArray fingerprint(bool faultSpent) const;
    // Takes the state reached by `path` unless it was seen; false with a
    // report when its final reset fails.
    bool reach(const QStringList &path, bool faultSpent, QList<Node> *next);
    void report(const QStringList &path, const QString &failure) const;
    bool outOfTime() const { return clock.elapsed() >= budgetMs; }

    const QStringList names;
    MemoryMachine machine;
    SequenceRunner runner;
    const qint64 budgetMs;
    QElapsedTimer clock;
    QSet<QByteArray> seen;
    int lastTicks = 0;
    int lastCalls = 0;
};

QStringList Explorer::runs() const
{
    QStringList runs = {QStringLiteral("vpn A"), QStringLiteral("vpn B"), QStringLiteral("vpn C"),
                        QStringLiteral("vpn D"), QStringLiteral("reset")};
    for (const QString &name : names)
        runs.append(QStringLiteral("user ") + name);
    return runs;
}

QStringList Explorer::faultsOf(const QString &run, int ticks, int calls) const
{
    QStringList faults{run + QStringLiteral(" | no listing")};
    for (int tick = 1; tick <= ticks; ++tick)
        faults.append(QStringLiteral("%1 | kill at %2").arg(run).arg(tick));
    for (int call = 1; call <= calls; ++call) {
        for (const char *action : {"fail", "hang", "noop"})
            faults.append(QStringLiteral("%1 | call %2 %3").arg(run).arg(call).arg(action));
    }
    return faults;
}

QString Explorer::step(const Node &node, const QString &text)
{
    machine.memTool().restore(node.snapshot);
    runner.setState(node.model);
    const QString failure = runner.execute(text);
    lastTicks = machine.memTool().memory().ticks();
    lastCalls = machine.memTool().memory().calls();
    return failure.isEmpty() ? runner.checkStatus() : failure;
}

QByteArray Explorer::fingerprint(bool faultSpent) const
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(machine.memTool().memory().registryText().toUtf8());
    for (const QString &name : {QStringLiteral("dns.dat"), QStringLiteral("dns.dat.copy")}) {
        QFile file(machine.vendorFolder() + QLatin1Char('/') + name);
        hash.addData(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("-"));
        hash.addData(QByteArray::number(QFileInfo(file).ownerId()));
    }
    hash.addData(runner.state().text().toUtf8());
    hash.addData(faultSpent ? "fault spent" : "");
    return hash.result();
}

bool Explorer::reach(const QStringList &path, bool faultSpent, QList<Node> *next)
{
    const QByteArray print = fingerprint(faultSpent);
    if (seen.contains(print))
        return true;
    seen.insert(print);
    next->append(Node{path, machine.memTool().snapshot(), runner.state(), faultSpent});
    const QString failure = runner.finalReset();
    if (failure.isEmpty())
        return true;
    report(path + QStringList(QStringLiteral("(final reset)")), failure);
    return false;
}

void Explorer::report(const QStringList &path, const QString &failure) const
{
    QStringList steps = path;
    steps.removeAll(QStringLiteral("(final reset)"));
    std::printf("FAILED after %d steps%s: %s\n  TARNWICK_REPLAY='%s'\n  its log:\n    %s\n",
                int(steps.size()), path.size() > steps.size() ? " and the final reset" : "",
                qPrintable(failure), qPrintable(steps.join(QStringLiteral("; "))),
                qPrintable(machine.logLines()
                               .mid(qMax(0, int(machine.logLines().size()) - 40))
                               .join(QStringLiteral("\n    "))));
    std::printf("  it replays %s\n", runsAsProcesses(steps)
                                         ? "in-process, on the simulated machine and under Wine"
                                         : "in-process only (a kill or fault by number)");
}

bool Explorer::search(int depth)
{
    QList<Node> frontier;
    if (!reach({}, false, &frontier))
        return false;
    for (int level = 1; level <= depth && !frontier.isEmpty(); ++level) {
        const qint64 start = clock.elapsed();
        QList<Node> next;
        int steps = 0;
        for (const Node &node : qAsConst(frontier)) {
            QStringList candidates;
            for (const QString &run : runs()) {
                const QString failure = step(node, run);
                ++steps;
                if (!failure.isEmpty()) {
                    report(node.path + QStringList(run), failure);
                    return false;
                }
                if (!reach(node.path + QStringList(run), node.faultSpent, &next))
                    return false;
                candidates.append(run + QStringLiteral(" | replace fails"));
                if (!node.faultSpent)
                    candidates += faultsOf(run, lastTicks, lastCalls);
            }
            for (const QString &name : names) {
                if (!node.model.interfaces.value(name).switched)
                    candidates.append(QStringLiteral("change %1@203.0.113.9,10.8.0.1").arg(name));
            }
            candidates += editSteps;
            for (const QString &candidate : qAsConst(candidates)) {
                const QString failure = step(node, candidate);
                ++steps;
                if (!failure.isEmpty()) {
                    report(node.path + QStringList(candidate), failure);
                    return false;
                }
                const bool fault = candidate.contains(QLatin1String(" | ")) &&
                                   !candidate.endsWith(QLatin1String("| replace fails"));
                if (!reach(node.path + QStringList(candidate), node.faultSpent || fault, &next))
                    return false;
            }
            if (outOfTime())
                break;
        }
        std::printf("depth %d%s: %d steps, %d new states, %.1f s\n", level,
                    outOfTime() ? " (cut short by the time bound)" : "", steps, int(next.size()),
                    (clock.elapsed() - start) / 1000.0);
        std::fflush(stdout);
        if (outOfTime())
            break;
        frontier = next;
    }
    std::printf("states: %d, %.1f s\n", int(seen.size()), clock.elapsed() / 1000.0);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = application.arguments().mid(1);
    bool depthOk = false;
    bool countOk = false;
    const int depth = arguments.value(0).toInt(&depthOk);
    const int count = arguments.value(1).toInt(&countOk);
    const qint64 seconds = arguments.value(2, QStringLiteral("86400")).toLongLong();
    if (!depthOk || !countOk || count < 1 || count > 3 || arguments.size() > 3) {
        std::fputs("usage: tarnwick-explore DEPTH INTERFACES(1-3) [SECONDS]\n", stderr);
        return 2;
    }
    const QStringList names = QStringList{QStringLiteral("Ethernet"), QStringLiteral("Wi-Fi"),
                                          QStringLiteral("Ethernet 2")}
                                  .mid(0, count);
    std::printf("exploring to depth %d with %s and the TAP adapter\n", depth,
                qPrintable(names.join(QStringLiteral(", "))));
    Explorer explorer(names, seconds * 1000);
    return explorer.search(depth) ? 0 : 1;
}
