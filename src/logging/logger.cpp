#include "logger.h"

#include "logline.h"
#include "store/vendorfolder.h"
#include "utils/text.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFileInfo>
#include <QTextStream>

namespace {

// Process-wide stream into the log file; it only borrows the file.
QTextStream logStream;

const QString clipboardNoise = QStringLiteral("Retrying to obtain clipboard.");

// A log file past this size is kept under another name and started afresh,
// so that the clean-up of old log files, which counts the kept ones, bounds
// the folder. A few MiB hold thousands of runs; what one run writes is
// bounded too (entries and servers read, length of quoted words).
const qint64 maxLogFileSize = 4 * 1024 * 1024;

// The longest message a log line holds; the rest is cut, with its length
// named, so that a list without a bound of its own (the IDs of a forged
// record, say) cannot blow up the log. Lines of any real run are far
// shorter; a command line of a thousand long entries is cut.
const int maxLogMessageLength = 64 * 1024;

void logMessageHandler(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    const QString simplified = boundedForLog(message.simplified(), maxLogMessageLength);
    if (simplified.isEmpty() || message.contains(clipboardNoise))
        return;
    Logger::instance()->writeLine(qFormatLogMessage(type, context, simplified));
}

const QString logSuffix = QStringLiteral(".log");
const QString timeInName = QStringLiteral("yyyyMMdd-hhmmss-zzz");

// Rotated logs beyond this many are deleted: with the live log, the folder
// keeps nine.
const int keptLogFiles = 8;

bool isRotatedLogName(const QString &name, const QString &baseName)
{
    const QString time = name.mid(baseName.size() + 1, timeInName.size());
    return name.size() == baseName.size() + 1 + timeInName.size() + logSuffix.size() &&
           name.startsWith(baseName + QLatin1Char('-')) && name.endsWith(logSuffix) &&
           QDateTime::fromString(time, timeInName).isValid();
}

// Renames the live log, when it is past `maxSize`, to a rotated log.
void rotateLargeLog(const VendorFolder &folder, const QString &baseName, qint64 maxSize)
{
    const QString fileName = baseName + logSuffix;
    if (QFileInfo(folder.filePath(fileName)).size() <= maxSize)
        return;
    QString error;
    if (!folder.renameFile(fileName, rotatedLogName(baseName, QDateTime::currentDateTime()),
                           FileUse::Append, &error)) {
        logWarning(QStringLiteral("Logger"),
                   QStringLiteral("Log file '%1' cannot be kept under another name: %2")
                       .arg(folder.filePath(fileName), error));
    }
}

// A fresh rotated log, at the first free name from now on.
int openFreshLog(const VendorFolder &folder, const QString &baseName, QString *name)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (int step = 0; step < 10; ++step) {
        *name = rotatedLogName(baseName, now.addMSecs(step));
        const int descriptor = folder.openFile(*name, FileUse::NewAppend);
        if (descriptor >= 0)
            return descriptor;
    }
    return -1;
}

} // namespace

QString rotatedLogName(const QString &baseName, const QDateTime &time)
{
    return QStringLiteral("%1-%2%3").arg(baseName, time.toString(timeInName), logSuffix);
}

void removeOldLogFiles(const VendorFolder &folder, const QString &baseName, int kept)
{
    const QStringList newestFirst =
        QDir(folder.path())
            .entryList(QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDir::Time);
    int count = 0;
    for (const QString &name : newestFirst) {
        if (isRotatedLogName(name, baseName) && ++count > kept)
            folder.removeFile(name);
    }
}

int openLiveLog(const VendorFolder &folder, const QString &baseName, qint64 maxSize,
                QString *fallback)
{
    rotateLargeLog(folder, baseName, maxSize);
    fallback->clear();
    const int descriptor = folder.openFile(baseName + logSuffix, FileUse::Append);
    return descriptor >= 0 ? descriptor : openFreshLog(folder, baseName, fallback);
}

Logger::Logger()
{
    setObjectName(QStringLiteral("Logger"));
}

Logger::~Logger()
{
    // Messages raised after this point go to Qt's default output instead of a
    // closed file.
    if (initialized) {
        qInstallMessageHandler(nullptr);
        logStream.setDevice(nullptr);
    }
}

Logger *Logger::instance()
{
    static Logger logger;
    logger.init();
    return &logger;
}

bool Logger::init()
{
    if (initialized)
        return true;

    // Without a usable vendor folder the log stays on Qt's default output:
    // setting up in the current directory, or wherever a link leads, would
    // delete other programs' log files there.
    const VendorFolder &vendorFolder = VendorFolder::instance();
    if (!vendorFolder.isUsable())
        return false;
    const QDir folder(vendorFolder.path());

    logBaseName = QFileInfo(QCoreApplication::applicationFilePath()).baseName();
    QString fallback;
    if (!useLogFile(openLiveLog(vendorFolder, logBaseName, maxLogFileSize, &fallback)))
        return false;
    // After the rotation and the fallback, so that it counts their files.
    removeOldLogFiles(vendorFolder, logBaseName, keptLogFiles);

    qSetMessagePattern(
        QStringLiteral("%{time %1}\t%{type}%2%{message}").arg(timeFormat, QStringLiteral("\t")));
    initialized = true;
    qInstallMessageHandler(logMessageHandler);
    logFolderPath = folder.path();
    if (!fallback.isEmpty())
        warnOfFreshLog(fallback);
    return true;
}

bool Logger::useLogFile(int descriptor)
{
    if (descriptor < 0)
        return false;
    logFile.close();
    if (!logFile.open(descriptor, QIODevice::WriteOnly | QIODevice::Append,
                      QFileDevice::AutoCloseHandle)) {
        closeDescriptor(descriptor);
        return false;
    }
    logFile.setTextModeEnabled(true);
    logStream.setDevice(&logFile);
    return true;
}

void Logger::writeLine(const QString &line)
{
    logStream << line << Qt::endl;
    if (logStream.status() == QTextStream::Ok || onFreshLog)
        return;
    // Once only: a fresh log that fails too leaves the rest of the run's
    // lines unwritten rather than trying again for each.
    onFreshLog = true;
    logStream.resetStatus();
    QString fresh;
    if (!useLogFile(openFreshLog(VendorFolder::instance(), logBaseName, &fresh)))
        return;
    logStream << line << Qt::endl;
    warnOfFreshLog(fresh);
}

void Logger::warnOfFreshLog(const QString &fileName)
{
    onFreshLog = true;
    const VendorFolder &folder = VendorFolder::instance();
    logWarning(objectName(),
               QStringLiteral("Log file '%1' cannot be appended to, this run logs to '%2'")
                   .arg(folder.filePath(logBaseName + logSuffix), folder.filePath(fileName)));
}

void Logger::qmlLog(QString objectName, QString message)
{
    logInfo(objectName, message);
}
