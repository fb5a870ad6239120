#include "dns/systemcommand.h"
#include "testmachine.h"

#include <QtTest>

// runSystemCommand against the stand-ins of a fresh simulated machine.
class TestSystemCommand : public QObject
{
    Q_OBJECT

private slots:
    void commandThatReadsItsInputAnswers();
};

void TestSystemCommand::commandThatReadsItsInputAnswers()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    machine.enter();

    // The wmic stand-in, like the real one, reads its input to the end before
    // it answers: with the input left open it would run into the timeout
    // (kept short here, so that the fault fails fast).
    const CommandOutcome outcome = runSystemCommand(
        QStringLiteral("wmic"), {"nic", "where", "GUID is not null", "get", "GUID"}, 5000);
    QVERIFY2(outcome.succeeded(), qPrintable(outcome.failureText(5000)));
    QVERIFY(outcome.output.contains(sample::ethernet.toUtf8()));
}

QTEST_GUILESS_MAIN(TestSystemCommand)
#include "test_systemcommand.moc"
