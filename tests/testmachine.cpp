#include "testmachine.h"

#include "simregistry.h"
#include "wineprefix.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QTextStream>

namespace sample {
const QString ethernet = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E01}");
const QString wifi = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E02}");
const QString ethernet2 = QStringLiteral("{6f1c2a10-8b3e-4c55-9d21-0a1b2c3d4e03}");
const QString tap = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E04}");
const QString kernelDebug = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E05}");
const QString unnamed = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E06}");
const QString otherTap = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E08}");
const QString vpnIpv4 = QStringLiteral("172.16.0.1");
const QString vpnIpv6 = QStringLiteral("fd00:dead:beef:cafe::1");

QStringList vpnArguments()
{
    return {QStringLiteral("vpn"), tap + QLatin1Char('@') + vpnIpv4 + QLatin1Char(',') + vpnIpv6};
}
} // namespace sample

namespace {

const QString controlSet = QStringLiteral("HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\");

QStringList fileLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString stackKey(const QString &id, bool ipv4)
{
    return (ipv4 ? QStringLiteral("Services\\Tcpip\\Parameters\\Interfaces\\")
                 : QStringLiteral("Services\\Tcpip6\\Parameters\\Interfaces\\")) +
           id;
}

TestMachine::Run waitForRun(QProcess &process)
{
    TestMachine::Run run;
    if (process.waitForFinished(180000) && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.standardOutput = process.readAllStandardOutput();
    run.standardError = process.readAllStandardError();
    return run;
}

} // namespace

TestMachine::TestMachine(const QStringList &createArguments)
{
    QProcess create;
    const QStringList withDnsApi =
        nativeDnsWanted() ? QStringList{QStringLiteral("--with-dns-api")} : QStringList();
    create.start(QStringLiteral(TARNWICK_SIM_PATH),
                 QStringList{QStringLiteral("create"), root()} + createArguments + withDnsApi);
    valid = create.waitForFinished(60000) && create.exitStatus() == QProcess::NormalExit &&
            create.exitCode() == 0;
    if (windowsWanted()) {
        wine.reset(new WinePrefix(directory.path() + QStringLiteral("/wine"), root()));
        valid = valid && wine->isValid();
    }
}

TestMachine::~TestMachine() = default;

QString TestMachine::vendorFolder() const
{
    return (isWindows() ? wine->programData() : root() + QStringLiteral("/ProgramData")) +
           QStringLiteral("/Tarnwick");
}

QString TestMachine::dataFileNameInLog() const
{
    return isWindows() ? QStringLiteral("C:\\ProgramData\\Tarnwick\\dns.dat") : dataFilePath();
}

void TestMachine::readBackFromWine() const
{
    if (changedInWine && wine->readBackRegistry())
        changedInWine = false;
}

void TestMachine::loadIntoWine() const
{
    readBackFromWine();
    if (changedHere && wine->loadRegistry())
        changedHere = false;
}

QProcessEnvironment TestMachine::environment() const
{
    QProcessEnvironment environment =
        isWindows() ? wine->environment() : QProcessEnvironment::systemEnvironment();
    for (const QString &name : added.keys()) // Wine passes on QT_X only as WINEQT_X
        environment.insert((isWindows() && name.startsWith("QT_") ? "WINE" : "") + name,
                           added.value(name));
    if (isWindows())
        return environment;
    environment.insert(QStringLiteral("TARNWICK_SIM_ROOT"), root());
    environment.insert(QStringLiteral("XDG_DATA_HOME"), root() + QStringLiteral("/ProgramData"));
    environment.insert(QStringLiteral("PATH"), root() + QStringLiteral("/bin:") +
                                                   environment.value(QStringLiteral("PATH")));
    return environment;
}

void TestMachine::enter() const
{
    const QProcessEnvironment inside = environment();
    for (const QString &name : {QStringLiteral("TARNWICK_SIM_ROOT"),
                                QStringLiteral("XDG_DATA_HOME"), QStringLiteral("PATH")})
        qputenv(name.toUtf8().constData(), inside.value(name).toUtf8());
}

bool TestMachine::nativeDnsWanted()
{
    return qEnvironmentVariable("TARNWICK_TEST_DNS_API") == QLatin1String("with");
}

bool TestMachine::windowsWanted()
{
    return qEnvironmentVariable("TARNWICK_TEST_MACHINE") == QLatin1String("windows");
}

QString TestMachine::toolPath()
{
    return QStringLiteral(TARNWICK_DNS_PATH);
}

void TestMachine::startTool(QProcess &process, const QStringList &arguments) const
{
    if (isWindows()) {
        startInWine(process, QStringList(WinePrefix::toolPath()) + arguments);
        return;
    }
    process.setProcessEnvironment(environment());
    process.start(toolPath(), arguments);
}

void TestMachine::startInWine(QProcess &process, const QStringList &arguments) const
{
    loadIntoWine();
    changedInWine = true;
    wine->start(process, arguments, environment());
}

TestMachine::Run TestMachine::runTool(const QStringList &arguments) const
{
    const qint64 logSizeBefore = QFileInfo(logFilePath()).size();
    QProcess tool;
    startTool(tool, arguments);
    const Run run = waitForRun(tool);
    // Under Wine on a loaded machine a program now and then dies as it
    // starts, before any code of its own: exit code 1, which the tool never
    // uses, or Wine's own process ends on a signal (-1), with no output and
    // no line logged. Such a run did nothing and runs once more.
    const bool diedAsItStarted = (run.exitCode == 1 || run.exitCode == -1) &&
                                 run.standardOutput.isEmpty() && run.standardError.isEmpty() &&
                                 QFileInfo(logFilePath()).size() == logSizeBefore;
    if (!isWindows() || !diedAsItStarted)
        return run;
    qWarning("tarnwick-dns %s died under Wine as it started (exit code %d); run once more",
             qPrintable(arguments.join(QLatin1Char(' '))), run.exitCode);
    QProcess again;
    startTool(again, arguments);
    return waitForRun(again);
}

TestMachine::Run TestMachine::runInWine(const QStringList &arguments) const
{
    QProcess program;
    startInWine(program, arguments);
    return waitForRun(program);
}

QString TestMachine::show() const
{
    if (isWindows())
        readBackFromWine();
    QProcess show;
    show.start(QStringLiteral(TARNWICK_SIM_PATH), {QStringLiteral("show"), root()});
    show.waitForFinished(60000);
    return QString::fromUtf8(show.readAllStandardOutput());
}

QStringList TestMachine::dataFileGroups() const
{
    QStringList groups = QSettings(dataFilePath(), QSettings::IniFormat).childGroups();
    groups.removeOne(QStringLiteral("Record"));
    return groups;
}

QString TestMachine::dataFileValue(const QString &key) const
{
    return QSettings(dataFilePath(), QSettings::IniFormat).value(key).toString();
}

QStringList TestMachine::logLines() const
{
    QStringList lines;
    for (QString line : fileLines(logFilePath())) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        lines.append(line.section(QLatin1Char('\t'), 1));
    }
    return lines;
}

QStringList TestMachine::journal() const
{
    return fileLines(root() + QStringLiteral("/journal"));
}

QStringList TestMachine::journalOf(const QString &program) const
{
    QStringList lines;
    for (const QString &line : journal()) {
        if (line.section(QLatin1Char('\t'), 0, 0) == program)
            lines.append(line);
    }
    return lines;
}

QStringList TestMachine::netshCalls() const
{
    QStringList calls;
    for (QString line : journalOf(QStringLiteral("netsh")))
        calls.append(
            line.section(QLatin1Char('\t'), 1).replace(QLatin1Char('\t'), QLatin1Char(' ')));
    return calls;
}

void TestMachine::clearJournal() const
{
    QFile(root() + QStringLiteral("/journal")).resize(0);
}

void TestMachine::setFaults(const QString &program, const QStringList &rules) const
{
    QFile file(root() + QStringLiteral("/faults/") + program);
    if (file.open(QIODevice::WriteOnly))
        file.write((rules.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8());
}

void TestMachine::clearFaults(const QString &program) const
{
    QFile::remove(root() + QStringLiteral("/faults/") + program);
}

bool TestMachine::breakProgram(const QString &program, const QString &fault) const
{
    if (fault == QLatin1String("missing"))
        return isWindows() ? wine->removeCommand(program)
                           : QFile::remove(root() + QStringLiteral("/bin/") + program);
    if (fault == QLatin1String("unstartable")) {
        // Linux refuses to run a file open for writing (ETXTBSY).
        heldOpen.setFileName(root() + QStringLiteral("/bin/") + program);
        return !isWindows() && heldOpen.open(QIODevice::Append);
    }
    if (!fault.isEmpty())
        setFaults(program, {fault});
    return true;
}

QStringList TestMachine::registryKeys() const
{
    if (isWindows())
        readBackFromWine();
    const QString registry = root() + QStringLiteral("/registry");
    QStringList keys;
    QDirIterator it(registry, QDir::Dirs | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext())
        keys.append(
            it.next().mid(registry.size() + 1).replace(QLatin1Char('/'), QLatin1Char('\\')));
    keys.sort();
    return keys;
}

QString TestMachine::registryValue(const QString &keyBelowControlSet, const QString &name) const
{
    if (isWindows())
        readBackFromWine();
    return SimRegistry::readValue(SimRegistry(root()).findKey(controlSet + keyBelowControlSet),
                                  name);
}

void TestMachine::setRegistryValue(const QString &keyBelowControlSet, const QString &name,
                                   const QString &text) const
{
    if (isWindows())
        readBackFromWine();
    changedHere = true;
    SimRegistry::writeValue(SimRegistry(root()).createKey(controlSet + keyBelowControlSet), name,
                            text);
}

QString TestMachine::nameServer(const QString &id, bool ipv4) const
{
    return registryValue(stackKey(id, ipv4), QStringLiteral("NameServer"));
}

void TestMachine::setNameServer(const QString &id, bool ipv4, const QString &servers) const
{
    setRegistryValue(stackKey(id, ipv4), QStringLiteral("NameServer"), servers);
}

void TestMachine::makeNameServerUnreadable(const QString &id, bool ipv4) const
{
    if (isWindows()) {
        runInWine({QStringLiteral("reg"), QStringLiteral("add"), controlSet + stackKey(id, ipv4),
                   QStringLiteral("/v"), QStringLiteral("NameServer"), QStringLiteral("/t"),
                   QStringLiteral("REG_DWORD"), QStringLiteral("/d"), QStringLiteral("1"),
                   QStringLiteral("/f")});
        return;
    }
    const QString value = SimRegistry(root()).createKey(controlSet + stackKey(id, ipv4)) +
                          QStringLiteral("/NameServer");
    QFile::remove(value);
    QDir().mkpath(value);
}
