#include "utils/paths.h"
#include "utils/vendorfolder.h"

#include <QtTest>

class TestPaths : public QObject
{
    Q_OBJECT

private slots:
    void findsProgramData_data();
    void findsProgramData();
    void dataFilePathInTheProgramDataLocation();
    void dataFilePathWithoutProgramData();
    void trustsOnlyAPlainVendorFolder_data();
    void trustsOnlyAPlainVendorFolder();
};

void TestPaths::findsProgramData_data()
{
    QTest::addColumn<QStringList>("locations");
    QTest::addColumn<QString>("folder");

    QTest::newRow("among others") << QStringList{"C:/Users/u/AppData/Local", "C:/ProgramData",
                                                 "C:/Tools"}
                                  << "C:/ProgramData";
    QTest::newRow("first of two wins")
        << QStringList{"D:/ProgramData", "C:/ProgramData"} << "D:/ProgramData";
    QTest::newRow("inside a longer name")
        << QStringList{"D:/OldProgramData/x"} << "D:/OldProgramData/x";
    QTest::newRow("separators kept") << QStringList{"C:\\ProgramData"} << "C:\\ProgramData";
    QTest::newRow("other letter case") << QStringList{"C:/programdata"} << "";
    QTest::newRow("no locations") << QStringList{} << "";
}

void TestPaths::findsProgramData()
{
    QFETCH(QStringList, locations);
    QFETCH(QString, folder);
    QCOMPARE(programDataIn(locations), folder);
}

void TestPaths::dataFilePathInTheProgramDataLocation()
{
    QTemporaryDir machine;
    const QString programData = machine.path() + QStringLiteral("/ProgramData");
    qputenv("XDG_DATA_HOME", programData.toUtf8());
    QCOMPARE(vendorFolderPath(), programData + QStringLiteral("/Tarnwick"));
    const VendorFolder folder(vendorFolderPath());
    QVERIFY(QFileInfo(folder.path()).isDir());
    QCOMPARE(folder.trustedFilePath(QStringLiteral("dns.dat")),
             programData + QStringLiteral("/Tarnwick/dns.dat"));
}

void TestPaths::dataFilePathWithoutProgramData()
{
    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", (home.path() + QStringLiteral("/share")).toUtf8());
    qputenv("XDG_DATA_DIRS", "/usr/share");
    QTest::ignoreMessage(QtWarningMsg, "Utils: Can't find 'ProgramData' path!");
    const VendorFolder folder(vendorFolderPath());
    // No data file at all, rather than one in the current directory.
    QVERIFY(!folder.isUsable());
    QCOMPARE(folder.trustedFilePath(QStringLiteral("dns.dat")), QString());
}

void TestPaths::trustsOnlyAPlainVendorFolder_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("trusted");

    QTest::newRow("missing") << "missing" << true;
    QTest::newRow("plain folder") << "folder" << true;
    QTest::newRow("link to a folder") << "link" << false;
    QTest::newRow("dangling link") << "dangling link" << false;
    QTest::newRow("a file") << "file" << false;
}

void TestPaths::trustsOnlyAPlainVendorFolder()
{
    QFETCH(QString, kind);
    QFETCH(bool, trusted);

    QTemporaryDir machine;
    const QString programData = machine.path() + QStringLiteral("/ProgramData");
    const QString vendorFolder = programData + QStringLiteral("/Tarnwick");
    const QString elsewhere = machine.path() + QStringLiteral("/elsewhere");
    QVERIFY(QDir().mkpath(programData));
    if (kind == QLatin1String("folder") || kind == QLatin1String("link"))
        QVERIFY(QDir().mkpath(elsewhere));
    if (kind == QLatin1String("folder"))
        QVERIFY(QDir().rename(elsewhere, vendorFolder));
    if (kind.endsWith(QLatin1String("link")))
        QVERIFY(QFile::link(elsewhere, vendorFolder));
    if (kind == QLatin1String("file"))
        QVERIFY(QFile(vendorFolder).open(QIODevice::WriteOnly));

    if (kind.endsWith(QLatin1String("link"))) {
        QTest::ignoreMessage(
            QtWarningMsg,
            qPrintable("Utils: Vendor folder is a link or junction, not used: " + vendorFolder));
    }
    if (kind == QLatin1String("file")) {
        QTest::ignoreMessage(QtWarningMsg,
                             qPrintable("Utils: Vendor folder cannot be created: " + vendorFolder));
    }
    const VendorFolder folder(vendorFolder);
    QCOMPARE(folder.isUsable(), trusted);
    // Without a trusted folder there is no data file, rather than one elsewhere.
    QCOMPARE(folder.trustedFilePath(QStringLiteral("dns.dat")),
             trusted ? vendorFolder + QStringLiteral("/dns.dat") : QString());
    QCOMPARE(QFileInfo(elsewhere).exists(), kind == QLatin1String("link"));
}

QTEST_GUILESS_MAIN(TestPaths)
#include "test_paths.moc"
