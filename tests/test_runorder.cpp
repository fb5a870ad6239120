#include "testmachine.h"

#include <QtTest>

namespace {

// A run and those waiting behind it end well within this bound.
const int runsBoundMs = 100000;

// The netsh calls whose arguments hold `text`.
int netshCallsWith(const TestMachine &machine, const QString &text)
{
    return machine.netshCalls().filter(text).size();
}

} // namespace

// Runs that overlap a slow run: each run is bounded as a whole, a run
// waiting for the lock outlasts the run at work, and the latest request wins.
class TestRunOrder : public QObject
{
    Q_OBJECT

private slots:
    void slowRunEndsAtItsDeadline();
    void latestRequestWins();
};

void TestRunOrder::slowRunEndsAtItsDeadline()
{
    SIMULATED_MACHINE_ONLY("the deadline is shortened through the simulated machine");
    // Twelve interfaces whose IPv6 commands for the VPN's server hang: each
    // takes netsh's 30 s, six minutes in all without a deadline.
    TestMachine machine({"--interfaces", "12"});
    QVERIFY(machine.isValid());
    QFile deadline(machine.root() + "/run-deadline-ms");
    QVERIFY(deadline.open(QIODevice::WriteOnly) && deadline.write("2000") == 4);
    deadline.close();
    const QString before = machine.show();
    machine.setFaults("netsh", {"hang " + sample::vpnIpv6});

    QProcess vpn;
    QProcess reset;
    machine.startTool(vpn, sample::vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(netshCallsWith(machine, sample::vpnIpv6), 1, 30000);
    machine.startTool(reset, {"reset"});
    QVERIFY(vpn.waitForFinished(runsBoundMs) && reset.waitForFinished(runsBoundMs));
    QCOMPARE(vpn.exitCode(), 0);
    QCOMPARE(reset.exitCode(), 0);

    // The first interface's IPv6 command hung past the deadline: no later
    // command started, and the log names what was not done.
    QCOMPARE(netshCallsWith(machine, sample::vpnIpv6), 1);
    QCOMPARE(netshCallsWith(machine, sample::vpnIpv4), 1);
    const QStringList notStarted =
        machine.logLines().filter("The run's time for system commands is over, not started");
    QCOMPARE(notStarted.size(), 2 * 11);
    QVERIFY(notStarted.last().endsWith("of 'Ethernet 12' for IPv6"));
    // The reset waited for it, then restored every interface.
    QCOMPARE(machine.logLines().filter("info\tDns: Waited").size(), 1);
    QCOMPARE(machine.show(), before);
    QCOMPARE(machine.dataFileGroups(), QStringList{"UserDns"});
}

void TestRunOrder::latestRequestWins()
{
    // A vpn run at work, its first command hanging for netsh's 30 s; a reset
    // waits behind it, then the client connects again.
    TestMachine machine;
    QVERIFY(machine.isValid());
    const QString hanging = "name= Ethernet static " + sample::vpnIpv4;
    machine.setFaults("netsh", {"hang " + hanging});
    QProcess first;
    QProcess reset;
    QProcess latest;
    machine.startTool(first, sample::vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(netshCallsWith(machine, hanging), 1, 30000);
    machine.startTool(reset, {"reset"});
    // The reset takes its request number right after this line, in moments.
    QTRY_COMPARE_WITH_TIMEOUT(machine.logLines().filter("Dns: Process started").size(), 2, 30000);
    QThread::sleep(1);
    machine.startTool(latest, {"vpn", sample::tap + "@10.8.0.1,fd00:8::1"});

    // The reset yields at once, while the first run is still at work.
    QVERIFY(reset.waitForFinished(20000));
    QCOMPARE(first.state(), QProcess::Running);
    QCOMPARE(reset.exitCode(), 0);
    QCOMPARE(machine.logLines().filter("warning\tDns: A request made after this one").size(), 1);
    QVERIFY(first.waitForFinished(runsBoundMs) && latest.waitForFinished(runsBoundMs));
    QCOMPARE(machine.logLines().filter("Switch to user DNS").size(), 0);
    for (const QString &id : {sample::ethernet, sample::wifi, sample::ethernet2, sample::tap}) {
        QCOMPARE(machine.nameServer(id, true), QStringLiteral("10.8.0.1"));
        QCOMPARE(machine.nameServer(id, false), QStringLiteral("fd00:8::1"));
    }
}

QTEST_GUILESS_MAIN(TestRunOrder)
#include "test_runorder.moc"
