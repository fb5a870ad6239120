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
//   failing, hanging or doing nothing, with no adapter listed or wmic
//   failing, or with dns.dat that cannot be replaced;
//   each edit of the data files the random test knows, each file emptied or
//   both, both deleted, both generations at the top of their range;
//   edits of each line of dns.dat and of its copy as they stand: cut inside
//   it (the middle, just after an "@" or a ",") with and without a line
//   saved after it, one character of its first item changed, the line
//   deleted or repeated;
//   dns.order garbled, its lines swapped or its second line above the
//   first; dns.alive missing or a folder.
// The machine starts with and without SetInterfaceDnsSettings. A path holds
// at most two faults or kills and LINE-EDITS edits of a line; other edits do
// not count. States are told apart by the registry's values, both data
// files' bytes and owners, dns.order and dns.alive once edited, the model
// and what the path spent: not by the log, set-aside files, or the request
// counter and the lock while unedited.
//
// Usage: tarnwick-explore DEPTH INTERFACES [SECONDS [LINE-EDITS]]
// Searches to DEPTH steps, or until SECONDS have passed, with at most
// LINE-EDITS (0 or 1, default 1) edits of a line on a path, and prints each
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
    bool withDnsApi = false; // the machine's iphlpapi has SetInterfaceDnsSettings
    int faults = 0;          // faults and kills on the path
    bool lineEdited = false; // a line of a data file was edited on the path
    // dns.order or dns.alive was edited on the path: from then on they are
    // part of the state.
    bool lockFilesEdited = false;
};

// How many faults and kills a path may hold.
const int faultsPerPath = 2;

const QStringList lockFileSteps = {
    QStringLiteral("garble order first"), QStringLiteral("garble order second"),
    QStringLiteral("garble order swap"),  QStringLiteral("garble order above"),
    QStringLiteral("garble order top"),   QStringLiteral("alive missing"),
    QStringLiteral("alive folder")};

const QStringList editSteps = {QStringLiteral("damage bom"),
                               QStringLiteral("damage comment"),
                               QStringLiteral("damage blank"),
                               QStringLiteral("damage unquote"),
                               QStringLiteral("damage tap"),
                               QStringLiteral("damage cut"),
                               QStringLiteral("damage empty"),
                               QStringLiteral("damage utf16"),
                               QStringLiteral("damage rewrite"),
                               QStringLiteral("damage delete"),
                               QStringLiteral("damage copy utf16"),
                               QStringLiteral("damage copy cut"),
                               QStringLiteral("damage copy empty"),
                               QStringLiteral("damage copy delete"),
                               QStringLiteral("damage copy untrusted"),
                               QStringLiteral("damage pair empty"),
                               QStringLiteral("damage pair lost"),
                               QStringLiteral("damage pair generation")};

class Explorer
{
public:
    Explorer(const QStringList &names, qint64 budgetMs, int lineEditsPerPath)
        : names(names), machine(names), runner(machine, names), budgetMs(budgetMs),
          lineEditsPerPath(lineEditsPerPath)
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
    // The edits of each line of dns.dat and of its copy, as they stand in
    // the node's state, each that changes the file once.
    QStringList lineEdits(const Node &node);
    // The fault steps of `run` from the node's state, after its plain run
    // showed how many effects and calls it has.
    QStringList faultsOf(const QString &run, int ticks, int calls) const;
    QByteArray fingerprint(const Node &node) const;
    // Takes the state that `reached` (its path and counts) stands for unless
    // it was seen; false with a report when its final reset fails.
    bool reach(Node reached, QList<Node> *next);
    void report(const Node &node, const QStringList &path, const QString &failure) const;
    bool outOfTime() const { return clock.elapsed() >= budgetMs; }

    const QStringList names;
    MemoryMachine machine;
    SequenceRunner runner;
    const qint64 budgetMs;
    const int lineEditsPerPath; // 0 or 1
    QElapsedTimer clock;
    QSet<QByteArray> seen;
    int lastTicks = 0;
    int totalSteps = 0;
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
    QStringList faults{run + QStringLiteral(" | no listing"), run + QStringLiteral(" | wmic fail")};
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
    machine.memTool().memory().withDnsApi = node.withDnsApi;
    runner.setState(node.model);
    const QString failure = runner.execute(text);
    lastTicks = machine.memTool().memory().ticks();
    lastCalls = machine.memTool().memory().calls();
    return failure.isEmpty() ? runner.checkStatus() : failure;
}

QStringList Explorer::lineEdits(const Node &node)
{
    machine.memTool().restore(node.snapshot);
    QStringList edits;
    for (const QString &prefix : {QString(), QStringLiteral("copy ")}) {
        QFile file(machine.vendorFolder() + QStringLiteral("/dns.dat") +
                   (prefix.isEmpty() ? QString() : QStringLiteral(".copy")));
        if (!file.open(QIODevice::ReadOnly) || !node.model.maySpoil(!prefix.isEmpty()))
            continue;
        const QByteArray bytes = file.readAll();
        const QString text = QString::fromLatin1(bytes.constData(), bytes.size());
        QSet<QString> results{text};
        for (const QString &kind : lineEditKinds(text)) {
            const QString edited = editedInLine(text, kind);
            if (!results.contains(edited)) {
                results.insert(edited);
                edits.append(QStringLiteral("damage ") + prefix + kind);
            }
        }
    }
    return edits;
}

QByteArray Explorer::fingerprint(const Node &node) const
{
    QCryptographicHash hash(QCryptographicHash::Md5);
    hash.addData(machine.memTool().memory().registryText().toUtf8());
    QStringList names{QStringLiteral("dns.dat"), QStringLiteral("dns.dat.copy")};
    if (node.lockFilesEdited)
        names << QStringLiteral("dns.order") << QStringLiteral("dns.alive");
    for (const QString &name : qAsConst(names)) {
        QFile file(machine.vendorFolder() + QLatin1Char('/') + name);
        hash.addData(file.open(QIODevice::ReadOnly) ? file.readAll()
                     : QFileInfo(file).isDir()      ? QByteArray("folder")
                                                    : QByteArray("-"));
        hash.addData(QByteArray::number(QFileInfo(file).ownerId()));
    }
    hash.addData(runner.state().text().toUtf8());
    hash.addData(QByteArray::number(node.faults) + (node.withDnsApi ? "native" : "") +
                 (node.lineEdited ? "line edited" : "") +
                 (node.lockFilesEdited ? "lock files edited" : ""));
    return hash.result();
}

bool Explorer::reach(Node reached, QList<Node> *next)
{
    const QByteArray print = fingerprint(reached);
    if (seen.contains(print))
        return true;
    seen.insert(print);
    reached.snapshot = machine.memTool().snapshot();
    reached.model = runner.state();
    next->append(reached);
    const QString failure = runner.finalReset();
    if (failure.isEmpty())
        return true;
    report(reached, reached.path + QStringList(QStringLiteral("(final reset)")), failure);
    return false;
}

void Explorer::report(const Node &node, const QStringList &path, const QString &failure) const
{
    QStringList steps = path;
    steps.removeAll(QStringLiteral("(final reset)"));
    std::printf("FAILED after %d steps%s: %s\n  TARNWICK_REPLAY='%s'\n  its log:\n    %s\n",
                int(steps.size()), path.size() > steps.size() ? " and the final reset" : "",
                qPrintable(failure), qPrintable(steps.join(QStringLiteral("; "))),
                qPrintable(machine.logLines()
                               .mid(qMax(0, int(machine.logLines().size()) - 40))
                               .join(QStringLiteral("\n    "))));
    std::printf("  it replays %s%s\n",
                runsAsProcesses(steps) ? "in-process, on the simulated machine and under Wine"
                                       : "in-process only (a kill or fault by number)",
                node.withDnsApi ? ", with TARNWICK_TEST_DNS_API=with" : "");
}

bool Explorer::search(int depth)
{
    QList<Node> frontier;
    // Machines with SetInterfaceDnsSettings, as most in use, and without.
    for (const bool withDnsApi : {false, true}) {
        machine.memTool().memory().withDnsApi = withDnsApi;
        Node root{{}, machine.memTool().snapshot(), runner.state()};
        root.withDnsApi = withDnsApi;
        if (!reach(root, &frontier))
            return false;
    }
    for (int level = 1; level <= depth && !frontier.isEmpty(); ++level) {
        const qint64 start = clock.elapsed();
        QList<Node> next;
        int steps = 0;
        for (const Node &node : qAsConst(frontier)) {
            // Each candidate with what it spends: a fault, a line edit, an
            // edit of dns.order or dns.alive.
            const auto advanced = [&](const QString &step, int faults, bool lineEdit,
                                      bool lockEdit) {
                Node reached = node;
                reached.path.append(step);
                reached.faults += faults;
                reached.lineEdited = reached.lineEdited || lineEdit;
                reached.lockFilesEdited = reached.lockFilesEdited || lockEdit;
                return reached;
            };
            QList<QPair<QString, Node>> candidates;
            const auto add = [&](const QString &step, int faults, bool lineEdit, bool lockEdit) {
                candidates.append({step, advanced(step, faults, lineEdit, lockEdit)});
            };
            for (const QString &run : runs()) {
                // Runs first: their plain run tells how many effects and
                // calls their faults may pick.
                const QString failure = step(node, run);
                ++steps;
                if (!failure.isEmpty()) {
                    report(node, node.path + QStringList(run), failure);
                    return false;
                }
                if (!reach(advanced(run, 0, false, false), &next))
                    return false;
                add(run + QStringLiteral(" | replace fails"), 0, false, false);
                if (node.faults < faultsPerPath) {
                    for (const QString &fault : faultsOf(run, lastTicks, lastCalls))
                        add(fault, 1, false, false);
                }
            }
            for (const QString &name : names) {
                if (!node.model.interfaces.value(name).switched)
                    add(QStringLiteral("change %1@203.0.113.9,10.8.0.1").arg(name), 0, false,
                        false);
            }
            for (const QString &edit : editSteps)
                add(edit, 0, false, false);
            for (const QString &edit : lockFileSteps)
                add(edit, 0, false, true);
            if (int(node.lineEdited) < lineEditsPerPath) {
                for (const QString &edit : lineEdits(node))
                    add(edit, 0, true, false);
            }
            for (const auto &[candidate, reached] : qAsConst(candidates)) {
                const QString failure = step(node, candidate);
                ++steps;
                if (!failure.isEmpty()) {
                    report(node, reached.path, failure);
                    return false;
                }
                if (!reach(reached, &next))
                    return false;
            }
            if (outOfTime())
                break;
        }
        totalSteps += steps;
        std::printf("depth %d%s: %d steps, %d new states, %.1f s\n", level,
                    outOfTime() ? " (cut short by the time bound)" : "", steps, int(next.size()),
                    (clock.elapsed() - start) / 1000.0);
        std::fflush(stdout);
        if (outOfTime())
            break;
        frontier = next;
    }
    std::printf("states: %d, %.1f s, %.2f ms a step\n", int(seen.size()), clock.elapsed() / 1000.0,
                double(clock.elapsed()) / qMax(1, totalSteps));
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
    const int lineEdits = arguments.value(3, QStringLiteral("1")).toInt();
    if (!depthOk || !countOk || count < 1 || count > 3 || lineEdits < 0 || lineEdits > 1 ||
        arguments.size() > 4) {
        std::fputs("usage: tarnwick-explore DEPTH INTERFACES(1-3) [SECONDS [LINE-EDITS(0-1)]]\n",
                   stderr);
        return 2;
    }
    const QStringList names = QStringList{QStringLiteral("Ethernet"), QStringLiteral("Wi-Fi"),
                                          QStringLiteral("Ethernet 2")}
                                  .mid(0, count);
    std::printf("exploring to depth %d with %s and the TAP adapter\n", depth,
                qPrintable(names.join(QStringLiteral(", "))));
    Explorer explorer(names, seconds * 1000, lineEdits);
    return explorer.search(depth) ? 0 : 1;
}
