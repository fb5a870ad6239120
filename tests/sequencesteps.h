#pragma once

#include "memtool.h"
#include "sequencemodel.h"
#include "testmachine.h"

#include <QString>
#include <QStringList>

#include <optional>

// The steps that sequences of runs are made of, the machines they run on,
// and the runner that holds each step against the model (sequencemodel.h).
//
// Steps, one per string (a list of them joined by "; " replays a sequence;
// secondTapStep first puts another product's TAP adapter on its machine):
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
//                               replace fails (dns.dat cannot be replaced
//                               meanwhile), kill between writes (before dns.dat
//                               is replaced), native fail|noop|crash|hang TEXT
//                               (SetInterfaceDnsSettings, on a machine that
//                               has it, for the calls holding TEXT), kill at N
//                               (at the run's N-th effect), call N fail|hang|noop
//                               (its N-th netsh command or SetInterfaceDnsSettings
//                               call so): in-process only
//   together RUN + RUN after N ms   (processes only)
//   change NAME@SERVERS         the user gives the interface these servers (left
//                               out while the model holds it switched)
//   garble lock [HEX]           these bytes (none without HEX) in dns.lock
//                               (processes only)
//   damage KIND                 dns.dat edited by hand or another program:
//                               "Args" blanked (blank), its quotes taken away
//                               (unquote), the TAP adapter's ID added to
//                               "Switched" (tap), a byte order mark (bom), a
//                               comment after each group line (comment), a
//                               UTF-16 re-save (utf16), an older version's
//                               rewrite of "Args" (rewrite), the file cut
//                               short (cut), cut to nothing (empty), one
//                               character of the first entry's last server
//                               mistyped (typo), or one of its lines edited
//                               (editedInLine)
//   damage copy KIND            dns.dat.copy re-saved as UTF-16 (utf16), cut
//                               short (cut) or to nothing (empty), deleted
//                               (delete), given to another account
//                               (untrusted), or typo and cut in N as above;
//                               damage delete deletes dns.dat
//   damage pair KIND            both files cut to nothing (empty), dns.dat cut
//                               to nothing and its copy deleted (lost), both
//                               generations at the top of their range
//                               (generation)
//   garble order KIND           dns.order's first or second line garbled
//                               (first, second), its lines swapped (swap), its
//                               second line above the first (above) or at the
//                               top of its range (top)
//   alive KIND                  dns.alive deleted (missing) or a folder in its
//                               place (folder)
//

// A data file's text with one of its lines edited (counted from 1 among the
// lines that are not blank, round them as often as it takes): "cut in
// N[@|,]" cuts it in its middle, or just after its first "@" or ",", and
// saves a line after it, as an editor does; "cut at N[@|,]" cuts it so,
// with nothing after; "typo in N" mistypes the last character of its first
// item (its first server, else its value, else its group's name); "drop N"
// deletes it and "repeat N" repeats it. A null text for another kind.
QString editedInLine(const QString &text, const QString &kind);
// Every such edit of the lines `text` holds.
QStringList lineEditKinds(const QString &text);

extern const QString unreadableStep;
extern const QString notOnThisMachine;

bool isVpnRun(const QString &run);
// Whether a run ended as it should with this exit code: 0, or 12 for a vpn
// run that could not record the user's servers (its fault keeps dns.dat
// from being replaced) and so changed nothing.
bool exitCodeFits(int exitCode, const QString &run, const QString &fault);
// Whether every step exists on the simulated machine and under Wine (kills
// at an effect and faults by call number exist only in-process), or in this
// process (runs that overlap and lock files need processes).
bool runsAsProcesses(const QStringList &steps);
bool runsInProcess(const QStringList &steps);

// A machine the steps run the tool on.
class StepMachine : public ModelMachine
{
public:
    virtual bool isValid() const = 0;
    virtual void setNameServer(const QString &id, bool ipv4, const QString &servers) = 0;
    // Log lines without their time: "<type>\t<message>".
    virtual QStringList logLines() const = 0;
    virtual int netshCallCount() const = 0;
    struct RunEnd
    {
        QString problem; // what went wrong; empty when nothing did
        bool killed = false;
    };
    // Runs the tool with a step's fault (`label` names the run in problems);
    // none for a fault this machine cannot set.
    virtual std::optional<RunEnd> run(const QStringList &arguments, const QString &fault,
                                      const QString &label) = 0;
    virtual TestMachine::Run status() = 0;
    virtual QString vendorFolder() const = 0;
    QString dataFilePath() const override { return vendorFolder() + QStringLiteral("/dns.dat"); }
    // Two runs, the second started `delayMs` after the first: what went
    // wrong. Only processes overlap.
    virtual QString runTogether(const QStringList &, const QStringList &, const QStringList &, int)
    {
        return notOnThisMachine;
    }
    virtual void keep(const QString &) const {}
};

// The tool in this process, on the machine in memory with the user
// interfaces `names` (memtool.h), with SetInterfaceDnsSettings where
// TestMachine::nativeDnsWanted().
class MemoryMachine : public StepMachine
{
public:
    explicit MemoryMachine(const QStringList &names = sampleUserNames()) : tool(names)
    {
        tool.memory().withDnsApi = TestMachine::nativeDnsWanted();
    }
    MemTool &memTool() { return tool; }
    const MemTool &memTool() const { return tool; }
    bool isValid() const override { return tool.isValid(); }
    QString nameServer(const QString &id, bool ipv4) const override
    {
        return tool.memory().value(dnsStackKey(id, !ipv4), QStringLiteral("NameServer"));
    }
    void setNameServer(const QString &id, bool ipv4, const QString &servers) override
    {
        tool.memory().setValue(dnsStackKey(id, !ipv4), QStringLiteral("NameServer"), servers);
    }
    QStringList logLines() const override { return tool.memory().log; }
    int netshCallCount() const override
    {
        return int(
            tool.memory().journal.filter(QRegularExpression(QStringLiteral("^netsh\t"))).size());
    }
    std::optional<RunEnd> run(const QStringList &arguments, const QString &fault,
                              const QString &label) override;
    TestMachine::Run status() override
    {
        const MemTool::Run run = tool.run({QStringLiteral("status"), QStringLiteral("--json")});
        return {run.exitCode, run.standardOutput, run.standardError};
    }
    QString vendorFolder() const override { return tool.vendorFolder(); }

private:
    MemTool tool;
};

// Executes steps on a fresh sample machine and keeps the model; a step that
// names an interface the model does not hold cannot be read.
class SequenceRunner
{
public:
    // On the machine's user interfaces `names`.
    SequenceRunner(StepMachine &machine, const QStringList &names = sampleUserNames())
        : machine(machine), model(machine, names)
    {
    }
    const SequenceModel &state() const { return model; }
    void setState(const SequenceModel &state) { model = state; }
    // What differed from the model or failed; empty when the step went well.
    QString execute(const QString &step);
    // Clears all faults, runs reset, and checks that nothing was lost.
    QString finalReset();
    // Asks `status --json` and holds its answer against the model; what
    // differed, or an empty text.
    QString checkStatus();

private:
    QString runAlone(const QString &run, const QString &fault);
    QString runTogether(const QString &pair);
    QString changeServers(const QString &entry);
    QString garbleLock(const QString &hexBytes) const;
    QString garbleCounter(const QString &kind) const;
    QString spoilAliveFile(const QString &kind) const;
    QString damageDataFile(const QString &step);
    QString damageBothFiles(const QString &kind);
    QString userEntry(const QString &named) const;
    QStringList toolArguments(const QString &run) const;
    // A file's bytes, "-" when it cannot be read, to tell whether a run
    // wrote it.
    static QByteArray fileBytes(const QString &path);

    StepMachine &machine;
    SequenceModel model;
};
