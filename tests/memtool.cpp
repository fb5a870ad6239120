#include "memtool.h"

#include "app/dns.h"
#include "app/statusrun.h"
#include "simmachine.h"
#include "store/vendorfolder.h"

#include <QDir>

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

// The sample machine's registry, written once on disk for every MemMachine.
QString sampleRoot()
{
    static QTemporaryDir root;
    static const bool written = [] {
        writeRegistry(root.path(), sampleInterfaces(), int(sampleInterfaces().size()));
        return true;
    }();
    Q_UNUSED(written);
    return root.path();
}

QString temporaryTemplate()
{
    const QString shared = QStringLiteral("/dev/shm");
    return (QFileInfo(shared).isWritable() ? shared : QDir::tempPath()) +
           QStringLiteral("/tarnwick-mem-XXXXXX");
}

} // namespace

MemTool::MemTool() : programData(temporaryTemplate())
{
    if (programData.isValid())
        machine = std::make_unique<MemMachine>(sampleRoot(), programData.path());
}

MemTool::Run MemTool::run(const QStringList &arguments, int killAtTick, const QString &killAtText)
{
    machine->startRun(killAtTick, killAtText);
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
        run.exitCode = !dns.isInvalid() && dns.run() ? 0 : -1;
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
