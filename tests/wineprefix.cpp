#include "wineprefix.h"

#include "regfile.h"
#include "simregistry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

const QString templatePrefix = QStringLiteral(TARNWICK_WINE_TEMPLATE);
const QString windowsTool = QStringLiteral(TARNWICK_WINDOWS_TOOL);

// Up to two minutes for anything Wine does while a test waits for it.
const int wineTimeoutMs = 120000;

bool runToCompletion(QProcess &process)
{
    return process.waitForFinished(wineTimeoutMs) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

bool run(const QString &program, const QStringList &arguments,
         const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    return runToCompletion(process);
}

// Hard links spare copying the prefix's 700 MB of Wine's own programs,
// which nothing changes; the registry files, which wineserver rewrites, are
// copied. Where links are impossible (another file system) it copies all.
bool copyPrefix(const QString &from, const QString &to)
{
    if (!run(QStringLiteral("cp"), {QStringLiteral("-al"), from, to})) {
        QDir(to).removeRecursively();
        return run(QStringLiteral("cp"), {QStringLiteral("-a"), from, to});
    }
    for (const QString &name : QDir(from).entryList({QStringLiteral("*.reg")}, QDir::Files)) {
        const QString copy = to + QLatin1Char('/') + name;
        if (!QFile::remove(copy) || !QFile::copy(from + QLatin1Char('/') + name, copy))
            return false;
    }
    return true;
}

// Runs `step` up to three times while it fails: on a loaded machine a Wine
// program now and then fails, and a test would then read or change a
// registry that is not the machine's. A step that still fails is named.
template <typename Step> bool retried(const QString &what, Step step)
{
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (step())
            return true;
    }
    qWarning("%s failed", qPrintable(what));
    return false;
}

} // namespace

bool WinePrefix::windowsBuildPresent()
{
    return QFileInfo::exists(windowsTool) && QFileInfo::exists(templatePrefix + "/system.reg");
}

QString WinePrefix::toolPath()
{
    return windowsTool;
}

QString WinePrefix::windowsPath(const QString &path)
{
    // Drive Z: is the Unix root.
    return QStringLiteral("Z:") + QString(path).replace(QLatin1Char('/'), QLatin1Char('\\'));
}

WinePrefix::WinePrefix(const QString &path, const QString &root) : path(path), root(root)
{
    // A wineserver that stays between the test's Wine programs spares each
    // of them the server's start-up; it ends 30 s after the last one, should
    // the test end before it is told to.
    valid = copyPrefix(templatePrefix, path) &&
            run(QStringLiteral("wineserver"), {QStringLiteral("-p30")}, environment());
}

WinePrefix::~WinePrefix()
{
    run(QStringLiteral("wineserver"), {QStringLiteral("-k")}, environment());
    run(QStringLiteral("wineserver"), {QStringLiteral("-w")}, environment());
}

QString WinePrefix::programData() const
{
    return path + QStringLiteral("/drive_c/ProgramData");
}

bool WinePrefix::removeCommand(const QString &command) const
{
    // Where tests/wine/make-template puts the stand-ins.
    const QString file = command == QLatin1String("wmic") ? QStringLiteral("wbem/wmic.exe")
                                                          : command + QStringLiteral(".exe");
    return QFile::remove(path + QStringLiteral("/drive_c/windows/system32/") + file);
}

QProcessEnvironment WinePrefix::environment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), path);
    environment.insert(QStringLiteral("WINEDEBUG"), QStringLiteral("-all"));
    // Wine runs programs in the system folder as its own built-in ones unless
    // they are named native here; mscoree and mshtml would ask to install
    // Mono and Gecko.
    environment.insert(QStringLiteral("WINEDLLOVERRIDES"),
                       QStringLiteral("netsh.exe,ipconfig.exe,wmic.exe=n;mscoree,mshtml="));
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    // Wine passes the environment on; the stand-ins find the simulated
    // machine's folder through Wine's drive Z:, the Unix root.
    environment.insert(QStringLiteral("TARNWICK_SIM_ROOT"), windowsPath(root));
    return environment;
}

void WinePrefix::start(QProcess &process, const QStringList &arguments,
                       const QProcessEnvironment &environment) const
{
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral("wine"), arguments);
}

bool WinePrefix::runWine(const QStringList &arguments) const
{
    return run(QStringLiteral("wine"), arguments, environment());
}

bool WinePrefix::loadRegistry() const
{
    const QString file = path + QStringLiteral("/machine.reg");
    if (!run(QStringLiteral(TARNWICK_SIM_PATH), {QStringLiteral("reg"), root, file}))
        return false;
    return retried(QStringLiteral("loading the registry into Wine"), [&] {
        return runWine({QStringLiteral("regedit"), QStringLiteral("/S"), windowsPath(file)});
    });
}

bool WinePrefix::readBackRegistry() const
{
    return retried(QStringLiteral("reading the registry back from Wine"),
                   [&] { return exportRegistry(); });
}

bool WinePrefix::exportRegistry() const
{
    // One regedit run for the keys the machine has (the tool neither makes
    // nor deletes keys): each Wine program costs a start-up. cmd reports
    // only the last command's exit code, so a failed export shows as a
    // missing file.
    QStringList exports;
    QStringList files;
    for (const QString &key : machineRootKeys()) {
        if (SimRegistry(root).findKey(key).isEmpty())
            continue;
        const QString file = path + QStringLiteral("/export%1.reg").arg(files.size());
        QFile::remove(file);
        exports.append(QStringLiteral("regedit /E %1 %2").arg(windowsPath(file), key));
        files.append(file);
    }
    if (!runWine(
            {QStringLiteral("cmd"), QStringLiteral("/c"), exports.join(QStringLiteral(" & "))}))
        return false;
    for (const QString &file : files) {
        if (!QFileInfo::exists(file))
            return false;
    }
    return run(QStringLiteral(TARNWICK_SIM_PATH),
               QStringList{QStringLiteral("read-reg"), root} + files);
}
