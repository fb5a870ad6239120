#pragma once

#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>
#include <utility>

// The promise that sequences of runs are held against: for each interface
// the servers the user last gave it, and whether the tool's record holds it
// switched. It restates the record's rules from the files as a reader sees
// them, and never asks the tool's own code. The losses the README names are
// its exceptions: only a step meant to spoil both data files at once does
// (see SequenceModel::maySpoil and loseRecord), and none leaves a lone VPN
// default server to the user.

// An interface's servers as the "NameServer" texts of its two stacks,
// compared as a user would: a repeated server once, IPv6 in one form.
struct Servers
{
    QString ipv4;
    QString ipv6;
    bool operator==(const Servers &other) const;
};

// The servers of an entry's text after "@": addresses joined by ",".
Servers serversOf(const QString &entryServers);
QString entryServers(const Servers &servers);

// The interfaces that a switch back restores, by connection name: the
// sample machine's, and another product's TAP adapter (otherTapName) where a
// machine has one; the VPN's own TAP adapter's name.
const QMap<QString, QString> &userInterfaceIds();
extern const QString tapName;
extern const QString otherTapName;
// The sample machine's user interfaces: all of userInterfaceIds() but the
// other product's TAP adapter.
QStringList sampleUserNames();
// The first step of a sequence on a machine with another product's TAP
// adapter among its user interfaces.
extern const QString secondTapStep;
// The entry servers of a vpn step's server set (A, B, C, D); empty for an
// unknown set.
QString vpnSetServers(const QString &set);

// The problems that are not empty, joined.
QString joinProblems(QStringList problems);

// What the model reads of the machine that the tool runs on.
class ModelMachine
{
public:
    virtual ~ModelMachine() = default;
    // "NameServer" of an interface's IPv4 or IPv6 stack.
    virtual QString nameServer(const QString &id, bool ipv4) const = 0;
    virtual QString dataFilePath() const = 0;
};

class SequenceModel
{
public:
    // The user's servers of the interfaces `names` (of userInterfaceIds) are
    // those the machine holds now.
    SequenceModel(const ModelMachine &machine, const QStringList &names);

    struct Interface
    {
        Servers user;
        bool switched = false;
        // The user's servers before `user` took the loss the README names
        // for an interface that a rewritten record counts as switched, a
        // server of the VPN's among its own: a restore then takes that
        // server out, or gives it a stale saved entry. Given back where the
        // interface is no longer switched and no restore changed it.
        std::optional<Servers> beforeLoss;
    };
    QMap<QString, Interface> interfaces; // by connection name

    // Takes what the data files now say. Only an `edited` file, another
    // writer's, may change what the user's servers are.
    void readRecord(bool edited = false);
    // After an edit that leaves neither file holding the record whole: the
    // loss the README names for it.
    void loseRecord();
    // Whether dns.dat and its copy hold the same record (or neither exists).
    bool recordsAlike() const;
    // Whether dns.dat reads whole but other than its copy, the copy not
    // ahead: as the tool reads another writer's rewrite.
    bool readsAsRewrite() const;
    // Whether a data file of the tool's exists, but neither reads whole.
    bool recordHidden() const;
    // Whether a step may spoil the copy (`ofCopy`) or dns.dat: only while
    // the other file holds the record whole, each entry whole.
    bool maySpoil(bool ofCopy) const;

    // What differs from the user's servers on the interfaces `names`.
    QString checkOnUser(const QStringList &names) const;
    // What differs from the servers of vpn set `set` on any listed interface.
    QString checkOnVpn(const QString &set) const;
    // What `status --json` answered (its exit code and JSON) differs from
    // the model in.
    QString checkStatus(int exitCode, const QJsonObject &answer) const;
    // After a final reset whose log lines are `resetLog`: what was lost.
    QString checkFinalReset(const QStringList &resetLog) const;
    // What the model holds, a line an interface, for fingerprints.
    QString text() const;

private:
    // dns.dat and its copy as the tool reads them; none for one that does
    // not read whole.
    using Reading = std::shared_ptr<const class QSettings>;
    std::pair<Reading, Reading> readPair() const;
    // Settles the loss of each interface no longer switched (beforeLoss).
    void settleLosses();
    void followRewrite(const class QSettings &written, const QSettings &copied, bool withGeneration,
                       bool edited);
    QString expectedState() const;
    // Whether the record holds any interface switched.
    bool anySwitched() const;
    Servers held(const QString &id) const;
    QString difference(const QString &name, const QString &id, const Servers &expected,
                       const QString &expectation) const;

    const ModelMachine *machine;
    QMap<QString, Servers> neverListed; // by ID
    Servers recordVpn;                  // the VPN servers of the record read
};
