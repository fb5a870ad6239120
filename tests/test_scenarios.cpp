#include "linematch.h"
#include "testmachine.h"

#include <QtTest>

namespace {

using sample::vpnArguments;
using sample::vpnIpv4;
using sample::vpnIpv6;

// The netsh commands of the sample machine's vpn run, in order.
QStringList vpnRunCommands()
{
    QStringList commands;
    for (const char *name : {"Ethernet", "Wi-Fi", "Local Area Connection", "Ethernet 2"}) {
        commands << QStringLiteral("interface ipv4 set dns name= %1 static 172.16.0.1 primary "
                                   "validate=no")
                        .arg(name)
                 << QStringLiteral("interface ipv6 set dns name= %1 static fd00:dead:beef:cafe::1 "
                                   "primary validate=no")
                        .arg(name);
    }
    return commands;
}

const QString wmicCall = QStringLiteral("wmic\tnic\twhere\tGUID is not null\tget\tGUID");
const QString nativeListerCall = QStringLiteral("iphlpapi\tGetAdaptersAddresses");

} // namespace

// Whole runs of the built tool that both test machines share: each runs on
// the simulated machine, and as the windows-labelled twin against the
// Windows build under Wine (testmachine.h).
class TestScenarios : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void vpnAndResetRunExactlyTheseCommands();
    void logLinesEndWithThePlatformsLineEnd();
    void wmicGetsItsInputClosed();
    void failingWmicFallsBackToTheNativeLister_data();
    void failingWmicFallsBackToTheNativeLister();
    void hungWmicIsGivenUpAfterItsTimeout();
    void withoutWmicTheNativeListerAnswersAlone();
    void failingListersWarnOnceAndChangeNothing_data();
    void failingListersWarnOnceAndChangeNothing();
    void failingNetshIsLoggedAndTheRunGoesOn();
    void hungSystemCallLeavesTheRunWithinItsBound_data();
    void hungSystemCallLeavesTheRunWithinItsBound();
    void runsCreateNoRegistryKey();
    void killedRunLeavesNoCommandBehind();

private:
    QScopedPointer<TestMachine> machine;
};

void TestScenarios::init()
{
    // The one test that needs another machine makes its own.
    if (QTest::currentTestFunction() != QByteArray("runsCreateNoRegistryKey")) {
        machine.reset(new TestMachine);
        QVERIFY(machine->isValid());
    }
}

void TestScenarios::cleanup()
{
    machine.reset();
}

void TestScenarios::vpnAndResetRunExactlyTheseCommands()
{
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->journalOf("wmic"), QStringList{wmicCall});
    QCOMPARE(machine->journalOf("iphlpapi"), QStringList());
    QCOMPARE(machine->netshCalls(), vpnRunCommands());

    machine->clearJournal();
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->journalOf("wmic"), QStringList{wmicCall});
    QCOMPARE(machine->netshCalls(),
             (QStringList{
                 "interface ipv4 set dns name= Ethernet static 192.0.2.53 primary validate=no",
                 "interface ipv4 add dns name= Ethernet 192.0.2.54 index=2",
                 "interface ipv6 set dns name= Ethernet static none primary validate=no",
                 "interface ipv4 set dns name= Wi-Fi static none primary validate=no",
                 "interface ipv6 set dns name= Wi-Fi static none primary validate=no",
                 "interface ipv4 set dns name= Ethernet 2 static 198.51.100.53 primary validate=no",
                 "interface ipv6 set dns name= Ethernet 2 static 2001:db8::53 primary validate=no",
             }));
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
}

void TestScenarios::logLinesEndWithThePlatformsLineEnd()
{
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->runTool({"user"}).exitCode, 255);

    QFile log(machine->logFilePath());
    QVERIFY(log.open(QIODevice::ReadOnly));
    const QByteArray content = log.readAll();
    QVERIFY(content.endsWith(machine->lineEnd()));
    const QList<QByteArray> lines = content.split('\n');
    for (const QByteArray &line : lines.mid(0, lines.size() - 1)) {
        QCOMPARE(line.endsWith('\r'), machine->isWindows());
        QVERIFY2(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\t(info|warning)\t"
                                    "(Dns|DnsManager): [^\t\r]+\r?$")
                     .match(QString::fromUtf8(line))
                     .hasMatch(),
                 line.constData());
    }
    QCOMPARE(machine->logLines().first(),
             QStringLiteral("info\tDns: Initialized with 'Reset' mode"));
    QCOMPARE(machine->logLines().last(),
             QStringLiteral("warning\tDns: Invalid command line arguments"));
}

void TestScenarios::wmicGetsItsInputClosed()
{
    // The wmic stand-in, like the real one, answers only at the end of its
    // input: left open, the listing would time out and fall back.
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->logLines().filter("warning\t"), QStringList());
    QCOMPARE(machine->journalOf("iphlpapi"), QStringList());
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);
}

void TestScenarios::failingWmicFallsBackToTheNativeLister_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("problem");
    QTest::newRow("fails") << "fail"
                           << "exited with code 1";
    QTest::newRow("crashes") << "crash"
                             << "crashed";
    QTest::newRow("lists nothing") << "noop"
                                   << "no adapter listed";
}

void TestScenarios::failingWmicFallsBackToTheNativeLister()
{
    SIMULATED_MACHINE_ONLY(wineListsTheHostsAdapters);
    QFETCH(QString, fault);
    QFETCH(QString, problem);

    machine->setFaults("wmic", {fault});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(
        machine->logLines().filter("warning\t"),
        QStringList{"warning\tDnsManager: Listing adapters with wmic failed (" + problem + ")"});
    QCOMPARE(machine->journalOf("iphlpapi"), QStringList{nativeListerCall});
    QVERIFY2(machine->netshCalls() == vpnRunCommands(),
             qPrintable(machine->journal().join('\n') + "\n" + machine->logLines().join('\n')));
}

void TestScenarios::hungWmicIsGivenUpAfterItsTimeout()
{
    SIMULATED_MACHINE_ONLY(wineListsTheHostsAdapters);
    machine->setFaults("wmic", {"hang"});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->logLines().filter("warning\t"),
             QStringList{"warning\tDnsManager: Listing adapters with wmic failed (timed out after "
                         "30000 ms)"});
    QCOMPARE(machine->netshCalls(), vpnRunCommands());
}

void TestScenarios::withoutWmicTheNativeListerAnswersAlone()
{
    // As on a current Windows 11: no wmic, the adapters are listed in the
    // tool's own process, and that is no cause for a warning.
    QVERIFY(machine->breakProgram("wmic", "missing"));
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    const QStringList lines = machine->logLines();
    QCOMPARE(lines.filter("warning\t"), QStringList());
    QVERIFY(lines.contains("info\tDnsManager: wmic is not installed, listing adapters with "
                           "GetAdaptersAddresses"));
    const QStringList listed = lines.filter(QRegularExpression(
        "^info\tDnsManager: Adapters listed by GetAdaptersAddresses: [1-9]\\d* in [\\d.]+ ms$"));
    QVERIFY2(listed.size() == 1, qPrintable(lines.join('\n')));
    if (machine->isWindows()) {
        // Windows' own GetAdaptersAddresses, which lists the Linux host's
        // adapters by braced GUIDs that no key of the machine has.
        QCOMPARE(machine->netshCalls(), QStringList());
        return;
    }
    // The stand-in library's call is journaled; netsh is the only process.
    QCOMPARE(machine->journalOf("iphlpapi"), QStringList{nativeListerCall});
    QStringList processes = machine->journal();
    processes.removeAll(nativeListerCall);
    processes.removeAll("dnsapi\tDnsFlushResolverCache");
    QCOMPARE(processes, machine->journalOf("netsh"));
    QCOMPARE(machine->netshCalls(), vpnRunCommands());
}

void TestScenarios::failingListersWarnOnceAndChangeNothing_data()
{
    QTest::addColumn<QString>("wmicFault");
    QTest::addColumn<QString>("nativeFault");
    QTest::addColumn<QString>("warning");
    QTest::newRow("both fail") << "fail"
                               << "fail"
                               << "wmic (exited with code 1) and with GetAdaptersAddresses "
                                  "(returned error 8)";
    QTest::newRow("wmic missing, the library lists nothing")
        << "missing"
        << "noop"
        << "wmic (not installed) and with GetAdaptersAddresses (no adapter listed)";
}

void TestScenarios::failingListersWarnOnceAndChangeNothing()
{
    SIMULATED_MACHINE_ONLY(wineListsTheHostsAdapters);
    QFETCH(QString, wmicFault);
    QFETCH(QString, nativeFault);
    QFETCH(QString, warning);

    const QString before = machine->show();
    QVERIFY(machine->breakProgram("wmic", wmicFault));
    machine->setFaults("iphlpapi", {nativeFault});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->logLines().filter("warning\t"),
             QStringList{"warning\tDnsManager: Listing adapters failed with " + warning +
                         ", no interface is listed"});
    QCOMPARE(machine->journalOf("iphlpapi"), QStringList{nativeListerCall});
    QCOMPARE(machine->netshCalls(), QStringList());
    QCOMPARE(machine->show(), before);
}

void TestScenarios::failingNetshIsLoggedAndTheRunGoesOn()
{
    const QString failing =
        "interface ipv4 set dns name= Wi-Fi static 172.16.0.1 primary validate=no";
    machine->setFaults("netsh", {"fail " + failing});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);

    QCOMPARE(machine->netshCalls(), vpnRunCommands());
    QCOMPARE(machine->nameServer(sample::wifi, true), QString());
    QCOMPARE(machine->nameServer(sample::wifi, false), vpnIpv6);
    QCOMPARE(machine->nameServer(sample::ethernet2, true), vpnIpv4);
    const QStringList lines = machine->logLines();
    QVERIFY(lines.contains("info\tDnsManager: Subprocess (" + failing +
                           ") finished with status: 'false', output: 'The requested operation "
                           "failed.'"));
    QVERIFY(lines.contains("info\tDnsManager: Replace DNS settings for ID: " + sample::wifi +
                           ", name: 'Wi-Fi' () -> (172.16.0.1), status: 'false', via netsh"));
    QCOMPARE(machine->dataFileValue("VpnDns/IPv4"), vpnIpv4);
}

void TestScenarios::hungSystemCallLeavesTheRunWithinItsBound_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("rule");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("ipconfigCalls");

    const QString listing = "Listing adapters failed with wmic (exited with code 1) and with "
                            "GetAdaptersAddresses (did not return within 1000 ms), no interface "
                            "is listed";
    // After a call that did not return, a run flushes with ipconfig alone.
    QTest::newRow("listing, vpn") << vpnArguments() << "iphlpapi"
                                  << "hang GetAdaptersAddresses" << 0 << listing << 1;
    QTest::newRow("listing, status") << QStringList{"status"} << "iphlpapi"
                                     << "hang GetAdaptersAddresses" << 12 << listing << 0;
    QTest::newRow("flush") << vpnArguments() << "dnsapi"
                           << "hang" << 0 << "DnsFlushResolverCache did not return within 1000 ms"
                           << 1;
}

void TestScenarios::hungSystemCallLeavesTheRunWithinItsBound()
{
    SIMULATED_MACHINE_ONLY("under Wine the calls are Wine's own, and never hang");
    QFETCH(QStringList, arguments);
    QFETCH(QString, library);
    QFETCH(QString, rule);
    QFETCH(int, exitCode);
    QFETCH(QString, warning);
    QFETCH(int, ipconfigCalls);

    // The stand-in hangs for 120 s; the tool gives the call 1 s.
    QFile timeout(machine->root() + "/dns-call-timeout-ms");
    QVERIFY(timeout.open(QIODevice::WriteOnly) && timeout.write("1000") == 4 && timeout.flush());
    QVERIFY(machine->breakProgram("wmic", "fail"));
    machine->setFaults(library, {rule});
    QElapsedTimer timer;
    timer.start();
    const TestMachine::Run run = machine->runTool(arguments);
    QCOMPARE(run.exitCode, exitCode);
    QVERIFY2(timer.elapsed() < 20000, qPrintable(QString::number(timer.elapsed())));
    // The status mode's warnings go to standard error, a run's to its log.
    const QString said = arguments.first() == "status" ? QString::fromUtf8(run.standardError)
                                                       : machine->logLines().join('\n');
    QVERIFY2(said.contains(warning), qPrintable(said));
    QVERIFY2(said.trimmed().endsWith("A system call has not returned, the process ends without "
                                     "its clean-up"),
             qPrintable(said));
    QCOMPARE(machine->journalOf("ipconfig").size(), ipconfigCalls);
}

void TestScenarios::runsCreateNoRegistryKey()
{
    // An interface whose stack keys have no network connection key: the
    // tool looks for its connection name there, and must only read.
    TestMachine bare({"--sample", "--with-bare-interface"});
    QVERIFY(bare.isValid());
    const QStringList keys = bare.registryKeys();
    QVERIFY(!keys.filter("Tcpip\\Parameters\\Interfaces\\{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E07}")
                 .isEmpty());

    QCOMPARE(bare.runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(bare.runTool({"reset"}).exitCode, 0);
    QCOMPARE(bare.nameServer(sample::ethernet, true), QStringLiteral("192.0.2.53,192.0.2.54"));
    QCOMPARE(bare.registryKeys(), keys);
}

void TestScenarios::killedRunLeavesNoCommandBehind()
{
    // The hanging netsh writes a heartbeat and never watches its caller: it
    // ends only if the tool's end takes it along.
    const QString heartbeat = machine->root() + "/heartbeat";
    machine->setFaults("netsh", {"hang"});
    QProcess tool;
    machine->startTool(tool, vpnArguments());
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(heartbeat).size() > 0, 30000);
    tool.kill();
    QVERIFY(tool.waitForFinished(10000));

    QTest::qWait(2000);
    const qint64 beats = QFileInfo(heartbeat).size();
    QTest::qWait(1000);
    QCOMPARE(QFileInfo(heartbeat).size(), beats);
}

QTEST_GUILESS_MAIN(TestScenarios)
#include "test_scenarios.moc"
