#include "memtool.h"

#include "app/dns.h"
#include "app/statusrun.h"
#include "simmachine.h"
#include "store/vendorfolder.h"

#include <QDir>
#include <QSet>

#include <unistd.h>

namespace {

const char *typeWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return "debug";
    case QtInfoMsg:
        return "info";
    case QtWarningMsg:
        return "warning";
    case QtCriticalMsg:
        return "critical";
    case QtFatalMsg:
        break;
    }
    return "fatal";
}

// The log's lines as the tool's Logger writes them, without their time.
void captureLogLine(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    MemMachine &machine = MemMachine::current();
    if (!machine.killed())
        machine.log.append(QString::fromLatin1(typeWord(type)) + QLatin1Char('\t') +
                           message.simplified());
}

// The sample machine's registry with these user interfaces, written on disk
// once for every MemMachine.
QString sampleRoot(const QStringList &userInterfaces)
{
    static QTemporaryDir roots;
    static QSet<QString> written;
    const QStringList all = {QStringLiteral("Ethernet"), QStringLiteral("Wi-Fi"),
                             QStringLiteral("Ethernet 2"), secondTapInterface().name};
    const QStringList kept = userInterfaces.isEmpty() ? QStringList(all.mid(0, 3)) : userInterfaces;
    const QString root = roots.filePath(kept.join(QLatin1Char(',')));
    if (!written.contains(root)) {
        QList<SimInterface> interfaces;
        QList<SimInterface> candidates = sampleInterfaces();
        candidates.append(secondTapInterface());
        for (const SimInterface &interface : qAsConst(candidates)) {
            if (!all.contains(interface.name) || kept.contains(interface.name))
                interfaces.append(interface);
        }
        writeRegistry(root, interfaces, int(interfaces.size()));
        written.insert(root);
    }
    return root;
}

QString temporaryTemplate()
{
    const QString shared = QStringLiteral("/dev/shm");
    return (QFileInfo(shared).isWritable() ? shared : QDir::tempPath()) +
           QStringLiteral("/tarnwick-mem-XXXXXX");
}

} // namespace

MemTool::MemTool(const QStringList &userInterfaces) : programData(temporaryTemplate())
{
    if (programData.isValid())
        machine = std::make_unique<MemMachine>(sampleRoot(userInterfaces), programData.path());
}

MemTool::Run MemTool::run(const QStringList &arguments, const MemMachine::RunFaults &faults)
{
    machine->startRun(faults);
    QList<QByteArray> words{"tarnwick-dns"};
    for (const QString &argument : arguments)
        words.append(argument.toUtf8());
    QVector<char *> argv;
    for (QByteArray &word : words)
        argv.append(word.data());
    const int argc = int(argv.size());

    Run run;
    const QtMessageHandler previous = qInstallMessageHandler(captureLogLine);
    if (asksForStatus(argc, argv.data())) {
        sendWarningsToStandardError();
        run.exitCode = runStatus(argc, argv.data());
    } else {
        Dns dns(argc, argv.data());
        run.exitCode = dns.isInvalid() ? -1 : Dns::exitCodeOf(dns.run());
    }
    qInstallMessageHandler(previous);
    // The folder is checked afresh by the next run, as by a new process.
    VendorFolder::forgetInstance();
    machine->endRun();
    run.killed = machine->killed();
    run.standardOutput = machine->standardOutput;
    run.standardError = machine->standardError;
    return run;
}

MemTool::Snapshot MemTool::snapshot() const
{
    Snapshot snapshot{
        machine->registry(), QDir(vendorFolder()).entryList(QDir::Dirs | QDir::NoDotAndDotDot), {}};
    for (const QFileInfo &entry : QDir(vendorFolder()).entryInfoList(QDir::Files | QDir::Hidden)) {
        QFile file(entry.filePath());
        if (file.open(QIODevice::ReadOnly))
            snapshot.files.append({entry.fileName(), file.readAll(), entry.ownerId()});
    }
    return snapshot;
}

void MemTool::restore(const Snapshot &snapshot)
{
    machine->setRegistry(snapshot.registry);
    // What the runs before logged and called belongs to no state.
    machine->log.clear();
    machine->journal.clear();
    QDir folder(vendorFolder());
    for (const QString &name : folder.entryList(QDir::Files | QDir::Hidden))
        folder.remove(name);
    for (const QString &name : folder.entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        QDir(folder.filePath(name)).removeRecursively();
    for (const QString &name : snapshot.folders)
        folder.mkdir(name);
    for (const Snapshot::File &saved : snapshot.files) {
        QFile file(folder.filePath(saved.name));
        if (file.open(QIODevice::WriteOnly) && file.write(saved.bytes) == saved.bytes.size()) {
            file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
            file.close();
            if (saved.owner != 0 && chown(QFile::encodeName(file.fileName()).constData(),
                                          saved.owner, saved.owner) != 0)
                qWarning("cannot give %s its owner back", qPrintable(file.fileName()));
        }
    }
}
