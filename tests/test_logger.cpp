#include "frontend/logfolderopener.h"
#include "logging/logger.h"
#include "store/vendorfolder.h"

#include <QDesktopServices>
#include <QtTest>

namespace {

void writeFile(const QString &path, const QByteArray &content, const QDateTime &modified)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    // Written out first: the write would otherwise set the time anew.
    QVERIFY(file.flush());
    QVERIFY(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

// The rotated log of "tool" from `secondsBefore` a fixed time.
QString rotated(int secondsBefore)
{
    return rotatedLogName("tool",
                          QDateTime(QDate(2026, 1, 1), QTime(12, 0)).addSecs(-secondsBefore));
}

QStringList fileNames(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::Files);
    names.sort();
    return names;
}

} // namespace

// The process-wide Logger is set up once, in initTestCase, in a vendor folder
// that already holds old log files; the other tests look at what it writes.
class TestLogger : public QObject
{
    Q_OBJECT

public slots:
    // Receives what LogFolderOpener::openLogFolder() hands to the desktop.
    void openUrl(const QUrl &url) { openedUrls.append(url); }

private slots:
    void removesOnlyOldRotatedLogs();
    void opensTheLiveLog_data();
    void opensTheLiveLog();
    void initTestCase();
    void setUpKeptTheNewestLogFiles();
    void continuesAnExistingLogFile();
    void writesOneSimplifiedLinePerMessage_data();
    void writesOneSimplifiedLinePerMessage();
    void skipsBlankAndClipboardMessages();
    void qmlLogWritesTheObjectName();
    void laterCallsNeitherCleanUpNorReopen();
    void opensTheLogFolder();

private:
    QString lastLine() const;
    QStringList logLines() const;

    QTemporaryDir machine;
    QString vendorFolder;
    QString logFile;
    QList<QUrl> openedUrls;
    QStringList oldLogs;
    const QDateTime start = QDateTime::currentDateTime();
};

void TestLogger::removesOnlyOldRotatedLogs()
{
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    // Oldest first: any other name stays, and so does a link, even to a log.
    const QStringList others = {"a.log", "tool-x.log", "tool.log", "tool-20200101-000000-000.log.1",
                                rotated(3000) + ".copy"};
    QStringList names = others;
    for (int i = 0; i < 5; ++i)
        names.append(rotated(2000 - i));
    for (int i = 0; i < names.size(); ++i)
        writeFile(folder.filePath(names.at(i)), "x", start.addSecs(-1000 + 10 * i));
    writeFile(elsewhere.filePath("victim.log"), "x", start.addSecs(-3000));
    QVERIFY(QFile::link(elsewhere.filePath("victim.log"), folder.filePath(rotated(5000))));

    removeOldLogFiles(VendorFolder(folder.path()), QStringLiteral("tool"), 2);
    QStringList kept = others + names.mid(names.size() - 2) + QStringList{rotated(5000)};
    kept.sort();
    QCOMPARE(fileNames(folder.path()), kept);
    QVERIFY(QFileInfo::exists(elsewhere.filePath("victim.log")));
}

void TestLogger::opensTheLiveLog_data()
{
    QTest::addColumn<int>("size"); // -1: missing, -2: a folder
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<bool>("fallback");

    QTest::newRow("past the bound") << 101 << QStringList{"tool-*.log", "tool.log"} << false;
    QTest::newRow("at the bound") << 100 << QStringList{"tool.log"} << false;
    QTest::newRow("missing") << -1 << QStringList{"tool.log"} << false;
    QTest::newRow("a folder") << -2 << QStringList{"tool-*.log", "tool.log"} << true;
}

void TestLogger::opensTheLiveLog()
{
    QFETCH(int, size);
    QFETCH(QStringList, names);
    QFETCH(bool, fallback);

    QTemporaryDir folder;
    if (size >= 0)
        writeFile(folder.filePath("tool.log"), QByteArray(size, 'x'), start);
    if (size == -2)
        QVERIFY(QDir().mkpath(folder.filePath("tool.log")));
    QString fresh;
    const int descriptor = openLiveLog(VendorFolder(folder.path()), "tool", 100, &fresh);
    QVERIFY(descriptor >= 0);
    closeDescriptor(descriptor);
    QCOMPARE(!fresh.isEmpty(), fallback);
    const QStringList seen = QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
    QCOMPARE(seen.size(), names.size());
    for (int i = 0; i < names.size(); ++i)
        QVERIFY2(QRegExp(names.at(i), Qt::CaseSensitive, QRegExp::Wildcard).exactMatch(seen.at(i)),
                 qPrintable(seen.at(i)));
}

void TestLogger::initTestCase()
{
    vendorFolder = machine.path() + QStringLiteral("/ProgramData/Tarnwick");
    logFile = vendorFolder + QStringLiteral("/test_logger.log");
    QVERIFY(QDir().mkpath(vendorFolder));
    for (int i = 0; i < 12; ++i) {
        oldLogs.append(rotatedLogName("test_logger", start.addSecs(-1000 + i)));
        writeFile(vendorFolder + QLatin1Char('/') + oldLogs.last(), "old",
                  start.addSecs(-1000 + i));
    }
    writeFile(logFile, "earlier line\n", start.addSecs(-10));

    qputenv("XDG_DATA_HOME", (machine.path() + QStringLiteral("/ProgramData")).toUtf8());
    QVERIFY(Logger::instance()->init());
}

void TestLogger::setUpKeptTheNewestLogFiles()
{
    // Twelve rotated logs: the eight newest stay, with the live log.
    QCOMPARE(fileNames(vendorFolder), oldLogs.mid(4) + QStringList{"test_logger.log"});
}

void TestLogger::continuesAnExistingLogFile()
{
    QCOMPARE(logLines().value(0), QStringLiteral("earlier line"));
}

void TestLogger::writesOneSimplifiedLinePerMessage_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("written");

    QTest::newRow("info") << int(QtInfoMsg) << "Dns: Process started"
                          << "info\tDns: Process started";
    QTest::newRow("warning") << int(QtWarningMsg) << "Dns: Bad"
                             << "warning\tDns: Bad";
    QTest::newRow("critical") << int(QtCriticalMsg) << "X: y"
                              << "critical\tX: y";
    QTest::newRow("line breaks and runs of blanks") << int(QtInfoMsg) << "  a\n  b\t\tc  "
                                                    << "info\ta b c";
    // A list without a bound of its own, such as the IDs of a forged record.
    QTest::newRow("past the line bound")
        << int(QtInfoMsg) << "X: " + QString(1000000, 'a')
        << "info\tX: " + QString(65536 - 3, 'a') + "... (1000003 characters)";
    QTest::newRow("clipboard words in other case")
        << int(QtInfoMsg) << "retrying to obtain clipboard."
        << "info\tretrying to obtain clipboard.";
}

void TestLogger::writesOneSimplifiedLinePerMessage()
{
    QFETCH(int, type);
    QFETCH(QString, message);
    QFETCH(QString, written);

    const int before = logLines().size();
    if (type == QtInfoMsg)
        qInfo().noquote() << message;
    else if (type == QtWarningMsg)
        qWarning().noquote() << message;
    else
        qCritical().noquote() << message;

    QCOMPARE(logLines().size(), before + 1);
    const QRegularExpression form(
        QStringLiteral("^(\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d)\\t(.*)$"));
    const QRegularExpressionMatch match = form.match(lastLine());
    QVERIFY2(match.hasMatch(), qPrintable(lastLine()));
    QCOMPARE(match.captured(2), written);
    const QDateTime stamp =
        QDateTime::fromString(match.captured(1), QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    QVERIFY(qAbs(stamp.secsTo(QDateTime::currentDateTime())) < 60);
}

void TestLogger::skipsBlankAndClipboardMessages()
{
    const int before = logLines().size();
    qInfo() << " \n\t ";
    qWarning() << "QXcbClipboard: Retrying to obtain clipboard.";
    QCOMPARE(logLines().size(), before);
}

void TestLogger::qmlLogWritesTheObjectName()
{
    QVERIFY(QMetaObject::invokeMethod(Logger::instance(), "qmlLog",
                                      Q_ARG(QString, QStringLiteral("MainWindow")),
                                      Q_ARG(QString, QStringLiteral("Connect clicked"))));
    QVERIFY(lastLine().endsWith(QStringLiteral("\tinfo\tMainWindow: Connect clicked")));
}

void TestLogger::laterCallsNeitherCleanUpNorReopen()
{
    writeFile(vendorFolder + QStringLiteral("/0.log"), "old", start.addSecs(-5000));
    QVERIFY(Logger::instance()->init());
    qInfo() << "after";
    QVERIFY(QFile::exists(vendorFolder + QStringLiteral("/0.log")));
    QVERIFY(lastLine().endsWith(QStringLiteral("after")));
    QCOMPARE(logLines().value(0), QStringLiteral("earlier line"));
}

void TestLogger::opensTheLogFolder()
{
    QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "openUrl");
    LogFolderOpener().openLogFolder();
    QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
    QCOMPARE(openedUrls, QList<QUrl>{QUrl::fromLocalFile(vendorFolder)});
}

QStringList TestLogger::logLines() const
{
    QFile file(logFile);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QString TestLogger::lastLine() const
{
    return logLines().value(logLines().size() - 1);
}

QTEST_GUILESS_MAIN(TestLogger)
#include "test_logger.moc"
