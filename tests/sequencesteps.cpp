#include "sequencesteps.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSettings>
#include <QTextCodec>

#include <unistd.h>

const QString unreadableStep = QStringLiteral("cannot read the step");
const QString notOnThisMachine = QStringLiteral("a step this machine cannot run");

bool isVpnRun(const QString &run)
{
    return run.startsWith(QLatin1String("vpn "));
}

bool exitCodeFits(int exitCode, const QString &run, const QString &fault)
{
    return exitCode == 0 ||
           (exitCode == 12 && isVpnRun(run) && fault == QLatin1String("replace fails"));
}

bool runsAsProcesses(const QStringList &steps)
{
    return steps.filter(QRegularExpression(QStringLiteral("\\| (kill at|call) \\d"))).isEmpty();
}

bool runsInProcess(const QStringList &steps)
{
    return steps.filter(QRegularExpression(QStringLiteral("^(together|garble lock)"))).isEmpty();
}

std::optional<StepMachine::RunEnd> MemoryMachine::run(const QStringList &arguments,
                                                      const QString &fault, const QString &label)
{
    static const QRegularExpression form(QStringLiteral(
        "^(?:(netsh|native) (fail|noop|crash|hang) (.+)|kill at ([1-9]\\d*)|call ([1-9]\\d*) "
        "(fail|hang|noop)|kill (.+)|(no listing|wmic fail|replace fails))?$"));
    const QRegularExpressionMatch match = form.match(fault);
    if (!match.hasMatch())
        return std::nullopt;
    MemMachine &memory = tool.memory();
    const QString program = match.captured(1) == QLatin1String("native")
                                ? QStringLiteral("iphlpapi")
                                : match.captured(1);
    if (!program.isEmpty())
        memory.faults[program] =
            QStringList(match.captured(2) + QLatin1Char(' ') + match.captured(3));
    if (fault == QLatin1String("no listing") || fault == QLatin1String("wmic fail"))
        memory.faults[QStringLiteral("wmic")] = QStringList(QStringLiteral("fail"));
    if (fault == QLatin1String("no listing"))
        memory.faults[QStringLiteral("iphlpapi")] = QStringList(QStringLiteral("fail"));
    const QString replaceDataFile =
        MemMachine::fileEffectName(QStringLiteral("replace"), QStringLiteral("dns.dat"));
    if (fault == QLatin1String("replace fails"))
        memory.faults[QStringLiteral("vendorfolder")] =
            QStringList(QStringLiteral("fail ") + replaceDataFile);
    MemMachine::RunFaults runFaults;
    runFaults.killAtTick = match.captured(4).toInt();
    runFaults.faultAtCall = match.captured(5).toInt();
    runFaults.callAction = match.captured(6);
    runFaults.killAtText =
        fault == QLatin1String("kill between writes") ? replaceDataFile : match.captured(7);
    const MemTool::Run run = tool.run(arguments, runFaults);
    memory.faults.clear();
    const QString problem =
        run.killed || exitCodeFits(run.exitCode, label, fault)
            ? QString()
            : QStringLiteral("'%1' exited with code %2").arg(label, QString::number(run.exitCode));
    return RunEnd{problem, run.killed};
}

QString SequenceRunner::execute(const QString &step)
{
    const QString together = QStringLiteral("together ");
    const QString change = QStringLiteral("change ");
    const QString garble = QStringLiteral("garble lock");
    const QString garbleOrder = QStringLiteral("garble order ");
    const QString damagePair = QStringLiteral("damage pair ");
    const QString damage = QStringLiteral("damage ");
    if (step == secondTapStep) // the machine was made so
        return QString();
    if (step.startsWith(damagePair))
        return damageBothFiles(step.mid(damagePair.size()));
    if (step.startsWith(damage))
        return damageDataFile(step.mid(damage.size()));
    if (step.startsWith(garbleOrder))
        return garbleCounter(step.mid(garbleOrder.size()));
    if (step.startsWith(QLatin1String("alive ")))
        return spoilAliveFile(step.mid(6));
    if (step.startsWith(together))
        return runTogether(step.mid(together.size()));
    if (step.startsWith(change))
        return changeServers(step.mid(change.size()));
    if (step.startsWith(garble))
        return garbleLock(step.mid(garble.size()).trimmed());
    const QString faultSeparator = QStringLiteral(" | ");
    return runAlone(step.section(faultSeparator, 0, 0), step.section(faultSeparator, 1));
}

QString SequenceRunner::runAlone(const QString &run, const QString &fault)
{
    const QStringList arguments = toolArguments(run);
    if (arguments.isEmpty())
        return unreadableStep;
    const bool rewriteBefore = model.readsAsRewrite();
    const QByteArray dataFileBefore = fileBytes(machine.dataFilePath());
    const std::optional<StepMachine::RunEnd> end = machine.run(arguments, fault, run);
    if (!end)
        return unreadableStep;
    model.readRecord();
    // Killed or not, a run of the tool's own never leaves what reads as
    // another writer's rewrite, unless it found one and left dns.dat as it
    // was: it wrote nothing, or could not replace dns.dat.
    if (model.readsAsRewrite() &&
        !(rewriteBefore && fileBytes(machine.dataFilePath()) == dataFileBefore))
        return QStringLiteral("'%1' left dns.dat and its copy as another writer's rewrite")
            .arg(run);
    if (!end->problem.isEmpty() || fault == QLatin1String("no listing") ||
        (end->killed && !isVpnRun(run)))
        return end->problem;
    const bool fileFault =
        fault == QLatin1String("kill between writes") || fault == QLatin1String("replace fails");
    // A run that ends leaves the record it acted on in both files; where
    // neither reads whole, it acts on none.
    if (!end->killed && !fileFault && !model.recordsAlike() && !model.recordHidden())
        return QStringLiteral("dns.dat and its copy differ after '%1'").arg(run);
    const bool undisturbed = fault.isEmpty() || fault == QLatin1String("wmic fail") ||
                             (fault.startsWith(QLatin1String("kill ")) && !end->killed);
    if (!undisturbed || end->killed)
        return QString();
    if (isVpnRun(run))
        return model.checkOnVpn(run.section(QLatin1Char(' '), 1));
    const QStringList named = run.section(QLatin1Char(' '), 1).split(QLatin1Char(','));
    return run.startsWith(QLatin1String("user ")) && named.filter(QStringLiteral("!")).isEmpty()
               ? model.checkOnUser(named)
               : QString();
}

QByteArray SequenceRunner::fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("-");
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
    const QString problems =
        machine.runTogether(firstArguments, secondArguments, runs, match.captured(3).toInt());
    model.readRecord();
    return problems;
}

QString SequenceRunner::changeServers(const QString &entry)
{
    const QString name = entry.section(QLatin1Char('@'), 0, 0);
    if (!entry.contains(QLatin1Char('@')) || !model.interfaces.contains(name))
        return unreadableStep;
    // The user only changes an interface the tool does not hold switched; a
    // switch back that did not take leaves the step out.
    SequenceModel::Interface &interface = model.interfaces[name];
    if (interface.switched)
        return QString();
    interface.user = serversOf(entry.section(QLatin1Char('@'), 1));
    const QString id = userInterfaceIds().value(name);
    machine.setNameServer(id, true, interface.user.ipv4);
    machine.setNameServer(id, false, interface.user.ipv6);
    // Where another program rewrote dns.dat, a server of the VPN's makes
    // the interface count as switched.
    model.readRecord(true);
    return QString();
}

namespace {

// The start and length of each line that is not blank.
QList<QPair<int, int>> lineSpans(const QString &text)
{
    static const QRegularExpression line(QStringLiteral("^[^\r\n]+"),
                                         QRegularExpression::MultilineOption);
    QList<QPair<int, int>> lines;
    for (auto it = line.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        lines.append({match.capturedStart(), match.capturedLength()});
    }
    return lines;
}

// Where the first item of a line ends: the first server after its "@", else
// its value after "=" (past an opening quote); -1 for a group's line, whose
// name is no item.
int itemEnd(const QString &line)
{
    const int at = line.indexOf(QLatin1Char('@'));
    const int equals = line.indexOf(QLatin1Char('='));
    if (equals < 0)
        return -1;
    int start = at >= 0 ? at + 1 : equals + 1;
    if (start < line.size() && line.at(start) == QLatin1Char('"'))
        ++start;
    int end = start;
    while (end < line.size() && !QStringLiteral(",;\"]").contains(line.at(end)))
        ++end;
    return end > start ? end : -1;
}

} // namespace

QString editedInLine(const QString &text, const QString &kind)
{
    static const QRegularExpression form(
        QStringLiteral("^(cut in|cut at|typo in|drop|repeat) ([1-9]\\d*)([@,]?)$"));
    const QRegularExpressionMatch match = form.match(kind);
    const QList<QPair<int, int>> lines = lineSpans(text);
    if (!match.hasMatch() || lines.isEmpty())
        return QString();
    const QString edit = match.captured(1);
    const QPair<int, int> span = lines.at((match.captured(2).toInt() - 1) % lines.size());
    const QString line = text.mid(span.first, span.second);
    const int lineEnd = span.first + span.second;
    if (edit == QLatin1String("drop") || edit == QLatin1String("repeat")) {
        const int next = text.indexOf(QLatin1Char('\n'), lineEnd);
        const int after = next < 0 ? text.size() : next + 1;
        const QString whole = text.mid(span.first, after - span.first);
        return text.left(span.first) +
               (edit == QLatin1String("repeat") ? whole + whole : QString()) + text.mid(after);
    }
    if (edit == QLatin1String("typo in")) {
        const int end = itemEnd(line);
        if (end < 0)
            return text;
        const QChar typed =
            line.at(end - 1) == QLatin1Char('x') ? QLatin1Char('y') : QLatin1Char('x');
        return text.left(span.first + end - 1) + typed + text.mid(span.first + end);
    }
    const int mark = match.captured(3).isEmpty() ? -1 : line.indexOf(match.captured(3));
    const QString cut = text.left(span.first + (mark < 0 ? span.second / 2 : mark + 1));
    // An editor that saves a file cut there writes a line after it.
    return edit == QLatin1String("cut in") ? cut + QStringLiteral("; end\r\n") : cut;
}

QStringList lineEditKinds(const QString &text)
{
    QStringList kinds;
    const QList<QPair<int, int>> lines = lineSpans(text);
    for (int number = 1; number <= lines.size(); ++number) {
        const QString line = text.mid(lines.at(number - 1).first, lines.at(number - 1).second);
        for (const QString &cut : {QStringLiteral("cut in %1"), QStringLiteral("cut at %1")}) {
            kinds.append(cut.arg(number));
            for (const char *mark : {"@", ","}) {
                if (line.contains(QLatin1String(mark)))
                    kinds.append(cut.arg(number) + QLatin1String(mark));
            }
        }
        for (const QString &edit :
             {QStringLiteral("typo in %1"), QStringLiteral("drop %1"), QStringLiteral("repeat %1")})
            kinds.append(edit.arg(number));
    }
    return kinds;
}

// Edits dns.dat or its copy as a careless hand, another editor or another
// writer would. Where one file no longer holds the record, the other does.
QString SequenceRunner::damageDataFile(const QString &step)
{
    const QString copyPrefix = QStringLiteral("copy ");
    const bool ofCopy = step.startsWith(copyPrefix);
    const QString kind = ofCopy ? step.mid(copyPrefix.size()) : step;
    const QString copyPath = machine.dataFilePath() + QStringLiteral(".copy");
    QFile file(ofCopy ? copyPath : machine.dataFilePath());
    // One file always holds the record whole: the copy is spoiled only while
    // dns.dat holds the same, dns.dat only while the copy reads whole.
    if (!file.exists() || !model.maySpoil(ofCopy))
        return QString();
    if (kind == QLatin1String("delete") || kind == QLatin1String("untrusted")) {
        const bool done =
            kind == QLatin1String("delete")
                ? file.remove()
                : chown(QFile::encodeName(file.fileName()).constData(), 65534, 65534) == 0;
        model.readRecord(true);
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
    // With its size: a UTF-16 file holds NUL bytes.
    QString edited = QString::fromLatin1(text.constData(), text.size());
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
    else if (kind == QLatin1String("typo")) // the last character of an entry's last server
        edited.replace(
            QRegularExpression(QStringLiteral("^(Args=\"?[^@\r\n]*@[^;\"\r\n]*)[^;\"\r\n]"),
                               QRegularExpression::MultilineOption),
            QStringLiteral("\\1x"));
    else if (!editedInLine(edited, kind).isNull())
        edited = editedInLine(edited, kind);
    else if (kind == QLatin1String("empty")) // cut to nothing
        edited.clear();
    else if (kind == QLatin1String("rewrite")) // an older version's entries, in its order
        edited.replace(args, QStringLiteral("Args=\"") +
                                 QSettings(machine.dataFilePath(), QSettings::IniFormat)
                                     .value(QStringLiteral("UserDns/Args"))
                                     .toString()
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
    model.readRecord(true);
    return QString();
}

// Edits that leave neither file holding the record whole: dns.dat and its
// copy cut to nothing (empty), or dns.dat cut to nothing and its copy
// deleted (lost); or, keeping them alike, both files' generation set to the
// top of its range (generation).
QString SequenceRunner::damageBothFiles(const QString &kind)
{
    const QStringList paths{machine.dataFilePath(),
                            machine.dataFilePath() + QStringLiteral(".copy")};
    if (!QFile::exists(paths.first()) || !QFile::exists(paths.last()))
        return QString();
    const bool generation = kind == QLatin1String("generation");
    if (!generation && kind != QLatin1String("empty") && kind != QLatin1String("lost"))
        return unreadableStep;
    bool done = true;
    for (const QString &path : paths) {
        QFile file(path);
        QString text;
        if (generation && file.open(QIODevice::ReadOnly)) {
            text = QString::fromLatin1(file.readAll())
                       .replace(QRegularExpression(QStringLiteral("Generation=\\d+")),
                                QStringLiteral("Generation=18446744073709551615"));
            file.close();
        }
        const QByteArray bytes = text.toLatin1();
        done = done && (kind == QLatin1String("lost") && path == paths.last()
                            ? file.remove()
                            : file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                                  file.write(bytes) == bytes.size());
    }
    if (generation)
        model.readRecord(true);
    else
        model.loseRecord();
    return done ? QString()
                : QStringLiteral("cannot write %1").arg(paths.join(QStringLiteral(", ")));
}

// dns.order as a power loss or another program leaves it: its first or
// second line garbled (first, second), its lines swapped (swap), its second
// line above its first (above) or at the top of the range (top).
QString SequenceRunner::garbleCounter(const QString &kind) const
{
    QFile counter(machine.vendorFolder() + QStringLiteral("/dns.order"));
    if (!counter.open(QIODevice::ReadOnly))
        return QString();
    const QList<QByteArray> lines = counter.readAll().split('\n');
    counter.close();
    const quint64 taken = lines.value(0).toULongLong();
    QByteArray first = lines.value(0);
    QByteArray second = lines.value(1);
    if (kind == QLatin1String("first"))
        first = "xx" + first.mid(2);
    else if (kind == QLatin1String("second"))
        second = "xx" + second.mid(2);
    else if (kind == QLatin1String("swap"))
        std::swap(first, second);
    else if (kind == QLatin1String("above"))
        second = QByteArray::number(taken + 5);
    else if (kind == QLatin1String("top"))
        second = "18446744073709551615";
    else
        return unreadableStep;
    const QByteArray bytes = first + '\n' + second + '\n';
    if (!counter.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        counter.write(bytes) != bytes.size())
        return QStringLiteral("cannot write %1").arg(counter.fileName());
    return QString();
}

// dns.alive deleted (missing), or a folder in its place (folder).
QString SequenceRunner::spoilAliveFile(const QString &kind) const
{
    const QString path = machine.vendorFolder() + QStringLiteral("/dns.alive");
    if (kind != QLatin1String("missing") && kind != QLatin1String("folder"))
        return unreadableStep;
    QFile::remove(path);
    if (kind == QLatin1String("folder") && !QDir().mkpath(path))
        return QStringLiteral("cannot make the folder %1").arg(path);
    return QString();
}

QString SequenceRunner::garbleLock(const QString &hexBytes) const
{
    if (dynamic_cast<const MemoryMachine *>(&machine))
        return notOnThisMachine;
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
    if (!model.interfaces.contains(name))
        return QString();
    const QString servers = entryServers(model.interfaces.value(name).user);
    static const QStringList malformed = {
        QStringLiteral("%1"), QStringLiteral("192.0.2.53@192.0.2.54"),
        QStringLiteral("192.0.2.300"), QStringLiteral("192.0.2.53 192.0.2.54"),
        QStringLiteral("%1,fd00::bad::1")};
    const int kind = named.section(QLatin1Char('!'), 1).toInt();
    return userInterfaceIds().value(name) + QLatin1Char('@') +
           QString(malformed.value(kind)).replace(QStringLiteral("%1"), servers);
}

QString SequenceRunner::checkStatus()
{
    const auto dataFile = [this] {
        QFile file(machine.dataFilePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    const QByteArray recordBefore = dataFile();
    const int logLinesBefore = int(machine.logLines().size());
    const int callsBefore = machine.netshCallCount();
    const TestMachine::Run run = machine.status();
    QStringList problems{
        model.checkStatus(run.exitCode, QJsonDocument::fromJson(run.standardOutput).object())};
    if (!problems.first().isEmpty()) {
        problems.append(QStringLiteral("its error output '%1'")
                            .arg(QString::fromUtf8(run.standardError).simplified().left(500)));
    }
    if (dataFile() != recordBefore || machine.logLines().size() != logLinesBefore ||
        machine.netshCallCount() != callsBefore)
        problems.append(QStringLiteral("status changed the data file, the log or DNS servers"));
    return joinProblems(problems);
}

QString SequenceRunner::finalReset()
{
    const QString problem = runAlone(QStringLiteral("reset"), QString());
    if (!problem.isEmpty())
        return problem;
    const QStringList lines = machine.logLines();
    const int start = lines.lastIndexOf(
        QRegularExpression(QStringLiteral(".*\tDns: Initialized with 'Reset' mode")));
    return model.checkFinalReset(lines.mid(start + 1));
}
