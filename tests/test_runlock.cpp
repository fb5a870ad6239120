#include "linematch.h"
#include "messagecapture.h"
#include "store/runlock.h"
#include "store/vendorfolder.h"

#include <QtTest>

#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Processes of this test that it kills, and reaps where it can, when it
// ends, also when a check fails midway.
class Processes
{
public:
    ~Processes()
    {
        for (const pid_t pid : pids) {
            kill(pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
    }
    void add(pid_t pid) { pids.append(pid); }

private:
    QVector<pid_t> pids;
};

// Starts a run at work: a child of this test that takes the run lock of
// `folderPath` and waits until it is killed. With `forkIdle`, it then forks
// a child of its own that does nothing at all, as the child of a QProcess
// waits before it execs. Returns the run's process id and, in `idle`, that
// of its child (0 when the run did not get the lock).
pid_t startRun(const QString &folderPath, bool forkIdle, pid_t *idle)
{
    int report[2];
    if (pipe(report) != 0)
        return -1;
    const pid_t run = fork();
    if (run == 0) {
        close(report[0]);
        const VendorFolder folder(folderPath);
        RunLock lock(folder);
        pid_t forked = 0;
        if (lock.take(0) && forkIdle) {
            forked = fork();
            if (forked == 0) {
                sleep(60);
                _exit(0);
            }
        }
        if (write(report[1], &forked, sizeof(forked)) != sizeof(forked))
            _exit(1);
        sleep(60);
        _exit(0);
    }
    close(report[1]);
    *idle = -1;
    if (run < 0 || read(report[0], idle, sizeof(*idle)) != sizeof(*idle))
        *idle = -1;
    close(report[0]);
    return run;
}

void writeLockFile(const QString &path, const QByteArray &bytes, mode_t mode)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    file.close();
    QCOMPARE(chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace

// The lock that serializes runs. A run at work is another process: a
// child of this test (a record lock belongs to its process, so that a
// second lock in this one would share it). A lock released by a run that
// ended is shown by the whole-run tests too.
class TestRunLock : public QObject
{
    Q_OBJECT

private slots:
    void takesTheLockOrGivesUp_data();
    void takesTheLockOrGivesUp();
    void idleForkedChildKeepsNoLock();
    void onlyAConflictIsWaitedFor();
};

void TestRunLock::takesTheLockOrGivesUp_data()
{
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<QStringList>("lines");
    // What a reader that changes nothing finds first (RunLock::Outcome).
    QTest::addColumn<int>("readerOutcome");

    QTest::newRow("free") << "none" << true << QStringList{} << int(RunLock::NoLockFile);
    // What a power loss right after the lock file was made leaves behind.
    QTest::newRow("empty lock file left behind")
        << "empty file" << true << QStringList{} << int(RunLock::Taken);
    QTest::newRow("garbled lock file left behind")
        << "garbled file" << true << QStringList{} << int(RunLock::Taken);
    // Whoever may read it may lock it too, and so keep every run out.
    QTest::newRow("lock file others may read")
        << "readable file" << true
        << QStringList{"warning\tUtils: '.*/dns\\.lock' is not ours, set aside as "
                       "'.*/dns\\.lock\\.untrusted-.*'"}
        << int(RunLock::NoLockFile);
    QTest::newRow("held by a running process")
        << "running" << false
        << QStringList{"warning\tDns: Another run still holds '.*/dns\\.lock' after 300 ms, DNS "
                       "servers left unchanged"}
        << int(RunLock::NotTaken);
    QTest::newRow("folder unusable")
        << "no folder" << false
        << QStringList{"warning\tDns: Cannot create the run lock '.*/missing/dns\\.lock', DNS "
                       "servers left unchanged"}
        << int(RunLock::NotTaken);
}

void TestRunLock::takesTheLockOrGivesUp()
{
    QFETCH(QString, holder);
    QFETCH(bool, taken);
    QFETCH(QStringList, lines);
    QFETCH(int, readerOutcome);

    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    // Below a file, where no folder can be made.
    const QString folderPath = temporary.path() + (holder == "no folder" ? "/file/missing" : "");
    if (holder == "no folder")
        QVERIFY(QFile(temporary.filePath("file")).open(QIODevice::WriteOnly));
    const QString lockFile = folderPath + "/dns.lock";
    if (holder == "empty file")
        writeLockFile(lockFile, QByteArray(), 0600);
    if (holder == "garbled file")
        writeLockFile(lockFile, "\x01\xff garbage 0\n", 0600);
    if (holder == "readable file")
        writeLockFile(lockFile, QByteArray(), 0644);
    Processes processes;
    if (holder == "running") {
        pid_t idle = 0;
        processes.add(startRun(folderPath, false, &idle));
        QCOMPARE(idle, 0);
    }

    // The reader creates, repairs and sets aside nothing.
    const auto entries = [&] {
        return QDir(folderPath).entryList(QDir::AllEntries | QDir::NoDotAndDotDot) +
               QStringList(QString::number(int(QFileInfo(folderPath).permissions())));
    };
    const QStringList before = entries();
    {
        const VendorFolder readOnly(folderPath, VendorFolder::ReadOnly);
        QCOMPARE(int(RunLock(readOnly).takeIfFileExists(300)), readerOutcome);
    }
    QCOMPARE(entries(), before);

    const VendorFolder folder(folderPath);
    MessageCapture messages;
    RunLock lock(folder);
    QCOMPARE(lock.take(300), taken);
    verifyLinePatterns(messages.lines(), lines);
}

void TestRunLock::idleForkedChildKeepsNoLock()
{
    // A run killed while a child it forked has not yet exec'd: the child
    // lives on, parented to init, and must not keep later runs out.
    QTemporaryDir temporary;
    QVERIFY(temporary.isValid());
    Processes processes;
    pid_t idle = 0;
    const pid_t run = startRun(temporary.path(), true, &idle);
    processes.add(run);
    QVERIFY(idle > 0);
    processes.add(idle);
    const VendorFolder folder(temporary.path());
    QVERIFY(!RunLock(folder).take(0));

    QCOMPARE(kill(run, SIGKILL), 0);
    QCOMPARE(waitpid(run, nullptr, 0), run);
    QCOMPARE(kill(idle, 0), 0);
    QElapsedTimer waited;
    waited.start();
    QVERIFY(RunLock(folder).take(0));
    QVERIFY(waited.elapsed() < 1000);
}

void TestRunLock::onlyAConflictIsWaitedFor()
{
    // A write lock on a descriptor open for reading fails with EBADF, which
    // no wait mends.
    QTemporaryDir temporary;
    writeLockFile(temporary.filePath("dns.lock"), QByteArray(), 0600);
    SystemLock lock(open(QFile::encodeName(temporary.filePath("dns.lock")).constData(), O_RDONLY));
    QCOMPARE(lock.tryTake(), SystemLock::Failed);
    QCOMPARE(lock.error(), qt_error_string(EBADF));
}

QTEST_GUILESS_MAIN(TestRunLock)
#include "test_runlock.moc"
