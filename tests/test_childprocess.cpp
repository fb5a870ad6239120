#include "dns/childprocess.h"
#include "messagecapture.h"
#include "testmachine.h"

#include <QElapsedTimer>
#include <QtTest>

#include <memory>

// ChildProcess running the ipconfig stand-in of a fresh simulated machine.
class TestChildProcess : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void reportsHowTheCommandEnded_data();
    void reportsHowTheCommandEnded();
    void unknownErrorValueGivesEmptyText();
    void destructorWaitsForARunningCommand();
    void destructorReportsNothingToAHalfDestroyedOwner();
    void destructorWithoutCommandIsSilent();
    void startKillsTheRunningCommandFirst();
    void commandThatReadsItsInputEnds();

private:
    QScopedPointer<TestMachine> machine;
};

void TestChildProcess::init()
{
    machine.reset(new TestMachine);
    QVERIFY(machine->isValid());
    machine->enter();
}

void TestChildProcess::reportsHowTheCommandEnded_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QList<bool>>("reports");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("exit code 0") << ""
                                 << "ipconfig" << QList<bool>{true} << QStringList{};
    QTest::newRow("exit code 1") << "fail"
                                 << "ipconfig" << QList<bool>{false} << QStringList{};
    QTest::newRow("crash") << "crash"
                           << "ipconfig" << QList<bool>{false}
                           << QStringList{"warning\tChildProcess: Error occured: crashed"};
    QTest::newRow("missing program")
        << ""
        << "no-such-program" << QList<bool>{}
        << QStringList{"warning\tChildProcess: Error occured: failed to start"};
}

void TestChildProcess::reportsHowTheCommandEnded()
{
    QFETCH(QString, fault);
    QFETCH(QString, program);
    QFETCH(QList<bool>, reports);
    QFETCH(QStringList, warnings);

    if (!fault.isEmpty())
        machine->setFaults("ipconfig", {fault});
    MessageCapture messages;
    QList<bool> reported;
    {
        ChildProcess child;
        connect(&child, &ChildProcess::processFinished,
                [&](bool success) { reported.append(success); });
        child.start(program, {"/flushdns"});
        child.waitForFinished(10000);
    }
    QCOMPARE(reported, reports);
    QCOMPARE(messages.lines(), warnings);
}

void TestChildProcess::unknownErrorValueGivesEmptyText()
{
    MessageCapture messages;
    ChildProcess child;
    // 7 is the largest value the enumeration can hold (its values 0 to 5 take
    // three bits); a larger one would be undefined behaviour in the test.
    QVERIFY(QMetaObject::invokeMethod(&child, "onErrorOccurred",
                                      Q_ARG(QProcess::ProcessError, QProcess::ProcessError(7))));
    QCOMPARE(messages.lines(), QStringList{"warning\tChildProcess: Error occured:"});
}

void TestChildProcess::destructorWaitsForARunningCommand()
{
    machine->setFaults("ipconfig", {"hang"});
    QElapsedTimer timer;
    QList<bool> reported;
    {
        ChildProcess child;
        connect(&child, &ChildProcess::processFinished,
                [&](bool success) { reported.append(success); });
        child.start("ipconfig", {"/flushdns"});
        QTest::qWait(200);
        timer.start();
    }
    // Waited the full 10 s, then destroyed the process object, which ends it.
    QVERIFY2(timer.elapsed() >= 9500, qPrintable(QString::number(timer.elapsed())));
    QCOMPARE(reported, QList<bool>());
}

namespace {

// An owner like DnsManager: its ChildProcess, declared first, outlives its
// other members while the owner is destroyed.
class Owner : public QObject
{
public:
    Owner()
    {
        connect(&child, &ChildProcess::processFinished, this,
                [this](bool success) { heard->append(success); });
    }

    ChildProcess child;
    std::unique_ptr<QList<bool>> heard = std::make_unique<QList<bool>>();
};

} // namespace

void TestChildProcess::destructorReportsNothingToAHalfDestroyedOwner()
{
    // Without an event loop the command's end is seen only in a wait: here
    // the destructor's, once the owner's other members are gone. A report
    // then would reach a member that is no more.
    Owner owner;
    owner.child.start("ipconfig", {"/flushdns"});
}

void TestChildProcess::destructorWithoutCommandIsSilent()
{
    MessageCapture messages;
    QElapsedTimer timer;
    timer.start();
    {
        ChildProcess child;
    }
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(messages.lines(), QStringList());
}

void TestChildProcess::startKillsTheRunningCommandFirst()
{
    machine->setFaults("ipconfig", {"hang /hang", "noop"});
    QList<bool> reported;
    {
        ChildProcess child;
        connect(&child, &ChildProcess::processFinished,
                [&](bool success) { reported.append(success); });
        child.start("ipconfig", {"/hang"});
        // Killed only once it runs: a slow start (a loaded machine, a
        // sanitizer build) would otherwise be killed before it is journaled.
        QTRY_COMPARE_WITH_TIMEOUT(machine->journalOf("ipconfig").size(), 1, 20000);
        child.start("ipconfig", {"/flushdns"});
        child.waitForFinished(10000);
    }
    // The killed command's end, then the second command's success.
    QCOMPARE(reported, (QList<bool>{false, true}));
    QCOMPARE(machine->journalOf("ipconfig").size(), 2);
}

void TestChildProcess::commandThatReadsItsInputEnds()
{
    // The wmic stand-in reads its input to the end before it answers; with
    // the input left open it would still run when the destructor's wait ends.
    QList<bool> reported;
    {
        ChildProcess child;
        connect(&child, &ChildProcess::processFinished,
                [&](bool success) { reported.append(success); });
        child.start("wmic", {"nic", "where", "GUID is not null", "get", "GUID"});
        child.waitForFinished(10000);
    }
    QCOMPARE(reported, QList<bool>{true});
}

QTEST_GUILESS_MAIN(TestChildProcess)
#include "test_childprocess.moc"
