#include "frontend/logfolderopener.h"
#include "logging/logger.h"

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
    void removesOldLogFiles_data();
    void removesOldLogFiles();
    void neverRemovesThroughALink();
    void keepsALargeLogFile_data();
    void keepsALargeLogFile();
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
    const QDateTime start = QDateTime::currentDateTime();
};

void TestLogger::removesOldLogFiles_data()
{
    QTest::addColumn<QStringList>("oldestFirst");
    QTest::addColumn<int>("maxLogFiles");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("nine newest kept of twelve")
        << QStringList{"a.log", "b.log", "c.log", "d.log", "e.log", "f.log", "g.log",
                       "h.log", "i.log", "j.log", "k.log", "l.log", "x.txt", "y.log.1"}
        << 10 << QStringList{"d.log", "e.log", "f.log", "g.log", "h.log",  "i.log",
                             "j.log", "k.log", "l.log", "x.txt", "y.log.1"};
    QTest::newRow("other suffixes neither counted nor deleted")
        << QStringList{"old.log", "a.b.log", "A.LOG", "new.log"} << 2
        << QStringList{"A.LOG", "a.b.log", "new.log"};
    QTest::newRow("fewer than the bound")
        << QStringList{"a.log", "b.log"} << 10 << QStringList{"a.log", "b.log"};
}

void TestLogger::removesOldLogFiles()
{
    QFETCH(QStringList, oldestFirst);
    QFETCH(int, maxLogFiles);
    QFETCH(QStringList, kept);

    QTemporaryDir folder;
    for (int i = 0; i < oldestFirst.size(); ++i)
        writeFile(folder.filePath(oldestFirst.at(i)), "x", start.addSecs(-1000 + 10 * i));
    removeOldLogFiles(QDir(folder.path()), maxLogFiles, QStringLiteral("log"));
    kept.sort();
    QCOMPARE(fileNames(folder.path()), kept);
}

void TestLogger::neverRemovesThroughALink()
{
    QTemporaryDir folder;
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("victim.log"));
    writeFile(target, "x", start.addSecs(-2000));
    writeFile(folder.filePath(QStringLiteral("own.log")), "x", start.addSecs(-1000));
    QVERIFY(QFile::link(target, folder.filePath(QStringLiteral("link.log"))));

    // With a bound of 1 every log file is old enough to go.
    removeOldLogFiles(QDir(folder.path()), 1, QStringLiteral("log"));
    QCOMPARE(fileNames(folder.path()), QStringList{"link.log"});
    QVERIFY(QFileInfo::exists(target));
}

void TestLogger::keepsALargeLogFile_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<QStringList>("kept");

    QTest::newRow("past the bound") << 101 << QStringList{"tool-*.log"};
    QTest::newRow("at the bound") << 100 << QStringList{"tool.log"};
    QTest::newRow("missing") << -1 << QStringList{};
}

void TestLogger::keepsALargeLogFile()
{
    QFETCH(int, size);
    QFETCH(QStringList, kept);

    QTemporaryDir folder;
    const QString path = folder.filePath("tool.log");
    if (size >= 0)
        writeFile(path, QByteArray(size, 'x'), start);
    keepLargeLogFile(path, 100);
    const QStringList names = fileNames(folder.path());
    QCOMPARE(names.size(), kept.size());
    for (int i = 0; i < kept.size(); ++i) {
        QVERIFY2(QRegExp(kept.at(i), Qt::CaseSensitive, QRegExp::Wildcard).exactMatch(names.at(i)),
                 qPrintable(names.at(i)));
        // Still counted, and so bounded, by the clean-up of old log files.
        QCOMPARE(QFileInfo(names.at(i)).completeSuffix(), QStringLiteral("log"));
    }
}

void TestLogger::initTestCase()
{
    vendorFolder = machine.path() + QStringLiteral("/ProgramData/Tarnwick");
    logFile = vendorFolder + QStringLiteral("/test_logger.log");
    QVERIFY(QDir().mkpath(vendorFolder));
    const QStringList oldLogs = {"a.log", "b.log", "c.log", "d.log", "e.log", "f.log",
                                 "g.log", "h.log", "i.log", "j.log", "k.log", "l.log"};
    for (int i = 0; i < oldLogs.size(); ++i)
        writeFile(vendorFolder + QLatin1Char('/') + oldLogs.at(i), "old", start.addSecs(-1000 + i));
    writeFile(logFile, "earlier line\n", start.addSecs(-10));

    qputenv("XDG_DATA_HOME", (machine.path() + QStringLiteral("/ProgramData")).toUtf8());
    QVERIFY(Logger::instance()->init());
}

void TestLogger::setUpKeptTheNewestLogFiles()
{
    // Thirteen log files counted, this process's own the newest: it and the
    // eight next newest stay.
    QCOMPARE(fileNames(vendorFolder), (QStringList{"e.log", "f.log", "g.log", "h.log", "i.log",
                                                   "j.log", "k.log", "l.log", "test_logger.log"}));
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
