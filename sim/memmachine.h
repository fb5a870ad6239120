#pragma once

#include "machinecommands.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>

// A Windows machine held in memory, for tests that run the tool in their own
// process: the mem platform's twins of the registry, the system commands,
// the adapter listing, the flush, SetInterfaceDnsSettings, the locks and
// the clock (src/*/*_mem.cpp) act on the current one. The vendor folder
// stays on real files, below `programData`.
//
// Kill points: each effect a run has (a file written, renamed or removed,
// each netsh command, each SetInterfaceDnsSettings call, the request number
// taken) ticks a counter. A run killed at an effect leaves what a killed
// process leaves: that effect and every later one of the run does not
// happen, the seams report failure, and nothing more is logged or printed.
class MemMachine : public RegistryAccess
{
public:
    // The machine becomes the current one; its registry is that of the
    // simulated machine at `simRoot` (ROOT/registry).
    MemMachine(const QString &simRoot, const QString &programData);
    ~MemMachine() override;
    MemMachine(const MemMachine &) = delete;
    MemMachine &operator=(const MemMachine &) = delete;
    static MemMachine &current();

    QString programData() const { return programDataFolder; }

    // The registry, key and value names matched ignoring case.
    bool hasKey(const QString &keyPath) const override;
    QStringList subkeys(const QString &keyPath) const override; // sorted
    QString value(const QString &keyPath, const QString &name) const override;
    bool setValue(const QString &keyPath, const QString &name, const QString &text) const override;
    QStringList valueNames(const QString &keyPath) const;

    // Fault rules of "netsh", "wmic" and "iphlpapi", as the stand-ins'
    // (faultActionIn); "vendorfolder" rules "fail EFFECT" fail a file effect,
    // named as effectName gives it.
    QHash<QString, QStringList> faults;
    // Whether iphlpapi exports SetInterfaceDnsSettings.
    bool withDnsApi = false;
    // The bounds a test lowers (machinebound.h), by name.
    QHash<QString, int> bounds;
    // "netsh" and "iphlpapi" calls: the name, then each argument, TAB-separated.
    QStringList journal;
    // Log lines "<type>\t<message>", and what the runs printed.
    QStringList log;
    QByteArray standardOutput;
    QByteArray standardError;

    // What befalls one run, beside the fault rules.
    struct RunFaults
    {
        // The run is killed at its effect number `killAtTick` (from 1; 0:
        // none), or at the first effect whose name holds `killAtText`.
        int killAtTick = 0;
        QString killAtText;
        // Its call number `faultAtCall` (from 1; 0: none), counting netsh
        // commands and SetInterfaceDnsSettings calls, takes the fault
        // action `callAction` ("fail", "hang", "noop").
        int faultAtCall = 0;
        QString callAction;
    };
    // A run begins: no kill yet, its counters at 0, its console empty.
    void startRun(const RunFaults &runFaults);
    // The run ended: SetInterfaceDnsSettings calls that it abandoned land.
    void endRun();
    bool killed() const { return wasKilled; }
    // The effects and the calls of the run so far.
    int ticks() const { return effectCount; }
    int calls() const { return callCount; }

    enum class Effect
    {
        Happens,
        Fails,
        Killed
    };
    // Ticks for the effect: whether it happens. Names: the netsh command
    // line ("netsh interface ..."), "SetInterfaceDnsSettings GUID ipv4
    // SERVERS", "write 'NAME'", "replace 'NAME'", "rename 'NAME'", "remove
    // 'NAME'", "request number".
    Effect effect(const QString &name);
    static QString fileEffectName(const QString &verb, const QString &path);

    // A system command's run: what the stand-in would answer, with its fault.
    struct CommandRun
    {
        bool started = true;
        bool timedOut = false;
        bool crashed = false;
        CommandAnswer answer;
    };
    CommandRun runCommand(const QString &name, const QStringList &arguments, int timeoutMs);

    // SetInterfaceDnsSettings: Windows' error code; a call that hangs
    // returns none and writes the list late (landLateWrites).
    std::optional<unsigned long> setInterfaceDns(const QString &guid, bool ipv6,
                                                 const QString &servers);
    // The late writes of hung calls land.
    void landLateWrites();

    // The registry as it is now, to be put back whole; its text, a line a
    // value, for fingerprints.
    class Registry;
    Registry registry() const;
    void setRegistry(const Registry &registry);
    QString registryText() const;

    // The virtual clock, in milliseconds.
    qint64 nowMs() const { return clockMs; }
    void advanceClock(qint64 ms) { clockMs += qMax<qint64>(0, ms); }

    struct Key
    {
        QString name;                                  // the last part of its path, as stored
        QMap<QString, QPair<QString, QString>> values; // upper-case name: stored name, text
    };

private:
    void loadKeys(const QString &directory, const QString &keyPath);
    void storeValue(const QString &keyPath, const QString &name, const QString &text) const;
    const Key *key(const QString &keyPath) const;

    QString programDataFolder;
    mutable QMap<QString, Key> keys;           // by upper-case path
    QList<QPair<QString, QString>> lateWrites; // key, text
    // The action of the call about to be made: its fault rule's, or the
    // run's own call fault.
    QString callAction(const QString &program, const QStringList &arguments);

    int effectCount = 0;
    int callCount = 0;
    RunFaults run;
    bool wasKilled = false;
    qint64 clockMs = 1000000;
};

class MemMachine::Registry
{
    friend class MemMachine;
    QMap<QString, Key> keys;
};
