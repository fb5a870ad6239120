#include "dns/dnsmanager.h"
#include "messagecapture.h"
#include "testmachine.h"

#include <QElapsedTimer>
#include <QtTest>

// A netsh that hangs is given up after 30 s, killed, and reported as failed.
class TestNetshTimeout : public QObject
{
    Q_OBJECT

private slots:
    void hangingNetshTimesOut();
};

void TestNetshTimeout::hangingNetshTimesOut()
{
    TestMachine machine;
    QVERIFY(machine.isValid());
    machine.enter();
    machine.setFaults("netsh", {"hang"});

    MessageCapture messages;
    QElapsedTimer timer;
    timer.start();
    DnsManager manager;
    QVERIFY(!manager.replaceDnsSettings(sample::ethernet, "Ethernet", "172.16.0.1", true));
    QVERIFY(timer.elapsed() >= 29000 && timer.elapsed() < 60000);
    QCOMPARE(messages.lines().first(),
             QStringLiteral("info\tDnsManager: Subprocess (interface ipv4 set dns name= Ethernet "
                            "static 172.16.0.1 primary validate=no) finished with status: "
                            "'false', output: 'timed out after 30000 ms'"));
    QCOMPARE(machine.nameServer(sample::ethernet, true), QStringLiteral("192.0.2.53,192.0.2.54"));
}

QTEST_GUILESS_MAIN(TestNetshTimeout)
#include "test_netsh_timeout.moc"
