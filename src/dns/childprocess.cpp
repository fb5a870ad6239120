#include "childprocess.h"

#include "logging/logline.h"

namespace {

QString errorText(QProcess::ProcessError error)
{
    switch (error) {
    case QProcess::FailedToStart:
        return QStringLiteral("failed to start");
    case QProcess::Crashed:
        return QStringLiteral("crashed");
    case QProcess::Timedout:
        return QStringLiteral("timed out");
    case QProcess::ReadError:
        return QStringLiteral("read error");
    case QProcess::WriteError:
        return QStringLiteral("write error");
    case QProcess::UnknownError:
        return QStringLiteral("unknown error");
    }
    return QString();
}

// How long a killed command may take to end before the next one starts:
// QProcess starts nothing new while the old one has not been reaped.
const int killWaitMs = 5000;
const int destructionWaitMs = 10000;

} // namespace

ChildProcess::ChildProcess(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("ChildProcess"));
    connect(&process, &QProcess::errorOccurred, this, &ChildProcess::onErrorOccurred);
    connect(&process, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            &ChildProcess::onFinished);
}

ChildProcess::~ChildProcess()
{
    blockSignals(true);
    process.waitForFinished(destructionWaitMs);
}

void ChildProcess::waitForFinished(int timeoutMs)
{
    process.waitForFinished(timeoutMs);
}

void ChildProcess::start(const QString &program, const QStringList &arguments)
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(killWaitMs);
    }
    process.start(program, arguments, QIODevice::ReadWrite);
    // As for every system command: no input, and the command sees its end.
    process.closeWriteChannel();
}

void ChildProcess::onErrorOccurred(QProcess::ProcessError error)
{
    logWarning(objectName(), QStringLiteral("Error occured: ") + errorText(error));
}

void ChildProcess::onFinished(int exitCode, QProcess::ExitStatus exitStatus)
{
    emit processFinished(exitStatus == QProcess::NormalExit && exitCode == 0);
}
