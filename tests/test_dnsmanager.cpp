#include "dns/dnsmanager.h"
#include "dns/servers.h"
#include "linematch.h"
#include "messagecapture.h"
#include "testmachine.h"

#include <QtTest>

namespace {

const QString tcpip6 = QStringLiteral("/registry/HKEY_LOCAL_MACHINE/SYSTEM/CurrentControlSet/"
                                      "Services/Tcpip6/Parameters/Interfaces/");

QString inventoryLine(const QString &id, const QString &name, bool vpn, const QString &ipv4,
                      const QString &ipv6)
{
    return QStringLiteral("info\tDnsManager: ID: %1, name: '%2', VPN connection: '%3', IPv4 DNS: "
                          "(%4), IPv6 DNS: (%5)")
        .arg(id, name, vpn ? "true" : "false", ipv4, ipv6);
}

// One "ID@SERVERS" entry per inventory interface, in inventory order.
QStringList inventoryEntries(const DnsManager &manager)
{
    QStringList entries;
    for (const InterfaceInfo &record : manager.interfaces())
        entries.append(interfaceEntry(record.id(), record.ipv4Dns(), record.ipv6Dns()));
    return entries;
}

// The lines but the adapter listing's, whose time varies
// (fallsBackToTheNativeLister checks it).
QStringList withoutListingLine(const QStringList &lines)
{
    return lines.filter(QRegularExpression("^(?!info\tDnsManager: Adapters listed by )"));
}

} // namespace

// DnsManager against a fresh sample simulated machine per test.
class TestDnsManager : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void inventoryOfTheSampleMachine();
    void pairsTheStacksByInterfaceId();
    void mismatchedStacksLeaveOutTheOddInterfaces_data();
    void mismatchedStacksLeaveOutTheOddInterfaces();
    void readsBlankSeparatedServers();
    void leavesOutKeysThatAreNoGuid_data();
    void leavesOutKeysThatAreNoGuid();
    void fallsBackToTheNativeLister_data();
    void fallsBackToTheNativeLister();
    void nativeListerGrowsItsBuffer();
    void replacesDnsSettings_data();
    void replacesDnsSettings();
    void setsListsNatively_data();
    void setsListsNatively();
    void mergesSavedServers_data();
    void mergesSavedServers();
    void plansRoundTripTheSampleMachine();
    void plansOnAnEmptyInventoryStillFlush();
    void flushesTheResolverCache_data();
    void flushesTheResolverCache();

private:
    QScopedPointer<TestMachine> machine;
};

void TestDnsManager::init()
{
    machine.reset(new TestMachine);
    QVERIFY(machine->isValid());
    machine->enter();
}

void TestDnsManager::inventoryOfTheSampleMachine()
{
    MessageCapture messages;
    DnsManager manager;
    manager.refreshInterfaces();

    // Kernel debug adapter and unnamed interface left out; the lower-case keys
    // of Ethernet 2 sort last and keep their own case.
    QCOMPARE(
        withoutListingLine(messages.lines()),
        (QStringList{
            inventoryLine(sample::ethernet, "Ethernet", false, "192.0.2.53, 192.0.2.54", ""),
            inventoryLine(sample::wifi, "Wi-Fi", false, "", ""),
            inventoryLine(sample::tap, "Local Area Connection", true, "", ""),
            inventoryLine(sample::ethernet2, "Ethernet 2", false, "198.51.100.53", "2001:db8::53"),
        }));
    QCOMPARE(inventoryEntries(manager),
             (QStringList{sample::ethernet + "@192.0.2.53,192.0.2.54", sample::wifi + "@",
                          sample::tap + "@", sample::ethernet2 + "@198.51.100.53,2001:db8::53"}));
    QCOMPARE(machine->journal(), QStringList{"wmic\tnic\twhere\tGUID is not null\tget\tGUID"});
}

void TestDnsManager::pairsTheStacksByInterfaceId()
{
    // In upper case, Ethernet 2's IPv6 key sorts before the TAP adapter's,
    // while its IPv4 key still sorts last.
    QVERIFY(QDir().rename(machine->root() + tcpip6 + sample::ethernet2,
                          machine->root() + tcpip6 + sample::ethernet2.toUpper()));
    DnsManager manager;
    manager.loadInterfaces();
    QCOMPARE(inventoryEntries(manager),
             (QStringList{sample::ethernet + "@192.0.2.53,192.0.2.54", sample::wifi + "@",
                          sample::tap + "@", sample::ethernet2 + "@198.51.100.53,2001:db8::53"}));
}

void TestDnsManager::mismatchedStacksLeaveOutTheOddInterfaces_data()
{
    QTest::addColumn<bool>("addOtherInterface");
    QTest::addColumn<QStringList>("warnings");

    const QString other = "{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E07}";
    const QString warning =
        "warning\tDnsManager: Interface %1 ('%2') has no key in the %3 stack, left unchanged";
    const QString wifiWarning = warning.arg(sample::wifi, "Wi-Fi", "IPv6");
    QTest::newRow("one stack lacks an interface") << false << QStringList{wifiWarning};
    QTest::newRow("same count, other interfaces")
        << true << QStringList{wifiWarning, warning.arg(other, "Ethernet 7", "IPv4")};
}

void TestDnsManager::mismatchedStacksLeaveOutTheOddInterfaces()
{
    QFETCH(bool, addOtherInterface);
    QFETCH(QStringList, warnings);
    QVERIFY(QDir(machine->root() + tcpip6 + sample::wifi).removeRecursively());
    if (addOtherInterface) {
        const QString other = "{6F1C2A10-8B3E-4C55-9D21-0A1B2C3D4E07}";
        machine->setRegistryValue("Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" +
                                      other + "\\Connection",
                                  "Name", "Ethernet 7");
        machine->setNameServer(other, false, "2001:db8::7");
    }
    MessageCapture messages;
    DnsManager manager;
    manager.refreshInterfaces();
    const QStringList inventory = {
        inventoryLine(sample::ethernet, "Ethernet", false, "192.0.2.53, 192.0.2.54", ""),
        inventoryLine(sample::tap, "Local Area Connection", true, "", ""),
        inventoryLine(sample::ethernet2, "Ethernet 2", false, "198.51.100.53", "2001:db8::53")};
    QCOMPARE(withoutListingLine(messages.lines()),
             QStringList{"critical\tDnsManager : DNS internal issue: Ipv4/Ipv6 mismatch"} +
                 warnings + inventory);
}

void TestDnsManager::readsBlankSeparatedServers()
{
    machine->setNameServer(sample::ethernet, true, "1.1.1.1 8.8.8.8");
    DnsManager manager;
    manager.loadInterfaces();
    QCOMPARE(inventoryEntries(manager).first(), sample::ethernet + "@1.1.1.1,8.8.8.8");
}

void TestDnsManager::leavesOutKeysThatAreNoGuid_data()
{
    QTest::addColumn<QString>("key");
    QTest::newRow("an entry inside") << sample::ethernet + ";" + sample::wifi + "@6.6.6.6";
    QTest::newRow("text after the GUID") << sample::ethernet + "x";
}

void TestDnsManager::leavesOutKeysThatAreNoGuid()
{
    QFETCH(QString, key);
    machine->setRegistryValue("Control\\Network\\{4D36E972-E325-11CE-BFC1-08002BE10318}\\" + key +
                                  "\\Connection",
                              "Name", "Forged");
    machine->setNameServer(key, true, "6.6.6.6");
    machine->setNameServer(key, false, "");
    MessageCapture messages;
    DnsManager manager;
    manager.loadInterfaces();
    const QString warning = "warning\tDnsManager: Interface key '" + key +
                            "' in the %1 stack is no GUID, left unchanged";
    QCOMPARE(withoutListingLine(messages.lines()),
             (QStringList{warning.arg("IPv4"), warning.arg("IPv6")}));
    QCOMPARE(inventoryEntries(manager).size(), 4);
}

void TestDnsManager::fallsBackToTheNativeLister_data()
{
    QTest::addColumn<QString>("wmicFault");
    QTest::addColumn<QString>("nativeFault");
    QTest::addColumn<QStringList>("patterns");
    QTest::addColumn<int>("interfaces");

    const QString wmicListed = "info\tDnsManager: Adapters listed by wmic: 6 in [\\d.]+ ms";
    const QString nativeListed =
        "info\tDnsManager: Adapters listed by GetAdaptersAddresses: 6 in [\\d.]+ ms";
    const QString wmicFailed = "warning\tDnsManager: Listing adapters with wmic failed \\(%1\\)";
    const QString notInstalled =
        "info\tDnsManager: wmic is not installed, listing adapters with GetAdaptersAddresses";
    const QString bothFailed = "warning\tDnsManager: Listing adapters failed with wmic \\(%1\\) "
                               "and with GetAdaptersAddresses \\(%2\\), no interface is listed";
    QTest::newRow("wmic answers") << ""
                                  << "" << QStringList{wmicListed} << 4;
    QTest::newRow("wmic answers in UTF-16") << "utf16"
                                            << "" << QStringList{wmicListed} << 4;
    QTest::newRow("wmic missing") << "missing"
                                  << "" << QStringList{notInstalled, nativeListed} << 4;
    QTest::newRow("wmic fails") << "fail"
                                << ""
                                << QStringList{wmicFailed.arg("exited with code 1"), nativeListed}
                                << 4;
    QTest::newRow("wmic crashes") << "crash"
                                  << "" << QStringList{wmicFailed.arg("crashed"), nativeListed}
                                  << 4;
    QTest::newRow("wmic lists nothing")
        << "noop"
        << "" << QStringList{wmicFailed.arg("no adapter listed"), nativeListed} << 4;
    QTest::newRow("both fail") << "fail"
                               << "fail"
                               << QStringList{bothFailed.arg("exited with code 1",
                                                             "returned error 8")}
                               << 0;
    QTest::newRow("wmic missing, the library lists nothing")
        << "missing"
        << "noop" << QStringList{notInstalled, bothFailed.arg("not installed", "no adapter listed")}
        << 0;
}

void TestDnsManager::fallsBackToTheNativeLister()
{
    QFETCH(QString, wmicFault);
    QFETCH(QString, nativeFault);
    QFETCH(QStringList, patterns);
    QFETCH(int, interfaces);

    QVERIFY(machine->breakProgram("wmic", wmicFault));
    QVERIFY(machine->breakProgram("iphlpapi", nativeFault));
    MessageCapture messages;
    DnsManager manager;
    manager.loadInterfaces();
    verifyLinePatterns(messages.lines(), patterns);
    QCOMPARE(manager.interfaces().size(), interfaces);
    // The library is called only where wmic did not answer.
    QCOMPARE(machine->journalOf("iphlpapi").size(), patterns.first().contains("by wmic") ? 0 : 1);
}

void TestDnsManager::nativeListerGrowsItsBuffer()
{
    // 304 adapters need more than the first buffer of 15 KB: the call asks
    // for a larger one and is made again.
    TestMachine large({"--interfaces", "300"});
    QVERIFY(large.isValid());
    large.enter();
    large.setFaults("wmic", {"fail"});
    DnsManager manager;
    manager.loadInterfaces();
    QCOMPARE(manager.interfaces().size(), 300);
    QCOMPARE(large.journalOf("iphlpapi").size(), 2);
}

void TestDnsManager::replacesDnsSettings_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("ipv4");
    QTest::addColumn<QString>("servers");
    QTest::addColumn<QString>("netshFault");
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QString>("after");

    const QString line =
        "info\tDnsManager: Replace DNS settings for ID: %1, name: '%2' (%3) -> (%4)%5";
    const QString failed =
        "info\tDnsManager: Subprocess (%1) finished with status: 'false', output: '%2'";
    const QString e = sample::ethernet;
    const QString setVpn =
        "interface ipv4 set dns name= Ethernet static 172.16.0.1 primary validate=no";

    QTest::newRow("already equal") << e << "Ethernet" << true << "192.0.2.53,192.0.2.54"
                                   << "" << QStringList{}
                                   << QStringList{line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54",
                                                           "192.0.2.53,192.0.2.54", ", skipped")}
                                   << true << "192.0.2.53,192.0.2.54";
    QTest::newRow("missing key, empty request")
        << "{NONE}"
        << "Ethernet" << true << ""
        << "" << QStringList{} << QStringList{line.arg("{NONE}", "Ethernet", "", "", ", skipped")}
        << true << "";
    QTest::newRow("set then add")
        << e << "Ethernet" << true << "172.16.0.1,172.16.0.2"
        << "" << QStringList{setVpn, "interface ipv4 add dns name= Ethernet 172.16.0.2 index=2"}
        << QStringList{line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1,172.16.0.2",
                                ", status: 'true', via netsh")}
        << true << "172.16.0.1,172.16.0.2";
    QTest::newRow("empty request clears with none")
        << e << "Ethernet" << true << ""
        << ""
        << QStringList{"interface ipv4 set dns name= Ethernet static none primary validate=no"}
        << QStringList{line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "",
                                ", status: 'true', via netsh")}
        << true << "";
    QTest::newRow("ipv6 below Tcpip6, name with a blank")
        << sample::ethernet2 << "Ethernet 2" << false << "fd00:dead:beef:cafe::1"
        << ""
        << QStringList{"interface ipv6 set dns name= Ethernet 2 static fd00:dead:beef:cafe::1 "
                       "primary validate=no"}
        << QStringList{line.arg(sample::ethernet2, "Ethernet 2", "2001:db8::53",
                                "fd00:dead:beef:cafe::1", ", status: 'true', via netsh")}
        << true << "fd00:dead:beef:cafe::1";
    QTest::newRow("empty entry between two commas")
        << e << "Ethernet" << true << "172.16.0.1,,172.16.0.2"
        << ""
        << QStringList{setVpn, "interface ipv4 add dns name= Ethernet  index=2",
                       "interface ipv4 add dns name= Ethernet 172.16.0.2 index=3"}
        // Log lines are simplified: the empty argument leaves one blank.
        << QStringList{failed.arg("interface ipv4 add dns name= Ethernet index=2",
                                  "The parameter is incorrect."),
                       line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1,,172.16.0.2",
                                ", status: 'false', via netsh")}
        << false << "172.16.0.1,172.16.0.2";
    QTest::newRow("failing netsh")
        << e << "Ethernet" << true << "172.16.0.1"
        << "fail" << QStringList{setVpn}
        << QStringList{failed.arg(setVpn, "The requested operation failed."),
                       line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1",
                                ", status: 'false', via netsh")}
        << false << "192.0.2.53,192.0.2.54";
    QTest::newRow("crashing netsh")
        << e << "Ethernet" << true << "172.16.0.1"
        << "crash" << QStringList{setVpn}
        << QStringList{failed.arg(setVpn, ""),
                       line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1",
                                ", status: 'false', via netsh")}
        << false << "192.0.2.53,192.0.2.54";
    QTest::newRow("netsh missing")
        << e << "Ethernet" << true << "172.16.0.1"
        << "missing" << QStringList{}
        << QStringList{failed.arg(setVpn, "failed to start"),
                       line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1",
                                ", status: 'false', via netsh")}
        << false << "192.0.2.53,192.0.2.54";
    QTest::newRow("netsh that does not start, twice")
        << e << "Ethernet" << true << "172.16.0.1"
        << "unstartable" << QStringList{}
        << QStringList{"warning\tSystemProcess: netsh did not start; starting it once more",
                       failed.arg(setVpn, "failed to start"),
                       line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "172.16.0.1",
                                ", status: 'false', via netsh")}
        << false << "192.0.2.53,192.0.2.54";
    QTest::newRow("failure that took effect all the same")
        << e << "Ethernet" << true << "192.0.2.53"
        << "fail index=2"
        << QStringList{"interface ipv4 set dns name= Ethernet static 192.0.2.53 primary "
                       "validate=no"}
        << QStringList{line.arg(e, "Ethernet", "192.0.2.53,192.0.2.54", "192.0.2.53",
                                ", status: 'true', via netsh")}
        << true << "192.0.2.53";
}

void TestDnsManager::replacesDnsSettings()
{
    QFETCH(QString, id);
    QFETCH(QString, name);
    QFETCH(bool, ipv4);
    QFETCH(QString, servers);
    QFETCH(QString, netshFault);
    QFETCH(QStringList, calls);
    QFETCH(QStringList, lines);
    QFETCH(bool, result);
    QFETCH(QString, after);

    QVERIFY(machine->breakProgram("netsh", netshFault));
    MessageCapture messages;
    DnsManager manager;
    QCOMPARE(manager.replaceDnsSettings(id, name, servers, ipv4), result);
    QCOMPARE(machine->netshCalls(), calls);
    QCOMPARE(messages.lines(), lines);
    QCOMPARE(machine->nameServer(id, ipv4), after);
}

// On a machine with SetInterfaceDnsSettings (its call for Ethernet's IPv4
// given a fault), both protocols' lists of Ethernet are set: natively, else
// with netsh after a warning; after a call that does not return in time, with
// netsh alone, and the late return is named at the end of the run.
void TestDnsManager::setsListsNatively_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("netshCalls");
    QTest::newRow("in place") << ""
                              << "" << 0;
    QTest::newRow("error") << "fail"
                           << "failed for 'Ethernet' (IPv4) with error 87" << 2;
    QTest::newRow("no effect") << "noop"
                               << "left 'Ethernet' (IPv4) other than asked" << 2;
    QTest::newRow("no return in time") << "hang"
                                       << "did not return within 300 ms" << 3;
}

void TestDnsManager::setsListsNatively()
{
    QFETCH(QString, fault);
    QFETCH(QString, warning);
    QFETCH(int, netshCalls);
    TestMachine native({"--sample", "--with-dns-api"});
    native.enter();
    QFile timeout(native.root() + "/dns-call-timeout-ms");
    QVERIFY(timeout.open(QIODevice::WriteOnly) && timeout.write("300") == 3 && timeout.flush());
    native.setFaults("iphlpapi", {fault.isEmpty() ? QString() : fault + " ipv4"});
    MessageCapture messages;
    {
        DnsManager manager(Deadline(5000));
        manager.loadInterfaces();
        QVERIFY(manager.replaceDnsSettings(sample::ethernet, "Ethernet", "172.16.0.1,172.16.0.2",
                                           true));
        QVERIFY(manager.replaceDnsSettings(sample::ethernet, "Ethernet", "fd00::1", false));
        manager.finishRun();
    }
    QCOMPARE(native.netshCalls().size(), netshCalls);
    QCOMPARE(native.nameServer(sample::ethernet, true), QStringLiteral("172.16.0.1,172.16.0.2"));
    QCOMPARE(native.nameServer(sample::ethernet, false), QStringLiteral("fd00::1"));
    const QStringList warnings = messages.lines().filter("warning\t");
    QCOMPARE(warnings.size(), warning.isEmpty() ? 0 : 1);
    QVERIFY(warning.isEmpty() || warnings.first().contains(warning));
    QCOMPARE(messages.lines().filter("returned late").size(), fault == "hang" ? 1 : 0);
    QCOMPARE(messages.lines().filter(", via SetInterfaceDnsSettings").size(),
             2 - (fault.isEmpty() ? 0 : 1) - (fault == "hang" ? 1 : 0));
}

void TestDnsManager::mergesSavedServers_data()
{
    QTest::addColumn<QStringList>("saved");
    QTest::addColumn<QStringList>("entries");

    const QString ethernetEntry = sample::ethernet + "@192.0.2.53,192.0.2.54";
    const QString ethernet2Entry = sample::ethernet2 + "@198.51.100.53,2001:db8::53";
    QTest::newRow("first of two records with one ID")
        << QStringList{sample::wifi + "@10.0.0.1,2001:db8::1", sample::wifi + "@10.9.9.9"}
        << QStringList{ethernetEntry, sample::wifi + "@10.0.0.1,2001:db8::1", sample::tap + "@",
                       ethernet2Entry};
    QTest::newRow("empty lists replace servers")
        << QStringList{sample::ethernet + "@"}
        << QStringList{sample::ethernet + "@", sample::wifi + "@", sample::tap + "@",
                       ethernet2Entry};
    QTest::newRow("IDs compared ignoring letter case, unknown ones ignored")
        << QStringList{sample::ethernet2.toUpper() + "@10.0.0.1", "{UNKNOWN}@10.0.0.2"}
        << QStringList{ethernetEntry, sample::wifi + "@", sample::tap + "@",
                       sample::ethernet2 + "@10.0.0.1"};
}

void TestDnsManager::mergesSavedServers()
{
    QFETCH(QStringList, saved);
    QFETCH(QStringList, entries);

    QList<InterfaceInfo> records;
    DnsManager manager;
    manager.loadInterfaces();
    for (const QString &entry : saved) {
        const QString id = entry.section('@', 0, 0);
        const QStringList servers = entry.section('@', 1).split(',', Qt::SkipEmptyParts);
        records.append(
            InterfaceInfo(id, id, servers.filter("."), servers.filter(":"), manager.vpnAdapters()));
    }
    manager.mergeUserDns(records);
    QCOMPARE(inventoryEntries(manager), entries);
    QVERIFY(manager.interfaces().at(2).isVpn());
}

void TestDnsManager::plansRoundTripTheSampleMachine()
{
    const QString before = machine->show();
    QList<InterfaceInfo> saved;
    {
        DnsManager manager;
        manager.refreshInterfaces();
        saved = manager.interfaces();
        manager.setDnsFromVpn({"172.16.0.1"}, {"fd00:dead:beef:cafe::1"},
                              {sample::ethernet, sample::wifi, sample::ethernet2});
    }
    for (const QString &id : {sample::ethernet, sample::wifi, sample::tap, sample::ethernet2}) {
        QCOMPARE(machine->nameServer(id, true), QStringLiteral("172.16.0.1"));
        QCOMPARE(machine->nameServer(id, false), QStringLiteral("fd00:dead:beef:cafe::1"));
    }
    QCOMPARE(machine->nameServer(sample::kernelDebug, true), QStringLiteral("192.0.2.99"));
    QCOMPARE(machine->netshCalls().size(), 8);
    QCOMPARE(machine->journal().last(), QStringLiteral("dnsapi\tDnsFlushResolverCache"));

    machine->clearJournal();
    {
        DnsManager manager;
        manager.refreshInterfaces();
        manager.mergeUserDns(saved);
        // Every interface named is restored but the TAP adapter, which the
        // user plan never touches.
        QCOMPARE(manager.setDnsFromUser(
                     {sample::ethernet, sample::wifi, sample::tap, sample::ethernet2.toUpper()}),
                 (QStringList{sample::ethernet, sample::wifi, sample::ethernet2}));
    }
    for (const QString &call : machine->netshCalls())
        QVERIFY2(!call.contains("Local Area Connection"), qPrintable(call));
    QCOMPARE(machine->nameServer(sample::tap, true), QStringLiteral("172.16.0.1"));
    machine->setNameServer(sample::tap, true, "");
    machine->setNameServer(sample::tap, false, "");
    QCOMPARE(machine->show(), before);
}

void TestDnsManager::plansOnAnEmptyInventoryStillFlush()
{
    machine->setFaults("wmic", {"noop"});
    machine->setFaults("iphlpapi", {"noop"});
    MessageCapture messages;
    {
        DnsManager manager;
        manager.loadInterfaces();
        messages.clear();
        manager.setDnsFromVpn({}, {"fd00:dead:beef:cafe::1"}, {sample::ethernet});
        QCOMPARE(manager.setDnsFromUser({sample::ethernet}), QStringList());
    }
    QCOMPARE(messages.lines(),
             (QStringList{"info\tDnsManager: Set DNS settings from VPN, IPv4 DNS: (), IPv6 DNS: "
                          "(fd00:dead:beef:cafe::1)",
                          "info\tDnsManager: Flush DNS finished with status 'true'",
                          "info\tDnsManager: Set DNS settings from user",
                          "info\tDnsManager: Flush DNS finished with status 'true'"}));
    QCOMPARE(machine->netshCalls(), QStringList());
}

void TestDnsManager::flushesTheResolverCache_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("ipconfigFault");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<int>("ipconfigCalls");

    const QString finished = "info\tDnsManager: Flush DNS finished with status '%1'";
    const QString fallback = "info\tDnsManager: Flush DNS \\(failback\\)";
    const QString processFinished = "info\tDnsManager: Flush DNS process finished with status '%1'";
    QTest::newRow("direct flush") << ""
                                  << "" << QStringList{finished.arg("true")} << 0;
    QTest::newRow("library missing")
        << "missing"
        << ""
        << QStringList{"warning\tDns: Failed loading dnsapi.dll: \\d+", finished.arg("false"),
                       fallback, processFinished.arg("true")}
        << 1;
    QTest::newRow("library without the function")
        << "nofunction"
        << ""
        << QStringList{"warning\tDns: Failed loading function for dnsapi.dll: \\d+",
                       finished.arg("false"), fallback, processFinished.arg("true")}
        << 1;
    QTest::newRow("function fails, ipconfig fails")
        << "fail"
        << "fail"
        << QStringList{"warning\tDns: Failed execute function: 5", finished.arg("false"), fallback,
                       processFinished.arg("false")}
        << 1;
    QTest::newRow("ipconfig missing")
        << "fail"
        << "missing"
        << QStringList{"warning\tDns: Failed execute function: 5", finished.arg("false"), fallback,
                       "warning\tChildProcess: Error occured: failed to start"}
        << 0;
}

void TestDnsManager::flushesTheResolverCache()
{
    QFETCH(QString, library);
    QFETCH(QString, ipconfigFault);
    QFETCH(QStringList, lines);
    QFETCH(int, ipconfigCalls);

    const QString libraryPath = machine->root() + "/lib/libdnsapi.so";
    if (library == "missing") {
        QVERIFY(QFile::remove(libraryPath));
    } else if (library == "nofunction") {
        QVERIFY(QFile::remove(libraryPath));
        QVERIFY(QFile::copy(machine->root() + "/lib/libdnsapi-nofunction.so", libraryPath));
    } else if (library == "fail") {
        machine->setFaults("dnsapi", {"fail"});
    }
    QVERIFY(machine->breakProgram("ipconfig", ipconfigFault));

    MessageCapture messages;
    {
        DnsManager manager;
        manager.flushDns();
    }
    verifyLinePatterns(messages.lines(), lines);
    QCOMPARE(machine->journalOf("ipconfig").size(), ipconfigCalls);
    if (ipconfigCalls > 0)
        QCOMPARE(machine->journalOf("ipconfig").first(), QStringLiteral("ipconfig\t/flushdns"));
}

QTEST_GUILESS_MAIN(TestDnsManager)
#include "test_dnsmanager.moc"
