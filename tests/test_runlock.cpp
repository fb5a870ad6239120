#include "app/runlock.h"
#include "linematch.h"
#include "messagecapture.h"

#include <QtTest>

// The lock that serializes runs, in this process: a second RunLock, with an
// open file of its own, stands for a run at work. A lock released by a run
// that ended is shown by the whole-run tests.
class TestRunLock : public QObject
{
    Q_OBJECT

private slots:
    void takesTheLockOrGivesUp_data();
    void takesTheLockOrGivesUp();
};

void TestRunLock::takesTheLockOrGivesUp_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("free") << "none" << true << QStringList{};
    // What a power loss right after the lock file was made leaves behind.
    QTest::newRow("empty lock file left behind") << "empty file" << true << QStringList{};
    QTest::newRow("garbled lock file left behind") << "garbled file" << true << QStringList{};
    QTest::newRow("held by a running process")
        << "running" << false
        << QStringList{"warning\tDns: Another run still holds '.*/dns\\.lock' after 300 ms, DNS "
                       "servers left unchanged"};
    QTest::newRow("folder missing")
        << "no folder" << false
        << QStringList{"warning\tDns: Cannot create the run lock '.*/missing/dns\\.lock', DNS "
                       "servers left unchanged"};
}

void TestRunLock::takesTheLockOrGivesUp()
{
    QFETCH(QString, holder);
    QFETCH(bool, taken);
    QFETCH(QStringList, lines);

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    const QString folder = temporary.path() + (holder == "no folder" ? "/missing" : "");
    QFile lockFile(folder + "/dns.lock");
    if (holder.endsWith("file")) {
        QVERIFY(lockFile.open(QIODevice::WriteOnly));
        lockFile.write(holder == "garbled file" ? QByteArray("\x01\xff garbage 0\n")
                                                : QByteArray());
        lockFile.close();
    }
    RunLock running(folder + "/dns.lock");
    if (holder == "running")
        QVERIFY(running.take(0));

    MessageCapture messages;
    RunLock lock(folder + "/dns.lock");
    QCOMPARE(lock.take(300), taken);
    verifyLinePatterns(messages.lines(), lines);
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "test_runlock.moc"
