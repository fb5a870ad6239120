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

    // Writes one formatted line to the log. When the write fails (a reader
    // locks a range at the log's end on Windows), the line and the rest of
    // the run go to a fresh rotated log, which a warning names.
    void writeLine(const QString &line);

private:
    Logger();
    // Makes the open log file `descriptor` the one written to; false, with
    // the descriptor closed, when it cannot.
    bool useLogFile(int descriptor);
    void warnOfFreshLog(const QString &fileName);

    QFile logFile;
    QString logBaseName;
    // Set once the run logs to a fresh log, which it does only once.
    bool onFreshLog = false;
    QString timeFormat = QStringLiteral("yyyy-MM-dd hh:mm:ss");
    QString logFolderPath;
    bool initialized = false;
};

class VendorFolder;

// The name a log file `baseName` ("tarnwick-dns") is kept under once it is
// no longer the live log: "<base name>-<local time>.log".
QString rotatedLogName(const QString &baseName, const QDateTime &time);

// Deletes the rotated logs of `baseName` in the folder beyond the `kept`
// newest, each only when it passes the checks of a file of the tool's
// (VendorFolder::removeFile); no other file of the folder is touched.
void removeOldLogFiles(const VendorFolder &folder, const QString &baseName, int kept);

// Opens the live log `baseName`.log of the folder for appending. One larger
// than `maxSize` is first renamed to a rotated log, on a checked handle and
// never by copying; the next open then starts a new one. When the live log
// cannot be opened (a reader holds it without write sharing, something not
// a file is in its place), a fresh rotated log is opened instead and its
// name put in `fallback`. The descriptor, or -1 when neither opens.
int openLiveLog(const VendorFolder &folder, const QString &baseName, qint64 maxSize,
                QString *fallback);
