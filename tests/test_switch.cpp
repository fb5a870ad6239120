#include "linematch.h"
#include "testmachine.h"

#include <QtTest>

namespace {

using sample::vpnArguments;
using sample::vpnIpv4;
using sample::vpnIpv6;

// The DNS table without the TAP adapter's row: the user plan never touches
// that adapter, so it keeps the VPN's servers after a switch back.
QString tableWithoutTap(const QString &table)
{
    QStringList rows = table.split('\n');
    rows.erase(std::remove_if(rows.begin(), rows.end(),
                              [](const QString &row) { return row.startsWith(sample::tap); }),
               rows.end());
    return rows.join('\n');
}

// The log lines of the last run, from its start-up line on.
QStringList lastRunLines(const TestMachine &machine)
{
    const QStringList lines = machine.logLines();
    int start = 0;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines.at(i).contains("Dns: Initialized with"))
            start = i;
    }
    return lines.mid(start);
}

} // namespace

// Whole runs of the built tarnwick-dns on fresh sample machines.
class TestSwitch : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void vpnThenResetRestoresEveryInterface();
    void vpnRunReadsItsArguments_data();
    void vpnRunReadsItsArguments();
    void userRunAppliesItsEntries();
    void resetWithoutDataFileStripsVpnServers();
    void resetWithoutSavedEntriesStripsVpnServers_data();
    void resetWithoutSavedEntriesStripsVpnServers();
    void secondVpnRunKeepsTheUsersServers();
    void killedVpnRunCanBeReset_data();
    void killedVpnRunCanBeReset();
    void unwritableDataFileWarnsAndStillSwitches();
    void failingSystemCommandsStillExitWithZero();

private:
    QScopedPointer<TestMachine> machine;
};

void TestSwitch::init()
{
    machine.reset(new TestMachine);
    QVERIFY(machine->isValid());
}

void TestSwitch::vpnThenResetRestoresEveryInterface()
{
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);

    for (const QString &id : {sample::ethernet, sample::wifi, sample::tap, sample::ethernet2}) {
        QCOMPARE(machine->nameServer(id, true), vpnIpv4);
        QCOMPARE(machine->nameServer(id, false), vpnIpv6);
    }
    QCOMPARE(machine->nameServer(sample::kernelDebug, true), QStringLiteral("192.0.2.99"));
    QCOMPARE(machine->nameServer(sample::unnamed, true), QStringLiteral("192.0.2.77"));
    QCOMPARE(machine->netshCalls().first(),
             QStringLiteral(
                 "interface ipv4 set dns name= Ethernet static 172.16.0.1 primary validate=no"));
    QCOMPARE(machine->netshCalls().size(), 8);
    QCOMPARE(machine->dataFileValue("UserDns/Args"),
             sample::ethernet + "@192.0.2.53,192.0.2.54;" + sample::wifi + "@;" + sample::tap +
                 "@;" + sample::ethernet2 + "@198.51.100.53,2001:db8::53");
    QCOMPARE(machine->dataFileValue("VpnDns/IPv4"), vpnIpv4);
    QCOMPARE(machine->dataFileValue("VpnDns/IPv6"), vpnIpv6);

    machine->clearJournal();
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
    for (const QString &call : machine->netshCalls())
        QVERIFY2(!call.contains("Local Area Connection"), qPrintable(call));
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});

    const QString inventory = "info\tDnsManager: ID: .*";
    const QString replace = "info\tDnsManager: Replace DNS settings for ID: .*, status: 'true'";
    verifyLinePatterns(
        lastRunLines(*machine),
        {"info\tDns: Initialized with 'Reset' mode", "info\tDns: Process started",
         "info\tDns: Resetting DNS settings\\.\\.\\.", inventory, inventory, inventory, inventory,
         "info\tDns: Switch to user DNS", "info\tDnsManager: Set DNS settings from user", replace,
         replace, replace, replace, replace, replace,
         "info\tDnsManager: Flush DNS finished with status 'true'", "info\tDns: Process finished"});
}

void TestSwitch::vpnRunReadsItsArguments_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("switchLine");
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<QString>("ipv4");
    QTest::addColumn<QString>("ipv6");

    QTest::newRow("later ipv4 wins")
        << QStringList{"{X}@172.16.0.1", "{Y}@172.16.0.2,fd00::2"}
        << "Switch to VPN DNS: 172.16.0.2, fd00::2" << QStringList{} << "172.16.0.2"
        << "fd00::2";
    QTest::newRow("no @: no servers")
        << QStringList{"plain"} << "Switch to VPN DNS: ," << QStringList{} << ""
        << "";
    QTest::newRow("trailing comma")
        << QStringList{"{X}@172.16.0.1,"} << "Switch to VPN DNS: 172.16.0.1,"
        << QStringList{"warning\tDns: Cannot parse DNS data ()"} << "172.16.0.1"
        << "";
    QTest::newRow("padded items stored trimmed")
        << QStringList{"{X}@ 172.16.0.1 , fd00:dead:beef:cafe::1 "}
        << "Switch to VPN DNS: 172.16.0.1, fd00:dead:beef:cafe::1" << QStringList{} << "172.16.0.1"
        << "fd00:dead:beef:cafe::1";
}

void TestSwitch::vpnRunReadsItsArguments()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, switchLine);
    QFETCH(QStringList, warnings);
    QFETCH(QString, ipv4);
    QFETCH(QString, ipv6);

    QCOMPARE(machine->runTool(QStringList{"vpn"} + entries).exitCode, 0);
    // Log lines are simplified, so an empty address leaves no trailing blank.
    const QStringList lines = machine->logLines();
    QVERIFY(lines.contains("info\tDns: " + switchLine));
    QCOMPARE(lines.filter("warning\t"), warnings);
    QCOMPARE(machine->dataFileValue("VpnDns/IPv4"), ipv4);
    QCOMPARE(machine->dataFileValue("VpnDns/IPv6"), ipv6);
    QCOMPARE(machine->nameServer(sample::ethernet, true), ipv4);
    QCOMPARE(machine->nameServer(sample::ethernet2, false), ipv6);
}

void TestSwitch::userRunAppliesItsEntries()
{
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    const QString savedArgs = machine->dataFileValue("UserDns/Args");
    QCOMPARE(machine
                 ->runTool({"user", sample::ethernet + "@9.9.9.9,2001:db8::9", sample::wifi,
                            "{UNKNOWN}@8.8.8.8", sample::tap + "@1.1.1.1"})
                 .exitCode,
             0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), QStringLiteral("9.9.9.9"));
    QCOMPARE(machine->nameServer(sample::ethernet, false), QStringLiteral("2001:db8::9"));
    // An entry without servers empties the lists; interfaces without an entry
    // keep what they have, and the TAP adapter is left alone.
    QCOMPARE(machine->nameServer(sample::wifi, true), QString());
    QCOMPARE(machine->nameServer(sample::ethernet2, true), vpnIpv4);
    QCOMPARE(machine->nameServer(sample::tap, true), vpnIpv4);
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
    QCOMPARE(machine->dataFileValue("UserDns/Args"), savedArgs);
}

void TestSwitch::resetWithoutDataFileStripsVpnServers()
{
    machine->setNameServer(sample::ethernet, true, "172.16.0.1,192.0.2.53");
    machine->setNameServer(sample::wifi, false, vpnIpv6);
    machine->setNameServer(sample::tap, true, vpnIpv4);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);

    QCOMPARE(machine->nameServer(sample::ethernet, true), QString());
    QCOMPARE(machine->nameServer(sample::wifi, false), QString());
    QCOMPARE(machine->nameServer(sample::ethernet2, true), QStringLiteral("198.51.100.53"));
    QCOMPARE(machine->nameServer(sample::tap, true), vpnIpv4);
    QCOMPARE(machine->netshCalls(),
             (QStringList{"interface ipv4 set dns name= Ethernet static none primary validate=no",
                          "interface ipv6 set dns name= Wi-Fi static none primary validate=no"}));

    const QString inventory = "info\tDnsManager: ID: .*";
    const QString replace = "info\tDnsManager: Replace DNS settings for ID: .*";
    verifyLinePatterns(machine->logLines(),
                       {"info\tDns: Initialized with 'Reset' mode",
                        "info\tDns: Process started",
                        "info\tDns: Resetting DNS settings\\.\\.\\.",
                        "warning\tDns: DNS data file doesn't exist, resetting to default values",
                        inventory,
                        inventory,
                        inventory,
                        inventory,
                        "info\tDns: Switch to user DNS",
                        "info\tDns: Clear current DNS entries",
                        "info\tDns: Clear DNS entries for IPv4 on 'Ethernet'",
                        "info\tDns: Clear DNS entries for IPv6 on 'Wi-Fi'",
                        "info\tDnsManager: Set DNS settings from user",
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        "info\tDnsManager: Flush DNS finished with status 'true'",
                        "info\tDns: Process finished"});
}

void TestSwitch::resetWithoutSavedEntriesStripsVpnServers_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("warnings");

    const QString noEntries =
        "warning\tDns: DNS data file holds no saved entries, resetting to default values";
    QTest::newRow("empty file") << QByteArray() << QStringList{noEntries};
    QTest::newRow("no Args") << QByteArray("[VpnDns]\nIPv4=172.16.0.1\n") << QStringList{noEntries};
    QTest::newRow("blank Args") << QByteArray("[UserDns]\nArgs=\" ; \"\n")
                                << QStringList{noEntries};
    QTest::newRow("corrupt file")
        << QByteArray("\xff\xfe\x00\x01garbage\n", 12)
        << QStringList{"warning\tDns: DNS data file '.*/dns\\.dat' cannot be parsed", noEntries};
}

void TestSwitch::resetWithoutSavedEntriesStripsVpnServers()
{
    QFETCH(QByteArray, content);
    QFETCH(QStringList, warnings);

    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QFile file(machine->dataFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    machine->setNameServer(sample::ethernet, true, vpnIpv4);

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    verifyLinePatterns(machine->logLines().filter("warning\t"), warnings);
    QVERIFY(machine->logLines().contains("info\tDns: Clear DNS entries for IPv4 on 'Ethernet'"));
    QCOMPARE(machine->nameServer(sample::ethernet, true), QString());
}

void TestSwitch::secondVpnRunKeepsTheUsersServers()
{
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    const QString savedArgs = machine->dataFileValue("UserDns/Args");
    // A reconnect: the client switches to the VPN again, with other servers.
    QCOMPARE(machine->runTool({"vpn", sample::tap + "@172.16.0.2"}).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), QStringLiteral("172.16.0.2"));
    QCOMPARE(machine->dataFileValue("UserDns/Args"), savedArgs);
    QCOMPARE(machine->dataFileValue("VpnDns/IPv4"), QStringLiteral("172.16.0.2"));

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));

    // After a switch back, the next vpn run records the servers in force.
    machine->setNameServer(sample::wifi, true, "10.0.0.53");
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QVERIFY(machine->dataFileValue("UserDns/Args").contains(sample::wifi + "@10.0.0.53;"));
}

void TestSwitch::killedVpnRunCanBeReset_data()
{
    QTest::addColumn<int>("completed");
    // The sample machine's vpn run runs eight netsh commands.
    for (int completed = 0; completed < 8; ++completed)
        QTest::addRow("killed after %d netsh commands", completed) << completed;
}

void TestSwitch::killedVpnRunCanBeReset()
{
    QFETCH(int, completed);

    // The calls of an undisturbed run, to pick the one to hang in.
    TestMachine reference;
    QVERIFY(reference.isValid());
    QCOMPARE(reference.runTool(vpnArguments()).exitCode, 0);
    const QStringList calls = reference.netshCalls();
    QCOMPARE(calls.size(), 8);

    const QString before = machine->show();
    machine->setFaults("netsh", {"hang " + calls.at(completed)});
    QProcess tool;
    machine->startTool(tool, vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(machine->journalOf("netsh").size(), completed + 1, 20000);
    tool.kill();
    QVERIFY(tool.waitForFinished(10000));
    QCOMPARE(machine->netshCalls(), calls.mid(0, completed + 1));

    machine->clearFaults("netsh");
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
}

void TestSwitch::unwritableDataFileWarnsAndStillSwitches()
{
    QVERIFY(QDir().mkpath(machine->dataFilePath()));
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);
    const QString warning =
        "warning\tDns: Cannot access DNS data file '" + machine->dataFilePath() + "'";
    QCOMPARE(machine->logLines().filter("warning\t"), (QStringList{warning, warning}));
}

void TestSwitch::failingSystemCommandsStillExitWithZero()
{
    for (const char *program : {"wmic", "powershell", "netsh", "ipconfig", "dnsapi"})
        machine->setFaults(program, {"fail"});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->runTool({"user", "x@1.1.1.1"}).exitCode, 0);
}

QTEST_GUILESS_MAIN(TestSwitch)
#include "test_switch.moc"
