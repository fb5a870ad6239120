#pragma once

#include <QDir>
#include <QFile>
#include <QObject>
#include <QString>

// Sends every Qt message of the process into the log file in the vendor
// folder, one line per message: local time, TAB, message type, TAB, the
// message with its white space simplified.
class Logger : public QObject
{
    Q_OBJECT

public:
    // The one Logger; every call tries the set-up until it has succeeded.
    static Logger *instance();
    ~Logger() override;

    // Sets logging up: log folder, clean-up, line pattern, log file, handler.
    // True when logging is set up, now or by an earlier call.
    bool init();

    // The folder of the log file; "" until logging is set up. A front-end
    // that shares this class opens it through LogFolderOpener
    // (frontend/logfolderopener.h), which the tool does not link.
    QString logFolder() const { return logFolderPath; }

    // For a QML front-end that shares this class.
    Q_INVOKABLE void qmlLog(QString objectName, QString message);

private:
    Logger();

    int maxLogFiles = 10;
    QFile logFile;
    QString logFileName;
    QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QString logSuffix = QStringLiteral("log");
    QString logFolderPath;
    bool initialized = false;
};

// Counting the files of the folder whose complete suffix is `suffix`, newest
// first, deletes the one that reaches `maxLogFiles` and every older one.
void removeOldLogFiles(const QDir &folder, int maxLogFiles, const QString &suffix);

// A log file larger than maxSize is renamed to "<base name>-<local time>.<suffix>"
// in its folder, which the clean-up counts as an old log file; the next open
// then starts a new one.
void keepLargeLogFile(const QString &path, qint64 maxSize);
