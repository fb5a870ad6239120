#include "app/runlock.h"
#include "linematch.h"
#include "messagecapture.h"

#include <QtTest>

// The lock that serializes runs, in this process: a QLockFile of its own on
// the same path stands for a run at work. A wait that ends in the lock is
// shown by the whole-run tests.
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

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString path =
        folder.path() + (holder == "no folder" ? "/missing/dns.lock" : "/dns.lock");
    QLockFile running(path);
    if (holder == "running")
        QVERIFY(running.tryLock(0));

    MessageCapture messages;
    RunLock lock(path);
    QCOMPARE(lock.take(300), taken);
    verifyLinePatterns(messages.lines(), lines);
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "test_runlock.moc"
