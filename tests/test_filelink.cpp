#include "store/filelink.h"

#include <QFile>
#include <QtTest>

class TestFileLink : public QObject
{
    Q_OBJECT

private slots:
    void tellsLinksFromPlainPaths_data();
    void tellsLinksFromPlainPaths();
};

void TestFileLink::tellsLinksFromPlainPaths_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("link");

    QTest::newRow("plain file") << "file" << false;
    QTest::newRow("folder") << "folder" << false;
    QTest::newRow("missing") << "missing" << false;
    QTest::newRow("link to a file") << "file-link" << true;
    QTest::newRow("link to a folder") << "folder-link" << true;
    QTest::newRow("dangling link") << "dangling-link" << true;
}

void TestFileLink::tellsLinksFromPlainPaths()
{
    QFETCH(QString, name);
    QFETCH(bool, link);

    QTemporaryDir dir;
    QFile file(dir.filePath("file"));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    QVERIFY(QDir(dir.path()).mkdir("folder"));
    QVERIFY(QFile::link(dir.filePath("file"), dir.filePath("file-link")));
    QVERIFY(QFile::link(dir.filePath("folder"), dir.filePath("folder-link")));
    QVERIFY(QFile::link(dir.filePath("nowhere"), dir.filePath("dangling-link")));

    QCOMPARE(isLink(dir.filePath(name)), link);
}

QTEST_GUILESS_MAIN(TestFileLink)
#include "test_filelink.moc"
