#include "logger.h"

#include "logline.h"
#include "store/filelink.h"
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
    const QString line = qFormatLogMessage(type, context, simplified);
    Logger::instance();
    logStream << line << Qt::endl;
    logStream.flush();
}

bool logFileIsLink(const QString &path)
{
    // Appending through a link would write to wherever it leads, creating
    // that file if need be.
    if (!isLink(path))
        return false;
    logWarning(QStringLiteral("Logger"),
               QStringLiteral("Log file '%1' is a link, it is not used").arg(path));
    return true;
}

QString keptLogFilePath(const QFileInfo &logFile, const QDateTime &now)
{
    return logFile.dir().filePath(QStringLiteral("%1-%2.%3")
                                      .arg(logFile.baseName(),
                                           now.toString(QStringLiteral("yyyyMMdd-hhmmss-zzz")),
                                           logFile.completeSuffix()));
}

} // namespace

void keepLargeLogFile(const QString &path, qint64 maxSize)
{
    const QFileInfo logFile(path);
    if (logFile.isFile() && logFile.size() > maxSize)
        QFile::rename(path, keptLogFilePath(logFile, QDateTime::currentDateTime()));
}

void removeOldLogFiles(const QDir &folder, int maxLogFiles, const QString &suffix)
{
    const QFileInfoList entries =
        folder.entryInfoList(QDir::Files | QDir::NoDotAndDotDot, QDir::Time);
    int count = 0;
    for (const QFileInfo &entry : entries) {
        // A link is never deleted through, nor counted: it is no log file of ours.
        if (entry.completeSuffix() != suffix || isLink(entry.filePath()))
            continue;
        if (++count >= maxLogFiles)
            QFile::remove(entry.filePath());
    }
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

    logFileName = QStringLiteral("%1.%2").arg(
        QFileInfo(QCoreApplication::applicationFilePath()).baseName(), logSuffix);
    const QString logFilePath = vendorFolder.filePath(logFileName);
    if (logFileIsLink(logFilePath))
        return false;
    // Before the clean-up, so that it already counts the file kept here.
    keepLargeLogFile(logFilePath, maxLogFileSize);
    removeOldLogFiles(folder, maxLogFiles, logSuffix);

    qSetMessagePattern(
        QStringLiteral("%{time %1}\t%{type}%2%{message}").arg(timeFormat, QStringLiteral("\t")));

    const int descriptor = vendorFolder.openFile(logFileName, FileUse::Append);
    if (descriptor < 0 || !logFile.open(descriptor, QIODevice::WriteOnly | QIODevice::Append,
                                        QFileDevice::AutoCloseHandle))
        return false;
    logFile.setTextModeEnabled(true);

    logStream.setDevice(&logFile);
    initialized = true;
    qInstallMessageHandler(logMessageHandler);
    logFolderPath = folder.path();
    return true;
}

void Logger::qmlLog(QString objectName, QString message)
{
    logInfo(objectName, message);
}
