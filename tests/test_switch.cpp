#include "linematch.h"
#include "store/runlock.h"
#include "store/vendorfolder.h"
#include "testmachine.h"

#include <QTextCodec>
#include <QtTest>

#include <unistd.h>

namespace {

using sample::vpnArguments;
using sample::vpnIpv4;
using sample::vpnIpv6;

// The sample machine's six adapters listed by wmic, in milliseconds.
const QString wmicListedLine =
    QStringLiteral("info\tDnsManager: Adapters listed by wmic: 6 in \\d+\\.\\d ms");

// The command line of a client's switch back that names the user's servers
// of the sample machine.
QStringList userArguments()
{
    return {QStringLiteral("user"), sample::ethernet + QStringLiteral("@192.0.2.53,192.0.2.54"),
            sample::wifi + QStringLiteral("@"),
            sample::ethernet2 + QStringLiteral("@198.51.100.53,2001:db8::53")};
}

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

// True when every run's work ended before the next run's began: in the log,
// the switch line of each run that switched and its flush line alternate (a
// run that yields to a later request switches nothing).
bool runsTookTurns(const QStringList &lines)
{
    const QStringList marks =
        lines.filter(QRegularExpression("\t(Dns: Switch to|DnsManager: Flush DNS finished)"));
    for (int i = 0; i < marks.size(); ++i) {
        if (marks.at(i).contains("Flush DNS finished") != (i % 2 == 1))
            return false;
    }
    return true;
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
    void userRunNamesEveryEntryItLeavesOut_data();
    void userRunNamesEveryEntryItLeavesOut();
    void resetWithoutDataFileClearsLoneVpnServers();
    void resetWithoutSavedEntryTakesOutVpnServers_data();
    void resetWithoutSavedEntryTakesOutVpnServers();
    void secondVpnRunKeepsTheUsersServers();
    void killedVpnRunCanBeReset_data();
    void killedVpnRunCanBeReset();
    void unreadableDataFileChangesNothing_data();
    void unreadableDataFileChangesNothing();
    void damagedDataFileIsReplaced();
    void editedDataFileFallsBackOnItsCopy_data();
    void editedDataFileFallsBackOnItsCopy();
    void recordKeepsListedOrSwitchedInterfacesOnly();
    void neitherFileReadingWholeLeavesNoVpnServerRecorded();
    void lockBesideTheDataFileIsIgnored_data();
    void lockBesideTheDataFileIsIgnored();
    void folderAtALockFileNameIsSetAside_data();
    void folderAtALockFileNameIsSetAside();
    void failingSystemCommandsStillExitWithZero();
    void switchBackSurvivesFailuresAndUserChanges_data();
    void switchBackSurvivesFailuresAndUserChanges();
    void userRunMatchesIdsIgnoringCase();
    void resetReadsTheRecordOfEarlierVersions();
    void interfaceInOneStackOnlyIsLeftAlone();
    void unreadableNameServerLeavesTheInterfaceAlone();
    void otherProductsTapAdapterIsTheUsers_data();
    void otherProductsTapAdapterIsTheUsers();
    void interfacesPastTheBoundAreLeftAlone();
    void unpluggedSwitchedInterfacesCountAgainstTheBound();
    void runWaitsForTheRunBeforeIt();
    void overlappingRunsKeepTheUsersServers();
    void slowRunEndsAtItsDeadline();
    void latestRequestWins();
    void queuedRequestsKeepTheirTurn_data();
    void queuedRequestsKeepTheirTurn();

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
    NETSH_PATH_ONLY();
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
    const QString replace =
        "info\tDnsManager: Replace DNS settings for ID: .*, status: 'true', via netsh";
    // Every run ends with the count of what it set, and how; here without
    // SetInterfaceDnsSettings, as Windows before 10 2004.
    const QString withoutFunction =
        "info\tDnsManager: SetInterfaceDnsSettings is not in iphlpapi.dll \\(Windows before 10 "
        "2004\\), DNS lists are set with netsh";
    const QString summary = "info\tDnsManager: DNS lists set: 0 natively in 0 ms, \\d+ netsh "
                            "commands in \\d+ ms";
    verifyLinePatterns(lastRunLines(*machine),
                       {"info\tDns: Initialized with 'Reset' mode",
                        "info\tDns: Process started",
                        "info\tDns: Resetting DNS settings\\.\\.\\.",
                        wmicListedLine,
                        inventory,
                        inventory,
                        inventory,
                        inventory,
                        "info\tDns: Switch to user DNS",
                        "info\tDnsManager: Set DNS settings from user",
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        "info\tDnsManager: Flush DNS finished with status 'true'",
                        withoutFunction,
                        summary,
                        "info\tDns: Process finished"});
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
    QTest::newRow("trailing comma")
        << QStringList{"{X}@172.16.0.1,"} << "Switch to VPN DNS: 172.16.0.1,"
        << QStringList{"warning\tDns: Cannot parse DNS data ()"} << "172.16.0.1"
        << "";
    QTest::newRow("IPv6 in one form everywhere")
        << QStringList{"{X}@172.16.0.1,FD00:0:0::53"} << "Switch to VPN DNS: 172.16.0.1, fd00::53"
        << QStringList{} << "172.16.0.1"
        << "fd00::53";
    QTest::newRow("padded items stored trimmed")
        << QStringList{"{X}@ 172.16.0.1 , fd00:dead:beef:cafe::1 "}
        << "Switch to VPN DNS: 172.16.0.1, fd00:dead:beef:cafe::1" << QStringList{} << "172.16.0.1"
        << "fd00:dead:beef:cafe::1";
}

void TestSwitch::vpnRunReadsItsArguments()
{
    NETSH_PATH_ONLY();
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

    // A reconnect with the same servers finds them all in place.
    machine->clearJournal();
    QCOMPARE(machine->runTool(QStringList{"vpn"} + entries).exitCode, 0);
    QCOMPARE(machine->netshCalls(), QStringList());
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
    // Ethernet 2 is still switched: the record stays, and a reset restores it.
    QVERIFY(machine->logLines().contains(
        "warning\tDns: DNS servers not restored on 'Ethernet 2', keeping the VPN DNS record"));
    QCOMPARE(machine->dataFileGroups(), (QStringList{"UserDns", "VpnDns"}));
    QCOMPARE(machine->dataFileValue("UserDns/Args"), savedArgs);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet2, true), QStringLiteral("198.51.100.53"));
    QCOMPARE(machine->nameServer(sample::ethernet, true), QStringLiteral("9.9.9.9"));
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
}

void TestSwitch::userRunNamesEveryEntryItLeavesOut_data()
{
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QString>("ethernetIpv4");
    QTest::addColumn<QString>("warning"); // the end of the one warning about an entry

    const QString id = sample::ethernet;
    QStringList servers;
    for (int i = 1; i <= 20; ++i)
        servers.append(QStringLiteral("192.0.2.%1").arg(i));
    QTest::newRow("more servers than a vpn run records")
        << QStringList{id + "@" + servers.join(',')} << servers.mid(0, 16).join(',')
        << "lists more than 16 servers of a protocol, the last 4 are not set";
    QTest::newRow("ID with a typo")
        << QStringList{"{X" + id.mid(2) + "@192.0.2.9"} << "192.0.2.53,192.0.2.54"
        << "names no listed interface, it is not applied";
    QTest::newRow("ID with a leading blank")
        << QStringList{" " + id + "@192.0.2.9"} << "192.0.2.9" << QString();
    QTest::newRow("malformed entry, then a whole one")
        << QStringList{id + "@bad", id + "@192.0.2.9"} << "192.0.2.9"
        << "it is not applied; Ethernet takes another entry";
    QTest::newRow("one interface twice")
        << QStringList{id + "@192.0.2.9", id + "@192.0.2.8"} << "192.0.2.9"
        << "names Ethernet again, it is not applied";
}

void TestSwitch::userRunNamesEveryEntryItLeavesOut()
{
    QFETCH(QStringList, entries);
    QFETCH(QString, ethernetIpv4);
    QFETCH(QString, warning);

    QCOMPARE(machine->runTool(QStringList{"user"} + entries).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), ethernetIpv4);
    const QStringList warnings = machine->logLines().filter("warning\tDns: Entry");
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    QVERIFY(warnings.join(QString()).endsWith(warning));
    // Whatever the user run set, a switch to the VPN and back restores whole.
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), ethernetIpv4);
}

void TestSwitch::resetWithoutDataFileClearsLoneVpnServers()
{
    NETSH_PATH_ONLY();
    machine->setNameServer(sample::ethernet, true, "172.16.0.1,192.0.2.53");
    machine->setNameServer(sample::wifi, true, vpnIpv4);
    machine->setNameServer(sample::wifi, false, vpnIpv6);
    machine->setNameServer(sample::tap, true, vpnIpv4);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);

    // Only a list that is exactly a VPN default server goes: beside others,
    // 172.16.0.1 is the user's own router.
    QCOMPARE(machine->nameServer(sample::ethernet, true), QStringLiteral("172.16.0.1,192.0.2.53"));
    QCOMPARE(machine->nameServer(sample::wifi, true), QString());
    QCOMPARE(machine->nameServer(sample::wifi, false), QString());
    QCOMPARE(machine->nameServer(sample::tap, true), vpnIpv4);
    QCOMPARE(machine->netshCalls(),
             (QStringList{"interface ipv4 set dns name= Wi-Fi static none primary validate=no",
                          "interface ipv6 set dns name= Wi-Fi static none primary validate=no"}));

    const QString inventory = "info\tDnsManager: ID: .*";
    const QString replace = "info\tDnsManager: Replace DNS settings for ID: .*";
    verifyLinePatterns(machine->logLines(),
                       {"info\tDns: Initialized with 'Reset' mode",
                        "info\tDns: Process started",
                        "info\tDns: Resetting DNS settings\\.\\.\\.",
                        "warning\tDns: DNS data file doesn't exist, resetting to default values",
                        wmicListedLine,
                        inventory,
                        inventory,
                        inventory,
                        inventory,
                        "info\tDns: Switch to user DNS",
                        "info\tDns: Clear current DNS entries",
                        "info\tDns: Clear DNS entries for IPv4 on 'Wi-Fi'",
                        "info\tDns: Clear DNS entries for IPv6 on 'Wi-Fi'",
                        "info\tDnsManager: Set DNS settings from user",
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        replace,
                        "info\tDnsManager: Flush DNS finished with status 'true'",
                        "info\tDnsManager: SetInterfaceDnsSettings is not in iphlpapi.dll "
                        "\\(Windows before 10 2004\\), DNS lists are set with netsh",
                        "info\tDnsManager: DNS lists set: 0 natively in 0 ms, 2 netsh commands in "
                        "\\d+ ms",
                        "info\tDns: Process finished"});
}

void TestSwitch::resetWithoutSavedEntryTakesOutVpnServers_data()
{
    QTest::addColumn<QString>("content");

    // %1 is Ethernet's ID. Ethernet holds the recorded VPN server.
    const QString vpnRecord = "[VpnDns]\nIPv4=10.8.0.1\nIPv6=\n";
    QTest::newRow("blank Args") << "[UserDns]\nArgs=\n" + vpnRecord + "Switched=%1\n";
    QTest::newRow("saved entry not whole")
        << "[UserDns]\nArgs=%1@192.0.2.300\n" + vpnRecord + "Switched=%1\n";
    QTest::newRow("file of an earlier version without Args") << vpnRecord;
}

void TestSwitch::resetWithoutSavedEntryTakesOutVpnServers()
{
    QFETCH(QString, content);

    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QFile file(machine->dataFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QString(content).replace("%1", sample::ethernet).toUtf8());
    file.close();
    machine->setNameServer(sample::ethernet, true, "10.8.0.1");

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->logLines().filter("warning\t"),
             QStringList{"warning\tDns: DNS servers of 'Ethernet' are not recorded, taking the "
                         "VPN's servers out of its lists"});
    QCOMPARE(machine->nameServer(sample::ethernet, true), QString());
    // Nothing better can come later: it is no longer switched.
    QVERIFY(!machine->dataFileGroups().contains("VpnDns"));
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
    // The sample machine's vpn run runs eight netsh commands. A row costs
    // some 15 s under Wine: there every third one runs.
    for (int completed = 0; completed < 8; ++completed) {
        if (!TestMachine::windowsWanted() || completed % 3 == 1)
            QTest::addRow("killed after %d netsh commands", completed) << completed;
    }
}

void TestSwitch::killedVpnRunCanBeReset()
{
    NETSH_PATH_ONLY();
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
    // The killed run's lock went with it: no wait.
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->logLines().filter("Waited"), QStringList());
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
}

void TestSwitch::unreadableDataFileChangesNothing_data()
{
    QTest::addColumn<QStringList>("arguments");

    QTest::newRow("vpn") << vpnArguments();
    QTest::newRow("reset") << QStringList{"reset"};
}

void TestSwitch::unreadableDataFileChangesNothing()
{
    NETSH_PATH_ONLY();
    QFETCH(QStringList, arguments);

    machine->setNameServer(sample::ethernet, true, vpnIpv4);
    const QString before = machine->show();
    QVERIFY(QDir().mkpath(machine->dataFilePath()));
    const TestMachine::Run run = machine->runTool(arguments);
    QCOMPARE(run.exitCode, 12);
    QVERIFY(run.standardError.contains("the DNS data file cannot be read"));
    QCOMPARE(machine->show(), before);
    QCOMPARE(machine->netshCalls(), QStringList());
    verifyLinePatterns(machine->logLines().filter("warning\t"),
                       {"warning\tDns: Cannot access DNS data file '" +
                            QRegularExpression::escape(machine->dataFileNameInLog()) + "' \\(.+\\)",
                        "warning\tDns: Cannot read the DNS data file, DNS servers left unchanged"});
    QVERIFY(QFileInfo(machine->dataFilePath()).isDir());
}

void TestSwitch::damagedDataFileIsReplaced()
{
    // Reading it fails, writing the record does not: the run switches.
    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QFile file(machine->dataFilePath());
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("\xff\xfe\x00\x01garbage\n[UserDns\n", 20));
    file.close();

    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    const QStringList warnings = machine->logLines().filter("warning\t");
    QCOMPARE(warnings.size(), 3);
    QCOMPARE(warnings.first(), "warning\tDns: DNS data file '" + machine->dataFileNameInLog() +
                                   "' does not read whole (bytes that are not UTF-8 text)");
    // Kept aside, as it was, for whoever wants to look into it.
    const QStringList aside =
        QDir(machine->vendorFolder()).entryList({"dns.dat.damaged-*"}, QDir::Files);
    QCOMPARE(aside.size(), 1);
    QVERIFY(warnings.last().contains(aside.first()));
    QFile kept(machine->vendorFolder() + '/' + aside.first());
    QVERIFY(kept.open(QIODevice::ReadOnly));
    QCOMPARE(kept.readAll(), QByteArray("\xff\xfe\x00\x01garbage\n[UserDns\n", 20));
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);
    QCOMPARE(machine->dataFileValue("VpnDns/IPv4"), vpnIpv4);
    QVERIFY(machine->dataFileValue("UserDns/Args")
                .startsWith(sample::ethernet + "@192.0.2.53,192.0.2.54;"));
}

// What others do to dns.dat: a switch back still restores every interface.
// "older version" is a downgrade's vpn run after a user run restored Wi-Fi:
// it records Wi-Fi's servers and switches it, but keeps "Switched".
void TestSwitch::editedDataFileFallsBackOnItsCopy_data()
{
    QTest::addColumn<QString>("edit");
    for (const char *edit : {"UTF-16", "cut short", "removed", "older version", "untrusted"})
        QTest::newRow(edit) << edit;
}

void TestSwitch::editedDataFileFallsBackOnItsCopy()
{
    QFETCH(QString, edit);
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QFile file(machine->dataFilePath());
    QVERIFY(file.open(QIODevice::ReadWrite));
    const QByteArray text = file.readAll();
    if (edit == "UTF-16")
        QVERIFY(file.resize(0) && file.write(QTextCodec::codecForName("UTF-16")->fromUnicode(
                                      QString::fromLatin1(text))) > 0);
    else if (edit == "cut short")
        QVERIFY(file.resize(text.indexOf("Args=") + 40));
    file.close();
    if (edit == "removed")
        QVERIFY(file.remove());
    if (edit == "untrusted") {
        SIMULATED_MACHINE_ONLY("Wine keeps no owners");
        QCOMPARE(chown(QFile::encodeName(file.fileName()).constData(), 65534, 65534), 0);
    }
    if (edit == "older version") {
        QCOMPARE(machine->runTool({"user", sample::wifi + "@192.0.2.80"}).exitCode, 0);
        QSettings older(machine->dataFilePath(), QSettings::IniFormat);
        older.setValue("UserDns/Args",
                       older.value("UserDns/Args")
                           .toString()
                           .replace(sample::wifi + "@", sample::wifi + "@192.0.2.80"));
        machine->setNameServer(sample::wifi, true, vpnIpv4);
    }

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    if (edit == "older version")
        machine->setNameServer(sample::wifi, true, "");
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
    QCOMPARE(machine->logLines().filter("DNS record: ").size(), 1);
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
}

// Entries of interfaces neither listed nor switched are not kept; a file
// with more entries than a run reads gives a warning.
void TestSwitch::recordKeepsListedOrSwitchedInterfacesOnly()
{
    QStringList unlisted;
    for (int i = 0; i < 3000; ++i)
        unlisted.append(QStringLiteral("{%1}@192.0.2.1").arg(i));
    QVERIFY(QDir().mkpath(machine->vendorFolder()));
    QSettings(machine->dataFilePath(), QSettings::IniFormat)
        .setValue("UserDns/Args", unlisted.join(';'));

    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->logLines().filter("holds more than 1024 entries, 1976 are not read").size(),
             1);
    QCOMPARE(machine->dataFileValue("UserDns/Args").count('@'), 4);
}

// Without a record, a list that is exactly one VPN server is what a vpn run
// left: recorded without it, it never returns as the user's.
void TestSwitch::neitherFileReadingWholeLeavesNoVpnServerRecorded()
{
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    for (const QString &path : {machine->dataFilePath(), machine->dataFilePath() + ".copy"}) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                file.write(QByteArray("\xff\xfe[\0V\0", 6)) == 6);
    }
    QCOMPARE(machine->runTool({"vpn", sample::tap + "@10.8.0.1"}).exitCode, 0);
    QCOMPARE(machine->logLines().filter("are a VPN server and no record says whose").size(), 3);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), QString());
    QCOMPARE(machine->nameServer(sample::ethernet2, false), QString());
}

void TestSwitch::lockBesideTheDataFileIsIgnored_data()
{
    QTest::addColumn<bool>("folder");

    QTest::newRow("a folder") << true;
    QTest::newRow("a stale lock file of a live process") << false;
}

void TestSwitch::lockBesideTheDataFileIsIgnored()
{
    QFETCH(bool, folder);

    // QSettings waits for ever on a folder there, and 30 s on a stale file
    // that names a live process; the run lock is the only lock a run takes.
    // The bound lies below those 30 s and well above a run under Wine.
    const QString lock = machine->dataFilePath() + ".lock";
    QVERIFY(QDir().mkpath(folder ? lock : machine->vendorFolder()));
    QFile file(lock);
    QVERIFY(folder ||
            (file.open(QIODevice::WriteOnly) &&
             file.write(QByteArray::number(QCoreApplication::applicationPid()) + "\ntest_switch\n" +
                        QSysInfo::machineHostName().toUtf8() + "\n") > 0));
    file.close();
    QProcess tool;
    machine->startTool(tool, vpnArguments());
    QVERIFY(tool.waitForFinished(20000));
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);
    QVERIFY(machine->dataFileValue("UserDns/Args").startsWith(sample::ethernet));
}

void TestSwitch::folderAtALockFileNameIsSetAside_data()
{
    QTest::addColumn<QString>("name");

    QTest::newRow("the run lock") << "dns.lock";
    QTest::newRow("the request counter") << "dns.order";
    QTest::newRow("the live runs' bytes") << "dns.alive";
}

// A folder, an administrator's too, would keep every run from its turn, or
// from its number, so that an earlier request could run after a later one.
void TestSwitch::folderAtALockFileNameIsSetAside()
{
    QFETCH(QString, name);

    QVERIFY(QDir().mkpath(machine->vendorFolder() + "/" + name));
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);
    QVERIFY(QFileInfo(machine->vendorFolder() + "/" + name).isFile());
    QCOMPARE(QDir(machine->vendorFolder()).entryList({name + ".untrusted-*"}, QDir::Dirs).size(),
             1);
    QCOMPARE(machine->logLines().filter("Cannot take a request number"), QStringList());
}

void TestSwitch::failingSystemCommandsStillExitWithZero()
{
    for (const char *program : {"wmic", "iphlpapi", "netsh", "ipconfig", "dnsapi"})
        machine->setFaults(program, {"fail"});
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->runTool({"user", "x@1.1.1.1"}).exitCode, 0);
}

void TestSwitch::switchBackSurvivesFailuresAndUserChanges_data()
{
    // Steps: "vpn", "reset", "reset failing NAME" (netsh fails for the
    // interface's set commands), "user changes Ethernet" (in the registry).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<bool>("ethernetChanged");

    QTest::newRow("failed reset, reset")
        << QStringList{"vpn", "reset failing Wi-Fi", "reset"} << false;
    QTest::newRow("failed reset, vpn, reset")
        << QStringList{"vpn", "reset failing Wi-Fi", "vpn", "reset"} << false;
    QTest::newRow("reset failing for Ethernet, vpn, reset")
        << QStringList{"vpn", "reset failing Ethernet", "vpn", "reset"} << false;
    QTest::newRow("two failed resets, vpn, reset")
        << QStringList{"vpn",  "reset failing Wi-Fi", "vpn", "reset failing Ethernet", "vpn",
                       "reset"}
        << false;
    QTest::newRow("user change between switches")
        << QStringList{"vpn", "reset", "user changes Ethernet", "vpn", "reset"} << true;
    QTest::newRow("failed reset, user change, vpn, reset")
        << QStringList{"vpn", "reset failing Wi-Fi", "user changes Ethernet", "vpn", "reset"}
        << true;
}

void TestSwitch::switchBackSurvivesFailuresAndUserChanges()
{
    NETSH_PATH_ONLY();
    QFETCH(QStringList, steps);
    QFETCH(bool, ethernetChanged);

    // Same length as the original servers, so the table keeps its layout.
    const QString original = "192.0.2.53,192.0.2.54";
    const QString changed = "192.0.2.55,192.0.2.56";
    QString expected = tableWithoutTap(machine->show());
    if (ethernetChanged)
        expected.replace(original, changed);

    const QString failing = "reset failing ";
    for (const QString &step : steps) {
        if (step == "vpn") {
            QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
        } else if (step == "reset") {
            QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
        } else if (step == "user changes Ethernet") {
            machine->setNameServer(sample::ethernet, true, changed);
        } else {
            QVERIFY(step.startsWith(failing));
            const QString name = step.mid(failing.size());
            machine->setFaults("netsh", {"fail name= " + name + " static"});
            QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
            machine->clearFaults("netsh");
            QCOMPARE(lastRunLines(*machine).filter("warning\t"),
                     QStringList{"warning\tDns: DNS servers not restored on '" + name +
                                 "', keeping the VPN DNS record"});
            QCOMPARE(machine->dataFileGroups(), (QStringList{"UserDns", "VpnDns"}));
        }
    }
    QCOMPARE(tableWithoutTap(machine->show()), expected);
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
}

void TestSwitch::userRunMatchesIdsIgnoringCase()
{
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    // The registry keys of Ethernet 2 are in lower case.
    QCOMPARE(machine->runTool({"user", sample::ethernet2.toUpper() + "@198.51.100.53,2001:db8::53"})
                 .exitCode,
             0);
    QCOMPARE(machine->nameServer(sample::ethernet2, true), QStringLiteral("198.51.100.53"));
    QCOMPARE(machine->nameServer(sample::ethernet2, false), QStringLiteral("2001:db8::53"));
    QCOMPARE(machine->nameServer(sample::ethernet, true), vpnIpv4);

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
}

void TestSwitch::resetReadsTheRecordOfEarlierVersions()
{
    // Earlier versions recorded no switched interfaces: those on a VPN
    // server count as switched, and the TAP adapter is never among them.
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QSettings(machine->dataFilePath(), QSettings::IniFormat).remove("VpnDns/Switched");
    QVERIFY(QFile::remove(machine->dataFilePath() + ".copy"));
    // The user gives Wi-Fi servers of its own: it holds no VPN server.
    machine->setNameServer(sample::wifi, true, "192.0.2.80");
    machine->setNameServer(sample::wifi, false, "");

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->logLines().filter("warning\t"), QStringList());
    QCOMPARE(machine->nameServer(sample::wifi, true), QStringLiteral("192.0.2.80"));
    machine->setNameServer(sample::wifi, true, "");
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
    QCOMPARE(machine->dataFileGroups(), QStringList{"UserDns"});
}

void TestSwitch::interfaceInOneStackOnlyIsLeftAlone()
{
    QVERIFY(QDir(machine->root() +
                 "/registry/HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Services/Tcpip6/"
                 "Parameters/Interfaces/" +
                 sample::wifi)
                .removeRecursively());
    const QString before = machine->show();
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    for (const QString &id : {sample::ethernet, sample::tap, sample::ethernet2})
        QCOMPARE(machine->nameServer(id, true), vpnIpv4);
    QCOMPARE(machine->nameServer(sample::wifi, true), QString());
    QVERIFY(
        machine->logLines().contains("warning\tDnsManager: Interface " + sample::wifi +
                                     " ('Wi-Fi') has no key in the IPv6 stack, left unchanged"));

    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
}

void TestSwitch::unreadableNameServerLeavesTheInterfaceAlone()
{
    NETSH_PATH_ONLY();
    // A value that cannot be read is not "no servers": recorded so, a reset
    // would clear the interface.
    machine->makeNameServerUnreadable(sample::ethernet, true);
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(machine->netshCalls().filter("name= Ethernet static"), QStringList());
    QVERIFY(!machine->dataFileValue("UserDns/Args").contains(sample::ethernet));
    QCOMPARE(machine->logLines()
                 .filter("warning\tDnsManager: NameServer of 'Ethernet' (ID: " + sample::ethernet +
                         ", IPv4) cannot be read, the interface is left unchanged")
                 .size(),
             2);
}

void TestSwitch::runWaitsForTheRunBeforeIt()
{
    NETSH_PATH_ONLY();
    // A vpn run at work: its first netsh command hangs until the run is killed.
    const QString before = tableWithoutTap(machine->show());
    machine->setFaults("netsh", {"hang"});
    QProcess first;
    machine->startTool(first, vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(machine->journalOf("netsh").size(), 1, 30000);
    machine->clearFaults("netsh");

    QProcess second;
    machine->startTool(second, {"reset"});
    QVERIFY(!second.waitForFinished(2000));
    // It waits before it does anything: no second adapter listing yet.
    QCOMPARE(machine->journalOf("wmic").size(), 1);

    first.kill();
    QVERIFY(first.waitForFinished(10000));
    QVERIFY(second.waitForFinished(60000));
    QCOMPARE(second.exitCode(), 0);
    QCOMPARE(tableWithoutTap(machine->show()), before);
    verifyLinePatterns(machine->logLines().filter("Waited"),
                       {"info\tDns: Waited \\d+ ms for another run to finish"});
}

void TestSwitch::overlappingRunsKeepTheUsersServers()
{
    const QString before = tableWithoutTap(machine->show());
    const QString originalArgs = sample::ethernet + "@192.0.2.53,192.0.2.54;" + sample::wifi +
                                 "@;" + sample::tap + "@;" + sample::ethernet2 +
                                 "@198.51.100.53,2001:db8::53";
    const QStringList kinds[] = {{"reset"}, userArguments(), vpnArguments()};
    int waits = 0;
    // A pair costs some 10 s under Wine: there two of each kind run.
    const int pairs = TestMachine::windowsWanted() ? 6 : 15;
    for (int pair = 0; pair < pairs; ++pair) {
        const QStringList &second = kinds[pair % 3];
        const int offsetMs = int(QRandomGenerator::global()->bounded(100));
        const QString context = QStringLiteral("pair %1: vpn and %2 after %3 ms")
                                    .arg(pair)
                                    .arg(second.first())
                                    .arg(offsetMs);

        // A fresh machine each time: the first run of a pair may find no
        // data file yet, as on a machine never switched before.
        TestMachine fresh;
        QVERIFY(fresh.isValid());
        QProcess first;
        QProcess later;
        fresh.startTool(first, vpnArguments());
        QThread::msleep(offsetMs);
        fresh.startTool(later, second);
        QVERIFY2(first.waitForFinished(30000) && later.waitForFinished(30000), qPrintable(context));
        QCOMPARE(fresh.runTool({"reset"}).exitCode, 0);

        QVERIFY2(tableWithoutTap(fresh.show()) == before, qPrintable(context));
        // No data file when the vpn run yielded to the later switch back.
        QSettings data(fresh.dataFilePath(), QSettings::IniFormat);
        data.allKeys();
        QVERIFY2(data.status() == QSettings::NoError, qPrintable(context));
        if (QFile::exists(fresh.dataFilePath())) {
            QVERIFY2(fresh.dataFileGroups() == QStringList{"UserDns"}, qPrintable(context));
            QVERIFY2(data.value("UserDns/Args").toString() == originalArgs, qPrintable(context));
        }
        QVERIFY2(runsTookTurns(fresh.logLines()), qPrintable(context));
        waits += fresh.logLines().filter("info\tDns: Waited").size();
    }
    QVERIFY(waits > 0);
}

void TestSwitch::otherProductsTapAdapterIsTheUsers_data()
{
    QTest::addColumn<QStringList>("runs"); // the VPN's entries, then the switch back
    QTest::addColumn<bool>("restored");    // the other product's adapter gets its server back

    const QString vpn = "vpn " + sample::tap + "@10.8.0.1,fd00:8::1";
    const QString other = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E08}");
    QTest::newRow("vpn, reset") << QStringList{vpn, "reset"} << true;
    QTest::newRow("vpn, user") << QStringList{vpn, "user " + other + "@10.20.0.53"} << true;
    QTest::newRow("an entry that names no TAP adapter")
        << QStringList{"vpn " + sample::ethernet + "@10.8.0.1", "reset"} << false;
    QTest::newRow("a record without the VPN's adapter, then one naming it")
        << QStringList{"vpn " + sample::ethernet + "@10.8.0.1", vpn, "reset"} << true;
}

// Another product's TAP adapter is restored as any interface is, where the
// vpn run's entry names the VPN's own; without that, every TAP adapter counts
// as the VPN's, with a warning.
void TestSwitch::otherProductsTapAdapterIsTheUsers()
{
    QFETCH(QStringList, runs);
    QFETCH(bool, restored);

    TestMachine twoTaps({"--sample", "--with-second-tap"});
    QVERIFY(twoTaps.isValid());
    const QString other = QStringLiteral("{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E08}");
    for (const QString &run : runs) {
        QCOMPARE(twoTaps.runTool(run.split(' ')).exitCode, 0);
        if (run != runs.first())
            continue;
        // While the record names the VPN's own adapter, status names it alone.
        int vpnAdapters = 0;
        const TestMachine::Run status = twoTaps.runTool({"status", "--json"});
        for (const QJsonValue &interface :
             QJsonDocument::fromJson(status.standardOutput).object()["interfaces"].toArray())
            vpnAdapters += interface["vpnAdapter"].toBool();
        QCOMPARE(vpnAdapters, run.contains(sample::tap) ? 1 : 2);
    }
    QCOMPARE(twoTaps.nameServer(other, true), restored ? "10.20.0.53" : "10.8.0.1");
    if (runs.last() == "reset")
        QCOMPARE(twoTaps.nameServer(sample::ethernet, true), "192.0.2.53,192.0.2.54");
    QCOMPARE(twoTaps.logLines().filter("2 TAP adapters are listed").isEmpty(),
             runs.first().contains(sample::tap));
}

// A vpn run switches no more interfaces than the next run reads back: the
// others keep the user's servers, and a reset restores the switched ones.
void TestSwitch::interfacesPastTheBoundAreLeftAlone()
{
    SIMULATED_MACHINE_ONLY("the bound is lowered through the simulated machine");
    TestMachine large({"--interfaces", "6"});
    QFile bound(large.root() + "/entries-per-run");
    QVERIFY(bound.open(QIODevice::WriteOnly) && bound.write("4") == 1 && bound.flush());
    const QString before = large.show();
    QCOMPARE(large.runTool(vpnArguments()).exitCode, 0);
    QCOMPARE(large.logLines()
                 .filter(QRegularExpression("warning\tDns: More than 4 interfaces to "
                                            "switch, DNS servers of '[^,]*', '[^,]*' "
                                            "left as they are"))
                 .size(),
             1);
    const TestMachine::Run status = large.runTool({"status", "--json"});
    QCOMPARE(status.exitCode, 11);
    int pastBound = 0;
    for (const QJsonValue &interface :
         QJsonDocument::fromJson(status.standardOutput).object().value("interfaces").toArray())
        pastBound += interface["cause"] == "pastBound" && interface["possibleLeak"].toBool();
    QCOMPARE(pastBound, 2);
    QCOMPARE(large.runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(large.show()), tableWithoutTap(before));
}

// An unplugged switched adapter stays switched: with it, a vpn run switches
// no more interfaces than the next run reads back, whichever are listed.
void TestSwitch::unpluggedSwitchedInterfacesCountAgainstTheBound()
{
    SIMULATED_MACHINE_ONLY("the bound is lowered and adapters unplugged in the simulated "
                           "machine's files");
    QFile bound(machine->root() + "/entries-per-run");
    QVERIFY(bound.open(QIODevice::WriteOnly) && bound.write("2") == 1 && bound.flush());
    const QString connections = machine->root() +
                                "/registry/HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/Control/"
                                "Network/{4D36E972-E325-11CE-BFC1-08002BE10318}/";
    const auto plug = [&](const QString &id, bool in) {
        const QString key = connections + id.toUpper() + "/Connection";
        return in ? QDir().rename(key + ".aside", key) : QDir().rename(key, key + ".aside");
    };
    const QString before = machine->show();
    QVERIFY(plug(sample::ethernet2, false));
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QVERIFY(plug(sample::ethernet, false) && plug(sample::ethernet2, true));
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    QVERIFY(plug(sample::ethernet, true));
    QCOMPARE(machine->runTool({"reset"}).exitCode, 0);
    QCOMPARE(tableWithoutTap(machine->show()), tableWithoutTap(before));
}

void TestSwitch::slowRunEndsAtItsDeadline()
{
    NETSH_PATH_ONLY();
    SIMULATED_MACHINE_ONLY("the deadline is shortened through the simulated machine");
    // Twelve interfaces whose IPv6 command for the VPN's server hangs for
    // netsh's 30 s: six minutes without a deadline, which here is 2 s.
    TestMachine slow({"--interfaces", "12"});
    QFile deadline(slow.root() + "/run-deadline-ms");
    QVERIFY(deadline.open(QIODevice::WriteOnly) && deadline.write("2000") == 4 && deadline.flush());
    const QString before = slow.show();
    slow.setFaults("netsh", {"hang " + vpnIpv6});
    QProcess vpn;
    QProcess reset;
    slow.startTool(vpn, vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(slow.netshCalls().filter(vpnIpv6).size(), 1, 30000);
    slow.startTool(reset, {"reset"});
    QVERIFY(vpn.waitForFinished(100000) && reset.waitForFinished(100000));
    // No command started after the hanging one; the log names what was not done.
    QCOMPARE(slow.netshCalls().filter(vpnIpv4).size() + slow.netshCalls().filter(vpnIpv6).size(),
             2);
    const QStringList notStarted =
        slow.logLines().filter("The run's time for system commands is over, not started");
    QCOMPARE(notStarted.size(), 2 * 11);
    QVERIFY(notStarted.last().endsWith("of 'Ethernet 12' for IPv6"));
    QCOMPARE(slow.logLines().filter("info\tDns: Waited").size(), 1);
    QCOMPARE(slow.show(), before);
}

void TestSwitch::latestRequestWins()
{
    NETSH_PATH_ONLY();
    // A vpn run at work, one command hanging for netsh's 30 s; a reset waits
    // behind it, then the client connects again.
    const QString hanging = "name= Ethernet static " + vpnIpv4;
    machine->setFaults("netsh", {"hang " + hanging});
    QProcess first;
    QProcess reset;
    QProcess latest;
    machine->startTool(first, vpnArguments());
    QTRY_COMPARE_WITH_TIMEOUT(machine->netshCalls().filter(hanging).size(), 1, 30000);
    machine->startTool(reset, {"reset"});
    // The reset takes its request number right after this line.
    QTRY_COMPARE_WITH_TIMEOUT(machine->logLines().filter("Dns: Process started").size(), 2, 30000);
    QThread::sleep(1);
    machine->startTool(latest, {"vpn", sample::tap + "@10.8.0.1,fd00:8::1"});
    // The reset lets the later vpn run go first, and ends once it works.
    QVERIFY(first.waitForFinished(100000) && latest.waitForFinished(100000) &&
            reset.waitForFinished(20000));
    QCOMPARE(machine->logLines().filter("warning\tDns: A request made after this one").size(), 1);
    QVERIFY(machine->logLines().filter("Dns: Switch to user DNS").isEmpty());
    for (const QString &id : {sample::ethernet, sample::wifi, sample::ethernet2, sample::tap}) {
        QCOMPARE(machine->nameServer(id, true) + "," + machine->nameServer(id, false),
                 QStringLiteral("10.8.0.1,fd00:8::1"));
    }
}

void TestSwitch::queuedRequestsKeepTheirTurn_data()
{
    // Runs requested in this order while the machine is switched and the
    // run lock is held; "killed" ones end while they wait.
    QTest::addColumn<QStringList>("requests");
    QTest::addColumn<QString>("ethernetIpv4");
    QTest::addColumn<QString>("wifiIpv4");
    QTest::newRow("reset, then a user run")
        << QStringList{"reset", "user"} << "192.0.2.53,192.0.2.54"
        << "";
    QTest::newRow("reset, then a killed vpn run")
        << QStringList{"reset", "killed vpn"} << "192.0.2.53,192.0.2.54"
        << "";
    QTest::newRow("vpn, then a user run") << QStringList{"vpn", "user"} << "192.0.2.53,192.0.2.54"
                                          << "10.8.0.1";
}

void TestSwitch::queuedRequestsKeepTheirTurn()
{
    SIMULATED_MACHINE_ONLY("the test holds the run lock itself, as a process of the simulated "
                           "machine");
    QFETCH(QStringList, requests);
    QFETCH(QString, ethernetIpv4);
    QFETCH(QString, wifiIpv4);
    QCOMPARE(machine->runTool(vpnArguments()).exitCode, 0);
    const VendorFolder folder(machine->vendorFolder());
    auto held = std::make_unique<RunLock>(folder);
    QVERIFY(held->take(0));
    const auto taken = [&] {
        QFile counter(machine->vendorFolder() + "/dns.order");
        return counter.open(QIODevice::ReadOnly) ? counter.readLine().trimmed().toInt() : 0;
    };
    std::vector<std::unique_ptr<QProcess>> runs;
    for (const QString &request : requests) {
        runs.push_back(std::make_unique<QProcess>());
        const QStringList arguments =
            request == "reset"  ? QStringList{"reset"}
            : request == "user" ? QStringList{"user", sample::ethernet + "@192.0.2.53,192.0.2.54"}
                                : QStringList{"vpn", sample::tap + "@10.8.0.1,fd00:8::1"};
        machine->startTool(*runs.back(), arguments);
        QTRY_COMPARE_WITH_TIMEOUT(taken(), int(runs.size()) + 1, 30000);
        if (request.startsWith("killed")) {
            QThread::msleep(300); // the earlier runs see it waiting
            runs.back()->kill();
            QVERIFY(runs.back()->waitForFinished(10000));
        }
    }
    held.reset();
    for (const auto &run : runs)
        QVERIFY(run->state() == QProcess::NotRunning || run->waitForFinished(60000));
    QCOMPARE(machine->nameServer(sample::ethernet, true), ethernetIpv4);
    QCOMPARE(machine->nameServer(sample::wifi, true), wifiIpv4);
    QVERIFY(runsTookTurns(machine->logLines()));
}

QTEST_GUILESS_MAIN(TestSwitch)
#include "test_switch.moc"
